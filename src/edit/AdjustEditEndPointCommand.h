#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit's end (a whole drag of it is one command).
class AdjustEditEndPointCommand : public QUndoCommand {
public:
    AdjustEditEndPointCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                              int newEnd, int oldEnd, QUndoCommand *parent = nullptr);
    ~AdjustEditEndPointCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewEnd;
    int m_iOldEnd;
};
