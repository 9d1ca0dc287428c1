#include "RemoveEditCommand.h"

#include "EditableAudioCache.h"

#include <QCoreApplication>

RemoveEditCommand::RemoveEditCommand(const QSharedPointer<EditableAudioCache> &cache,
                                     const AudioEditPtr &edit, QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit) {
    setText(
        QCoreApplication::translate("RemoveEditCommand", "remove %1").arg(edit ? edit->name() : QString()));
}

RemoveEditCommand::~RemoveEditCommand() = default;

void RemoveEditCommand::undo() {
    if (m_cache)
        m_cache->addEdit(m_edit, m_index);
}

void RemoveEditCommand::redo() {
    if (m_cache) {
        m_index = int(m_cache->edits().indexOf(m_edit));
        m_cache->removeEdit(m_edit);
    }
}
