#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>

class EditableAudioCache;

// Moves an edit's start; consecutive moves of the same edit's start merge into one step.
class AdjustEditStartPointCommand : public QUndoCommand {
public:
    AdjustEditStartPointCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                                int newStart, int oldStart, QUndoCommand *parent = nullptr);
    ~AdjustEditStartPointCommand() override;
    void undo() override;
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand *other) override;

    // The low 32 bits of the edit's address plus 3072.
    static int idFor(const AudioEdit *edit);

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    int m_iNewStart;
    int m_iOldStart;
};
