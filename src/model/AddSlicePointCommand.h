#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Adds one slice point; undo removes it.
// The slicer outlives every command, so a plain pointer is kept.
class AddSlicePointCommand : public QUndoCommand {
public:
    AddSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    int m_iPosition;
};
