#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Removes the slice points (only those inside the loop region while looping).
// The slicer outlives every command, so a plain pointer is kept.
class ClearSlicingCommand : public QUndoCommand {
public:
    ClearSlicingCommand(Trevant *trevant, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_savedList;
};
