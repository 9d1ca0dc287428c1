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

void TranslateEditCommand::undo() {
    if (m_cache && m_edit)
        m_cache->setEditRange(m_edit, m_iOldStart, m_iOldEnd);
}

void TranslateEditCommand::redo() {
    if (m_cache && m_edit)
        m_cache->setEditRange(m_edit, m_iNewStart, m_iNewEnd);
}
