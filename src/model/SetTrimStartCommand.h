#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Moves the trim start; undo also puts back the loop region that followed it.
// The slicer outlives every command, so a plain pointer is kept.
class SetTrimStartCommand : public QUndoCommand {
public:
    SetTrimStartCommand(Trevant *trevant, int trimStart, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    int m_iNewTrimStart;
    int m_iOldTrimStart = 0;
    int m_iSavedLoopStart = 0;
    int m_iSavedLoopEnd = 0;
};
