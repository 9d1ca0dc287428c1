#include "BpmDetectorTest.h"

#include "AudioCache.h"
#include "BpmDetector.h"
#include "BpmDetectorWorker.h"
#include "Slice.h"
#include "TempoEstimator.h"
#include "TempoFixtures.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <cmath>

namespace {

constexpr int kWait = 60000; // a bound against hanging, not a speed requirement

SlicePtr loadSlice(const QString &path) {
    SlicePtr slice = Slice::create(path, 44100);
    if (!slice->isLoadingComplete()) {
        QSignalSpy loaded(slice.data(), &Slice::loadingComplete);
        if (!slice->isLoadingComplete())
            loaded.wait(kWait);
    }
    return slice;
}

// The tempo the detector must find: the estimator fed the loop's stereo blocks mixed to
// mono, passes times, plus the first block once more.
float expectedTempo(const SlicePtr &slice, int passes) {
    const AudioCachePtr cache = slice->cache();
    const int total = slice->length();
    std::vector<float> all(static_cast<size_t>(total));
    cache->readSamples(all.data(), static_cast<unsigned>(total), 0);
    std::vector<float> mono(all.size() / 2);
    for (size_t j = 0; j < mono.size(); ++j)
        mono[j] = (all[2 * j] + all[2 * j + 1]) * 0.5f;
    TempoEstimator e(static_cast<float>(slice->fileSampleRate()));
    for (int p = 0; p < passes; ++p)
        for (size_t i = 0; i < mono.size(); i += 256)
            e.process(mono.data() + i, static_cast<int>(std::min<size_t>(256, mono.size() - i)));
    e.process(mono.data(), 256);
    return static_cast<float>(std::round(e.estimateTempo()));
}

QList<float> progressValues(const QSignalSpy &spy) {
    QList<float> values;
    for (const QList<QVariant> &args : spy)
        values << args.at(0).toFloat();
    return values;
}

} // namespace

void BpmDetectorTest::initTestCase() {
    QVERIFY(m_dir.isValid());
}

QString BpmDetectorTest::writeLoop(const QString &name, double bpm, int bars, int rate) {
    // Whole bars, as a real loop: the repetition of a short loop stays in time.
    const QString path = m_dir.filePath(name);
    const double seconds = bpm > 0.0 ? bars * 4 * 60.0 / bpm : bars;
    const std::vector<float> mono = bpm > 0.0 ? TempoFixtures::drumPattern(bpm, seconds, rate)
                                              : std::vector<float>(size_t(seconds * rate));
    if (!TestAudio::writeWav(path, 2, rate, static_cast<long long>(mono.size()), [&mono](long long f, int c) {
            return mono[size_t(f)] * (c == 0 ? 1.0f : 0.8f);
        }))
        return QString();
    return path;
}

void BpmDetectorTest::shortLoopIsFedFourTimesPlusOneBlock() {
    const QString path = writeLoop("short.wav", 120.0, 1, 44100);
    QVERIFY(!path.isEmpty());
    SlicePtr slice = loadSlice(path);
    QCOMPARE(slice->length(), 176400);

    BpmDetector detector;
    QSignalSpy started(&detector, &BpmDetector::calculatingBpm);
    QSignalSpy progress(&detector, &BpmDetector::calculatingBpmProgress);
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    const float expected = expectedTempo(slice, 4);
    QVERIFY(expected > 0.0f);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("Tempo is: %1 BPM").arg(expected)));
    detector.detect(slice);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(started.count(), 1);
    QCOMPARE(slice->bpm(), double(expected));
    // The analysis stored with it describes that same tempo, and the loop's length.
    const TempoAnalysis analysis = slice->tempoAnalysis();
    QCOMPARE(analysis.detectedBpm, double(expected));
    QVERIFY(!analysis.alternatives.isEmpty());
    QCOMPARE(TempoText::fit(analysis.bars, analysis.beatsPerBar, analysis.detectedBpm),
             QString("1 bar at %1 BPM").arg(expected, 0, 'f', 2));

    // Every value keeps its meaning, (pass * total + position) / (passes * total), but only
    // one goes out per whole percent.
    const QList<float> values = progressValues(progress);
    QVERIFY2(values.size() >= 100 && values.size() <= 102, qPrintable(QString::number(values.size())));
    QCOMPARE(values.first(), 512.0f / (4.0f * 176400.0f));
    QCOMPARE(values.last(), (4.0f * 176400.0f + 512.0f) / (4.0f * 176400.0f));
    for (int i = 1; i < values.size(); ++i)
        QVERIFY(values[i] > values[i - 1]);
}

