#pragma once

#include <QObject>

class TempoEstimatorTest : public QObject {
    Q_OBJECT
private slots:
    void frameSizesFollowTheRate_data();
    void frameSizesFollowTheRate();
    void clickTrainAt120();
    void clickTrainAt60PrefersTheDoubleTempo();
    void tooLittleAudioGivesNoTempo();
    void minimumAudioForATempoAt44100();
    void silenceGivesNoTempo();
    void blockSizeDoesNotChangeTheResult();
    void matchesPlainModelBitForBit_data();
    void matchesPlainModelBitForBit();
    void beatPeriodMustRecur_data();
    void beatPeriodMustRecur();
    void noBeatGivesNoTempo();
    void constantOffsetDoesNotMatter();
    void drumPatterns_data();
    void drumPatterns();
    void askingAgainRecomputesTheSameTempo();
    void unusableRatesNeverHang_data();
    void unusableRatesNeverHang();
    void nonFiniteSamplesDoNotCrash();
};
