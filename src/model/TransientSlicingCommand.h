#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// A change of the slice points made by slicing at transients: the points before and after
// are recorded when the command is made, so redo restores exactly the picked result even
// after the detection has been redone or the sensitivity moved on. The sensitivity the
// result was picked at goes with it, so that a window showing the sensitivity control can
// follow undo and redo. So does the shortest slice length the points were picked with: a
// sensitivity change re-picks with it, not with whatever the setting has become since, or
// raising the sensitivity after an undo would remove points; and whether they were snapped
// to zero crossings, so that switching snap over does not move every point a re-pick keeps.
// The slicer outlives every command, so a plain pointer is kept.
class TransientSlicingCommand : public QUndoCommand {
public:
    double sensitivity() const { return m_dSensitivity; }
    QList<int> pointsAfter() const { return m_listAfter; }
    double minLengthMs() const { return m_dMinLengthMs; }
    void setMinLengthMs(double ms) { m_dMinLengthMs = ms; }
    bool snapsToZeroCrossings() const { return m_bSnapsToZeroCrossings; }
    void setSnapsToZeroCrossings(bool snaps) { m_bSnapsToZeroCrossings = snaps; }

    void redo() override;
    void undo() override;

protected:
    TransientSlicingCommand(Trevant *trevant, const QList<int> &before, const QList<int> &after,
                            double sensitivity, QUndoCommand *parent);

    Trevant *m_pTrevant;
    QList<int> m_listBefore;
    QList<int> m_listAfter;
    double m_dSensitivity;
    double m_dMinLengthMs;
    bool m_bSnapsToZeroCrossings;
};
