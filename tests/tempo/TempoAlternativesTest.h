#pragma once

#include <QObject>

class TempoAlternativesTest : public QObject {
    Q_OBJECT
private slots:
    void relatedTempoIsOfferedFirst_data();
    void relatedTempoIsOfferedFirst();
    void tooLittleAudioStillRanksByPlausibility();
    void aTempoThreeHalvesOffIsNotTheFirstRival();
    void tapTempo();
};
