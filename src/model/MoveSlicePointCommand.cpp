#include "MoveSlicePointCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

MoveSlicePointCommand::MoveSlicePointCommand(Trevant *trevant, int oldPosition, int newPosition,
                                             QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iOldPosition(oldPosition), m_iNewPosition(newPosition) {
    setText(QCoreApplication::translate("MoveSlicePointCommand", "move slice point"));
}

void MoveSlicePointCommand::redo() {
    m_iSavedLoopStart = m_pTrevant->loopStart();
    m_iSavedLoopEnd = m_pTrevant->loopEnd();
    m_bMoved = m_iOldPosition != m_iNewPosition && m_pTrevant->hasSlicePoint(m_iOldPosition);
    m_bMerged = m_bMoved && m_pTrevant->hasSlicePoint(m_iNewPosition);
    if (m_bMoved)
        m_pTrevant->moveSlicePoint(m_iOldPosition, m_iNewPosition);
    else if (!m_bRedone)
        setObsolete(true);
    m_bRedone = true;
}

void MoveSlicePointCommand::undo() {
    if (!m_bMoved)
        return;
    // The point at the new position stays when it was there before the move.
    if (!m_bMerged)
        m_pTrevant->withdrawSlicePoint(m_iNewPosition);
    m_pTrevant->restoreSlicePoint(m_iOldPosition);
    if (m_pTrevant->currentSlice())
        m_pTrevant->restoreLoop(m_iSavedLoopStart, m_iSavedLoopEnd);
}
