#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Takes the cue markers of a just-opened audio file as the loop's slice points; undo
// brings back the points that were there (none, after opening). The slicer outlives
// every command, so a plain pointer is kept.
class RestoreCueMarkersCommand : public QUndoCommand {
public:
    RestoreCueMarkersCommand(Trevant *trevant, const QList<int> &points, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_listBefore;
    QList<int> m_listAfter;
};
