#include "ClearSlicingCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

ClearSlicingCommand::ClearSlicingCommand(Trevant *trevant, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant) {
    setText(QCoreApplication::translate("ClearSlicingCommand", "clear slicing"));
}

void ClearSlicingCommand::redo() {
    const QList<int> current = m_pTrevant->slicePoints();
    if (current != m_savedList)
        m_savedList = current;
    m_pTrevant->clearSlicing();
}

void ClearSlicingCommand::undo() {
    m_pTrevant->setSlicePoints(m_savedList);
}
