#pragma once

#include "TransientSlicingCommand.h"

// Replaces the slice points with those picked at the detected hits.
class SliceAtTransientsCommand : public TransientSlicingCommand {
public:
    SliceAtTransientsCommand(Trevant *trevant, const QList<int> &before, const QList<int> &after,
                             double sensitivity, QUndoCommand *parent = nullptr);
};
