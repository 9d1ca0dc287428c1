#include "SetEditGainCommand.h"

#include "AudioEditGain.h"

#include <QCoreApplication>

SetEditGainCommand::SetEditGainCommand(const QSharedPointer<AudioEditGain> &edit, float oldGain,
                                       float newGain, QUndoCommand *parent)
    : QUndoCommand(parent), m_edit(edit), m_oldGain(oldGain), m_newGain(newGain) {
    setText(QCoreApplication::translate("SetEditGainCommand", "change %1").arg(edit ? edit->name() : QString()));
}

SetEditGainCommand::~SetEditGainCommand() = default;

void SetEditGainCommand::undo() {
    if (m_edit)
        m_edit->setGain(m_oldGain);
}

void SetEditGainCommand::redo() {
    // The first redo repeats what the drag left behind; setting an unchanged gain would
    // only render the region once more.
    if (m_edit && m_edit->gain() != m_newGain)
        m_edit->setGain(m_newGain);
}
