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
    const QList<int> current = m_pTrevant->slicePoints();
    if (current != m_savedList)
        m_savedList = current;
    m_pTrevant->sliceEveryBeats(m_dTempo, m_dBeats);
}

void SliceByBeatsCommand::undo() {
    m_pTrevant->setSlicePoints(m_savedList);
}
