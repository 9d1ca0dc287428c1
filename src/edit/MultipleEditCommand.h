#pragma once

#include <QList>
#include <QUndoCommand>

// Several edit commands that act as one undo step (the moves of all selected edits in one
// mouse move, the edits of one paste, the hides of one selection). It owns its children.
// Two of them merge when their children merge pairwise, so a drag of several edits still
// leaves a single undo step.
class MultipleEditCommand : public QUndoCommand {
public:
    explicit MultipleEditCommand(const QList<QUndoCommand *> &commands, QUndoCommand *parent = nullptr);
    ~MultipleEditCommand() override;
    void undo() override;
    void redo() override;
    int id() const override;
    bool mergeWith(const QUndoCommand *other) override;

    const QList<QUndoCommand *> &commands() const { return m_commands; }

private:
    QList<QUndoCommand *> m_commands;
};
