#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class AudioEditGroup;
class EditableAudioCache;

// Makes an edit a member of a group; undo takes it out of the group.
class AddEditToGroupCommand : public QUndoCommand {
public:
    AddEditToGroupCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                          const QSharedPointer<AudioEditGroup> &group, QUndoCommand *parent = nullptr);
    ~AddEditToGroupCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    QSharedPointer<AudioEditGroup> m_group;
};
