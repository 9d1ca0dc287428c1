#include "AdjustEditEndPointCommand.h"

#include "EditableAudioCache.h"

#include <QCoreApplication>

AdjustEditEndPointCommand::AdjustEditEndPointCommand(const QSharedPointer<EditableAudioCache> &cache,
                                                     const AudioEditPtr &edit, int newEnd, int oldEnd,
                                                     QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit), m_iNewEnd(newEnd), m_iOldEnd(oldEnd) {
    setText(QCoreApplication::translate("AdjustEditEndPointCommand", "move %1 end")
                .arg(edit ? edit->name() : QString()));
}

AdjustEditEndPointCommand::~AdjustEditEndPointCommand() = default;

void AdjustEditEndPointCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditEndSample(m_edit, m_iOldEnd);
}

void AdjustEditEndPointCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditEndSample(m_edit, m_iNewEnd);
}
