// The playback engine end to end: the engine starts against ALSA's file device, plays
// loops, pads and preview files, and what reached out.raw is compared with what the
// loop model renders offline for the same region.
#include "tst_engine.h"

#include "AlsaRig.h"
#include "AudioDevice.h"
#include "BankSampler.h"
#include "EngineFixtures.h"
#include "LongLoop.h"
#include "MidiInput.h"
#include "MidiProcessor.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>
#include <sndfile.h>

using namespace EngineFixtures;

namespace {
const QString kNoDeviceText =
    "No audio output devices are available. A valid output device is required to use Quillory.";
const QString kNoDeviceSuggestion = "Add a soundcard to your PC and restart Quillory.";

// Left: a 441 Hz sine of amplitude 0.5; right: the same at half the amplitude, so a
// channel swap shows.
float sineSample(long long f, int c, int rate)
{
    const float s = 0.5f * float(std::sin(2.0 * M_PI * 441.0 * double(f) / rate));
    return c == 0 ? s : 0.5f * s;
}

// Polls (1 ms steps: the file device runs far faster than real time) until done() holds.
template <typename F> bool waitFor(F done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(1);
    }
    return true;
}

void resetEngineSettings()
{
    Settings &s = Settings::instance();
    for (const char *key : {"AudioDeviceAPI", "OutputDevice", "AudioDeviceBufferSize", "MidiDevice"})
        s.set(key, QString());
    s.set("AudioDeviceSampleRate", "48000");
    s.set("MidiDevice", "None");
    s.set("MidiDeviceBaseNote", "36");
    s.set("fade_in_out_slices", "1");
}
} // namespace

void EngineTest::init() { resetEngineSettings(); }

void EngineTest::noOutputDeviceReportsAndKeepsRunning()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    QVERIFY(engine.outputDevice() == nullptr);
    QVERIFY(engine.hasAudioDeviceError());
    QCOMPARE(engine.audioDeviceError(), kNoDeviceText);
    QCOMPARE(engine.audioDeviceErrorSuggestion(), kNoDeviceSuggestion);

    QSignalSpy spy(&engine, SIGNAL(audioDeviceError(QString, QString)));
    engine.setupAudioDevice();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), kNoDeviceText);
    QCOMPARE(spy.at(0).at(1).toString(), kNoDeviceSuggestion);

    engine.clearAudioDeviceError();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), QString());
    QCOMPARE(spy.at(1).at(1).toString(), QString());
    QVERIFY(engine.hasAudioDeviceError());

    // A health check retries; an unchanged error is not announced twice in a row.
    QVERIFY(engine.checkAudioDeviceHealth());
    QCOMPARE(spy.count(), 3);
    QVERIFY(engine.checkAudioDeviceHealth());
    QCOMPARE(spy.count(), 3);

    // Without a device the program keeps working: loops load and play, the mix runs
    // when asked, and nothing is written anywhere.
    const QString wav = rig.filePath("loop.wav");
    QVERIFY(TestAudio::writeWav(wav, 2, 44100, 22050, [](long long f, int c) { return sineSample(f, c, 44100); }));
    QVERIFY(engine.slicer()->slotLoadLoop(wav));
    QVERIFY(waitUntilLoaded(engine.slicer()->currentSlice()));
    engine.slicer()->playFrom(0);
    std::vector<float> buffer(2 * 512, 0.0f);
    engine.processAudio(buffer.data(), 512);
    QVERIFY(firstSoundFrame(buffer) >= 0);
}

void EngineTest::successfulSetupClearsTheError()
{
    AlsaRig rig(AlsaRig::FileDevice);
    SliceEngine engine;
    QVERIFY(!engine.hasAudioDeviceError());
    QVERIFY(engine.outputDevice() && engine.outputDevice()->isOpen());
    QCOMPARE(engine.sampleRate(), 48000);
    QCOMPARE(engine.outputDevice()->framesPerBuffer(), 1024);
    QCOMPARE(engine.slicer()->engineSampleRate(), 48000);
    QCOMPARE(engine.samplerBank()->sampleRate(), 48000);

    QSignalSpy spy(&engine, SIGNAL(audioDeviceError(QString, QString)));
    engine.closeAudioDevice();
    QVERIFY(engine.outputDevice() == nullptr);
    engine.setupAudioDevice();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString());
    QCOMPARE(spy.at(0).at(1).toString(), QString());
    QVERIFY(!engine.checkAudioDeviceHealth());
    engine.closeAudioDevice();
}

