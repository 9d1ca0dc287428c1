#include "MultipleEditCommand.h"

MultipleEditCommand::MultipleEditCommand(const QList<QUndoCommand *> &commands, QUndoCommand *parent)
    : QUndoCommand(parent), m_commands(commands) {}

MultipleEditCommand::~MultipleEditCommand() {
    qDeleteAll(m_commands);
}

void MultipleEditCommand::undo() {
    // Last to first: a child may build on what an earlier one did.
    for (auto it = m_commands.crbegin(); it != m_commands.crend(); ++it)
        (*it)->undo();
}

void MultipleEditCommand::redo() {
    for (QUndoCommand *command : qAsConst(m_commands))
        command->redo();
}
