#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Moves the trim end; undo also puts back the loop region that followed it.
// The slicer outlives every command, so a plain pointer is kept.
class SetTrimEndCommand : public QUndoCommand {
public:
    SetTrimEndCommand(Trevant *trevant, int trimEnd, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    int m_iNewTrimEnd;
    int m_iOldTrimEnd = 0;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
};
