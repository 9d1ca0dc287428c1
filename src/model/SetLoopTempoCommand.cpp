#include "SetLoopTempoCommand.h"

#include <QCoreApplication>

SetLoopTempoCommand::SetLoopTempoCommand(const SlicePtr &loop, double before, double after, int mergeSession,
                                         QUndoCommand *parent)
    : QUndoCommand(parent), m_pLoop(loop), m_dBefore(before), m_dAfter(after), m_iMergeSession(mergeSession) {
    setText(QCoreApplication::translate("SetLoopTempoCommand", "set tempo"));
}

void SetLoopTempoCommand::redo() {
    if (const SlicePtr loop = m_pLoop.toStrongRef())
        loop->setBpm(m_dAfter);
}

void SetLoopTempoCommand::undo() {
    if (const SlicePtr loop = m_pLoop.toStrongRef())
        loop->setBpm(m_dBefore);
}

bool SetLoopTempoCommand::mergeWith(const QUndoCommand *other) {
    const auto *next = dynamic_cast<const SetLoopTempoCommand *>(other);
    if (!next || m_iMergeSession < 0 || next->m_iMergeSession != m_iMergeSession || next->m_pLoop != m_pLoop)
        return false;
    m_dAfter = next->m_dAfter;
    return true;
}
