#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Removes one slice point; undo puts it back and restores the loop region it may
// have changed.
// The slicer outlives every command, so a plain pointer is kept.
class RemoveSlicePointCommand : public QUndoCommand {
public:
    RemoveSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    int m_iPosition;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
    bool m_bRemoved = false;
};
