#pragma once

#include "AudioEdit.h"

#include <QSharedPointer>
#include <QUndoCommand>
#include <QVector>

// Shows the edit hidden last: takes it off the edit view's stack of hidden edits; undo
// hides it again and puts it back. The stack is shared with the view, so a command left in
// the history never points at a view that has gone.
class UnhideLastCommand : public QUndoCommand {
public:
    explicit UnhideLastCommand(const QSharedPointer<QVector<AudioEditPtr>> &hiddenEdits,
                               QUndoCommand *parent = nullptr);
    ~UnhideLastCommand() override;
    void undo() override;
    void redo() override;

private:
    QSharedPointer<QVector<AudioEditPtr>> m_hiddenEdits;
    AudioEditPtr m_edit;
};
