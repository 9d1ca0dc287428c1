#pragma once

#include "AudioEdit.h"

#include <QUndoCommand>

// Hides or shows an edit's item in the edit view; a hidden edit still sounds.
class SetEditVisibilityCommand : public QUndoCommand {
public:
    SetEditVisibilityCommand(const AudioEditPtr &edit, bool visible, QUndoCommand *parent = nullptr);
    ~SetEditVisibilityCommand() override;
    void undo() override;
    void redo() override;

private:
    AudioEditPtr m_edit;
    bool m_bVisible;
};
