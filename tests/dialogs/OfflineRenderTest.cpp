#include "OfflineRenderTest.h"

#include "DialogTestUtil.h"
#include "OfflineStretchRenderer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cmath>

using namespace DialogTestUtil;
using Job = OfflineStretchRenderer::Job;
using Outcome = OfflineStretchRenderer::Outcome;

namespace {
// Rubber Band's own processing granularity: the offline length must match within it.
constexpr int kOneBlock = 1024;
constexpr int kRate = 44100;

Job sineJob(const std::vector<float> &input, const QString &dir, double ratio, int pitch)
{
    Job job;
    job.reader = vectorReader(input);
    job.start = 0;
    job.end = int(input.size());
    job.sampleRate = kRate;
    job.timeRatio = ratio;
    job.pitchSemitones = pitch;
    job.outputDir = dir;
    job.baseName = QStringLiteral("break");
    return job;
}

int filesIn(const QString &dir) { return QDir(dir).entryList(QDir::Files).size(); }
} // namespace

void OfflineRenderTest::lengthFollowsRatio_data()
{
    QTest::addColumn<double>("ratio");
    QTest::addColumn<int>("options");
    QTest::newRow("slower 1.5") << 1.5 << 0;
    QTest::newRow("faster 0.5") << 0.5 << 0;
    QTest::newRow("unchanged") << 1.0 << 0;
    // Drums preset: percussive detector, short window (rebuild options in the preview).
    QTest::newRow("drums 1.25") << 1.25 << (0x400 | 0x100000);
    QTest::newRow("harmonic 0.8") << 0.8 << (0x200 | 0x200000 | 0x1000000);
    QTest::newRow("smoothing, together") << 1.1 << (0x800000 | 0x10000000);
}

void OfflineRenderTest::lengthFollowsRatio()
{
    QFETCH(double, ratio);
    QFETCH(int, options);
    QTemporaryDir dir;
    const int frames = kRate; // one second
    const auto input = stereoSine(440.0, kRate, frames);
    Job job = sineJob(input, dir.path(), ratio, 0);
    job.options = options;
    QVector<float> seen;
    const auto r = OfflineStretchRenderer::render(job, {}, [&](float f) { seen.append(f); });
    QCOMPARE(int(r.outcome), int(Outcome::Finished));
    QVERIFY(QFileInfo(r.filePath).absolutePath() == QFileInfo(dir.path()).absoluteFilePath());
    QVERIFY(r.filePath.endsWith(".wav"));

    int rate = 0;
    const auto out = readStereo(r.filePath, &rate);
    QCOMPARE(rate, kRate);
    const long expected = std::lround(frames * ratio);
    QVERIFY2(std::abs(long(out.size() / 2) - expected) <= kOneBlock,
             qPrintable(QString("got %1 frames, expected %2").arg(out.size() / 2).arg(expected)));
    QCOMPARE(qint64(out.size() / 2), r.framesWritten);

    // Time stretching keeps the pitch; look in the middle, away from the edges.
    const size_t n = out.size() / 2;
    const double f0 = dominantFrequency(out, rate, 0, n / 4, 3 * n / 4);
    QVERIFY2(std::abs(f0 - 440.0) < 1.0, qPrintable(QString::number(f0)));
    QVERIFY(std::abs(dominantFrequency(out, rate, 1, n / 4, 3 * n / 4) - 440.0) < 1.0);

    // Progress climbs from 0 to exactly 1.
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.first(), 0.0f);
    QCOMPARE(seen.last(), 1.0f);
    QVERIFY(std::is_sorted(seen.begin(), seen.end()));
}

void OfflineRenderTest::pitchShiftMovesFrequency()
{
    QTemporaryDir dir;
    const auto input = stereoSine(440.0, kRate, kRate);
    for (int pitch : {12, -12, 7}) {
        const auto r = OfflineStretchRenderer::render(sineJob(input, dir.path(), 1.0, pitch), {}, {});
        QCOMPARE(int(r.outcome), int(Outcome::Finished));
        const auto out = readStereo(r.filePath);
        const size_t n = out.size() / 2;
        QVERIFY(std::abs(long(n) - kRate) <= kOneBlock);
        const double want = 440.0 * std::pow(2.0, pitch / 12.0);
        const double got = dominantFrequency(out, kRate, 0, n / 4, 3 * n / 4);
        QVERIFY2(std::abs(got - want) < want * 0.01, qPrintable(QString("pitch %1: %2 Hz, want %3").arg(pitch).arg(got).arg(want)));
    }
}

