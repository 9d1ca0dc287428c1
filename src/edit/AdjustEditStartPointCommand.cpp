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

int AdjustEditStartPointCommand::idFor(const AudioEdit *edit) {
    return int(quint32(quintptr(edit)) + 3072u);
}

void AdjustEditStartPointCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditStartSample(m_edit, m_iOldStart);
}

void AdjustEditStartPointCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditStartSample(m_edit, m_iNewStart);
}

int AdjustEditStartPointCommand::id() const {
    return idFor(m_edit.data());
}

bool AdjustEditStartPointCommand::mergeWith(const QUndoCommand *other) {
    const auto *move = dynamic_cast<const AdjustEditStartPointCommand *>(other);
    if (!move || move->m_edit != m_edit)
        return false;
    m_iNewStart = move->m_iNewStart;
    return true;
}
