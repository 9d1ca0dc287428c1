#include "UnhideLastCommand.h"

#include <QCoreApplication>

UnhideLastCommand::UnhideLastCommand(const QSharedPointer<QVector<AudioEditPtr>> &hiddenEdits,
                                     QUndoCommand *parent)
    : QUndoCommand(parent), m_hiddenEdits(hiddenEdits) {
    setText(QCoreApplication::translate("UnhideLastCommand", "unhide last"));
}

UnhideLastCommand::~UnhideLastCommand() = default;

void UnhideLastCommand::undo() {
    if (!m_edit)
        return;
    if (m_hiddenEdits)
        m_hiddenEdits->append(m_edit);
    m_edit->setSelected(false);
    m_edit->setHidden(true);
    m_edit.reset();
}

void UnhideLastCommand::redo() {
    if (!m_hiddenEdits || m_hiddenEdits->isEmpty())
        return;
    m_edit = m_hiddenEdits->takeLast();
    m_edit->setHidden(false);
    m_edit->setSelected(true);
}
