#include "TempoEstimatorTest.h"

#include "TempoEstimator.h"
#include "TempoFixtures.h"
#include "TempoReference.h"

#include <QtTest>
#include <cmath>
#include <limits>
#include <random>

namespace {

void feed(TempoEstimator &e, const std::vector<float> &s, int block) {
    for (size_t i = 0; i < s.size(); i += block)
        e.process(s.data() + i, static_cast<int>(std::min<size_t>(block, s.size() - i)));
}

double estimate(const std::vector<float> &s, int rate, int block = 256) {
    TempoEstimator e(static_cast<float>(rate));
    feed(e, s, block);
    return e.estimateTempo();
}

} // namespace

void TempoEstimatorTest::frameSizesFollowTheRate_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("step");
    QTest::addColumn<double>("featureRate");
    QTest::newRow("22050") << 22050 << 240 << 120 << 183.75;
    QTest::newRow("44100") << 44100 << 481 << 240 << 183.75;
    QTest::newRow("48000") << 48000 << 523 << 261 << 183.908;
    QTest::newRow("96000") << 96000 << 1047 << 523 << 183.556;
}

void TempoEstimatorTest::frameSizesFollowTheRate() {
    QFETCH(int, rate);
    QFETCH(int, block);
    QFETCH(int, step);
    QFETCH(double, featureRate);
    TempoEstimator e(static_cast<float>(rate));
    QCOMPARE(e.blockSize(), block);
    QCOMPARE(e.stepSize(), step);
    QVERIFY(std::fabs(e.featureRate() - featureRate) < 0.0005);
    // The feature rate is the single-precision quotient, widened.
    QCOMPARE(e.featureRate(), static_cast<double>(static_cast<float>(rate) / static_cast<float>(step)));

    // One feature value per step of input; a partial step is analysed at the estimate.
    std::vector<float> s(step * 7 + step / 2, 0.1f);
    feed(e, s, 100);
    QCOMPARE(e.featureCount(), 7);
    e.estimateTempo();
    QCOMPARE(e.featureCount(), 8);
}

void TempoEstimatorTest::clickTrainAt120() {
    const double bpm = estimate(TempoFixtures::clickTrain(120.0, 20.0, 44100), 44100, 256);
    QVERIFY2(std::fabs(bpm - 120.0) < 0.5, qPrintable(QString::number(bpm)));
}

void TempoEstimatorTest::clickTrainAt60PrefersTheDoubleTempo() {
    TempoEstimator e(44100.0f);
    feed(e, TempoFixtures::clickTrain(60.0, 20.0, 44100), 256);
    const double bpm = e.estimateTempo();
    QVERIFY2(std::fabs(bpm - 120.0) < 0.5, qPrintable(QString::number(bpm)));
    // The true 60 BPM period is found too, but ranked below the preferred double tempo.
    const std::vector<double> &c = e.candidates();
    auto at60 = std::find_if(c.begin(), c.end(), [](double v) { return std::fabs(v - 60.0) < 0.5; });
    QVERIFY(at60 != c.end());
    QVERIFY(at60 != c.begin());
}

void TempoEstimatorTest::tooLittleAudioGivesNoTempo() {
    TempoEstimator e(44100.0f);
    const std::vector<float> s = TempoFixtures::clickTrain(120.0, 0.005, 44100); // 220 samples < one step
    feed(e, s, 1);
    QCOMPARE(e.featureCount(), 0);
    QCOMPARE(e.estimateTempo(), 0.0);
    QCOMPARE(e.featureCount(), 1);
    QVERIFY(e.candidates().empty());

    TempoEstimator empty(44100.0f);
    QCOMPARE(empty.estimateTempo(), 0.0);
    QCOMPARE(empty.featureCount(), 0);
}

