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
    m_bRemoved = m_pTrevant->hasSlicePoint(m_iPosition & ~1);
    m_pTrevant->removeSlicePoint(m_iPosition);
}

void RemoveSlicePointCommand::undo() {
    // Only a point that was there comes back.
    if (m_bRemoved)
        m_pTrevant->restoreSlicePoint(m_iPosition & ~1);
    if (m_pTrevant->currentSlice())
        m_pTrevant->restoreLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
