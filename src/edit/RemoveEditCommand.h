#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Takes an edit out of the loop's edit list; undo puts it back.
class RemoveEditCommand : public QUndoCommand {
public:
    RemoveEditCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                      QUndoCommand *parent = nullptr);
    ~RemoveEditCommand() override;
    void undo() override;
    void redo() override;

    AudioEditPtr edit() const { return m_edit; }

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    // Where the edit stood in the list when it was taken out.
    int m_index = -1;
};
