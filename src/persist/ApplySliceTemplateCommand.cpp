#include "ApplySliceTemplateCommand.h"

#include "SliceTemplate.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QUndoStack>

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

bool SliceTemplate::loadInto(Trevant *slicer, const QString &path, QUndoStack *stack, QString *error) {
    QList<int> points;
    if (!fittedPoints(slicer, path, &points, error))
        return false;
    if (stack)
        stack->push(new ApplySliceTemplateCommand(slicer, points));
    else
        slicer->setSlicePoints(points);
    return true;
}
