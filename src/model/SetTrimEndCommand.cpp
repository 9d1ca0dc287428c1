#include "SetTrimEndCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

SetTrimEndCommand::SetTrimEndCommand(Trevant *trevant, int trimEnd, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iNewTrimEnd(trimEnd) {
    setText(QCoreApplication::translate("SetTrimEndCommand", "move trim end point"));
}

void SetTrimEndCommand::redo() {
    m_iOldTrimEnd = m_pTrevant->trimEnd();
    m_iSavedLoopStart = m_pTrevant->loopStart();
    m_iSavedLoopEnd = m_pTrevant->loopEnd();
    m_pTrevant->setTrimEnd(m_iNewTrimEnd);
}

void SetTrimEndCommand::undo() {
    m_pTrevant->setTrimEnd(m_iOldTrimEnd);
    if (m_pTrevant->currentSlice())
        m_pTrevant->restoreLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
