#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit's start (a whole drag of it is one command).
class AdjustEditStartPointCommand : public QUndoCommand {
public:
    AdjustEditStartPointCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                                int newStart, int oldStart, QUndoCommand *parent = nullptr);
    ~AdjustEditStartPointCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewStart;
    int m_iOldStart;
};
