// The sampler bank's pads and choke groups, the loopers and their quantization.
#include "tst_banks.h"

#include "AlsaRig.h"
#include "BankSampler.h"
#include "EngineFixtures.h"
#include "LoopingSamplerBank.h"
#include "RealtimeEvents.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "TestAudio.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <thread>

using namespace EngineFixtures;

namespace {
QString writeLoop(const QTemporaryDir &dir, const QString &name, long long frames = 44100)
{
    const QString path = dir.filePath(name);
    TestAudio::writeWav(path, 2, 44100, frames, TestAudio::sine(441.0, 44100.0));
    return path;
}

struct PadRun {
    std::vector<float> audio; // from the first sounding frame to the last
    bool fromRender = false;  // the run played the pad's render
};

// Triggers the pad once from its start and mixes the bank in 256-frame blocks until the
// pad has stopped and its tail has drained.
PadRun playPadOnce(BankSampler &bank, const SlicePtr &pad, long long maxFrames)
{
    PadRun run;
    pad->play(true, 0, 0);
    run.fromRender = pad->isPlayingStretchRender();
    std::vector<float> block(512);
    std::vector<float> out;
    while (static_cast<long long>(out.size() / 2) < maxFrames) {
        std::fill(block.begin(), block.end(), 0.0f);
        bank.mix(block.data(), 256 * 2);
        out.insert(out.end(), block.begin(), block.end());
        if (!pad->isPlaying() && firstSoundFrame(block) < 0)
            break;
    }
    trimSilence(out);
    const long long first = firstSoundFrame(out);
    if (first > 0)
        out.erase(out.begin(), out.begin() + 2 * first);
    run.audio = std::move(out);
    return run;
}

// Rising zero crossings per second of the left channel over the middle half of a run.
double middleFrequency(const std::vector<float> &audio, int rate)
{
    const long long frames = static_cast<long long>(audio.size() / 2);
    const long long from = frames / 4, to = 3 * frames / 4;
    return to > from ? risingZeroCrossings(audio, 0, from, to) * double(rate) / double(to - from) : 0.0;
}

double rms(const std::vector<float> &audio)
{
    double sum = 0.0;
    for (float x : audio)
        sum += double(x) * x;
    return audio.empty() ? 0.0 : std::sqrt(sum / double(audio.size()));
}
} // namespace

void BanksTest::init()
{
    Settings::instance().set("fade_in_out_slices", "1");
    Settings::instance().set("MidiDevice", "None");
}

void BanksTest::newBankIsEmpty()
{
    BankSampler bank(48000);
    for (int i = 0; i < BankSampler::kPadCount; ++i)
        QVERIFY(!bank.pad(i));
    QVERIFY(!bank.pad(-1) && !bank.pad(16));
    QCOMPARE(bank.chokeGroupNames(), (QStringList{"Hi-hats", "None", "Other"}));
    QCOMPARE(bank.bankTempo(), 120);
    QCOMPARE(bank.sampleRate(), 48000);
    std::vector<float> buffer(512, 0.0f);
    bank.mix(buffer.data(), 512);
    QCOMPARE(firstSoundFrame(buffer), -1LL);
    // Operations on empty pads do nothing.
    bank.setPadPitch(2, 5);
    bank.stretchPadToBeats(2, 4);
    QVERIFY(!bank.pad(2));
}

