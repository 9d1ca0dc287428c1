#pragma once

#include <QList>
#include <QUndoCommand>

class Trevant;

// Adds a slice point every N bars at a tempo and time signature.
// The slicer outlives every command, so a plain pointer is kept.
class SliceByBarsCommand : public QUndoCommand {
public:
    SliceByBarsCommand(Trevant *trevant, double tempo, int numerator, int denominator, double bars,
                       QUndoCommand *parent = nullptr);

    void redo() override;
    void undo() override;

private:
    Trevant *m_pTrevant;
    QList<int> m_savedList;
    QList<int> m_listAfter;
    bool m_bSliced = false;
    double m_dTempo;
    int m_iNumerator;
    int m_iDenominator;
    double m_dBars;
};
