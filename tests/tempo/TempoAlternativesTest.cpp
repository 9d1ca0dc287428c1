#include "TempoAlternativesTest.h"

#include "TapTempo.h"
#include "TempoAlternatives.h"
#include "TempoEstimator.h"
#include "TempoFixtures.h"

#include <QtTest>
#include <cmath>

namespace {
constexpr int kRate = 44100;

// A loop of whole bars fed as the detection feeds a short loop: four times over.
void feedLoop(TempoEstimator &e, double bpm, int bars) {
    const std::vector<float> loop = TempoFixtures::drumPattern(bpm, bars * 4 * 60.0 / bpm, kRate);
    for (int pass = 0; pass < 4; ++pass)
        for (size_t i = 0; i < loop.size(); i += 256)
            e.process(loop.data() + i, static_cast<int>(std::min<size_t>(256, loop.size() - i)));
}
} // namespace

void TempoAlternativesTest::relatedTempoIsOfferedFirst_data() {
    QTest::addColumn<double>("trueBpm");
    QTest::addColumn<int>("bars");
    QTest::addColumn<double>("shown");
    QTest::addColumn<QString>("relation");
    QTest::addColumn<QString>("fit");
    // Whether a tempo an octave off rivals the truth: then neither is sure.
    QTest::addColumn<bool>("octaveAmbiguity");
    QTest::newRow("150 shown as 75") << 150.0 << 2 << 75.0 << "×2"
                                     << "2 bars at 150.00 BPM" << true;
    QTest::newRow("70 shown as 140") << 70.0 << 2 << 140.0 << "½"
                                     << "2 bars at 70.00 BPM" << true;
    QTest::newRow("150 shown as 100") << 150.0 << 4 << 100.0 << "×3⁄2"
                                      << "4 bars at 150.00 BPM" << false;
    QTest::newRow("90 shown as 135") << 90.0 << 4 << 135.0 << "×2⁄3"
                                     << "4 bars at 90.00 BPM" << false;
}

void TempoAlternativesTest::relatedTempoIsOfferedFirst() {
    QFETCH(double, trueBpm);
    QFETCH(int, bars);
    QFETCH(double, shown);
    QFETCH(QString, relation);
    QFETCH(QString, fit);
    QFETCH(bool, octaveAmbiguity);
    TempoEstimator e(kRate);
    feedLoop(e, trueBpm, bars);
    e.estimateTempo();
    const std::vector<double> candidates = e.candidates();
    const double seconds = bars * 4 * 60.0 / trueBpm;

    const TempoAnalysis wrong = TempoAlternatives::analyse(e, shown, seconds);
    // Weighing other tempi leaves the estimate as it was.
    QCOMPARE(e.candidates(), candidates);
    QCOMPARE(wrong.detectedBpm, shown);
    QVERIFY(!wrong.alternatives.isEmpty());
    const TempoAlternative first = wrong.alternatives.first();
    QCOMPARE(first.bpm, trueBpm);
    QCOMPARE(TempoText::relation(first.bpm / shown), relation);
    QCOMPARE(TempoText::fit(first.bars, first.beatsPerBar, first.bpm), fit);
    for (int i = 1; i < wrong.alternatives.size(); ++i)
        QVERIFY(wrong.alternatives.at(i - 1).score >= wrong.alternatives.at(i).score);

    const TempoAnalysis right = TempoAlternatives::analyse(e, trueBpm, seconds);
    QCOMPARE(TempoText::fit(right.bars, right.beatsPerBar, trueBpm), fit);
    if (!octaveAmbiguity) {
        // A tempo three halves off is outscored by the truth: no confidence in it.
        QCOMPARE(wrong.confidence, 0.0);
        QVERIFY2(right.confidence > 0.0, qPrintable(QString::number(right.confidence)));
    }
}

void TempoAlternativesTest::tooLittleAudioStillRanksByPlausibility() {
    // Half a second: no comb to consult, no loop length that fits; nothing is lost.
    TempoEstimator e(kRate);
    const std::vector<float> s = TempoFixtures::clickTrain(120.0, 0.5, kRate);
    e.process(s.data(), static_cast<int>(s.size()));
    e.estimateTempo();
    QCOMPARE(e.periodicity(120.0), -1.0);
    const TempoAnalysis a = TempoAlternatives::analyse(e, 200.0, 0.5);
    QCOMPARE(a.alternatives.size(), 2); // 400 and 300 BPM are out of range
    QCOMPARE(a.alternatives.first().bpm, 100.0);
    QVERIFY(TempoAlternatives::analyse(e, 0.0, 0.5).isEmpty());
    QVERIFY(TempoAlternatives::analyse(e, std::nan(""), 0.5).isEmpty());
}

// Clicks at 180 BPM: their four-beat bar holds six beats at 120, so the comb rates 120
// almost as high. Its own beat does not recur, and the first rival offered is the half
// tempo, with some confidence in 180.
void TempoAlternativesTest::aTempoThreeHalvesOffIsNotTheFirstRival() {
    TempoEstimator e(kRate);
    const std::vector<float> s = TempoFixtures::clickTrain(180.0, 30.0, kRate);
    for (size_t i = 0; i < s.size(); i += 256)
        e.process(s.data() + i, static_cast<int>(std::min<size_t>(256, s.size() - i)));
    QVERIFY(std::fabs(e.estimateTempo() - 180.0) < 0.5);
    const TempoAnalysis a = TempoAlternatives::analyse(e, 180.0, 30.0);
    QVERIFY(!a.alternatives.isEmpty());
    QCOMPARE(a.alternatives.first().bpm, 90.0);
    QVERIFY2(a.confidence > 0.0, qPrintable(QString::number(a.confidence)));
}

void TempoAlternativesTest::tapTempo() {
    TapTempo tap;
    // Three taps are not enough; the fourth agreeing one gives the average.
    QCOMPARE(tap.tap(1000), 0.0);
    QCOMPARE(tap.tap(1400), 0.0);
    QCOMPARE(tap.tap(1802), 0.0);
    QCOMPARE(tap.tap(2198), 60000.0 * 3 / 1198);
    QCOMPARE(tap.tap(2600), 60000.0 * 4 / 1600);

    // A pause of two seconds starts over.
    QCOMPARE(tap.tap(4600), 0.0);
    QCOMPARE(tap.agreeingTaps(), 1);
    tap.tap(5100);
    tap.tap(5600);
    QCOMPARE(tap.tap(6100), 120.0);

    // A tap 5% off does not agree: the run restarts from the tap before it.
    QCOMPARE(tap.tap(6625), 0.0);
    QCOMPARE(tap.agreeingTaps(), 2);
    tap.tap(7150);
    QCOMPARE(tap.tap(7675), 60000.0 / 525);

    // Within 2% of their mean, uneven taps still agree.
    tap.reset();
    for (long long t : {0, 505, 1000, 1508})
        tap.tap(t);
    QCOMPARE(tap.agreeingTaps(), 4);

    // A clock that goes backwards starts over rather than giving a negative interval.
    QCOMPARE(tap.tap(100), 0.0);
    QCOMPARE(tap.agreeingTaps(), 1);
}