void EngineTest::deviceThatFailsToOpenIsReported()
{
    AlsaRig rig(AlsaRig::FileDevice);
    // A rate no device runs at: the stream cannot be opened.
    Settings::instance().set("AudioDeviceSampleRate", "7000000");
    SliceEngine engine;
    QVERIFY(engine.hasAudioDeviceError());
    QCOMPARE(engine.audioDeviceError(), QString("Failed to open default."));
    QCOMPARE(engine.audioDeviceErrorSuggestion(),
             QString("Try changing this audio device in the <a href=\"#preferences\">Preferences</a>."));
    QVERIFY(engine.outputDevice() && !engine.outputDevice()->isOpen());

    // The preferences dialog's sequence after the user picks a working rate.
    QSignalSpy spy(&engine, SIGNAL(audioDeviceError(QString, QString)));
    Settings::instance().set("AudioDeviceSampleRate", "44100");
    engine.closeAudioDevice();
    engine.setupAudioDevice();
    engine.stopMidi();
    engine.startMidi();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString());
    QVERIFY(!engine.hasAudioDeviceError());
    QCOMPARE(engine.sampleRate(), 44100);
    engine.closeAudioDevice();
}

void EngineTest::sliceReachesTheDeviceResampledWithFades()
{
    AlsaRig rig(AlsaRig::FileDevice);
    const QString wav = rig.filePath("loop.wav");
    QVERIFY(TestAudio::writeWav(wav, 2, 44100, 44100, [](long long f, int c) { return sineSample(f, c, 44100); }));

    SliceEngine engine;
    engine.closeAudioDevice();
    Trevant *slicer = engine.slicer();
    QVERIFY(slicer->slotLoadLoop(wav));
    SlicePtr loop = slicer->currentSlice();
    QVERIFY(waitUntilLoaded(loop));
    slicer->setSlicePoints({22050, 44100, 66150});

    // The second slice: frames 11025 to 22050 of the file.
    rig.clearOutput();
    engine.setupAudioDevice();
    slicer->playFrom(22050);
    QVERIFY(waitFor([&] { return !loop->isPlaying(); }));
    // The device runs far ahead of real time; on a loaded machine the slice may start late
    // in the stream, so the stream runs on well past the slice's end before it is closed,
    // and everything played has passed through the device's buffers into the file.
    const long long stoppedAt = engine.outputDevice()->frameCount();
    QVERIFY(waitFor([&] { return engine.outputDevice()->frameCount() > std::max(60000LL, stoppedAt + 20000); }));
    engine.closeAudioDevice();

    std::vector<float> expected = renderOffline(wav, 48000, 22050, 44100, 1024);
    const long long expectedStart = firstSoundFrame(expected);
    QVERIFY(expectedStart >= 0);
    trimSilence(expected);
    const long long expectedFrames = (long long)expected.size() / 2 - expectedStart;
    // 11025 frames at 44.1 kHz last 12000 frames at 48 kHz.
    QVERIFY2(qAbs(expectedFrames - 12000) < 64, qPrintable(QString::number(expectedFrames)));

    long long offset = -1;
    const std::vector<float> played = rig.soundFrom(expectedFrames + 4000, &offset);
    QVERIFY(offset >= 0);
    QVERIFY((long long)played.size() >= 2 * expectedFrames);
    // Sample for sample what the loop renders, then silence.
    QCOMPARE(maxDifference(played, 0, expected, size_t(2 * expectedStart), size_t(2 * expectedFrames)), 0.0f);
    for (size_t i = size_t(2 * expectedFrames); i < played.size(); ++i)
        QCOMPARE(played[i], 0.0f);

    // Independent of the loop model: 441 Hz at the device rate (10 rising crossings per
    // 1088 frames), the right channel half the left, 2 ms fades (96 frames at 48 kHz).
    QCOMPARE(risingZeroCrossings(played, 0, 1000, 1000 + 10 * 48000 / 441), 10);
    float peakLeft = 0, peakRight = 0;
    for (long long f = 1000; f < 3000; ++f) {
        peakLeft = std::max(peakLeft, std::fabs(played[size_t(2 * f)]));
        peakRight = std::max(peakRight, std::fabs(played[size_t(2 * f + 1)]));
    }
    QVERIFY(qAbs(peakLeft - 0.5f) < 0.02f);
    QVERIFY(qAbs(peakRight - 0.25f) < 0.01f);
    for (long long f = 0; f < 96; ++f)
        QVERIFY2(std::fabs(played[size_t(2 * f)]) <= 0.5f * float(f + 1) / 96.0f + 0.02f, qPrintable(QString::number(f)));
    for (long long k = 0; k < 48; ++k) {
        const long long f = expectedFrames - 1 - k;
        QVERIFY2(std::fabs(played[size_t(2 * f)]) <= 0.5f * float(k + 2) / 96.0f + 0.02f, qPrintable(QString::number(k)));
    }
}