void BanksTest::chokeGroupBookkeeping()
{
    QTemporaryDir dir;
    const QString wav = writeLoop(dir, "hat.wav", 4410);
    BankSampler bank(44100);
    QSignalSpy loaded(&bank, &BankSampler::sampleLoaded);
    bank.loadSample(3, wav, 0, 1.0, 0, 0, 0, 1.0f, false, "Hi-hats");
    bank.loadSample(3, wav, 0, 1.0, 0, 0, 0, 1.0f, false, "Other");
    QCOMPARE(loaded.count(), 2);
    QCOMPARE(loaded.at(0).at(0).toInt(), 3);
    QCOMPARE(loaded.at(1).at(0).toInt(), 3);
    QCOMPARE(bank.chokeGroupsOf(3), QStringList{"Other"});
    QCOMPARE(bank.pad(3)->chokeGroup(), QString("Other"));
    QCOMPARE(bank.chokeGroupNames(), (QStringList{"Hi-hats", "None", "Other"}));

    bank.addToChokeGroup(3, "Toms");
    QCOMPARE(bank.chokeGroupsOf(3), QStringList{"Toms"});
    QCOMPARE(bank.pad(3)->chokeGroup(), QString("Toms"));
    QCOMPARE(bank.chokeGroupNames(), (QStringList{"Hi-hats", "None", "Other", "Toms"}));
    bank.removeFromChokeGroup(3, "Toms");
    QVERIFY(bank.chokeGroupsOf(3).isEmpty());
    QCOMPARE(bank.pad(3)->chokeGroup(), QString("None"));
    QVERIFY(!bank.chokeGroupNames().contains("Toms"));
}

void BanksTest::tempoAndPitchReachLoadedPadsOnly()
{
    QTemporaryDir dir;
    const QString wav = writeLoop(dir, "loop.wav"); // one second: two beats at 120 BPM
    BankSampler bank(44100);
    bank.loadSample(0, wav, 0, 1.0, 0, 0, 0, 0.5f, false, "None");
    SlicePtr pad = bank.pad(0);
    QCOMPARE(pad->stretchLength(), 2.0);
    QCOMPARE(pad->gain(), 0.5f);
    QVERIFY(!pad->isStretchEnabled());

    bank.setBankTempo(90);
    QCOMPARE(bank.bankTempo(), 90);
    QCOMPARE(pad->stretchLength(), 1.5);
    for (int i = 1; i < BankSampler::kPadCount; ++i)
        QVERIFY(!bank.pad(i));

    // Pitch and stretch send the pad through the stretcher; back to neutral, they do not.
    bank.setPadPitch(0, 7);
    QCOMPARE(pad->pitch(), 7);
    QVERIFY(pad->isStretchEnabled());
    bank.setPadPitch(0, 0);
    QVERIFY(!pad->isStretchEnabled());
    bank.stretchPadToBeats(0, 4); // four beats at 90 BPM: 2.666 s
    QVERIFY(qAbs(pad->timeStretchRatio() - 8.0 / 3.0) < 1e-3);
    QVERIFY(pad->isStretchEnabled());

    // Load parameters: a reversed, looping pad with an explicit region.
    bank.loadSample(1, wav, -12, 1.0, 1, 1000, 5000, 1.0f, true, "None");
    SlicePtr second = bank.pad(1);
    QCOMPARE(second->pitch(), -12);
    QCOMPARE(second->loopMode(), 1);
    QCOMPARE(second->loopStart(), 1000);
    QCOMPARE(second->loopEnd(), 5000);
    QVERIFY(second->isReversed());
    QVERIFY(second->isStretchEnabled());
}

