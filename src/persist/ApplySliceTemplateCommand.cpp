#include "ApplySliceTemplateCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

ApplySliceTemplateCommand::ApplySliceTemplateCommand(Trevant *trevant, const QList<int> &points,
                                                     QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_listBefore(trevant->slicePoints()), m_listAfter(points) {
    setText(QCoreApplication::translate("ApplySliceTemplateCommand", "load slice template"));
}

void ApplySliceTemplateCommand::redo() {
    m_pTrevant->setSlicePoints(m_listAfter);
}

void ApplySliceTemplateCommand::undo() {
    m_pTrevant->setSlicePoints(m_listBefore);
}