void EngineTest::previewAndPadAreMixed()
{
    AlsaRig rig(AlsaRig::FileDevice);
    const QString padWav = rig.filePath("pad.wav");
    const QString previewWav = rig.filePath("preview.wav");
    QVERIFY(TestAudio::writeWav(padWav, 2, 44100, 8820, [](long long f, int c) { return sineSample(f, c, 44100); }));
    // A staircase that starts above zero marks where the stream began.
    QVERIFY(TestAudio::writeWav(previewWav, 2, 48000, 6000,
                                [](long long f, int c) { return 0.1f + float(f % 1000) / 4000.0f + 0.01f * c; }));

    SliceEngine engine;
    engine.closeAudioDevice();
    BankSampler *bank = engine.samplerBank();
    QSignalSpy loaded(bank, &BankSampler::sampleLoaded);
    bank->loadSample(5, padWav, 0, 1.0, 0, 0, 0, 1.0f, false, "Other");
    QCOMPARE(loaded.count(), 1);
    SlicePtr pad = bank->pad(5);
    QVERIFY(pad);
    QVERIFY(waitUntilLoaded(pad));
    QCOMPARE(pad->loopEnd(), pad->length());

    pad->play(true, 0, 0);
    engine.setPreviewFile(previewWav);
    QVERIFY(engine.isPreviewPlaying());
    rig.clearOutput();
    engine.setupAudioDevice();
    QVERIFY(waitFor([&] { return !pad->isPlaying() && !engine.isPreviewPlaying(); }));
    QVERIFY(waitFor([&] { return engine.outputDevice()->frameCount() > 40000; }));
    engine.closeAudioDevice();

    std::vector<float> padExpected = renderOffline(padWav, 48000, 0, 0, 1024);
    trimSilence(padExpected);
    QVERIFY(padExpected.size() > 2 * 9000);
    std::vector<float> preview(2 * 6000);
    {
        SF_INFO info{};
        SNDFILE *f = sf_open(QFile::encodeName(previewWav).constData(), SFM_READ, &info);
        QVERIFY(f);
        QCOMPARE(sf_readf_float(f, preview.data(), 6000), sf_count_t(6000));
        sf_close(f);
    }

    long long offset = -1;
    const size_t frames = padExpected.size() / 2 + 2000;
    const std::vector<float> played = rig.soundFrom((long long)frames, &offset);
    QVERIFY(offset >= 0);
    QCOMPARE(played.size(), 2 * frames);
    std::vector<float> expected(2 * frames, 0.0f);
    for (size_t i = 0; i < padExpected.size(); ++i)
        expected[i] += padExpected[i];
    for (size_t i = 0; i < preview.size(); ++i)
        expected[i] += preview[i];
    // The pad's tail (what its resampler still held when the loop stopped) included.
    for (size_t i = 0; i < expected.size(); ++i) {
        if (std::fabs(played[i] - expected[i]) > 1e-6f)
            QFAIL(qPrintable(QString("sample %1: played %2, expected %3").arg(i).arg(played[i]).arg(expected[i])));
    }
}