void BanksTest::unreadablePadPlaysNothing()
{
    QTemporaryDir dir;
    const QString junk = dir.filePath("junk.wav");
    QVERIFY(TestAudio::writeBytes(junk, QByteArray("RIFF\x10\0\0\0WAVEjunkjunk", 20)));
    BankSampler bank(44100);
    QSignalSpy loaded(&bank, &BankSampler::sampleLoaded);
    bank.loadSample(7, junk, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    QCOMPARE(loaded.count(), 1);
    SlicePtr pad = bank.pad(7);
    QVERIFY(pad);
    QCOMPARE(pad->length(), 0);
    pad->play(true, 0, 0);
    std::vector<float> buffer(2048, 0.0f);
    bank.mix(buffer.data(), 2048);
    QCOMPARE(firstSoundFrame(buffer), -1LL);
}

void BanksTest::resetFreesThePadsOnTheGuiThread()
{
    QTemporaryDir dir;
    const QString wav = writeLoop(dir, "loop.wav", 4410);
    BankSampler bank(44100);
    bank.loadSample(0, wav, 0, 1.0, 0, 0, 0, 1.0f, false, "Hi-hats");
    QPointer<Slice> first = bank.pad(0).data();
    bank.loadSample(0, wav, 0, 1.0, 0, 0, 0, 1.0f, false, "Hi-hats");
    QVERIFY(first.isNull()); // the replaced pad is gone at once, freed by the loading thread
    QPointer<Slice> second = bank.pad(0).data();
    bank.reset();
    QVERIFY(second.isNull());
    QVERIFY(!bank.pad(0));
    QVERIFY(bank.chokeGroupsOf(0).isEmpty());
    QCOMPARE(bank.chokeGroupNames(), (QStringList{"Hi-hats", "None", "Other"}));
}

void BanksTest::loadingWhileMixing()
{
    QTemporaryDir dir;
    const QString wav = writeLoop(dir, "loop.wav", 22050);
    BankSampler bank(44100);
    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread mixer([&] {
        std::vector<float> buffer(1024);
        while (!stop.load()) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            bank.mix(buffer.data(), 1024);
            ++blocks;
        }
    });
    for (int round = 0; round < 40; ++round) {
        const int index = round % BankSampler::kPadCount;
        bank.loadSample(index, wav, round % 3, 1.0, 1, 0, 0, 1.0f, false, "None");
        bank.pad(index)->play(true, 0, 0);
        if (round % 10 == 9)
            bank.reset();
    }
    QTRY_VERIFY(blocks.load() > 100);
    stop.store(true);
    mixer.join();
}

void BanksTest::looperSelectionWraps()
{
    LoopingSamplerBank bank(48000);
    QSignalSpy spy(&bank, &LoopingSamplerBank::selectedLooperChanged);
    QCOMPARE(bank.selectedLooperIndex(), 0);
    bank.selectPrevLooper();
    QCOMPARE(bank.selectedLooperIndex(), 3);
    bank.selectNextLooper();
    QCOMPARE(bank.selectedLooperIndex(), 0);
    bank.selectNextLooper();
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toInt(), 3);
    QCOMPARE(spy.at(2).at(0).toInt(), 1);
}

void BanksTest::loopersOwnNoAudioUntilArmed()
{
    LoopingSamplerBank bank(48000);
    for (int i = 0; i < LoopingSamplerBank::kLooperCount; ++i) {
        QCOMPARE(bank.looper(i)->capacity(), 0);
        QCOMPARE(bank.looper(i)->recordingState(), LooperIdle);
    }
    std::vector<float> buffer(512, 0.25f);
    bank.recordStep(buffer.data(), 512);
    bank.looper(0)->togglePlayback(true);
    bank.playStep(buffer.data(), 512);
    for (float v : buffer)
        QCOMPARE(v, 0.25f);
}

void BanksTest::looperRecordsAndLoops()
{
    LoopingSampler looper(1000);
    QSignalSpy states(&looper, &LoopingSampler::recordingStateChanged);
    QSignalSpy playback(&looper, &LoopingSampler::playbackStateChanged);
    looper.armRecording(true);
    QCOMPARE(looper.recordingState(), LooperArmed);
    QCOMPARE(looper.capacity(), 1000 * 2 * LoopingSampler::kMaxTakeSeconds);
    std::vector<float> input(100);
    for (int i = 0; i < 100; ++i)
        input[size_t(i)] = float(i + 1);
    QCOMPARE(looper.recordStep(input.data(), 100), 0); // armed, not yet recording

    looper.startRecording();
    QCOMPARE(looper.recordingState(), LooperRecording);
    QCOMPARE(looper.recordStep(input.data(), 100), 100);
    QCOMPARE(looper.recordStep(input.data(), 50), 50);
    QCOMPARE(looper.length(), 150);
    std::vector<float> out(40, 0.0f);
    QCOMPARE(looper.playStep(out.data(), 40), 0); // a recording looper does not play

    looper.armRecording(false);
    QCOMPARE(looper.recordingState(), LooperIdle);
    QVERIFY(looper.isPlaying());
    QCOMPARE(states.count(), 3);
    QCOMPARE(states.last().at(0).value<RecordingState>(), LooperIdle);
    QCOMPARE(playback.last().at(0).toBool(), true);

    // The take plays from its start and wraps at its end.
    std::vector<float> played(400, 0.0f);
    QCOMPARE(looper.playStep(played.data(), 400), 400);
    for (int i = 0; i < 400; ++i) {
        const int k = i % 150;
        QCOMPARE(played[size_t(i)], k < 100 ? float(k + 1) : float(k - 100 + 1));
    }
    looper.togglePlayback(false);
    QVERIFY(!looper.isPlaying());
    QCOMPARE(playback.last().at(0).toBool(), false);
    std::vector<float> silent(64, 0.0f);
    QCOMPARE(looper.playStep(silent.data(), 64), 0);
    QCOMPARE(firstSoundFrame(silent), -1LL);
}