void TempoEstimatorTest::minimumAudioForATempoAt44100() {
    const std::vector<float> clicks = TempoFixtures::clickTrain(120.0, 2.0, 44100);
    // 199 feature values: the autocorrelation halves to 100 lags, too short for 55 BPM.
    TempoEstimator short199(44100.0f);
    short199.process(clicks.data(), 199 * 240);
    QCOMPARE(short199.estimateTempo(), 0.0);
    QCOMPARE(short199.featureCount(), 199);

    // 200 values: the autocorrelation is exactly as long as the longest lag, which then
    // has no window of its own; the other lags still find the beat (with one window per
    // lag there is nothing to tell one beat from two).
    TempoEstimator enough(44100.0f);
    enough.process(clicks.data(), 200 * 240);
    const double bpm = enough.estimateTempo();
    QCOMPARE(enough.featureCount(), 200);
    QVERIFY2(std::fabs(bpm - 120.0) < 1.0 || std::fabs(bpm - 60.0) < 1.0, qPrintable(QString::number(bpm)));
    const ReferenceTempo::Result ref =
        ReferenceTempo::estimate(std::vector<float>(clicks.begin(), clicks.begin() + 200 * 240), 44100.0f);
    QVERIFY(ref.candidates == enough.candidates());
}

void TempoEstimatorTest::silenceGivesNoTempo() {
    TempoEstimator e(44100.0f);
    feed(e, std::vector<float>(44100 * 5, 0.0f), 512);
    QCOMPARE(e.estimateTempo(), 0.0);
    QVERIFY(e.candidates().empty());
}

void TempoEstimatorTest::blockSizeDoesNotChangeTheResult() {
    const std::vector<float> s = TempoFixtures::drumPattern(124.0, 6.0, 44100, 7);
    TempoEstimator whole(44100.0f);
    whole.process(s.data(), static_cast<int>(s.size()));
    const double expected = whole.estimateTempo();
    QVERIFY(expected > 0.0);
    for (int block : {1, 239, 240, 241, 256, 100000}) {
        TempoEstimator e(44100.0f);
        feed(e, s, block);
        QCOMPARE(e.estimateTempo(), expected);
        QVERIFY(e.candidates() == whole.candidates());
    }
    // Irregular blocks, including empty ones.
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> len(0, 700);
    TempoEstimator ragged(44100.0f);
    for (size_t i = 0; i < s.size();) {
        const int n = static_cast<int>(std::min<size_t>(len(rng), s.size() - i));
        ragged.process(s.data() + i, n);
        i += n;
    }
    QCOMPARE(ragged.estimateTempo(), expected);
}

void TempoEstimatorTest::matchesPlainModelBitForBit_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("bpm");
    QTest::addColumn<double>("seconds");
    for (int rate : {22050, 44100, 48000, 96000}) {
        QTest::addRow("clicks-%d", rate) << rate << 0 << 120.0 << 8.0;
        QTest::addRow("drums-%d", rate) << rate << 1 << 133.0 << 7.3;
    }
    // Long enough that no halving happens, and odd lengths that end mid-step.
    QTest::addRow("drums-long-44100") << 44100 << 1 << 97.0 << 19.7;
    QTest::addRow("noise-44100") << 44100 << 2 << 0.0 << 3.0;
    // Unusual rates change the number of bins: seven low bins, two high bins, and a
    // two-sample frame whose transform runs in fewer vector lanes.
    QTest::addRow("clicks-8250") << 8250 << 0 << 100.0 << 12.0;
    QTest::addRow("drums-8082") << 8082 << 1 << 120.0 << 12.0;
    QTest::addRow("clicks-221") << 221 << 0 << 120.0 << 30.0;
}

void TempoEstimatorTest::matchesPlainModelBitForBit() {
    QFETCH(int, rate);
    QFETCH(int, kind);
    QFETCH(double, bpm);
    QFETCH(double, seconds);
    std::vector<float> s;
    if (kind == 0) {
        s = TempoFixtures::clickTrain(bpm, seconds, rate);
    } else if (kind == 1) {
        s = TempoFixtures::drumPattern(bpm, seconds, rate, 11);
    } else {
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        s.resize(static_cast<size_t>(seconds * rate));
        for (float &v : s)
            v = u(rng);
    }
    TempoEstimator e(static_cast<float>(rate));
    feed(e, s, 512);
    const double tempo = e.estimateTempo();
    const ReferenceTempo::Result ref = ReferenceTempo::estimate(s, static_cast<float>(rate));
    QCOMPARE(e.featureCount(), ref.features);
    QVERIFY(!ref.candidates.empty()); // a comparison of two empty lists would prove nothing
    QCOMPARE(e.candidates().size(), ref.candidates.size());
    for (size_t i = 0; i < ref.candidates.size(); ++i)
        QVERIFY2(e.candidates()[i] == ref.candidates[i], qPrintable(QString("candidate %1: %2 vs %3")
                                                                        .arg(i)
                                                                        .arg(e.candidates()[i], 0, 'g', 17)
                                                                        .arg(ref.candidates[i], 0, 'g', 17)));
    // The comb's choice is the model's. The beat check after it keeps a drum pattern's
    // tempo; what it corrects on clicks and noise is tested on its own below.
    QCOMPARE(e.candidates().front(), ref.tempo);
    if (kind == 1)
        QCOMPARE(tempo, ref.tempo);
}