void EngineTest::largeDeviceBuffersRenderInPieces()
{
    AlsaRig rig(AlsaRig::FileDevice);
    Settings::instance().set("AudioDeviceBufferSize", "20000");
    const QString wav = rig.filePath("loop.wav");
    QVERIFY(TestAudio::writeWav(wav, 2, 44100, 44100, [](long long f, int c) { return sineSample(f, c, 44100); }));

    SliceEngine engine;
    QCOMPARE(engine.outputDevice()->framesPerBuffer(), 20000);
    engine.closeAudioDevice();
    QVERIFY(engine.slicer()->slotLoadLoop(wav));
    SlicePtr loop = engine.slicer()->currentSlice();
    QVERIFY(waitUntilLoaded(loop));
    // A stretched pad plays along: the stretcher takes at most 2048 frames per call.
    engine.samplerBank()->loadSample(0, wav, 0, 1.5, 0, 0, 0, 1.0f, false, "None");
    SlicePtr pad = engine.samplerBank()->pad(0);
    QVERIFY(waitUntilLoaded(pad));
    QVERIFY(pad->isStretchEnabled());

    rig.clearOutput();
    engine.setupAudioDevice();
    engine.slicer()->playFrom(0);
    QVERIFY(waitFor([&] { return !loop->isPlaying(); }));
    engine.closeAudioDevice();

    std::vector<float> expected = renderOffline(wav, 48000, 0, 88200, 2048);
    const long long expectedStart = firstSoundFrame(expected);
    trimSilence(expected);
    const long long expectedFrames = (long long)expected.size() / 2 - expectedStart;
    QVERIFY(expectedFrames > 47000);
    long long offset = -1;
    const std::vector<float> played = rig.soundFrom(expectedFrames, &offset);
    QCOMPARE((long long)played.size(), 2 * expectedFrames);
    QVERIFY(maxDifference(played, 0, expected, size_t(2 * expectedStart), size_t(2 * expectedFrames)) < 1e-6f);

    // The stretched pad, started while the stream was closed, also sounded.
    pad->play(true, 0, 0);
    rig.clearOutput();
    engine.setupAudioDevice();
    QVERIFY(waitFor([&] { return engine.outputDevice()->frameCount() > 100000; }));
    engine.closeAudioDevice();
    const std::vector<float> stretched = rig.soundFrom(20000, &offset);
    QVERIFY(offset >= 0);
    float peak = 0;
    for (float v : stretched)
        peak = std::max(peak, std::fabs(v));
    QVERIFY(peak > 0.3f);
}

void EngineTest::previewFilesThroughTheMix()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const QString mono = rig.filePath("mono.wav");
    QVERIFY(TestAudio::writeWav(mono, 1, 44100, 44100, [](long long f, int) { return float(f + 1) / 65536.0f; }));
    engine.setPreviewFile(mono);
    std::vector<float> buffer(2 * 4096);
    long long frame = 0;
    for (int block = 0; block < 12; ++block) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        engine.processAudio(buffer.data(), 4096);
        for (int i = 0; i < 4096; ++i, ++frame) {
            const float want = frame < 44100 ? float(frame + 1) / 65536.0f : 0.0f;
            if (buffer[size_t(2 * i)] != want || buffer[size_t(2 * i + 1)] != want)
                QFAIL(qPrintable(QString("frame %1: %2 %3").arg(frame).arg(buffer[size_t(2 * i)]).arg(want)));
        }
    }
    QVERIFY(!engine.isPreviewPlaying());

    // A stereo file whose last call finds 100 frames left: those 100 frames, the rest untouched.
    const QString stereo = rig.filePath("stereo.wav");
    QVERIFY(TestAudio::writeWav(stereo, 2, 48000, 1124, [](long long f, int c) { return c ? -0.5f : float(f) / 2048.0f; }));
    engine.setPreviewFile(stereo);
    std::vector<float> first(2 * 1024, 0.0f);
    engine.processAudio(first.data(), 1024);
    std::vector<float> last(2 * 1024, 0.25f);
    engine.processAudio(last.data(), 1024);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(last[size_t(2 * i)], 0.25f + float(1024 + i) / 2048.0f);
        QCOMPARE(last[size_t(2 * i + 1)], 0.25f - 0.5f);
    }
    for (size_t i = 200; i < last.size(); ++i)
        QCOMPARE(last[i], 0.25f);

    // A missing file is logged and adds nothing.
    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString("Error opening file \"%1\"").arg(rig.filePath("none.wav"))));
    engine.setPreviewFile(rig.filePath("none.wav"));
    QVERIFY(!engine.isPreviewPlaying());
    std::vector<float> silent(2 * 256, 0.0f);
    engine.processAudio(silent.data(), 256);
    QCOMPARE(firstSoundFrame(silent), -1LL);

    // More than two channels: not previewed.
    const QString quad = rig.filePath("quad.wav");
    QVERIFY(TestAudio::writeWav(quad, 4, 48000, 1000, [](long long, int) { return 0.5f; }));
    engine.setPreviewFile(quad);
    engine.processAudio(silent.data(), 256);
    QCOMPARE(firstSoundFrame(silent), -1LL);
}

