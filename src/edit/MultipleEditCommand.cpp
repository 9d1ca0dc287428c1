#include "MultipleEditCommand.h"

#include <typeinfo>

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

int MultipleEditCommand::id() const {
    // A child that never merges makes the whole never merge: two hides of two edits each
    // would otherwise share the id -2 and collapse into one step.
    quint32 sum = 0;
    for (const QUndoCommand *command : m_commands) {
        if (command->id() == -1)
            return -1;
        sum += quint32(command->id());
    }
    if (m_commands.isEmpty() || int(sum) == -1)
        return -1;
    return int(sum);
}

bool MultipleEditCommand::mergeWith(const QUndoCommand *other) {
    const auto *multiple = dynamic_cast<const MultipleEditCommand *>(other);
    if (!multiple || multiple->id() != id())
        return false;
    if (multiple->m_commands == m_commands)
        return true;
    if (multiple->m_commands.size() != m_commands.size())
        return false;
    // Checked for every pair before any child changes, so a refusal leaves this step whole.
    for (int k = 0; k < m_commands.size(); ++k) {
        const QUndoCommand *mine = m_commands.at(k);
        const QUndoCommand *theirs = multiple->m_commands.at(k);
        if (mine->id() != theirs->id() || typeid(*mine) != typeid(*theirs))
            return false;
    }
    bool merged = true;
    for (int k = 0; k < m_commands.size(); ++k)
        merged = m_commands.at(k)->mergeWith(multiple->m_commands.at(k)) && merged;
    return merged;
}
