#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit's end; consecutive moves of the same edit's end merge into one step.
class AdjustEditEndPointCommand : public QUndoCommand {
public:
    AdjustEditEndPointCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                              int newEnd, int oldEnd, QUndoCommand *parent = nullptr);
    ~AdjustEditEndPointCommand() override;
    void undo() override;
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand *other) override;

    // The low 32 bits of the edit's address plus 4096.
    static int idFor(const AudioEdit *edit);

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewEnd;
    int m_iOldEnd;
};