// Plain click tracks and a waltz: the comb alone read these as 4/3, 4/5 or 2/3 of their
// tempo. The octave is the comb's choice and stays free.
void TempoEstimatorTest::beatPeriodMustRecur_data() {
    QTest::addColumn<double>("bpm");
    QTest::addColumn<int>("beatsPerBar");
    QTest::newRow("clicks 85") << 85.0 << 1;
    QTest::newRow("clicks 90") << 90.0 << 1;
    QTest::newRow("clicks 135") << 135.0 << 1;
    QTest::newRow("clicks 180") << 180.0 << 1;
    QTest::newRow("waltz 150") << 150.0 << 3;
    // Read as 128 by the comb, whose best relative, 96, is itself a relative of 144.
    QTest::newRow("waltz 144") << 144.0 << 3;
}

void TempoEstimatorTest::beatPeriodMustRecur() {
    QFETCH(double, bpm);
    QFETCH(int, beatsPerBar);
    const int rate = 44100;
    const std::vector<float> s = beatsPerBar > 1 ? TempoFixtures::accentedClicks(bpm, 30.0, rate, beatsPerBar)
                                                 : TempoFixtures::clickTrain(bpm, 30.0, rate);
    const double found = estimate(s, rate);
    const double ratio = found / bpm;
    QVERIFY2(std::fabs(ratio - 1.0) < 0.01 || std::fabs(ratio - 0.5) < 0.005 || std::fabs(ratio - 2.0) < 0.02,
             qPrintable(QString("found %1").arg(found)));
}

void TempoEstimatorTest::noBeatGivesNoTempo() {
    const int rate = 44100;
    const size_t n = 10 * rate;
    std::vector<float> dc(n, 0.5f);
    std::vector<float> hum(n), noise(n);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    for (size_t i = 0; i < n; ++i) {
        hum[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * 50.0 * i / rate));
        noise[i] = u(rng);
    }
    QCOMPARE(estimate(dc, rate), 0.0);
    QCOMPARE(estimate(noise, rate), 0.0);
    // Steady tones, the low ones (a held sub-bass, a drone) included: their period nears
    // the analysis frame, so a frame's level swings with the tone's phase, steadily.
    std::vector<float> tone(n);
    for (double hz : {30.0, 50.0, 65.0, 80.0, 110.0, 440.0}) {
        for (size_t i = 0; i < n; ++i)
            tone[i] = 0.5f * static_cast<float>(std::sin(2.0 * M_PI * hz * i / rate));
        QVERIFY2(estimate(tone, rate) == 0.0, qPrintable(QString("%1 Hz got a tempo").arg(hz)));
    }
    // A beat with hum and noise around it still has its tempo.
    std::vector<float> beat = TempoFixtures::clickTrain(120.0, 10.0, rate);
    for (size_t i = 0; i < n; ++i)
        beat[i] += 0.3f * noise[i] + 0.1f * hum[i];
    const double found = estimate(beat, rate);
    QVERIFY2(std::fabs(found - 120.0) < 0.5, qPrintable(QString("found %1").arg(found)));
}

