#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit to a new range; a drag pushes one when the mouse is released, from where
// the edit was pressed to where it ended. For a Delete the range is its start and the end
// of the deleted span, in source coordinates.
class TranslateEditCommand : public QUndoCommand {
public:
    TranslateEditCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                         int newStart, int newEnd, int oldStart, int oldEnd, QUndoCommand *parent = nullptr);
    ~TranslateEditCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewStart;
    int m_iNewEnd;
    int m_iOldStart;
    int m_iOldEnd;
};
