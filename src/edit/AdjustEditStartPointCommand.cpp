#include "AdjustEditStartPointCommand.h"

#include "EditableAudioCache.h"

#include <QCoreApplication>

AdjustEditStartPointCommand::AdjustEditStartPointCommand(const QSharedPointer<EditableAudioCache> &cache,
                                                         const AudioEditPtr &edit, int newStart, int oldStart,
                                                         QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit), m_iNewStart(newStart), m_iOldStart(oldStart) {
    setText(QCoreApplication::translate("AdjustEditStartPointCommand", "move %1 start")
                .arg(edit ? edit->name() : QString()));
}

AdjustEditStartPointCommand::~AdjustEditStartPointCommand() = default;

void AdjustEditStartPointCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditStartSample(m_edit, m_iOldStart);
}

void AdjustEditStartPointCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditStartSample(m_edit, m_iNewStart);
}