// A constant offset (a recording with DC on it) carries no beat and takes none away:
// the loop keeps its tempo, and a held low tone or silence lifted by it still has none.
void TempoEstimatorTest::constantOffsetDoesNotMatter() {
    const int rate = 44100;
    // Decaying noise bursts on every beat over a held 110 Hz tone: with 0.5 added, its
    // level moved by under 2% of its mean and it was taken for a steady tone.
    std::vector<float> bursts(static_cast<size_t>(6 * rate));
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (size_t f = 0; f < bursts.size(); ++f) {
        const double k = static_cast<double>(f % (rate / 2));
        bursts[f] = 0.3f * static_cast<float>(std::exp(-k / (rate * 0.03))) * u(rng) +
                    0.2f * static_cast<float>(std::sin(2.0 * M_PI * 110.0 * static_cast<double>(f) / rate));
    }
    struct Loop {
        const char *name;
        double bpm;
        std::vector<float> samples;
    };
    const Loop loops[] = {{"bursts", 120.0, bursts},
                          {"drums 96", 96.0, TempoFixtures::drumPattern(96.0, 8.0, rate)},
                          {"drums 140", 140.0, TempoFixtures::drumPattern(140.0, 8.0, rate)}};
    for (const Loop &loop : loops) {
        const double plain = estimate(loop.samples, rate);
        QVERIFY2(std::round(plain) == loop.bpm, qPrintable(QString("%1 found %2").arg(loop.name).arg(plain)));
        for (float offset : {0.5f, -0.5f, 0.9f}) {
            std::vector<float> lifted = loop.samples;
            for (float &v : lifted)
                v += offset;
            const double found = estimate(lifted, rate);
            QVERIFY2(std::fabs(found - plain) < 0.5,
                     qPrintable(QString("%1 with offset %2 found %3").arg(loop.name).arg(offset).arg(found)));
        }
    }
    const size_t n = 10 * rate;
    std::vector<float> tone(n);
    for (double hz : {0.0, 50.0, 80.0}) {
        for (size_t i = 0; i < n; ++i)
            tone[i] = 0.5f + 0.4f * static_cast<float>(std::sin(2.0 * M_PI * hz * i / rate));
        QVERIFY2(estimate(tone, rate) == 0.0, qPrintable(QString("%1 Hz over an offset got a tempo").arg(hz)));
    }
}

void TempoEstimatorTest::drumPatterns_data() {
    QTest::addColumn<int>("rate");
    QTest::addColumn<double>("bpm");
    for (int rate : {22050, 44100, 48000, 96000})
        for (double bpm : {96.0, 110.0, 128.0, 140.0})
            QTest::addRow("%d-%g", rate, bpm) << rate << bpm;
    QTest::addRow("44100-85") << 44100 << 85.0;
    QTest::addRow("48000-120") << 48000 << 120.0;
}

void TempoEstimatorTest::drumPatterns() {
    QFETCH(int, rate);
    QFETCH(double, bpm);
    const double found = estimate(TempoFixtures::drumPattern(bpm, 12.0, rate), rate, 256);
    QVERIFY2(std::round(found) == bpm, qPrintable(QString("found %1").arg(found)));
}

void TempoEstimatorTest::askingAgainRecomputesTheSameTempo() {
    TempoEstimator e(48000.0f);
    feed(e, TempoFixtures::drumPattern(110.0, 5.0, 48000), 1000);
    const double first = e.estimateTempo();
    const std::vector<double> firstCandidates = e.candidates();
    const int features = e.featureCount();
    QCOMPARE(e.estimateTempo(), first);
    QVERIFY(e.candidates() == firstCandidates);
    QCOMPARE(e.featureCount(), features);
}

void TempoEstimatorTest::unusableRatesNeverHang_data() {
    QTest::addColumn<float>("rate");
    QTest::newRow("100 Hz") << 100.0f;
    QTest::newRow("183 Hz") << 183.0f;
    QTest::newRow("zero") << 0.0f;
    QTest::newRow("negative") << -44100.0f;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity();
    QTest::newRow("absurd") << 2.0e9f;
}

void TempoEstimatorTest::unusableRatesNeverHang() {
    QFETCH(float, rate);
    TempoEstimator e(rate);
    const std::vector<float> s = TempoFixtures::clickTrain(120.0, 1.0, 44100);
    feed(e, s, 512);
    e.process(s.data(), static_cast<int>(s.size()));
    QCOMPARE(e.estimateTempo(), 0.0);
    QVERIFY(e.candidates().empty());
}

void TempoEstimatorTest::nonFiniteSamplesDoNotCrash() {
    std::vector<float> s = TempoFixtures::drumPattern(120.0, 4.0, 44100);
    s[1000] = std::numeric_limits<float>::quiet_NaN();
    s[50000] = std::numeric_limits<float>::infinity();
    TempoEstimator e(44100.0f);
    feed(e, s, 512);
    // The damage spreads through every autocorrelation lag: no tempo, rather than a wrong one.
    QCOMPARE(e.estimateTempo(), 0.0);
    QVERIFY(e.candidates().empty());
}
