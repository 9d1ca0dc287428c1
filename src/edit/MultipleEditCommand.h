#pragma once

#include <QList>
#include <QUndoCommand>

// Several edit commands that act as one undo step (the moves of all selected edits in one
// drag, the edits of one paste, the hides of one selection). It owns its children.
class MultipleEditCommand : public QUndoCommand {
public:
    explicit MultipleEditCommand(const QList<QUndoCommand *> &commands, QUndoCommand *parent = nullptr);
    ~MultipleEditCommand() override;
    void undo() override;
    void redo() override;

    const QList<QUndoCommand *> &commands() const { return m_commands; }

private:
    QList<QUndoCommand *> m_commands;
};