void OfflineRenderTest::regionIsRespected()
{
    // First half 300 Hz, second half 600 Hz: rendering only the second half must
    // give 600 Hz and half the length.
    QTemporaryDir dir;
    const int frames = kRate;
    auto input = stereoSine(300.0, kRate, frames);
    const auto high = stereoSine(600.0, kRate, frames);
    std::copy(high.begin() + frames, high.end(), input.begin() + frames);
    Job job = sineJob(input, dir.path(), 2.0, 0);
    job.start = frames; // interleaved position of frame frames/2
    const auto r = OfflineStretchRenderer::render(job, {}, {});
    QCOMPARE(int(r.outcome), int(Outcome::Finished));
    const auto out = readStereo(r.filePath);
    const size_t n = out.size() / 2;
    QVERIFY(std::abs(long(n) - frames) <= kOneBlock); // half a second, doubled
    QVERIFY(std::abs(dominantFrequency(out, kRate, 0, n / 4, 3 * n / 4) - 600.0) < 6.0);
}

void OfflineRenderTest::cancelHalfwayLeavesNothing()
{
    QTemporaryDir dir;
    const auto input = stereoSine(440.0, kRate, 2 * kRate);
    const auto before = input;
    float last = 0.0f;
    bool cancelAsked = false;
    const auto r = OfflineStretchRenderer::render(
        sineJob(input, dir.path(), 1.5, 3),
        [&] {
            cancelAsked = cancelAsked || last >= 0.5f;
            return cancelAsked;
        },
        [&](float f) { last = f; });
    QCOMPARE(int(r.outcome), int(Outcome::Cancelled));
    QVERIFY(last >= 0.5f && last < 1.0f); // it really was halfway
    QVERIFY(r.filePath.isEmpty());
    QCOMPARE(filesIn(dir.path()), 0);
    QVERIFY(input == before);
}

void OfflineRenderTest::badInputFailsCleanly()
{
    QTemporaryDir dir;
    const auto input = stereoSine(440.0, kRate, 4096);
    struct Case {
        const char *name;
        std::function<void(Job &)> spoil;
    } cases[] = {
        {"empty region", [](Job &j) { j.end = j.start; }},
        {"reversed region", [](Job &j) { j.start = 4000; j.end = 2000; }},
        {"zero ratio", [](Job &j) { j.timeRatio = 0.0; }},
        {"NaN ratio", [](Job &j) { j.timeRatio = std::nan(""); }},
        {"zero rate", [](Job &j) { j.sampleRate = 0; }},
        {"unwritable folder", [](Job &j) { j.outputDir = "/proc/no-such-folder"; }},
    };
    for (const auto &c : cases) {
        Job job = sineJob(input, dir.path(), 1.5, 0);
        c.spoil(job);
        const auto r = OfflineStretchRenderer::render(job, {}, {});
        QVERIFY2(r.outcome == Outcome::Failed, c.name);
        QVERIFY2(!r.error.isEmpty(), c.name);
        QCOMPARE(filesIn(dir.path()), 0);
    }
    // A reader that runs dry early gives silence, not garbage or a crash.
    Job shortReader = sineJob(input, dir.path(), 1.0, 0);
    shortReader.reader = [](float *, int, int) { return 0; };
    const auto r = OfflineStretchRenderer::render(shortReader, {}, {});
    QCOMPARE(int(r.outcome), int(Outcome::Finished));
    const auto out = readStereo(r.filePath);
    QVERIFY(!out.empty());
    QVERIFY(std::all_of(out.begin(), out.end(), [](float s) { return std::abs(s) < 1e-6f; }));
}

void OfflineRenderTest::threadedRenderReportsProgressAndFile()
{
    QTemporaryDir dir;
    const auto input = stereoSine(440.0, kRate, kRate / 2);
    OfflineStretchRenderer renderer;
    QSignalSpy progress(&renderer, &OfflineStretchRenderer::progressChanged);
    QSignalSpy finished(&renderer, &OfflineStretchRenderer::finished);
    QSignalSpy cancelled(&renderer, &OfflineStretchRenderer::cancelled);
    QVERIFY(renderer.start(sineJob(input, dir.path(), 1.5, 0)));
    QVERIFY(!renderer.start(sineJob(input, dir.path(), 1.5, 0)) || finished.count() == 1);
    QVERIFY(finished.wait(20000) || finished.count() == 1);
    QCOMPARE(cancelled.count(), 0);
    const QString path = finished.first().first().toString();
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(progress.count() > 2);
    QCOMPARE(progress.last().first().toFloat(), 1.0f);

    // A second job on the same renderer, cancelled through the external flag at once.
    std::atomic<bool> loopCancel{true};
    QVERIFY(renderer.start(sineJob(input, dir.path(), 1.5, 0), [&] { return loopCancel.load(); }));
    QVERIFY(cancelled.wait(20000) || cancelled.count() == 1);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(filesIn(dir.path()), 1); // only the first file
}

void OfflineRenderTest::destroyingRendererCancels()
{
    QTemporaryDir dir;
    const auto input = stereoSine(440.0, kRate, 30 * kRate);
    {
        OfflineStretchRenderer renderer;
        QVERIFY(renderer.start(sineJob(input, dir.path(), 1.5, 0)));
    } // the destructor cancels and joins
    QCOMPARE(filesIn(dir.path()), 0);
}
