#include "SliceAtTransientsCommand.h"

#include <QCoreApplication>

SliceAtTransientsCommand::SliceAtTransientsCommand(Trevant *trevant, const QList<int> &before,
                                                   const QList<int> &after, double sensitivity,
                                                   QUndoCommand *parent)
    : TransientSlicingCommand(trevant, before, after, sensitivity, parent) {
    setText(QCoreApplication::translate("SliceAtTransientsCommand", "slice at transients"));
}
