#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>
#include <QVector>

// Hides or shows an edit's item in the edit view; a hidden edit still sounds. Given the
// view's stack of hidden edits, a hide puts the edit on it and a show takes it off, and
// their undos reverse that, so "Unhide Last" only ever finds edits that are hidden.
class SetEditVisibilityCommand : public QUndoCommand {
public:
    SetEditVisibilityCommand(const AudioEditPtr &edit, bool visible,
                             const QSharedPointer<QVector<AudioEditPtr>> &hiddenEdits = {},
                             QUndoCommand *parent = nullptr);
    ~SetEditVisibilityCommand() override;
    void undo() override;
    void redo() override;

private:
    AudioEditPtr m_edit;
    bool m_bVisible;
    QSharedPointer<QVector<AudioEditPtr>> m_hiddenEdits;
    // Where a show took the edit off the stack (-1: it was not on it).
    int m_iStackIndex = -1;
};
