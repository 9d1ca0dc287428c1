#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Adds one slice point; undo removes it. Adding a point that is already there changes
// nothing, and such a command leaves the stack at once.
// The slicer outlives every command, so a plain pointer is kept.
class AddSlicePointCommand : public QUndoCommand {
public:
    AddSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    int m_iPosition;
    bool m_bAdded = false;
    bool m_bRedone = false;
};
