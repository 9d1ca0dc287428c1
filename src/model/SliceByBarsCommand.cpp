#include "SliceByBarsCommand.h"

#include "Trevant.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>

SliceByBarsCommand::SliceByBarsCommand(Trevant *trevant, double tempo, int numerator, int denominator,
                                       double bars, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_dTempo(tempo), m_iNumerator(numerator),
      m_iDenominator(denominator), m_dBars(bars) {
    setText(QCoreApplication::translate("SliceByBarsCommand", "slice every %1 bars")
                .arg(QString::number(bars, 'g', QLocale::FloatingPointShortest)));
}

void SliceByBarsCommand::redo() {
    // Slicing runs once; a redo gives back its result.
    if (m_bSliced) {
        m_pTrevant->setSlicePoints(m_listAfter);
        return;
    }
    m_savedList = m_pTrevant->slicePoints();
    m_pTrevant->sliceEveryBars(m_dTempo, unsigned(std::max(0, m_iNumerator)),
                               unsigned(std::max(0, m_iDenominator)), m_dBars);
    m_listAfter = m_pTrevant->slicePoints();
    m_bSliced = true;
}

void SliceByBarsCommand::undo() {
    m_pTrevant->setSlicePoints(m_savedList);
}
