#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Cuts the trim region (or the loop region while looping) into N equal slices. Redo
// restores the points the first run made.
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
    bool m_bSliced = false;
};
