#pragma once

#include "UndoCommandId.h"

#include <QList>
#include <QUndoCommand>

class Trevant;

// Moves one slice point. Declares id 2 but never merges: every move is its own step.
// A move onto another point merges the two; undo brings both back, and the loop region
// the move carried along returns too. A move that changes nothing leaves the stack.
// The slicer outlives every command, so a plain pointer is kept.
class MoveSlicePointCommand : public QUndoCommand {
public:
    MoveSlicePointCommand(Trevant *trevant, int oldPosition, int newPosition, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;
    int id() const override { return int(UndoCommandId::MoveSlicePoint); }

private:
    Trevant *m_pTrevant;
    int m_iOldPosition;
    int m_iNewPosition;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
    bool m_bMoved = false;
    bool m_bMerged = false;
    bool m_bRedone = false;
};
