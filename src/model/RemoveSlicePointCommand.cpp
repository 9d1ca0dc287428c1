#include "RemoveSlicePointCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

RemoveSlicePointCommand::RemoveSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iPosition(position) {
    setText(QCoreApplication::translate("RemoveSlicePointCommand", "remove slice point"));
}

void RemoveSlicePointCommand::redo() {
    if (SlicePtr slice = m_pTrevant->currentSlice()) {
        m_iSavedLoopStart = slice->loopStart();
        m_iSavedLoopEnd = slice->loopEnd();
    }
    m_pTrevant->removeSlicePoint(m_iPosition);
}

void RemoveSlicePointCommand::undo() {
    m_pTrevant->addSlicePoint(m_iPosition);
    if (SlicePtr slice = m_pTrevant->currentSlice())
        slice->setLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