void BanksTest::quantizationFromTheMasterCutsTakes()
{
    LoopingSamplerBank bank(1000);
    bank.linkQuantization(true);
    LoopingSampler *master = bank.looper(0);
    LoopingSampler *follower = bank.looper(2);
    QVERIFY(master->isMaster());
    QSignalSpy quant(master, &LoopingSampler::quantizationLengthChanged);

    std::vector<float> input(600, 0.5f);
    master->armRecording(true);
    master->startRecording();
    bank.recordStep(input.data(), 600);
    bank.recordStep(input.data(), 400);
    master->stopRecording();
    QCOMPARE(master->length(), 1000);
    QCOMPARE(quant.last().at(0).value<long>(), 1000L);
    QCOMPARE(follower->quantizationLength(), 1000L);

    QSignalSpy playback(follower, &LoopingSampler::playbackStateChanged);
    QSignalSpy followerStates(follower, &LoopingSampler::recordingStateChanged);
    follower->armRecording(true);
    follower->startRecording();
    bank.recordStep(input.data(), 600);
    QCOMPARE(follower->recordingState(), LooperRecording);
    const quint64 stopsBefore = RealtimeEvents::count(RealtimeEvents::LooperQuantizationStop);
    bank.recordStep(input.data(), 600);
    QCOMPARE(RealtimeEvents::count(RealtimeEvents::LooperQuantizationStop) - stopsBefore, quint64(1));
    QCOMPARE(follower->length(), 1000);
    QCOMPARE(follower->recordingState(), LooperIdle);
    QVERIFY(follower->isPlaying());
    // Cut on the sound-card thread, told on the GUI thread's next collection.
    QCOMPARE(playback.count(), 0);
    QCOMPARE(followerStates.count(), 2);
    bank.deliverSoundCardNews();
    QCOMPARE(playback.last().at(0).toBool(), true);
    QCOMPARE(followerStates.last().at(0).value<RecordingState>(), LooperIdle);

    bank.linkQuantization(false);
    QVERIFY(!master->isMaster());
    QCOMPARE(follower->quantizationLength(), -1L);
}

void BanksTest::looperRecordsTheEngineMix()
{
    AlsaRig rig(AlsaRig::NoDevice);
    SliceEngine engine;
    const QString wav = rig.filePath("preview.wav");
    QVERIFY(TestAudio::writeWav(wav, 2, 44100, 3000, [](long long f, int c) { return float(f + 1) / 4096.0f + c; }));
    LoopingSampler *looper = engine.looperBank()->looper(1);
    looper->armRecording(true);
    looper->startRecording();
    engine.setPreviewFile(wav);
    std::vector<float> buffer(2 * 1000);
    for (int block = 0; block < 3; ++block) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        engine.processAudio(buffer.data(), 1000);
    }
    // The looper took the mix as it stood before the preview (the last source) was added:
    // the preview is mixed after the loopers, so it was not part of the take.
    QCOMPARE(looper->length(), 6000);
    looper->stopRecording();
    std::fill(buffer.begin(), buffer.end(), 0.0f);
    engine.processAudio(buffer.data(), 1000);
    QCOMPARE(firstSoundFrame(buffer), -1LL);
}

