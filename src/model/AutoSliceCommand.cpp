#include "AutoSliceCommand.h"

#include "Trevant.h"

#include <QCoreApplication>
#include <algorithm>

AutoSliceCommand::AutoSliceCommand(Trevant *trevant, int slices, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iSlices(slices) {
    setText(QCoreApplication::translate("AutoSliceCommand", "slice in %1").arg(slices));
}

void AutoSliceCommand::redo() {
    const QList<int> current = m_pTrevant->slicePoints();
    if (current != m_listBefore)
        m_listBefore = current;
    m_pTrevant->sliceEvenly(unsigned(std::max(0, m_iSlices)));
    const QList<int> after = m_pTrevant->slicePoints();
    if (after != m_listAfter)
        m_listAfter = after;
}

void AutoSliceCommand::undo() {
    m_pTrevant->setSlicePoints(m_listBefore);
}
