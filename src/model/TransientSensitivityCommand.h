#pragma once

#include "TransientSlicingCommand.h"
#include "UndoCommandId.h"

// A change of the transient sensitivity and the points it picked. A slider drag makes one
// of these when it is released. Keyboard and wheel steps each make one as well and merge
// while they belong to the same session (the caller's number for one run of steps, -1
// for a command that never merges), so a run of arrow presses is one step.
class TransientSensitivityCommand : public TransientSlicingCommand {
public:
    TransientSensitivityCommand(Trevant *trevant, const QList<int> &before, const QList<int> &after,
                                double sensitivity, int mergeSession = -1,
                                QUndoCommand *parent = nullptr);

    int id() const override { return int(UndoCommandId::TransientSensitivity); }
    bool mergeWith(const QUndoCommand *other) override;

private:
    int m_iMergeSession;
};
