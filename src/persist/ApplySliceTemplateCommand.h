#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Replaces the slice points with a layout loaded from a template; undo brings back the
// points that were there. The slicer outlives every command, so a plain pointer is kept.
class ApplySliceTemplateCommand : public QUndoCommand {
public:
    ApplySliceTemplateCommand(Trevant *trevant, const QList<int> &points, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_listBefore;
    QList<int> m_listAfter;
};
