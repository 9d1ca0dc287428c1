#include "RestoreCueMarkersCommand.h"

#include "Trevant.h"

#include <QCoreApplication>

RestoreCueMarkersCommand::RestoreCueMarkersCommand(Trevant *trevant, const QList<int> &points,
                                                   QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_listBefore(trevant->slicePoints()), m_listAfter(points) {
    setText(QCoreApplication::translate("RestoreCueMarkersCommand", "slice markers from file"));
}

void RestoreCueMarkersCommand::redo() {
    m_pTrevant->setSlicePoints(m_listAfter);
}

void RestoreCueMarkersCommand::undo() {
    m_pTrevant->setSlicePoints(m_listBefore);
}
