#include "TranslateEditCommand.h"

#include "AudioEditDelete.h"
#include "EditableAudioCache.h"

#include <QCoreApplication>

TranslateEditCommand::TranslateEditCommand(const QSharedPointer<EditableAudioCache> &cache,
                                           const AudioEditPtr &edit, int newStart, int newEnd, int oldStart,
                                           int oldEnd, QUndoCommand *parent)
    : QUndoCommand(parent), m_cache(cache), m_edit(edit), m_iNewStart(newStart), m_iNewEnd(newEnd),
      m_iOldStart(oldStart), m_iOldEnd(oldEnd) {
    // A Delete's own end never moves: what undo must bring back is the end of its span.
    if (auto deletion = edit.objectCast<AudioEditDelete>()) {
        m_iOldStart = deletion->startSample();
        m_iOldEnd = deletion->deleteEndSample();
    }
    setText(
        QCoreApplication::translate("TranslateEditCommand", "move %1").arg(edit ? edit->name() : QString()));
}

TranslateEditCommand::~TranslateEditCommand() = default;

int TranslateEditCommand::idFor(const AudioEdit *edit) {
    // Unsigned arithmetic: the sum may wrap, which is harmless, where signed overflow is not.
    return int(quint32(quintptr(edit)) + 2048u);
}

void TranslateEditCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditRange(m_edit, m_iOldStart, m_iOldEnd);
}

void TranslateEditCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditRange(m_edit, m_iNewStart, m_iNewEnd);
}

int TranslateEditCommand::id() const {
    return idFor(m_edit.data());
}

bool TranslateEditCommand::mergeWith(const QUndoCommand *other) {
    // Ids of different kinds of move may coincide for edits 1024 bytes apart.
    const auto *move = dynamic_cast<const TranslateEditCommand *>(other);
    if (!move || move->m_edit != m_edit)
        return false;
    m_iNewStart = move->m_iNewStart;
    m_iNewEnd = move->m_iNewEnd;
    return true;
}
