// The transient detection service and the undo steps of slicing at transients, without
// a window: real loops read by the real cache, analysed on the service's own thread.
#include "AudioEdit.h"
#include "AudioEditMute.h"
#include "EditableAudioCache.h"
#include "HitLoopFixture.h"
#include "OnsetAnalysisService.h"
#include "OnsetAnalysisWorker.h"
#include "OnsetDetector.h"
#include "Settings.h"
#include "SliceAtTransientsCommand.h"
#include "TestAudio.h"
#include "TransientSensitivityCommand.h"
#include "Trevant.h"
#include "WorkerSafeTest.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

namespace {
constexpr int kWait = 60000; // a bound against hanging, not a speed requirement
constexpr long long kBefore = HitLoopFixture::rate * 20 / 1000;
constexpr long long kAfter = HitLoopFixture::rate / 1000;

bool loadInto(Trevant &slicer, const QString &path) {
    if (!slicer.slotLoadLoop(path))
        return false;
    const SlicePtr slice = slicer.currentSlice();
    if (!slice->isLoadingComplete()) {
        QSignalSpy loaded(slice.data(), &Slice::loadingComplete);
        if (!slice->isLoadingComplete() && !loaded.wait(kWait))
            return false;
    }
    return true;
}

OnsetAnalysisPtr analyse(OnsetAnalysisService &service) {
    QSignalSpy ready(&service, &OnsetAnalysisService::analysisReady);
    service.request();
    if (!service.analysis() && !ready.wait(kWait))
        return {};
    return service.analysis();
}
} // namespace

