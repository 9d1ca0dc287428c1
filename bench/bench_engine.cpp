// The sound-card callback's processor time as a fraction of the buffer's duration
// (1.0 = the whole real-time budget), with the slicer's loop and all 16 pads playing,
// half of them stretched, either from their background renders or in real time; and, with a real-time paced device (JACK's dummy backend),
// the underflows counted while the GUI thread slices and loads long files.

#include "BankSampler.h"
#include "PerfCounterManager.h"
#include "AudioDevice.h"
#include "JackOutput.h"
#include "MachineLatencyProbe.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "DrumLoopFile.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

namespace {

using DrumLoopFile::waitFor;

constexpr int kDeviceRate = 48000;

QTemporaryDir &tempDir()
{
    static QTemporaryDir dir;
    return dir;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// A drum-like loop; at 44.1 kHz unless said, so the device rate needs resampling.
QString drumLoop(const QString &name, double seconds, int rate = 44100)
{
    return DrumLoopFile::write(tempDir().path(), name, seconds, rate);
}

// An engine without an output device: the benchmark calls its mix directly, which is
// exactly the work the stream callback does.
struct LoadedEngine {
    QTemporaryDir home;
    QByteArray oldHome = qgetenv("HOME");
    std::unique_ptr<SliceEngine> engine;

    // playRenders: the stretched pads are triggered again once their renders are in, and
    // play those; otherwise they keep the real-time stretcher they started with. Either
    // way every render has finished before the timing starts.
    LoadedEngine(bool stretchHalf, bool playRenders)
    {
        qputenv("HOME", QFile::encodeName(home.path()));
        Settings::instance().set("MidiDevice", "None");
        Settings::instance().set("fade_in_out_slices", "1");
        engine.reset(new SliceEngine);
        engine->slicer()->setEngineSampleRate(kDeviceRate);
        engine->samplerBank()->setSampleRate(kDeviceRate);
        engine->setSampleRate(kDeviceRate);

        Trevant *slicer = engine->slicer();
        slicer->slotLoadLoop(drumLoop("loop.wav", 8.0));
        SlicePtr loop = slicer->currentSlice();
        const QString padFile = drumLoop("pad.wav", 2.0);
        for (int i = 0; i < BankSampler::kPadCount; ++i) {
            // Half of the pads stretched (and so pitched through Rubber Band as well).
            const double ratio = stretchHalf && i % 2 ? 1.0 + 0.05 * i : 1.0;
            engine->samplerBank()->loadSample(i, padFile, 0, ratio, 1, 0, 0, 0.1f, false, "None");
        }
        waitFor([&] {
            if (!loop->isLoadingComplete())
                return false;
            for (int i = 0; i < BankSampler::kPadCount; ++i)
                if (!engine->samplerBank()->pad(i)->isLoadingComplete())
                    return false;
            return true;
        });
        loop->setLoopMode(2);
        slicer->togglePlayback(true);
        BankSampler *bank = engine->samplerBank();
        for (int i = 0; i < BankSampler::kPadCount; ++i)
            bank->pad(i)->play(true, 0, 0);
        waitFor([&] {
            for (int i = 0; i < BankSampler::kPadCount; ++i)
                if (bank->pad(i)->isStretchEnabled() && !bank->isPadRenderReady(i))
                    return false;
            return true;
        });
        if (playRenders)
            for (int i = 0; i < BankSampler::kPadCount; ++i)
                bank->pad(i)->play(true, 0, 0);
        for (int i = 0; i < BankSampler::kPadCount; ++i)
            rendered += bank->pad(i)->isPlayingStretchRender() ? 1 : 0;
    }
    int rendered = 0; // pads playing a render
    ~LoadedEngine()
    {
        engine.reset();
        qputenv("HOME", oldHome);
    }
};

void BM_CallbackLoad(benchmark::State &state)
{
    const int frames = static_cast<int>(state.range(0));
    LoadedEngine rig(state.range(1) != 0, state.range(2) != 0);
    std::vector<float> buffer(size_t(2 * frames));
    double cpu = 0.0;
    long long calls = 0;
    for (auto _ : state) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        const double before = threadCpuSeconds();
        rig.engine->processAudio(buffer.data(), frames);
        cpu += threadCpuSeconds() - before;
        ++calls;
        benchmark::DoNotOptimize(buffer.data());
    }
    const double budget = double(frames) / kDeviceRate;
    state.counters["fraction_of_buffer"] = cpu / (double(calls) * budget);
    state.counters["frames"] = frames;
    state.counters["pads_from_render"] = rig.rendered;
}
// Second argument 1: half of the pads stretched (the figure asked for); 0: no pad
// stretched, the same mix through the resamplers only, for comparison in the same run.
// Third argument 1: the stretched pads play their background renders; 0: they stretch
// in real time (as before renders existed, and as a pad does before its render is in).
BENCHMARK(BM_CallbackLoad)
    ->Args({256, 1, 1})
    ->Args({256, 1, 0})
    ->Args({1024, 1, 1})
    ->Args({1024, 1, 0})
    ->Args({256, 0, 0})
    ->Args({1024, 0, 0})
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// Real-time paced playback through JACK's dummy backend (real-time scheduling where the
// system allows it): a looping stretched pad (playing its render) and the slicer's loop
// play for 20 seconds while the GUI thread loads a 10-minute file, slices it into 64 with
// zero-crossing snapping and loads another file, over and over (argument 1); argument 0
// is the same playback with an idle GUI thread, the baseline of the machine's own
// scheduling. Underflows are the server's late periods as our JACK client hears of them;
// beside them, a probe thread that only sleeps shows how late the machine itself wakes a
// real-time thread (MachineLatencyProbe).
// Skipped when jackd is not installed.
void BM_JackDummyUnderflows(benchmark::State &state)
{
    const QString jackd = QStandardPaths::findExecutable("jackd");
    if (jackd.isEmpty()) {
        state.SkipWithError("jackd not installed");
        for (auto _ : state) {
        }
        return;
    }
    const QString longA = drumLoop("long-a.wav", 600.0, kDeviceRate);
    const QString longB = drumLoop("long-b.wav", 600.0, kDeviceRate);
    const QString padFile = drumLoop("pad.wav", 2.0);

    // A server of its own name, so that a test's server on the same machine takes no
    // part. One fixed name: JACK frees a dead server's slot in its shared registry only
    // when a server of the same name registers again.
    const QByteArray serverName = "quillory-bench";
    const QByteArray oldServer = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", serverName);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(jackd, {"-n", QString::fromLatin1(serverName), "-d", "dummy", "-r", QString::number(kDeviceRate),
                         "-p", "256"});
    server.waitForStarted();
    QThread::msleep(1500);

    Settings &settings = Settings::instance();
    settings.set("AudioDeviceAPI", "JACK Audio Connection Kit");
    settings.set("OutputDevice", "Windows Default");
    settings.set("AudioDeviceSampleRate", QString::number(kDeviceRate));
    settings.set("AudioDeviceBufferSize", "1024");
    settings.set("MidiDevice", "None");
    settings.set("snap_to_zero_crossings", "1");

    const bool busyGui = state.range(0) != 0;
    double underflows = 0, operations = 0, seconds = 0, stolen = 0;
    double longestProcessUs = 0, latestStartUs = 0, machineLatestWakeUs = 0, machineLateWakes = 0;
    for (auto _ : state) {
        SliceEngine engine;
        if (engine.hasAudioDeviceError()) {
            state.SkipWithError(qPrintable(engine.audioDeviceError()));
            break;
        }
        engine.samplerBank()->loadSample(0, padFile, 0, 1.25, 1, 0, 0, 0.5f, false, "None");
        SlicePtr pad = engine.samplerBank()->pad(0);
        // Triggered once its background render is in, so it plays that render.
        waitFor([&] { return engine.samplerBank()->isPadRenderReady(0); });
        pad->play(true, 0, 0);
        // The JACK API plays through a client of our own, which counts the server's
        // late periods; a PortAudio device counts its underflows in the perf counters.
        JackOutput *jack = engine.jackOutput();
        AudioDevice *device = engine.outputDevice();
        if (!jack && !device) {
            state.SkipWithError("no output");
            break;
        }
        auto underflowCount = [&]() -> double {
            return jack ? double(jack->xrunCount())
                        : PerfCounterManager::instance().value(device->underflowCounterName());
        };
        const double before = underflowCount();
        MachineLatencyProbe machine(256 * 1000000 / kDeviceRate);

        QElapsedTimer timer;
        timer.start();
        bool useA = true;
        if (!busyGui) {
            Trevant *slicer = engine.slicer();
            slicer->slotLoadLoop(padFile);
            SlicePtr loop = slicer->currentSlice();
            waitFor([&] { return loop->isLoadingComplete(); });
            loop->setLoopMode(2);
            slicer->togglePlayback(true);
            while (timer.elapsed() < 20000)
                waitFor([] { return false; }, 100);
        }
        while (busyGui && timer.elapsed() < 20000) {
            Trevant *slicer = engine.slicer();
            slicer->slotLoadLoop(useA ? longA : longB);
            useA = !useA;
            SlicePtr loop = slicer->currentSlice();
            loop->setLoopMode(2);
            slicer->togglePlayback(true);
            waitFor([&] { return loop->isLoadingComplete() || timer.elapsed() > 20000; });
            slicer->sliceEvenly(64);
            operations += 1;
            QCoreApplication::processEvents();
        }
        underflows = underflowCount() - before;
        seconds = timer.elapsed() / 1000.0;
        machine.stop();
        stolen = machine.stolenMs();
        machineLatestWakeUs = double(machine.latestWakeMicros());
        machineLateWakes = double(machine.lateWakes());
        if (jack) {
            longestProcessUs = double(jack->longestProcessMicros());
            latestStartUs = double(jack->latestStartMicros());
        }
        engine.closeAudioDevice();
    }
    server.terminate();
    server.waitForFinished(5000);
    if (oldServer.isNull())
        qunsetenv("JACK_DEFAULT_SERVER");
    else
        qputenv("JACK_DEFAULT_SERVER", oldServer);
    state.counters["underflows"] = underflows;
    // The period is 256 frames, 5333 us: a slow mix shows in the first, a thread that
    // waited for a processor in the second.
    state.counters["longest_process_us"] = longestProcessUs;
    state.counters["latest_start_us"] = latestStartUs;
    state.counters["host_stolen_ms"] = stolen;
    // A thread of the same scheduling that only sleeps: what the machine did meanwhile.
    state.counters["machine_latest_wake_us"] = machineLatestWakeUs;
    state.counters["machine_late_wakes"] = machineLateWakes;
    state.counters["load_and_slice_rounds"] = operations;
    state.counters["seconds"] = seconds;
}
BENCHMARK(BM_JackDummyUnderflows)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
