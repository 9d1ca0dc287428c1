#include "SetEditVisibilityCommand.h"

#include <QCoreApplication>

#include <algorithm>

SetEditVisibilityCommand::SetEditVisibilityCommand(const AudioEditPtr &edit, bool visible,
                                                   const QSharedPointer<QVector<AudioEditPtr>> &hiddenEdits,
                                                   QUndoCommand *parent)
    : QUndoCommand(parent), m_edit(edit), m_bVisible(visible), m_hiddenEdits(hiddenEdits) {
    const QString name = edit ? edit->name() : QString();
    setText(visible ? QCoreApplication::translate("SetEditVisibilityCommand", "show %1").arg(name)
                    : QCoreApplication::translate("SetEditVisibilityCommand", "hide %1").arg(name));
}

SetEditVisibilityCommand::~SetEditVisibilityCommand() = default;

// A hidden edit is never selected: it cannot be seen, so nothing done to "the selection"
// may reach it.
void SetEditVisibilityCommand::undo() {
    if (!m_edit)
        return;
    m_edit->setSelected(!m_bVisible);
    m_edit->setHidden(m_bVisible);
    if (!m_hiddenEdits)
        return;
    if (!m_bVisible) {
        const int index = m_hiddenEdits->lastIndexOf(m_edit);
        if (index >= 0)
            m_hiddenEdits->removeAt(index);
    } else if (m_iStackIndex >= 0) {
        m_hiddenEdits->insert(std::min(m_iStackIndex, int(m_hiddenEdits->size())), m_edit);
    }
}

void SetEditVisibilityCommand::redo() {
    if (!m_edit)
        return;
    m_edit->setSelected(false);
    m_edit->setHidden(!m_bVisible);
    if (!m_hiddenEdits)
        return;
    if (!m_bVisible) {
        m_hiddenEdits->append(m_edit);
    } else {
        m_iStackIndex = m_hiddenEdits->lastIndexOf(m_edit);
        if (m_iStackIndex >= 0)
            m_hiddenEdits->removeAt(m_iStackIndex);
    }
}
