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
    if (!m_cache)
        return;
    m_cache->removeEdit(m_edit);
    // A Delete reordered the deleted spans; they go back to the order they had.
    if (!m_orderBefore.isEmpty())
        m_cache->restoreEditOrder(m_orderBefore);
}

void AddEditCommand::redo() {
    if (!m_cache)
        return;
    m_orderBefore = m_cache->edits();
    m_cache->addEdit(m_edit);
    QVector<AudioEditPtr> others = m_cache->edits();
    others.removeAll(m_edit);
    if (others == m_orderBefore)
        m_orderBefore.clear();
}