// A file in a folder deeper than libsndfile's 1024-byte limit on a path previews like
// any other; NaN and infinities in a float file (a damaged render) play as silence,
// not as values that poison the whole mix.
void EngineTest::previewOpensDeepPathsAndSilencesNonFiniteSamples()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    QString deep = rig.filePath(QString(200, QLatin1Char('d')));
    for (int i = 0; i < 5; ++i)
        deep += QLatin1Char('/') + QString(200, QLatin1Char('a' + i));
    QVERIFY(QDir().mkpath(deep));
    const QString far = deep + "/far.wav";
    QVERIFY(QFile::encodeName(far).size() > 1024);
    const QString near = rig.filePath("near.wav");
    QVERIFY(TestAudio::writeWav(near, 2, 44100, 3000, [](long long f, int c) { return c ? -0.25f : float(f) / 4096.0f; }));
    QVERIFY(QFile::copy(near, far));
    engine.setPreviewFile(far);
    QVERIFY(engine.isPreviewPlaying());
    std::vector<float> buffer(2 * 4096, 0.0f);
    engine.processAudio(buffer.data(), 4096);
    for (int f = 0; f < 4096; ++f) {
        QCOMPARE(buffer[size_t(2 * f)], f < 3000 ? float(f) / 4096.0f : 0.0f);
        QCOMPARE(buffer[size_t(2 * f + 1)], f < 3000 ? -0.25f : 0.0f);
    }

    const QString damaged = rig.filePath("damaged.wav");
    QVERIFY(TestAudio::writeWav(damaged, 2, 44100, 2000, [](long long f, int c) {
        if (f % 100 == 7)
            return c ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        return 0.5f;
    }));
    engine.setPreviewFile(damaged);
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    engine.processAudio(buffer.data(), 2048);
    for (int f = 0; f < 2000; ++f) {
        const float want = f % 100 == 7 ? 0.0f : 0.5f;
        QCOMPARE(buffer[size_t(2 * f)], want);
        QCOMPARE(buffer[size_t(2 * f + 1)], want);
    }
}

