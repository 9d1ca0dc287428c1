// The loop model: fades, pull, render through the resampler and the stretcher.
#include "WorkerSafeTest.h"
#include "Fade.h"
#include "ModelFixtures.h"
#include "Slice.h"
#include "SpeexResampler.h"
#include "TimeStretcher.h"

#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <thread>

using namespace ModelFixtures;

namespace {
// Feeds a fixed number of frames of a constant value, then ends.
class CountedSource : public AudioSource {
public:
    explicit CountedSource(int frames) : m_left(2 * frames) {}
    int pull(float *buffer, int count) override {
        const int n = std::min(count, m_left);
        for (int i = 0; i < n; ++i)
            buffer[i] += 0.25f;
        m_left -= n;
        return n;
    }
    int length() override { return m_left; }
    int m_left;
};

// A cache whose presented length can shrink, like an edited loop after a delete.
class ShrinkingCache : public AudioCache {
public:
    explicit ShrinkingCache(AudioCachePtr source)
        : m_source(std::move(source)), m_length(m_source->length()) {}
    float getSample(int index) override {
        if (index < 0 || index >= m_length)
            ++outside;
        return m_source->getSample(index);
    }
    bool tryLock() override { return m_source->tryLock(); }
    void unlock() override { m_source->unlock(); }
    int length() override { return m_length; }
    void shrink(int length) {
        m_length = length;
        emit lengthChanged();
    }
    int outside = 0;

private:
    AudioCachePtr m_source;
    int m_length;
};
} // namespace

class LoopTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        setSetting("fade_in_out_slices", "0");
    }
    void cleanup() { setSetting("fade_in_out_slices", "0"); }

    void fadeRampsExactly() {
        Fade in;
        in.setSampleRate(44100);
        in.setGain(0.0f);
        in.startFadeIn(2.0);
        QCOMPARE(in.state(), int(Fade::FadingIn));
        std::vector<float> buf(2 * 200, 1.0f);
        in.process(buf.data(), 200);
        const float step = float(1.0 / 88.2);
        float g = 0.0f;
        for (int i = 0; i < 200; ++i) {
            g = std::min(1.0f, g + step);
            QCOMPARE(buf[size_t(2 * i)], g);
            QCOMPARE(buf[size_t(2 * i + 1)], g);
        }
        QCOMPARE(in.state(), int(Fade::Idle));

        // A fade-out pending for 100 frames, processed in odd-sized pieces, starts on frame 100.
        Fade out;
        out.setSampleRate(48000);
        out.startFadeOut(2.0, 100);
        QCOMPARE(out.state(), int(Fade::FadeOutPending));
        std::vector<float> o(2 * 400, 1.0f);
        out.process(o.data(), 37);
        out.process(o.data() + 2 * 37, 80);
        out.process(o.data() + 2 * 117, 283);
        for (int i = 0; i < 100; ++i)
            QCOMPARE(o[size_t(2 * i)], 1.0f);
        QVERIFY(o[2 * 100] < 1.0f);
        QCOMPARE(o[2 * 100], 1.0f - 1.0f / 96.0f);
        QCOMPARE(o[2 * 196], 0.0f);
        // Finished: everything after it stays silent.
        std::vector<float> more(2 * 50, 1.0f);
        out.process(more.data(), 50);
        for (float v : more)
            QCOMPARE(v, 0.0f);
    }

    void playRegionsAndLoopSetters() {
        const QString path = writeStaircase(m_dir, "regions.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        QCOMPARE(s->length(), 20000);
        s->play(true, 1001, 2001);
        QCOMPARE(s->playPosition(), 1000);
        QCOMPARE(s->playEnd(), 2000);
        s->play(true, 1000, 0);
        QCOMPARE(s->playEnd(), 20000);

        // Out of range and odd positions are clamped and frame-aligned.
        s->setLoop(-7, 999999);
        QCOMPARE(s->loopStart(), 0);
        QCOMPARE(s->loopEnd(), 20000);
        s->setLoopStart(1235);
        QCOMPARE(s->loopStart(), 1234);
        s->setLoopEnd(100);
        QCOMPARE(s->loopStart(), 100);
        QCOMPARE(s->loopEnd(), 1234);

        s->setLoop(4000, 8000);
        s->setLoopMode(2);
        s->play(true, 5000, 6000);
        QCOMPARE(s->playEnd(), 8000);
        s->play(false, 0, 0);
        QCOMPARE(s->playPosition(), 4000);
        QVERIFY(!s->isPlaying());
    }

    // Rendering (the sound-card thread's work) publishes the play position for the views
    // to poll and emits nothing: a queued signal per block would allocate in the callback.
    void renderPublishesThePlayPositionSilently() {
        const QString path = writeStaircase(m_dir, "published.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        s->play(true, 2000, 0);
        QCOMPARE(s->shownPlayPosition(), 2000);
        QSignalSpy moved(s.data(), &Slice::playPosChanged);
        std::thread callback([&] {
            std::vector<float> buf(2 * 256);
            for (int i = 0; i < 4; ++i)
                s->render(buf.data(), int(buf.size()));
        });
        callback.join();
        QCoreApplication::processEvents();
        QCOMPARE(moved.count(), 0);
        QCOMPARE(s->shownPlayPosition(), s->playPosition());
        QVERIFY(s->shownPlayPosition() > 2000);
        s->play(false, 0, 0);
        QCOMPARE(s->shownPlayPosition(), 0);
        // A loop end set before the position (GUI thread) moves it, and says so.
        s->play(true, 6000, 0);
        s->setLoopEnd(4000);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(s->shownPlayPosition(), 0);
    }

    void pullWrapsShortLoopsManyTimes() {
        const QString path = writeStaircase(m_dir, "wrap.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        s->setLoop(19900, 20000); // 50 frames at the very end of the file
        s->setLoopMode(2);
        s->play(true, 19900, 20000);
        std::vector<float> buf(4096, 0.0f);
        QCOMPARE(s->pull(buf.data(), 4096), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[size_t(i)], TestAudio::staircase(19900 + i % 100));
        QVERIFY(s->isPlaying());

        // Without looping, the region ends and pull stops exactly there.
        s->setLoopMode(0);
        s->play(true, 100, 300);
        std::fill(buf.begin(), buf.end(), 0.0f);
        QSignalSpy stopped(s.data(), &Slice::stopped);
        QSignalSpy toggled(s.data(), &Slice::playbackToggled);
        QCOMPARE(s->pull(buf.data(), 1000), 200);
        QCOMPARE(buf[199], TestAudio::staircase(299));
        QCOMPARE(buf[200], 0.0f);
        QVERIFY(!s->isPlaying());
        // pull runs on the sound-card thread: the stop is told once the GUI thread
        // collects it, once.
        QCOMPARE(stopped.count(), 0);
        s->deliverSoundCardNews();
        QCOMPARE(stopped.count(), 1);
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.first().first().toBool(), false);
        QCOMPARE(s->pull(buf.data(), 1000), 0);
    }

    void busyCacheGivesSilenceNotEnd() {
        const QString path = writeStaircase(m_dir, "busy.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        s->play(true, 0, 0);
        QSemaphore locked, release;
        AudioCachePtr cache = s->cache();
        std::thread holder([&] {
            cache->lock();
            locked.release();
            release.acquire();
            cache->unlock();
        });
        locked.acquire();
        std::vector<float> buf(512, 0.0f);
        QCOMPARE(s->pull(buf.data(), 512), 512);
        for (float v : buf)
            QCOMPARE(v, 0.0f);
        QCOMPARE(s->playPosition(), 0);
        QVERIFY(s->isPlaying());
        release.release();
        holder.join();
        QCOMPARE(s->pull(buf.data(), 512), 512);
        QCOMPARE(buf[511], TestAudio::staircase(511));
    }

    void reversedLoopPlaysBackwards() {
        const QString path = writeStaircase(m_dir, "rev.wav", 44100, 1000);
        SlicePtr s = loadFilled(path, 44100);
        s->reverse();
        QVERIFY(s->isReversed());
        s->play(true, 0, 0);
        std::vector<float> buf(2000, 0.0f);
        QCOMPARE(s->pull(buf.data(), 2000), 2000);
        for (int f = 0; f < 1000; ++f) {
            QCOMPARE(buf[size_t(2 * f)], TestAudio::staircase(2 * (999 - f)));
            QCOMPARE(buf[size_t(2 * f + 1)], TestAudio::staircase(2 * (999 - f) + 1));
        }
        s->reverse();
        QVERIFY(!s->isReversed());
    }

    void renderEqualRateIsExactWithFades() {
        const QString path = writeStaircase(m_dir, "exact.wav", 44100, 44100);
        SlicePtr s = loadFilled(path, 44100);
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 1000);
        QCOMPARE(int(out.size()), 88200);
        for (int i = 0; i < 88200; i += 7)
            QCOMPARE(out[size_t(i)], TestAudio::staircase(i));

        setSetting("fade_in_out_slices", "1");
        s->play(true, 0, 0);
        out = renderAll(*s, 333);
        QCOMPARE(int(out.size()), 88200);
        const float step = float(1.0 / 88.2);
        // Fade-in from the first frame.
        float g = 0.0f;
        for (int f = 0; f < 100; ++f) {
            g = std::min(1.0f, g + step);
            QCOMPARE(out[size_t(2 * f)], TestAudio::staircase(2 * f) * g);
        }
        // Full level in the middle, fade-out ending on the last frame.
        QCOMPARE(out[2 * 20000], TestAudio::staircase(2 * 20000));
        const int fadeStart = int(std::floor(44100 - 88.2));
        QCOMPARE(out[size_t(2 * (fadeStart - 1))], TestAudio::staircase(2 * (fadeStart - 1)));
        g = 1.0f;
        for (int f = fadeStart; f < 44100; ++f) {
            g = std::max(0.0f, g - step);
            QCOMPARE(out[size_t(2 * f + 1)], TestAudio::staircase(2 * f + 1) * g);
        }
    }

    void renderResamplesToDeviceRate() {
        const QString path = writeSine(m_dir, "sine441.wav", 44100, 44100, 1000.0);
        SlicePtr s = loadFilled(path, 48000);
        setSetting("fade_in_out_slices", "1");
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 1024);
        const long long frames = (long long)out.size() / 2;
        QVERIFY2(std::llabs(frames - 48000) <= 48, qPrintable(QString::number(frames)));
        const double f = frequency(out, 0, 2000, 46000, 48000);
        QVERIFY2(std::abs(f - 1000.0) < 2.0, qPrintable(QString::number(f)));
        // Amplitude is kept in the middle, and the fade-out ends at the rendered end.
        float peak = 0.0f;
        for (long long i = 20000; i < 21000; ++i)
            peak = std::max(peak, std::abs(out[size_t(2 * i)]));
        QVERIFY(peak > 0.48f && peak < 0.52f);
        QVERIFY(std::abs(out[size_t(2 * (frames - 1))]) < 0.02f);
        const long long fadeFrom = frames - 96 - 2;
        QVERIFY(std::abs(out[size_t(2 * (fadeFrom - 200))]) + std::abs(out[size_t(2 * (fadeFrom - 150))]) >
                0.05f);
    }

    void stretchRatioTwoDoublesLength() {
        const QString path = writeSine(m_dir, "stretch.wav", 44100, 88200, 440.0);
        SlicePtr s = loadFilled(path, 44100);
        s->setStretchEnabled(true);
        s->setTimeStretchRatio(2.0, 120);
        QCOMPARE(s->timeStretchRatio(), 2.0);
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 1024, 1'000'000);
        long long first = -1, last = -1;
        for (size_t f = 0; f < out.size() / 2; ++f) {
            if (std::abs(out[2 * f]) > 0.05f) {
                if (first < 0)
                    first = (long long)f;
                last = (long long)f;
            }
        }
        const double span = double(last - first + 1);
        QVERIFY2(std::abs(span / 176400.0 - 1.0) < 0.02, qPrintable(QString::number(span)));
        QVERIFY(!s->isPlaying());
        QCOMPARE(s->render(out.data(), 1024), 0); // silent once drained
    }

    void pitchTwelveDoublesFrequency() {
        const QString path = writeSine(m_dir, "pitch.wav", 44100, 88200, 440.0);
        SlicePtr s = loadFilled(path, 44100);
        s->setStretchEnabled(true);
        s->setPitch(12);
        QCOMPARE(s->pitch(), 12);
        QCOMPARE(s->timeStretcher()->pitchScale(), 2.0);
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 512, 1'000'000);
        QVERIFY(out.size() / 2 > 60000);
        const double f = frequency(out, 0, 20000, 60000, 44100);
        QVERIFY2(std::abs(f / 880.0 - 1.0) < 0.01, qPrintable(QString::number(f)));
        s->setPitch(-12);
        QCOMPARE(s->timeStretcher()->pitchScale(), 0.5);
    }

    // Rubber Band is built only once a loop stretches; what was set before reaches it.
    void stretcherIsBuiltWhenStretchingStarts() {
        const QString path = writeSine(m_dir, "lazy.wav", 44100, 88200, 440.0);
        SlicePtr s = loadFilled(path, 44100);
        s->setPitch(12);
        s->setStretchWindowOption(TimeStretcher::WindowShort);
        s->setEngineSampleRate(44100);
        s->play(true, 0, 0);
        std::vector<float> plain = renderAll(*s, 512, 1'000'000);
        QVERIFY(!s->timeStretcher()->isPrepared());
        QVERIFY2(std::abs(frequency(plain, 0, 20000, 60000, 44100) / 440.0 - 1.0) < 0.01, "unstretched");

        s->setStretchEnabled(true);
        QVERIFY(s->timeStretcher()->isPrepared());
        QCOMPARE(s->timeStretcher()->windowOption(), int(TimeStretcher::WindowShort));
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 512, 1'000'000);
        QVERIFY(out.size() / 2 > 60000);
        const double f = frequency(out, 0, 20000, 60000, 44100);
        QVERIFY2(std::abs(f / 880.0 - 1.0) < 0.01, qPrintable(QString::number(f)));
    }

    void largeRequestsAreServedInPieces() {
        // 20 000 frames at once: more than both the stretcher's and the resampler's limits.
        const QString path = writeSine(m_dir, "large.wav", 44100, 120000, 300.0);
        SlicePtr s = loadFilled(path, 48000);
        s->play(true, 0, 0);
        std::vector<float> buf(2 * 20000, 0.0f);
        QCOMPARE(s->render(buf.data(), 40000), 40000);
        s->setStretchEnabled(true);
        s->setTimeStretchRatio(1.3, 0);
        s->play(true, 0, 0);
        std::fill(buf.begin(), buf.end(), 0.0f);
        QCOMPARE(s->render(buf.data(), 40000), 40000);
        float peak = 0.0f;
        for (float v : buf)
            peak = std::max(peak, std::abs(v));
        QVERIFY(peak > 0.3f && peak < 0.8f);
    }

    void stretchedFadeOutEndsAtRenderedEnd() {
        // 0.5 s of a full-level sine at 44.1 kHz, played at 48 kHz stretched by 1.5: the
        // fade-out must come at the end of what is rendered, not after a third of it, and
        // nothing at full level may follow it.
        const QString path = writeSine(m_dir, "fadestretch.wav", 44100, 22050, 500.0, 0.8f);
        SlicePtr s = loadFilled(path, 48000);
        setSetting("fade_in_out_slices", "1");
        s->setStretchEnabled(true);
        s->setTimeStretchRatio(1.5, 120);
        s->play(true, 0, 0);
        std::vector<float> out = renderAll(*s, 700, 1'000'000);
        const long long frames = (long long)out.size() / 2;
        long long lastLoud = -1;
        for (long long f = 0; f < frames; ++f)
            if (std::abs(out[size_t(2 * f)]) > 0.05f)
                lastLoud = f;
        const double expected = 22050 * 48000.0 / 44100 * 1.5;
        QVERIFY2(std::abs(frames / expected - 1.0) < 0.03, qPrintable(QString::number(frames)));
        // Full level until shortly before the end, then the 2 ms ramp (96 frames) down to 0
        // on the last rendered frame.
        QVERIFY2(lastLoud > frames - 2 * 96 && lastLoud < frames,
                 qPrintable(QString("%1 of %2").arg(lastLoud).arg(frames)));
        float early = 0.0f, late = 0.0f;
        for (long long f = frames - 1200; f < frames - 1000; ++f)
            early = std::max(early, std::abs(out[size_t(2 * f)]));
        for (long long f = frames - 20; f < frames; ++f)
            late = std::max(late, std::abs(out[size_t(2 * f)]));
        QVERIFY2(early > 0.6f && late < 0.03f, qPrintable(QString("%1 %2").arg(early).arg(late)));
    }

    void resamplerEndsAfterShortSource() {
        SpeexResampler r(44100, 48000);
        CountedSource src(100);
        std::vector<float> out(2 * 512, 0.0f);
        const int n = r.produce(out.data(), 512, &src);
        QVERIFY(n > 90 && n <= 110);
        QVERIFY(r.isEmpty());
        QCOMPARE(r.produce(out.data(), 512, &src), 0);
        r.reset();
        QVERIFY(!r.isEmpty());
    }

    void stretcherOptionsAndRebuilds() {
        TimeStretcher t(44100);
        const int before = t.rebuildCount();
        t.setTransientsOption(TimeStretcher::TransientsMixed);
        t.setDetectorOption(TimeStretcher::DetectorPercussive);
        t.setFormantOption(TimeStretcher::FormantPreserved);
        QCOMPARE(t.rebuildCount(), before);
        t.setWindowOption(TimeStretcher::WindowShort);
        t.setSmoothingOption(TimeStretcher::SmoothingOn);
        t.setChannelsOption(TimeStretcher::ChannelsTogether);
        t.setEngineSampleRate(48000);
        QCOMPARE(t.rebuildCount(), before + 4);
        QCOMPARE(t.options(), 0x100 | 0x400 | 0x1000000 | 0x100000 | 0x800000 | 0x10000000 | 0x1);
        t.setTimeRatio(0.0); // ignored
        QCOMPARE(t.timeRatio(), 1.0);
    }

    void tempoArithmetic() {
        const QString path = writeSine(m_dir, "tempo.wav", 44100, 176400, 200.0);
        SlicePtr s = loadFilled(path, 44100);
        QCOMPARE(s->length(), 352800);
        s->stretchToBeats(8, 120);
        QCOMPARE(s->timeStretchRatio(), 1.0);
        QCOMPARE(s->stretchLength(), 8.0);
        s->setBpm(120);
        s->setTimeStretchRatio(2.0, 120);
        QCOMPARE(s->effectiveBpm(), 60.0);
        QCOMPARE(s->stretchLength(), 16.0);
        // Changes that would need a tempo of 0 are ignored; nothing becomes NaN.
        s->stretchToBeats(8, 0);
        s->setTimeStretchRatio(0.0, 120);
        QCOMPARE(s->timeStretchRatio(), 2.0);
        QVERIFY(std::isfinite(s->effectiveBpm()));
        s->stretchToBeats(0, 120);
        QCOMPARE(s->timeStretchRatio(), 1.0);
        QCOMPARE(s->timeStretcher()->timeRatio(), 1.0);
    }

    void setLoopModeCancelsFadeOut() {
        const QString path = writeStaircase(m_dir, "fadeloop.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        setSetting("fade_in_out_slices", "1");
        s->play(true, 0, 4000);
        QCOMPARE(s->fadeOut()->state(), int(Fade::FadeOutPending));
        s->setLoopMode(2);
        QCOMPARE(s->fadeOut()->state(), int(Fade::Idle));
        QCOMPARE(s->fadeOut()->gain(), 1.0f);
    }

    void shrinkingCacheKeepsRegionsInside() {
        const QString path = writeStaircase(m_dir, "shrink.wav", 44100, 10000);
        SlicePtr s = loadFilled(path, 44100);
        QSharedPointer<ShrinkingCache> shrinking;
        Slice::setEditableCacheFactory([&](const AudioCachePtr &source, const AudioFilePtr &) {
            shrinking.reset(new ShrinkingCache(source));
            return shrinking.staticCast<AudioCache>();
        });
        s->setEditMode(true);
        Slice::setEditableCacheFactory(nullptr);
        QVERIFY(shrinking);
        s->setLoop(12000, 18000);
        s->setLoopMode(2);
        s->play(true, 16000, 0);
        QSignalSpy loopChanged(s.data(), &Slice::loopChanged);
        shrinking->shrink(10000);
        QCOMPARE(s->length(), 10000);
        QCOMPARE(s->loopEnd(), 10000);
        QVERIFY(s->loopStart() <= 10000);
        QVERIFY(s->playPosition() < 10000);
        QCOMPARE(loopChanged.count(), 1);
        std::vector<float> buf(8192, 0.0f);
        for (int i = 0; i < 10; ++i)
            s->pull(buf.data(), 8192);
        QCOMPARE(shrinking->outside, 0);
    }

    void failedLoopDoesNothing() {
        SlicePtr s = Slice::create(m_dir.filePath("missing.wav"), 48000);
        QCOMPARE(s->length(), 0);
        QCOMPARE(s->playEnd(), 0);
        s->play(true, 0, 0);
        s->setLoop(10, 20);
        QCOMPARE(s->loopEnd(), 0);
        std::vector<float> buf(1024, 0.0f);
        QCOMPARE(s->render(buf.data(), 1024), 0);
        for (float v : buf)
            QCOMPARE(v, 0.0f);
        s->setEditMode(true);
        QCOMPARE(s->durationSeconds(), 0.0);
    }

    void editModeSwapsCacheOnce() {
        const QString path = writeStaircase(m_dir, "edit.wav", 44100, 1000);
        SlicePtr s = loadFilled(path, 44100);
        int built = 0;
        Slice::setEditableCacheFactory([&](const AudioCachePtr &, const AudioFilePtr &reader) {
            ++built;
            AudioCachePtr c(new AudioCache(reader));
            c->setObjectName("EditableStandIn");
            return c;
        });
        AudioCachePtr plain = s->cache();
        s->setEditMode(true);
        QCOMPARE(built, 1);
        QVERIFY(s->cache() != plain);
        s->setEditMode(false);
        QVERIFY(s->cache() != plain); // one way
        Slice::setEditableCacheFactory(nullptr);
    }
};

int runLoopTest(int argc, char **argv) {
    LoopTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_loop.moc"
