#include "ExpandSliceLoopCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

ExpandSliceLoopCommand::ExpandSliceLoopCommand(Trevant *trevant, int position, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iPosition(position) {
    setText(QCoreApplication::translate("ExpandSliceLoopCommand", "expand loop"));
}

void ExpandSliceLoopCommand::redo() {
    if (SlicePtr slice = m_pTrevant->currentSlice()) {
        m_iSavedLoopStart = slice->loopStart();
        m_iSavedLoopEnd = slice->loopEnd();
    }
    m_pTrevant->expandLoopTo(m_iPosition);
}

void ExpandSliceLoopCommand::undo() {
    if (SlicePtr slice = m_pTrevant->currentSlice())
        slice->setLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
