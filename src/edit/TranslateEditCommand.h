#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit to a new range. All moves of one edit share an id, so the moves of a drag
// merge into one undo step. For a Delete the range is its start and the end of the deleted
// span, in source coordinates.
class TranslateEditCommand : public QUndoCommand {
public:
    TranslateEditCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                         int newStart, int newEnd, int oldStart, int oldEnd, QUndoCommand *parent = nullptr);
    ~TranslateEditCommand() override;
    void undo() override;
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand *other) override;

    // The id every move of this edit carries: the low 32 bits of its address plus 2048.
    static int idFor(const AudioEdit *edit);

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewStart;
    int m_iNewEnd;
    int m_iOldStart;
    int m_iOldEnd;
};
