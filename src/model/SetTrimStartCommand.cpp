#include "SetTrimStartCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

SetTrimStartCommand::SetTrimStartCommand(Trevant *trevant, int trimStart, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iNewTrimStart(trimStart) {
    setText(QCoreApplication::translate("SetTrimStartCommand", "move trim start point"));
}

void SetTrimStartCommand::redo() {
    m_iOldTrimStart = m_pTrevant->trimStart();
    m_iSavedLoopStart = m_pTrevant->loopStart();
    m_iSavedLoopEnd = m_pTrevant->loopEnd();
    m_pTrevant->setTrimStart(m_iNewTrimStart);
}

void SetTrimStartCommand::undo() {
    m_pTrevant->setTrimStart(m_iOldTrimStart);
    if (m_pTrevant->currentSlice())
        m_pTrevant->restoreLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
