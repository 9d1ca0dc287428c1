#pragma once

#include "Slice.h"
#include "UndoCommandId.h"

#include <QUndoCommand>
#include <QWeakPointer>

// Corrects the loop's own tempo (the one beat and bar slicing, stretching and the kit
// exports start from), as choosing a tempo alternative or tapping does. Taps of one
// session merge into one step (the caller's number for the session, -1 for a command
// that never merges). The loop is held weakly: a replaced loop makes the step a no-op.
class SetLoopTempoCommand : public QUndoCommand {
public:
    SetLoopTempoCommand(const SlicePtr &loop, double before, double after, int mergeSession = -1,
                        QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;
    int id() const override { return int(UndoCommandId::LoopTempo); }
    bool mergeWith(const QUndoCommand *other) override;

    double after() const { return m_dAfter; }

private:
    QWeakPointer<Slice> m_pLoop;
    double m_dBefore;
    double m_dAfter;
    int m_iMergeSession;
};
