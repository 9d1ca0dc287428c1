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

int AdjustEditEndPointCommand::idFor(const AudioEdit *edit) {
    return int(quint32(quintptr(edit)) + 4096u);
}

void AdjustEditEndPointCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditEndSample(m_edit, m_iOldEnd);
}

void AdjustEditEndPointCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditEndSample(m_edit, m_iNewEnd);
}

int AdjustEditEndPointCommand::id() const {
    return idFor(m_edit.data());
}

bool AdjustEditEndPointCommand::mergeWith(const QUndoCommand *other) {
    const auto *move = dynamic_cast<const AdjustEditEndPointCommand *>(other);
    if (!move || move->m_edit != m_edit)
        return false;
    m_iNewEnd = move->m_iNewEnd;
    return true;
}
