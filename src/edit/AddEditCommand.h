#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>
#include <QVector>

class EditableAudioCache;

// Adds an edit to the loop's edit list; undo takes it out again. The command keeps the edit
// alive for as long as the undo history refers to it.
class AddEditCommand : public QUndoCommand {
public:
    AddEditCommand(const QSharedPointer<EditableAudioCache> &cache, const AudioEditPtr &edit,
                   QUndoCommand *parent = nullptr);
    ~AddEditCommand() override;
    void undo() override;
    void redo() override;

    AudioEditPtr edit() const { return m_edit; }

private:
    QSharedPointer<EditableAudioCache> m_cache;
    AudioEditPtr m_edit;
    // The list as it was before redo, kept only when adding the edit reordered the others.
    QVector<AudioEditPtr> m_orderBefore;
};