// Files at the edges of what loads: rates far from the device's, more channels than
// two, 24-bit, a single frame, float data holding NaN and infinities. Each plays whole,
// as a looped region, stretched and pitched, through the mix the sound card pulls:
// finite, bounded output at the pitch the file holds, and the mix never stalls.
void EngineTest::oddFilesPlayCleanly()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const int deviceRate = engine.slicer()->engineSampleRate();
    QVERIFY(deviceRate > 0);
    const auto sine441 = [](int rate) {
        return [rate](long long f, int c) { return sineSample(f, c, rate); };
    };
    struct OddFile {
        QString name;
        int format;
        int channels;
        int rate;
        long long frames;
        TestAudio::Generator gen;
        bool isSine;
    };
    const auto damaged = [](long long f, int c) {
        if (f % 100 == 7)
            return c ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
        if (f % 100 == 8)
            return -std::numeric_limits<float>::infinity();
        return sineSample(f, c, 44100);
    };
    const OddFile files[] = {
        {"mono8k.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 8000, 8000, sine441(8000), true},
        {"six.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 6, 48000, 48000, sine441(48000), false},
        {"fast.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 192000, 192000, sine441(192000), true},
        {"deep.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 2, 44100, 44100, sine441(44100), true},
        {"one.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 1, [](long long, int) { return 0.5f; }, false},
        {"damaged.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 44100, 44100, damaged, false},
    };
    for (const OddFile &file : files) {
        const QString path = rig.filePath(file.name);
        QVERIFY(TestAudio::writeSndFile(path, file.format, file.channels, file.rate, file.frames, file.gen));
        QVERIFY(engine.slicer()->slotLoadLoop(path));
        SlicePtr loop = engine.slicer()->currentSlice();
        QVERIFY(waitUntilLoaded(loop));
        const int length = loop->length();
        for (int variant = 0; variant < 4; ++variant) {
            loop->setLoopMode(0);
            loop->setStretchEnabled(variant >= 2);
            loop->setPitch(variant == 3 ? 7 : 0);
            loop->setTimeStretchRatio(1.0, 0);
            if (variant == 2)
                loop->setTimeStretchRatio(1.25, 0);
            if (variant == 1) {
                loop->setLoop(0, std::max(2, (length / 4) & ~1));
                loop->setLoopMode(2);
            }
            engine.slicer()->playFrom(0);
            std::vector<float> out;
            std::vector<float> block(2 * 512);
            for (int b = 0; b < 400; ++b) {
                std::fill(block.begin(), block.end(), 0.0f);
                engine.processAudio(block.data(), 512);
                out.insert(out.end(), block.begin(), block.end());
            }
            loop->play(false, 0, 0);
            const QString what = QString("%1 variant %2").arg(file.name).arg(variant);
            float peak[2] = {0.0f, 0.0f};
            for (size_t i = 0; i < out.size(); ++i) {
                if (!std::isfinite(out[i]))
                    QFAIL(qPrintable(QString("%1: sample %2 is %3").arg(what).arg(i).arg(out[i])));
                peak[i % 2] = std::max(peak[i % 2], std::fabs(out[i]));
            }
            QVERIFY2(peak[0] <= 1.0f, qPrintable(QString("%1: peak %2").arg(what).arg(peak[0])));
            if (!file.isSine)
                continue;
            // Mono reaches both sides alike; stereo keeps its sides (the right is half the left).
            const float rightShare = file.channels == 1 ? 1.0f : 0.5f;
            QVERIFY2(std::fabs(peak[1] - rightShare * peak[0]) < 0.02f * peak[0],
                     qPrintable(QString("%1: peaks %2 %3").arg(what).arg(peak[0]).arg(peak[1])));
            // At the file's own pitch whatever its rate; a fifth up when pitched by 7.
            const double want = variant == 3 ? 441.0 * std::pow(2.0, 7.0 / 12.0) : 441.0;
            const double hz = TestAudio::frequency(out, 0, 2000, 10000, deviceRate);
            QVERIFY2(std::fabs(hz - want) < (variant >= 2 ? 0.015 : 0.002) * want,
                     qPrintable(QString("%1: %2 Hz").arg(what).arg(hz)));
            // The looped region keeps sounding long after the file would have ended.
            if (variant == 1)
                QVERIFY2(firstSoundFrame(std::vector<float>(out.end() - 2 * 512, out.end())) >= 0, qPrintable(what));
        }
    }
}

// Ten minutes cut into 64 slices: the last slices, over 50 million samples into the
// file, play exactly what the file holds there, and a region loop over the last slice
// wraps onto its own start. (At the mix's own rate, so that samples compare exactly.)
void EngineTest::tenMinutesInSixtyFourSlices()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const int rate = engine.sampleRate();
    const QString path = rig.filePath("long.wav");
    const long long frames = 10LL * 60 * rate;
    SlicePtr reference = LongLoop::writeAndLoad(path, rate, frames);
    QVERIFY(reference && reference->length() == 2 * frames);
    Settings::instance().set("fade_in_out_slices", "0");
    QVERIFY(engine.slicer()->slotLoadLoop(path));
    SlicePtr loop = engine.slicer()->currentSlice();
    QVERIFY(waitUntilLoaded(loop, 120000));
    engine.slicer()->sliceEvenly(64);
    const QList<int> points = engine.slicer()->slicePoints();
    QCOMPARE(points.size(), 63);
    for (int slice : {62, 63}) {
        const int start = points[slice - 1];
        engine.slicer()->playFrom(start);
        std::vector<float> out(2 * 4096, 0.0f);
        engine.processAudio(out.data(), 4096);
        for (int i = 0; i < 2 * 4096; ++i)
            if (out[size_t(i)] != reference->sampleAt(start + i))
                QFAIL(qPrintable(QString("slice %1 sample %2: %3 vs %4").arg(slice).arg(i).arg(out[size_t(i)]).arg(reference->sampleAt(start + i))));
        loop->play(false, 0, 0);
    }
    // The last slice looped: after its end the next block starts over at its start.
    const int lastStart = points.last();
    loop->setLoop(lastStart, loop->length());
    loop->setLoopMode(2);
    engine.slicer()->playFrom(lastStart);
    const long long sliceFrames = (loop->length() - lastStart) / 2;
    std::vector<float> block(2 * 8192);
    long long played = 0;
    while (played + 8192 <= sliceFrames) {
        engine.processAudio(block.data(), 8192);
        played += 8192;
    }
    std::fill(block.begin(), block.end(), 0.0f);
    engine.processAudio(block.data(), 8192);
    const long long wrapped = sliceFrames - played;
    for (long long f = wrapped; f < wrapped + 100; ++f)
        QCOMPARE(block[size_t(2 * f)], reference->sampleAt(int(lastStart + 2 * (f - wrapped))));
    loop->play(false, 0, 0);
}

void EngineTest::midiNoteStartsItsSlice()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const QString wav = rig.filePath("loop.wav");
    QVERIFY(TestAudio::writeWav(wav, 2, 44100, 22050, [](long long f, int c) { return sineSample(f, c, 44100); }));
    QVERIFY(engine.slicer()->slotLoadLoop(wav));
    SlicePtr loop = engine.slicer()->currentSlice();
    QVERIFY(waitUntilLoaded(loop));
    engine.slicer()->setTrimEnd(30000);
    engine.slicer()->setSlicePoints({10000, 20000});

    MidiInput *midi = engine.midiInput();
    QVERIFY(midi);
    QCOMPARE(midi->baseNote(), 36);
    PmEvent note{};
    note.message = PmMessage(MidiProcessor::message(0x91, 37, 100));
    midi->processEvents(&note, 1);
    QVERIFY(loop->isPlaying());
    QCOMPARE(loop->playPosition(), 10000);
    QCOMPARE(loop->playEnd(), 20000);
    note.message = PmMessage(MidiProcessor::message(0x90, 39, 100));
    midi->processEvents(&note, 1);
    QCOMPARE(loop->playPosition(), 0);
    QCOMPARE(loop->playEnd(), 10000);

    // Restarting MIDI with a new base note, as the preferences dialog does.
    Settings::instance().set("MidiDeviceBaseNote", "48");
    engine.stopMidi();
    QVERIFY(engine.midiInput() == nullptr);
    engine.startMidi();
    QCOMPARE(engine.midiInput()->baseNote(), 48);
}

void EngineTest::guiSwapsWhileTheMixRuns()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const QString a = rig.filePath("a.wav");
    const QString b = rig.filePath("b.wav");
    QVERIFY(TestAudio::writeWav(a, 1, 44100, 30000, [](long long f, int) { return float(f % 100) / 200.0f; }));
    QVERIFY(TestAudio::writeWav(b, 2, 48000, 400000, [](long long f, int c) { return sineSample(f, c, 48000); }));
    QVERIFY(engine.slicer()->slotLoadLoop(b));

    // The sound-card thread's part, played by a plain thread; the GUI thread meanwhile
    // swaps previews, MIDI inputs, pads and loops in and out.
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread mixer([&] {
        std::vector<float> buffer(2 * 512);
        while (!stop.load()) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            engine.processAudio(buffer.data(), 512);
            ++blocks;
        }
    });
    for (int round = 0; round < 30; ++round) {
        engine.setPreviewFile(round % 2 ? a : b);
        engine.samplerBank()->loadSample(round % 16, a, 0, round % 3 ? 1.0 : 1.5, 1, 0, 0, 0.5f, false, "None");
        engine.samplerBank()->pad(round % 16)->play(true, 0, 0);
        engine.slicer()->playFrom(0);
        if (round % 5 == 0) {
            engine.stopMidi();
            engine.startMidi();
        }
        if (round % 7 == 0)
            engine.clearSamplerBank();
        if (round % 10 == 0)
            QVERIFY(engine.slicer()->slotLoadLoop(round % 20 ? a : b));
        QTest::qWait(2);
    }
    QVERIFY(waitFor([&] { return blocks.load() > 200; }));
    stop.store(true);
    mixer.join();
    engine.setPreviewFile(QString());
    QVERIFY(!engine.isPreviewPlaying());
}

void EngineTest::deadStreamIsRecreatedByTheHealthCheck()
{
    AlsaRig rig(AlsaRig::FileDevice);
    SliceEngine engine;
    QVERIFY(engine.outputDevice()->isOpen());
    // A stream that went away (as after an unplugged device) is noticed and re-created.
    QCOMPARE(engine.outputDevice()->close(), 0);
    QCOMPARE(engine.outputDevice()->streamHealth(), 1);
    QSignalSpy spy(&engine, SIGNAL(audioDeviceError(QString, QString)));
    QVERIFY(engine.checkAudioDeviceHealth());
    QVERIFY(engine.outputDevice() && engine.outputDevice()->isOpen());
    QCOMPARE(spy.count(), 0); // the error state did not change: still none
    QVERIFY(!engine.hasAudioDeviceError());
    engine.closeAudioDevice();
}

// A stop that fails is followed by an abort; when that fails too the callback may still
// run, so its device must not be freed: it is kept (silent) and the user is told.
void EngineTest::streamThatWillNotStopKeepsItsDevice()
{
    AlsaRig rig(AlsaRig::FileDevice);
    SliceEngine engine;
    QVERIFY(engine.outputDevice() && engine.outputDevice()->isOpen());
    AudioDevice::StreamControl &control = AudioDevice::streamControl();
    const AudioDevice::StreamControl real = control;
    auto fail = [](PaStream *) -> PaError { return paInternalError; };

    // Stop fails, abort works: an ordinary close. The abort ends the stream the way a stop
    // does: PortAudio's ALSA abort cancels its callback thread inside the sound library,
    // which the ThreadSanitizer run cannot follow (it reports the cancelled thread, not a
    // fault of ours).
    control.stop = fail;
    control.abort = [](PaStream *stream) { return Pa_StopStream(stream); };
    engine.closeAudioDevice();
    QVERIFY(!engine.outputDevice());
    QCOMPARE(engine.stuckDeviceCount(), 0);
    QVERIFY(!engine.hasAudioDeviceError());

    engine.setupAudioDevice();
    AudioDevice *device = engine.outputDevice();
    QVERIFY(device && device->isOpen());
    control.abort = fail;
    QSignalSpy spy(&engine, SIGNAL(audioDeviceError(QString, QString)));
    engine.closeAudioDevice();
    QVERIFY(!engine.outputDevice());
    QCOMPARE(engine.stuckDeviceCount(), 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), QString("Failed to stop default."));
    QVERIFY(engine.hasAudioDeviceError());
    // Its callback still runs, on a device that is still there.
    const long long frames = device->frameCount();
    QVERIFY(waitFor([&] { return device->frameCount() > frames; }));

    // Once the stream can be stopped, the next close lets the device go.
    control = real;
    engine.closeAudioDevice();
    QCOMPARE(engine.stuckDeviceCount(), 0);
}