class OnsetServiceTest : public WorkerSafeTest {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_hits;
    QString m_silence;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_hits = m_dir.filePath("hits.wav");
        m_silence = m_dir.filePath("silence.wav");
        QVERIFY(HitLoopFixture::write(m_hits));
        QVERIFY(TestAudio::writeWav(m_silence, 2, 44100, 44100, [](long long, int) { return 0.0f; }));
        Settings::instance().set("snap_to_zero_crossings", "1");
    }

    // The kept result serves every later request until the audio changes; a new loop
    // abandons what ran for the old one, and only the new loop's result arrives.
    void keepsTheAnalysisUntilTheAudioChanges() {
        Trevant slicer;
        QVERIFY(loadInto(slicer, m_hits));
        OnsetAnalysisService service;
        QSignalSpy started(&service, &OnsetAnalysisService::analysisStarted);
        service.setSlice(slicer.currentSlice());
        const OnsetAnalysisPtr first = analyse(service);
        QVERIFY(first);
        QCOMPARE(first->frames, HitLoopFixture::frames);
        QCOMPARE(started.count(), 1);

        service.request();
        QCOMPARE(started.count(), 1);
        QCOMPARE(service.analysis(), first);

        service.invalidate();
        QVERIFY(!service.analysis());
        QVERIFY(analyse(service));
        QCOMPARE(started.count(), 2);

        // A request for the old loop is overtaken by the new one before it can report.
        Trevant other;
        QVERIFY(loadInto(other, m_silence));
        service.invalidate();
        QSignalSpy ready(&service, &OnsetAnalysisService::analysisReady);
        service.request();
        QVERIFY(service.isAnalysing());
        service.setSlice(other.currentSlice());
        QVERIFY(!service.isAnalysing());
        const OnsetAnalysisPtr second = analyse(service);
        QVERIFY(second);
        QCOMPARE(second->frames, 44100);
        QCOMPARE(ready.count(), 1);
        QVERIFY(second->isEmpty());
    }

    // Points come out at (or just before) every hit, inside the trim region only, and the
    // detection reads the audio as it plays: a muted hit is no hit.
    void picksAtTheHitsOfTheAudioAsItPlays() {
        Trevant slicer;
        QVERIFY(loadInto(slicer, m_hits));
        OnsetAnalysisService service;
        service.setSlice(slicer.currentSlice());
        OnsetAnalysisPtr analysis = analyse(service);
        QVERIFY(analysis);
        const QVector<long long> hits = HitLoopFixture::hitFrames();

        const QList<int> points =
            OnsetAnalysisService::slicePoints(&slicer, *analysis, OnsetDetector::defaultSensitivity, 30.0);
        QCOMPARE(points.size(), hits.size());
        for (int i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i] % 2, 0);
            QCOMPARE(HitLoopFixture::hitNear(points[i], kBefore, kAfter), i);
        }

        // Trimmed to the span from hit 2 to just before hit 6: hits 3, 4 and 5 remain.
        slicer.setTrimStart(int(2 * (hits[2] - 100)));
        slicer.setTrimEnd(int(2 * (hits[6] - 500)));
        const QList<int> trimmed =
            OnsetAnalysisService::slicePoints(&slicer, *analysis, OnsetDetector::defaultSensitivity, 30.0);
        QCOMPARE(trimmed.size(), 3);
        for (int i = 0; i < trimmed.size(); ++i)
            QCOMPARE(HitLoopFixture::hitNear(trimmed[i], kBefore, kAfter), i + 3);
        slicer.setTrimStart(0);
        slicer.setTrimEnd(slicer.currentSlice()->length());

        // Mute the loudest hit in edit mode; the edited loop is what is analysed.
        const SlicePtr slice = slicer.currentSlice();
        slicer.setEditMode(true);
        auto cache = slice->cache().objectCast<EditableAudioCache>();
        QVERIFY(cache);
        auto mute = QSharedPointer<AudioEditMute>::create();
        mute->setRange(int(2 * (hits[4] - 200)), int(2 * (hits[4] + HitLoopFixture::rate / 5)));
        cache->addEdit(mute);
        QTRY_VERIFY_WITH_TIMEOUT(!cache->isResetting(), kWait);
        service.invalidate();
        analysis = analyse(service);
        QVERIFY(analysis);
        const QList<int> edited =
            OnsetAnalysisService::slicePoints(&slicer, *analysis, OnsetDetector::defaultSensitivity, 30.0);
        QCOMPARE(edited.size(), hits.size() - 1);
        for (int point : edited) {
            const int hit = HitLoopFixture::hitNear(point, kBefore, kAfter);
            QVERIFY(hit >= 0);
            QVERIFY(hit != 4);
        }
    }

    // A reversed loop is analysed as it plays, backwards frame by frame with left and right
    // in place: the same result as the detector run on those frames reversed by hand.
    void analysesAReversedLoopAsItPlays() {
        Trevant slicer;
        QVERIFY(loadInto(slicer, m_hits));
        const SlicePtr slice = slicer.currentSlice();
        const AudioCachePtr cache = slice->cache();
        const int samples = cache->length() & ~1;
        std::vector<float> backwards(static_cast<size_t>(samples));
        for (int f = 0; f < samples / 2; ++f) {
            backwards[size_t(2 * f)] = cache->getSample(samples - 2 - 2 * f);
            backwards[size_t(2 * f + 1)] = cache->getSample(samples - 1 - 2 * f);
        }
        const OnsetAnalysis expected = OnsetDetector::analyse(
            [&](qint64 frame, int count, float *out) {
                const int n = int(std::clamp<qint64>(samples / 2 - frame, 0, count));
                std::copy(backwards.begin() + 2 * frame, backwards.begin() + 2 * (frame + n), out);
                return n;
            },
            samples / 2, 2, slice->fileSampleRate());
        slice->reverse();
        const OnsetAnalysis reversed = OnsetAnalysisWorker::analyseLoop(slice, [] { return true; }, {});
        QVERIFY(!expected.candidates.isEmpty());
        QCOMPARE(reversed.candidates.size(), expected.candidates.size());
        for (int i = 0; i < expected.candidates.size(); ++i)
            QCOMPARE(reversed.candidates[i].startFrame, expected.candidates[i].startFrame);
    }

    // One step per slicing, redo gives back exactly the recorded points; keyboard steps of
    // one session merge, a drag's step (session -1) never does.
    void undoStepsOfTransientSlicing() {
        Trevant slicer;
        QVERIFY(loadInto(slicer, m_hits));
        slicer.sliceEvenly(4);
        const QList<int> even = slicer.slicePoints();
        const QList<int> picked = {1000, 50000, 90000};
        QUndoStack stack;
        stack.push(new SliceAtTransientsCommand(&slicer, even, picked, 50.0));
        QCOMPARE(slicer.slicePoints(), picked);
        QCOMPARE(stack.undoText(), QString("slice at transients"));
        stack.undo();
        QCOMPARE(slicer.slicePoints(), even);
        stack.redo();
        QCOMPARE(slicer.slicePoints(), picked);

        const QList<int> more = {1000, 20000, 50000, 90000};
        const QList<int> most = {1000, 20000, 50000, 70000, 90000};
        stack.push(new TransientSensitivityCommand(&slicer, picked, more, 60.0, 7));
        stack.push(new TransientSensitivityCommand(&slicer, more, most, 70.0, 7));
        QCOMPARE(stack.count(), 2);
        QCOMPARE(static_cast<const TransientSlicingCommand *>(stack.command(1))->sensitivity(), 70.0);
        stack.push(new TransientSensitivityCommand(&slicer, most, more, 60.0, 8));
        stack.push(new TransientSensitivityCommand(&slicer, more, picked, 50.0, -1));
        stack.push(new TransientSensitivityCommand(&slicer, picked, more, 60.0, -1));
        QCOMPARE(stack.count(), 5);
        stack.undo();
        stack.undo();
        stack.undo();
        QCOMPARE(slicer.slicePoints(), most);
        stack.undo();
        QCOMPARE(slicer.slicePoints(), picked);
        stack.undo();
        QCOMPARE(slicer.slicePoints(), even);
    }
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    registerAudioEditMetaType();
    OnsetServiceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main.moc"