void BpmDetectorTest::longLoopIsFedOncePlusOneBlock() {
    const QString path = writeLoop("long.wav", 110.0, 10, 22050);
    QVERIFY(!path.isEmpty());
    SlicePtr slice = loadSlice(path);
    const int total = slice->length();
    QVERIFY(slice->durationSeconds() > 20.0);

    BpmDetector detector;
    QSignalSpy progress(&detector, &BpmDetector::calculatingBpmProgress);
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    detector.detect(slice);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(slice->bpm(), double(expectedTempo(slice, 1)));
    QCOMPARE(slice->bpm(), 110.0);
    QCOMPARE(progressValues(progress).last(), (float(total) + 512.0f) / float(total));
}

void BpmDetectorTest::invalidSampleRateFallsBackTo120() {
    // A file that cannot be read has no sample rate.
    SlicePtr slice = Slice::create(m_dir.filePath("missing.wav"), 44100);
    QCOMPARE(slice->fileSampleRate(), 0);
    BpmDetector detector;
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    QTest::ignoreMessage(QtDebugMsg, "Invalid samplerate, aborting BPM detection.");
    detector.detect(slice);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(slice->bpm(), 120.0);
}

void BpmDetectorTest::silenceStoresNoTempo() {
    const QString path = writeLoop("silence.wav", 0.0, 3, 48000);
    SlicePtr slice = loadSlice(path);
    slice->setBpm(99.0);
    BpmDetector detector;
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    QTest::ignoreMessage(QtDebugMsg, "Tempo is: 0 BPM");
    detector.detect(slice);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(slice->bpm(), 0.0);
}

// One or two drum hits in silence recur only at the loop's length when it is read over
// and over: what the comb makes of that is a guess, and the loop gets no tempo. Four
// hits, even this sparse, are a rhythm and keep theirs.
void BpmDetectorTest::oneOrTwoHitsStoreNoTempo() {
    const int rate = 44100;
    const long long frames = 4LL * rate;
    const auto hitsAt = [rate](std::vector<double> starts) {
        return [rate, starts](long long f, int c) {
            double v = 0.0;
            for (double start : starts) {
                const double t = double(f) / rate - start;
                if (t >= 0.0 && t < 0.3) {
                    const double noise = double((f * 1103515245LL + 12345LL) >> 8 & 0xFFFF) / 32768.0 - 1.0;
                    v += std::exp(-12.0 * t) * (0.7 * std::sin(2.0 * M_PI * (50.0 + 100.0 * std::exp(-30.0 * t)) * t) +
                                                0.2 * noise * std::exp(-30.0 * t));
                }
            }
            return float(v) * (c == 0 ? 1.0f : 0.8f);
        };
    };
    const struct {
        const char *name;
        std::vector<double> starts;
        bool hasTempo;
    } cases[] = {
        {"one.wav", {0.1}, false},
        {"two.wav", {0.1, 2.1}, false},
        {"four.wav", {0.0, 1.0, 2.0, 3.0}, true},
    };
    for (const auto &c : cases) {
        const QString path = m_dir.filePath(c.name);
        QVERIFY(TestAudio::writeWav(path, 2, rate, frames, hitsAt(c.starts)));
        SlicePtr slice = loadSlice(path);
        // The estimator alone finds a tempo in each: what the detector stores is its call.
        const float raw = expectedTempo(slice, 4);
        QVERIFY2(raw > 0.0f, c.name);
        BpmDetector detector;
        QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
        slice->setBpm(99.0);
        detector.detect(slice);
        QVERIFY(detected.wait(kWait));
        if (c.hasTempo) {
            QCOMPARE(slice->bpm(), double(raw));
            QVERIFY(!slice->tempoAnalysis().isEmpty());
        } else {
            QVERIFY2(slice->bpm() == 0.0, qPrintable(QString("%1: %2 BPM").arg(c.name).arg(slice->bpm())));
            QVERIFY(slice->tempoAnalysis().isEmpty());
            QCOMPARE(slice->tempoAnalysis().confidence, 0.0);
        }
    }
}

