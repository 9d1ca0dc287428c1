#include "AutoSliceCommand.h"

#include "Trevant.h"

#include <QCoreApplication>
#include <algorithm>

AutoSliceCommand::AutoSliceCommand(Trevant *trevant, int slices, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iSlices(slices) {
    setText(QCoreApplication::translate("AutoSliceCommand", "slice in %1").arg(slices));
}

void AutoSliceCommand::redo() {
    // Slicing runs once; a redo gives back its result even when the snap setting or the
    // audio has changed since.
    if (m_bSliced) {
        m_pTrevant->setSlicePoints(m_listAfter);
        return;
    }
    m_listBefore = m_pTrevant->slicePoints();
    m_pTrevant->sliceEvenly(unsigned(std::max(0, m_iSlices)));
    m_listAfter = m_pTrevant->slicePoints();
    m_bSliced = true;
}

void AutoSliceCommand::undo() {
    m_pTrevant->setSlicePoints(m_listBefore);
}
