#pragma once

#include "UndoCommandId.h"

#include <QList>
#include <QUndoCommand>

class Trevant;

// Loops the slice under a position, or stops looping when it is already looped.
// Declares id 4 but never merges.
// The slicer outlives every command, so a plain pointer is kept.
class ToggleSliceLoopCommand : public QUndoCommand {
public:
    ToggleSliceLoopCommand(Trevant *trevant, int position, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;
    int id() const override { return int(UndoCommandId::ToggleSliceLoop); }

private:
    Trevant *m_pTrevant;
    int m_iPosition;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
    int m_iSavedLoopMode = 0;
};