void BpmDetectorTest::cancelWhileIdleOnlyClearsTheQueue() {
    SlicePtr slice = loadSlice(writeLoop("idle.wav", 140.0, 2, 44100));
    BpmDetector detector;
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    detector.cancel();
    detector.cancel();
    detector.detect(slice);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(slice->bpm(), 140.0);
}

void BpmDetectorTest::twoDetectionsRunOneAfterTheOther() {
    SlicePtr a = loadSlice(writeLoop("a.wav", 96.0, 2, 44100));
    SlicePtr b = loadSlice(writeLoop("b.wav", 128.0, 2, 48000));
    BpmDetector detector;
    QSignalSpy started(&detector, &BpmDetector::calculatingBpm);
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    detector.detect(a);
    detector.detect(b);
    QTRY_COMPARE_WITH_TIMEOUT(detected.count(), 2, kWait);
    QCOMPARE(started.count(), 2);
    QCOMPARE(a->bpm(), 96.0);
    QCOMPARE(b->bpm(), 128.0);
}

void BpmDetectorTest::cancelAbandonsTheRunningDetection() {
    SlicePtr running = loadSlice(writeLoop("running.wav", 120.0, 2, 44100));
    SlicePtr next = loadSlice(writeLoop("next.wav", 140.0, 2, 44100));
    running->setBpm(77.0);

    BpmDetector detector;
    // Hold the worker inside its first block until the GUI thread has cancelled.
    QSemaphore inFirstBlock, cancelled;
    int blocksAfterCancel = -1;
    QMetaObject::Connection hold = connect(
        detector.worker(), &BpmDetectorWorker::calculatingBpmProgress, detector.worker(),
        [&](float) {
            if (blocksAfterCancel < 0) {
                blocksAfterCancel = 0;
                inFirstBlock.release();
                cancelled.acquire();
            } else {
                ++blocksAfterCancel;
            }
        },
        Qt::DirectConnection);
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    QTest::ignoreMessage(QtDebugMsg, "Cancelling tempo detection.");
    detector.detect(running);
    QVERIFY(inFirstBlock.tryAcquire(1, kWait));
    detector.cancel();
    cancelled.release();

    // The next loop runs normally: the request reached only the running detection.
    detector.detect(next);
    QVERIFY(detected.wait(kWait));
    QCOMPARE(detected.count(), 1);
    QCOMPARE(next->bpm(), 140.0);
    QCOMPARE(running->bpm(), 77.0);
    // Nothing of the cancelled loop was fed after the request: its first progress after
    // the cancel is the next loop's.
    QVERIFY(blocksAfterCancel >= 1);
    disconnect(hold);
}

void BpmDetectorTest::lateCancelDoesNotReachTheNextLoop() {
    SlicePtr first = loadSlice(writeLoop("first.wav", 110.0, 1, 44100));
    SlicePtr second = loadSlice(writeLoop("second.wav", 128.0, 1, 44100));
    BpmDetector detector;
    // Hold the worker on the first loop's very last block, after its last check of the
    // cancel flag, and cancel there: the first loop completes, then the second loop,
    // queued after the cancel, must run to completion too.
    QSemaphore atLastBlock, cancelled;
    bool held = false;
    connect(
        detector.worker(), &BpmDetectorWorker::calculatingBpmProgress, detector.worker(),
        [&](float fraction) {
            if (!held && fraction > 1.0f) {
                held = true;
                atLastBlock.release();
                cancelled.acquire();
            }
        },
        Qt::DirectConnection);
    QSignalSpy detected(&detector, &BpmDetector::bpmDetected);
    detector.detect(first);
    QVERIFY(atLastBlock.tryAcquire(1, kWait));
    detector.cancel();
    detector.detect(second);
    cancelled.release();
    QTRY_COMPARE_WITH_TIMEOUT(detected.count(), 2, kWait);
    QCOMPARE(first->bpm(), 110.0);
    QCOMPARE(second->bpm(), 128.0);
}