// A stored host API that is gone (a JACK server not running) plays through the default
// API and says so once; the stored choice stays for when it comes back.
void EngineTest::missingHostApiFallsBackToTheDefault()
{
    AlsaRig rig(AlsaRig::FileDevice);
    Settings::instance().set("AudioDeviceAPI", "JACK Audio Connection Kit (gone)");
    SliceEngine engine;
    QVERIFY(!engine.hasAudioDeviceError());
    QVERIFY(engine.outputDevice() && engine.outputDevice()->isOpen());
    QCOMPARE(engine.hostApiFallbackNotice(),
             QString("The audio system JACK Audio Connection Kit (gone) is not available; using ALSA instead."));

    QSignalSpy notices(&engine, &SliceEngine::hostApiFallback);
    engine.setupAudioDevice();
    QVERIFY(engine.checkAudioDeviceHealth() == false);
    QCOMPARE(notices.count(), 0); // said once, not on every setup
    QCOMPARE(Settings::instance().value("AudioDeviceAPI"), QString("JACK Audio Connection Kit (gone)"));

    // The stored API in use again clears the notice; losing it again is told again.
    Settings::instance().set("AudioDeviceAPI", "ALSA");
    engine.setupAudioDevice();
    QVERIFY(engine.hostApiFallbackNotice().isEmpty());
    Settings::instance().set("AudioDeviceAPI", "OSS (gone)");
    engine.setupAudioDevice();
    QCOMPARE(notices.count(), 1);
    QVERIFY(engine.outputDevice() && engine.outputDevice()->isOpen());
    engine.closeAudioDevice();
}
