#include "ToggleSliceLoopCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

ToggleSliceLoopCommand::ToggleSliceLoopCommand(Trevant *trevant, int position, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iPosition(position) {
    setText(QCoreApplication::translate("ToggleSliceLoopCommand", "toggle loop"));
}

void ToggleSliceLoopCommand::redo() {
    if (SlicePtr slice = m_pTrevant->currentSlice()) {
        m_iSavedLoopMode = slice->loopMode();
        m_iSavedLoopStart = slice->loopStart();
        m_iSavedLoopEnd = slice->loopEnd();
    }
    m_pTrevant->toggleLoopAt(m_iPosition);
}

void ToggleSliceLoopCommand::undo() {
    if (SlicePtr slice = m_pTrevant->currentSlice()) {
        slice->setLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
        slice->setLoopMode(m_iSavedLoopMode);
    }
}
