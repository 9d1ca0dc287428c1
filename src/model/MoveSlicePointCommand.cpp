#include "MoveSlicePointCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

MoveSlicePointCommand::MoveSlicePointCommand(Trevant *trevant, int oldPosition, int newPosition,
                                             QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iOldPosition(oldPosition), m_iNewPosition(newPosition) {
    setText(QCoreApplication::translate("MoveSlicePointCommand", "move slice point"));
}

void MoveSlicePointCommand::redo() {
    m_pTrevant->moveSlicePoint(m_iOldPosition, m_iNewPosition);
}

void MoveSlicePointCommand::undo() {
    m_pTrevant->moveSlicePoint(m_iNewPosition, m_iOldPosition);
}
