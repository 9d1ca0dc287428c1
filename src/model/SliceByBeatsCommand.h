#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Adds a slice point every N beats at a tempo.
// The slicer outlives every command, so a plain pointer is kept.
class SliceByBeatsCommand : public QUndoCommand {
public:
    SliceByBeatsCommand(Trevant *trevant, double tempo, double beats, QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_savedList;
    QList<int> m_listAfter;
    bool m_bSliced = false;
    double m_dTempo;
    double m_dBeats;
};
