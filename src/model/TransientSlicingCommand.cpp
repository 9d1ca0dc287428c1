#include "TransientSlicingCommand.h"

#include "Settings.h"
#include "Trevant.h"

TransientSlicingCommand::TransientSlicingCommand(Trevant *trevant, const QList<int> &before,
                                                 const QList<int> &after, double sensitivity,
                                                 QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_listBefore(before), m_listAfter(after),
      m_dSensitivity(sensitivity), m_dMinLengthMs(Settings::defaultTransientMinLengthMs),
      m_bSnapsToZeroCrossings(Trevant::snapsToZeroCrossings()) {}

void TransientSlicingCommand::redo() {
    m_pTrevant->setSlicePoints(m_listAfter);
}

void TransientSlicingCommand::undo() {
    m_pTrevant->setSlicePoints(m_listBefore);
}
