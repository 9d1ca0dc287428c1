#pragma once

#include "UndoCommandId.h"

#include <QList>
#include <QUndoCommand>

class Trevant;

// Widens the loop region to the slice under a position. Declares id 5 but never merges.
// The slicer outlives every command, so a plain pointer is kept.
class ExpandSliceLoopCommand : public QUndoCommand {
public:
    ExpandSliceLoopCommand(Trevant *trevant, int position, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;
    int id() const override { return int(UndoCommandId::ExpandSliceLoop); }

private:
    Trevant *m_pTrevant;
    int m_iPosition;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
};
