#include "SetEditVisibilityCommand.h"

#include <QCoreApplication>

SetEditVisibilityCommand::SetEditVisibilityCommand(const AudioEditPtr &edit, bool visible,
                                                   QUndoCommand *parent)
    : QUndoCommand(parent), m_edit(edit), m_bVisible(visible) {
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
}

void SetEditVisibilityCommand::redo() {
    if (!m_edit)
        return;
    m_edit->setSelected(false);
    m_edit->setHidden(!m_bVisible);
}
