#include "AddEditCommand.h"

#include "EditableAudioCache.h"

#include <QCoreApplication>

AddEditCommand::AddEditCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                               QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit) {
    setText(QCoreApplication::translate("AddEditCommand", "add %1").arg(edit ? edit->name() : QString()));
}

AddEditCommand::~AddEditCommand() = default;

void AddEditCommand::undo() {
    if (m_cache)
        m_cache->removeEdit(m_edit);
}

void AddEditCommand::redo() {
    if (m_cache)
        m_cache->addEdit(m_edit);
}
