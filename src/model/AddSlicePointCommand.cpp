#include "AddSlicePointCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

AddSlicePointCommand::AddSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iPosition(position) {
    setText(QCoreApplication::translate("AddSlicePointCommand", "add slice point"));
}

void AddSlicePointCommand::redo() {
    const int position = m_iPosition & ~1;
    m_bAdded = !m_pTrevant->hasSlicePoint(position);
    if (m_bAdded)
        m_pTrevant->addSlicePoint(position);
    else if (!m_bRedone)
        setObsolete(true); // the stack drops a step that would undo someone else's point
    m_bRedone = true;
}

void AddSlicePointCommand::undo() {
    if (m_bAdded)
        m_pTrevant->withdrawSlicePoint(m_iPosition & ~1);
}
