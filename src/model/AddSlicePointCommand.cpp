#include "AddSlicePointCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

AddSlicePointCommand::AddSlicePointCommand(Trevant *trevant, int position, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_iPosition(position) {
    setText(QCoreApplication::translate("AddSlicePointCommand", "add slice point"));
}

void AddSlicePointCommand::redo() {
    m_pTrevant->addSlicePoint(m_iPosition);
}

void AddSlicePointCommand::undo() {
    m_pTrevant->removeSlicePoint(m_iPosition);
}
