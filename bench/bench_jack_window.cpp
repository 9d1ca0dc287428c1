// Real-time paced playback through JACK's dummy backend while the main window works: a
// looping stretched pad (playing its render) and the slicer's loop play for 20 seconds
// while the window opens a 10-minute 48 kHz file, draws it as it fills, plays it as a
// loop, slices it into 64 and opens the other one, over and over (argument 1; the tempo
// and transient analyses the window starts on every file run as well); argument 0 is the
// same playback with the window open and idle, the baseline of the machine's own
// scheduling in the same run.
//
// Underflows are the server's late periods as Quillory's JACK client hears of them (the
// server's own and any client's). Beside them: the longest process call (a slow mix or a
// wait inside it), the latest start of one after its period began (a thread kept from
// the processor), the processor time the host took from this virtual machine, and how
// late a thread of the same scheduling that only sleeps woke meanwhile (the machine's own
// stalls; see MachineLatencyProbe).
//
// Needs a display (xvfb-run -a) and jackd; skipped without either. jackd gets real-time
// scheduling where the system grants it, and so do the clients it runs.

#include "AudioEditWorker.h"
#include "BankSampler.h"
#include "EditableAudioCache.h"
#include "JackOutput.h"
#include "MachineLatencyProbe.h"
#include "PortAudioJack.h"
#include "Quillory.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "DrumLoopFile.h"
#include "Trevant.h"
#include "TrevantUI.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <memory>

namespace {

using DrumLoopFile::waitFor;

constexpr int kDeviceRate = 48000;
constexpr qint64 kRunMs = 20000;
// One fixed name: JACK frees a dead server's slot in its shared registry only when a
// server of the same name registers again.
const QByteArray kServerName = "quillory-bench-window";

QTemporaryDir &tempDir() {
    static QTemporaryDir dir;
    return dir;
}

QString drumLoop(const QString &name, double seconds, int rate) {
    return DrumLoopFile::write(tempDir().path(), name, seconds, rate);
}

bool g_noDisplay = false;

void BM_JackDummyUnderflowsWindow(benchmark::State &state) {
    if (g_noDisplay) {
        state.SkipWithError("needs a display: run it under xvfb-run -a");
        for (auto _ : state) {
        }
        return;
    }
    const QString jackd = QStandardPaths::findExecutable("jackd");
    if (jackd.isEmpty()) {
        state.SkipWithError("jackd not installed");
        for (auto _ : state) {
        }
        return;
    }
    const bool busy = state.range(0) != 0;
    const QString longA = drumLoop("long-a.wav", 600.0, kDeviceRate);
    const QString longB = drumLoop("long-b.wav", 600.0, kDeviceRate);
    const QString padFile = drumLoop("pad.wav", 2.0, 44100);

    qputenv("JACK_DEFAULT_SERVER", kServerName);
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(jackd, {"-n", QString::fromLatin1(kServerName), "-d", "dummy", "-r",
                         QString::number(kDeviceRate), "-p", "256"});
    server.waitForStarted();
    waitFor([] { return JackOutput::serverAnswers(); }, 10000);

    Settings &settings = Settings::instance();
    settings.set("AudioDeviceAPI", PortAudioJack::kHostApiName);
    settings.set("OutputDevice", QString());
    settings.set("AudioDeviceSampleRate", QString::number(kDeviceRate));
    settings.set("AudioDeviceBufferSize", QString());
    settings.set("MidiDevice", "None");
    settings.set("snap_to_zero_crossings", "1");

    double underflows = 0, rounds = 0, seconds = 0, stolen = 0, longestProcessUs = 0, latestStartUs = 0;
    double machineLatestWakeUs = 0, machineLateWakes = 0;
    for (auto _ : state) {
        // As the application object starts it.
        std::unique_ptr<TrevantUI> window(new TrevantUI);
        window->resize(1600, 900);
        window->show();
        waitFor([] { return false; }, 500);
        SliceEngine *engine = window->engine();
        JackOutput *jack = engine->jackOutput();
        if (!jack) {
            state.SkipWithError("the window's engine plays no JACK client");
            break;
        }
        engine->samplerBank()->loadSample(0, padFile, 0, 1.25, 1, 0, 0, 0.5f, false, "None");
        waitFor([&] { return engine->samplerBank()->isPadRenderReady(0); });
        engine->samplerBank()->pad(0)->play(true, 0, 0);

        const double before = double(jack->xrunCount());
        MachineLatencyProbe machine(256 * 1000000 / kDeviceRate);
        QElapsedTimer timer;
        timer.start();
        bool useA = true;
        if (!busy) {
            window->slotLoadAudioFile(padFile);
            SlicePtr loop = window->slicer()->currentSlice();
            waitFor([&] { return loop->isLoadingComplete(); });
            loop->setLoopMode(2);
            window->slotTogglePlayback(true);
            waitFor([] { return false; }, kRunMs - timer.elapsed());
        }
        while (busy && timer.elapsed() < kRunMs) {
            window->slotLoadAudioFile(useA ? longA : longB);
            useA = !useA;
            SlicePtr loop = window->slicer()->currentSlice();
            loop->setLoopMode(2);
            window->slotTogglePlayback(true);
            waitFor([&] { return loop->isLoadingComplete() || timer.elapsed() > kRunMs; });
            window->slotSliceIn64();
            rounds += 1;
            QCoreApplication::processEvents();
        }
        underflows = double(jack->xrunCount()) - before;
        seconds = double(timer.elapsed()) / 1000.0;
        machine.stop();
        stolen = machine.stolenMs();
        machineLatestWakeUs = double(machine.latestWakeMicros());
        machineLateWakes = double(machine.lateWakes());
        longestProcessUs = double(jack->longestProcessMicros());
        latestStartUs = double(jack->latestStartMicros());
        engine->closeAudioDevice();
        window.reset();
        waitFor([] { return false; }, 200);
    }
    server.terminate();
    server.waitForFinished(5000);
    state.counters["underflows"] = underflows;
    state.counters["load_and_slice_rounds"] = rounds;
    state.counters["seconds"] = seconds;
    // The period is 256 frames, 5333 us.
    state.counters["longest_process_us"] = longestProcessUs;
    state.counters["latest_start_us"] = latestStartUs;
    state.counters["host_stolen_ms"] = stolen;
    state.counters["machine_latest_wake_us"] = machineLatestWakeUs;
    state.counters["machine_late_wakes"] = machineLateWakes;
}
BENCHMARK(BM_JackDummyUnderflowsWindow)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv) {
    // Without a display the window cannot draw with OpenGL: the benchmark skips, and the
    // program still runs (as the loop over all benchmarks does) on the offscreen platform.
    g_noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (g_noDisplay)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Q_INIT_RESOURCE(quillory);
    Q_INIT_RESOURCE(views);
    Q_INIT_RESOURCE(dialogs);
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
    Quillory::setApplicationNames();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("QuilloryBench");
    EditableAudioCache::installInLoopModel();
    AudioEditWorker::startThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    AudioEditWorker::shutDown();
    return 0;
}
