#include "AddEditToGroupCommand.h"

#include "AudioEditGroup.h"
#include "EditableAudioCache.h"

#include <QCoreApplication>

AddEditToGroupCommand::AddEditToGroupCommand(const QSharedPointer<EditableAudioCache> &cache,
                                             const AudioEditPtr &edit,
                                             const QSharedPointer<AudioEditGroup> &group,
                                             QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit), m_group(group) {
    setText(QCoreApplication::translate("AddEditToGroupCommand", "add %1 to group")
                .arg(edit ? edit->name() : QString()));
}

AddEditToGroupCommand::~AddEditToGroupCommand() = default;

void AddEditToGroupCommand::undo() {
    if (m_group)
        m_group->removeEdit(m_edit);
}

void AddEditToGroupCommand::redo() {
    if (m_group)
        m_group->addEdit(m_edit);
}
