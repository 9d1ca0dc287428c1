#include "TransientSensitivityCommand.h"

#include <QCoreApplication>

TransientSensitivityCommand::TransientSensitivityCommand(Trevant *trevant, const QList<int> &before,
                                                         const QList<int> &after, double sensitivity,
                                                         int mergeSession, QUndoCommand *parent)
    : TransientSlicingCommand(trevant, before, after, sensitivity, parent), m_iMergeSession(mergeSession) {
    setText(QCoreApplication::translate("TransientSensitivityCommand", "transient sensitivity"));
}

bool TransientSensitivityCommand::mergeWith(const QUndoCommand *other) {
    const auto *next = dynamic_cast<const TransientSensitivityCommand *>(other);
    if (!next || m_iMergeSession < 0 || next->m_iMergeSession != m_iMergeSession ||
        next->m_pTrevant != m_pTrevant)
        return false;
    m_listAfter = next->m_listAfter;
    m_dSensitivity = next->m_dSensitivity;
    m_dMinLengthMs = next->m_dMinLengthMs;
    m_bSnapsToZeroCrossings = next->m_bSnapsToZeroCrossings;
    return true;
}
