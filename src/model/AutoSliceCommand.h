#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Cuts the trim region (or the loop region while looping) into N equal slices.
// The slicer outlives every command, so a plain pointer is kept.
class AutoSliceCommand : public QUndoCommand {
public:
    AutoSliceCommand(Trevant *trevant, int slices, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_listBefore;
    QList<int> m_listAfter;
    int m_iSlices;
};
