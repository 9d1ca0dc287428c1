#include "SliceByBeatsCommand.h"

#include "Trevant.h"

#include <QCoreApplication>
#include <QLocale>

SliceByBeatsCommand::SliceByBeatsCommand(Trevant *trevant, double tempo, double beats, QUndoCommand *parent)
    : QUndoCommand(parent), m_pTrevant(trevant), m_dTempo(tempo), m_dBeats(beats) {
    setText(QCoreApplication::translate("SliceByBeatsCommand", "slice every %1 beats")
                .arg(QString::number(beats, 'g', QLocale::FloatingPointShortest)));
}

void SliceByBeatsCommand::redo() {
    // Slicing runs once; a redo gives back its result.
    if (m_bSliced) {
        m_pTrevant->setSlicePoints(m_listAfter);
        return;
    }
    m_savedList = m_pTrevant->slicePoints();
    m_pTrevant->sliceEveryBeats(m_dTempo, m_dBeats);
    m_listAfter = m_pTrevant->slicePoints();
    m_bSliced = true;
}

void SliceByBeatsCommand::undo() {
    m_pTrevant->setSlicePoints(m_savedList);
}