void BpmDetectorTest::loadingANewLoopCancelsTheRunningDetection() {
    const QString oldPath = writeLoop("old.wav", 100.0, 2, 44100);
    const QString newPath = writeLoop("new.wav", 132.0, 2, 44100);
    Trevant slicer;
    auto *detector = new BpmDetector;
    slicer.setTempoDetection(detector);
    QCOMPARE(slicer.bpmDetector(), detector);
    QSemaphore running, loaded;
    bool held = false;
    connect(
        detector->worker(), &BpmDetectorWorker::calculatingBpmProgress, detector->worker(),
        [&](float) {
            if (!held) {
                held = true;
                running.release();
                loaded.acquire();
            }
        },
        Qt::DirectConnection);
    QSignalSpy detected(detector, &BpmDetector::bpmDetected);
    QVERIFY(slicer.slotLoadLoop(oldPath));
    SlicePtr oldLoop = slicer.currentSlice();
    // The old loop's fill ends on the background reader; its detection then starts.
    QTRY_VERIFY_WITH_TIMEOUT(running.available() > 0, kWait);
    running.acquire();
    QTest::ignoreMessage(QtDebugMsg, "Cancelling tempo detection.");
    QVERIFY(slicer.slotLoadLoop(newPath));
    loaded.release();
    QVERIFY(detected.wait(kWait));
    QCOMPARE(detected.count(), 1);
    QCOMPARE(slicer.currentSlice()->bpm(), 132.0);
    QCOMPARE(oldLoop->bpm(), 0.0);
}

void BpmDetectorTest::requestsFromTheGuiThreadWhileRunning() {
    SlicePtr a = loadSlice(writeLoop("stress-a.wav", 120.0, 1, 22050));
    SlicePtr b = loadSlice(writeLoop("stress-b.wav", 96.0, 1, 22050));
    SlicePtr last = loadSlice(writeLoop("stress-last.wav", 132.0, 1, 22050));
    BpmDetector detector;
    // Requests and cancellations race with the worker taking loops off the queue and
    // polling the cancel flag.
    for (int i = 0; i < 120; ++i) {
        detector.detect(i % 2 ? a : b);
        if (i % 3 == 0)
            detector.cancel();
        if (i % 8 == 0)
            QCoreApplication::processEvents();
        if (i % 16 == 0)
            QThread::yieldCurrentThread();
    }
    detector.cancel();
    // Whatever ran meanwhile, a request made afterwards runs to completion.
    detector.detect(last);
    QTRY_COMPARE_WITH_TIMEOUT(last->bpm(), 132.0, kWait);
    QVERIFY(a->bpm() == 0.0 || a->bpm() == 120.0);
    QVERIFY(b->bpm() == 0.0 || b->bpm() == 96.0);
}

void BpmDetectorTest::destroyingWhileIdleJoins() {
    {
        // Destroyed at once, possibly before the worker loop has even begun.
        BpmDetector detector;
    }
    auto *detector = new BpmDetector;
    QThread *thread = detector->worker()->thread();
    QSignalSpy finished(detector->worker(), &BpmDetectorWorker::finished);
    QTRY_VERIFY_WITH_TIMEOUT(thread->isRunning(), kWait);
    delete detector;
    QCOMPARE(finished.count(), 1);
}

void BpmDetectorTest::destroyingWhileRunningJoins() {
    SlicePtr slice = loadSlice(writeLoop("busy.wav", 120.0, 2, 44100));
    SlicePtr queued = loadSlice(writeLoop("queued.wav", 120.0, 2, 44100));
    slice->setBpm(50.0);
    queued->setBpm(51.0);
    auto *detector = new BpmDetector;
    BpmDetectorWorker *worker = detector->worker();
    QSemaphore running;
    bool held = false;
    // The worker stays inside its first block until the destructor has asked it to stop.
    connect(
        worker, &BpmDetectorWorker::calculatingBpmProgress, worker,
        [&](float) {
            if (!held) {
                held = true;
                running.release();
                while (!worker->isStopping())
                    QThread::yieldCurrentThread();
            }
        },
        Qt::DirectConnection);
    QSignalSpy finished(worker, &BpmDetectorWorker::finished);
    detector->detect(slice);
    detector->detect(queued);
    QVERIFY(running.tryAcquire(1, kWait));
    QTest::ignoreMessage(QtDebugMsg, "Cancelling tempo detection.");
    delete detector;
    QCOMPARE(finished.count(), 1);
    // Neither the running nor the queued loop got a tempo: shutting down waits for neither.
    QCOMPARE(slice->bpm(), 50.0);
    QCOMPARE(queued->bpm(), 51.0);
}