// A stretched pad is rendered ahead in the background; once the render is in, a trigger
// plays it and it sounds like the real-time stretcher: the same length and pitch. A ratio
// change makes the next trigger stretch in real time until the new render is in.
void BanksTest::stretchedPadPlaysItsRender()
{
    constexpr int kRate = 44100;
    QTemporaryDir dir;
    const QString wav = writeLoop(dir, "tone.wav"); // one second of 441 Hz
    BankSampler bank(kRate);
    QSignalSpy ready(&bank, &BankSampler::padRenderReady);
    // An octave up and half as long again: 882 Hz for 1.5 s.
    bank.loadSample(0, wav, 12, 1.5, 0, 0, 0, 1.0f, false, "None");
    SlicePtr pad = bank.pad(0);
    QVERIFY(!bank.isPadRenderReady(0));
    QTRY_VERIFY_WITH_TIMEOUT(bank.isPadRenderReady(0), 60000);
    QCOMPARE(ready.count(), 1);
    QCOMPARE(ready.at(0).at(0).toInt(), 0);

    const PadRun rendered = playPadOnce(bank, pad, 4 * kRate);
    QVERIFY(rendered.fromRender);
    QVERIFY(qAbs(double(rendered.audio.size() / 2) - 1.5 * kRate) < 0.01 * kRate);
    QVERIFY2(qAbs(middleFrequency(rendered.audio, kRate) - 882.0) < 5.0,
             qPrintable(QString::number(middleFrequency(rendered.audio, kRate))));

    // The same pad without its render: the real-time stretcher.
    pad->setStretchRender(nullptr);
    QVERIFY(!bank.isPadRenderReady(0));
    const PadRun live = playPadOnce(bank, pad, 4 * kRate);
    QVERIFY(!live.fromRender);
    // The real-time stretcher plays the whole one-shot too, its tail included (it used to
    // keep the last 0.15 s of a pitched one in its pipeline).
    QVERIFY2(qAbs(double(live.audio.size()) - double(rendered.audio.size())) < 0.01 * kRate * 2,
             qPrintable(QString("%1 frames live, %2 rendered").arg(live.audio.size() / 2).arg(rendered.audio.size() / 2)));
    QVERIFY(qAbs(middleFrequency(live.audio, kRate) - middleFrequency(rendered.audio, kRate)) < 5.0);
    QVERIFY(qAbs(rms(live.audio) - rms(rendered.audio)) < 0.1 * rms(live.audio));

    // The render comes back (the bank asks again when told of a change), then the ratio
    // changes: four beats at 120 BPM make the one-second tone two seconds long.
    bank.setPadPitch(0, 12);
    QTRY_VERIFY_WITH_TIMEOUT(bank.isPadRenderReady(0), 60000);
    bank.stretchPadToBeats(0, 4);
    QVERIFY(qAbs(pad->timeStretchRatio() - 2.0) < 1e-9);
    QVERIFY(!bank.isPadRenderReady(0));
    // Triggered before the new render is in: the real-time stretcher plays it.
    const PadRun early = playPadOnce(bank, pad, 5 * kRate);
    QVERIFY(!early.fromRender);
    QVERIFY2(qAbs(double(early.audio.size() / 2) - 2.0 * kRate) < 0.01 * kRate, qPrintable(QString::number(early.audio.size() / 2)));
    QVERIFY(qAbs(middleFrequency(early.audio, kRate) - 882.0) < 5.0);

    QTRY_VERIFY_WITH_TIMEOUT(bank.isPadRenderReady(0), 60000);
    const PadRun next = playPadOnce(bank, pad, 5 * kRate);
    QVERIFY(next.fromRender);
    QVERIFY(qAbs(double(next.audio.size() / 2) - 2.0 * kRate) < 0.01 * kRate);
    QVERIFY(qAbs(middleFrequency(next.audio, kRate) - 882.0) < 5.0);
}
