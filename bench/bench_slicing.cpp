// sliceEvenly(64) with zero-crossing snapping on a 10-minute 48 kHz stereo loop, on
// ordinary audio and on audio with a DC offset (no crossing anywhere). The baseline is the
// same slicing with snapping off, on the same loop in the same run.
//
// And what slicing costs the sound-card thread: the longest call of the slicer's render
// (what the callback runs for the loop) while the GUI thread slices the DC-offset loop
// over and over, against the longest call with the GUI thread idle, in the same run.
#include "Settings.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <functional>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <vector>

namespace {
constexpr int kRate = 48000;
constexpr long long kFrames = 10LL * 60 * kRate;

QString writeLoop(QTemporaryDir &dir, const char *name, float dc) {
    const QString path = dir.filePath(name);
    TestAudio::writeWav(
        path, 2, kRate, kFrames,
        [dc](long long f, int c) {
            // A bass line under a few partials: crossings are irregular, tens of frames apart.
            return dc + 0.3f * float(std::sin(f * 0.0131 + c)) + 0.1f * float(std::sin(f * 0.173));
        },
        false);
    return path;
}

void load(Trevant &t, const QString &path) {
    t.slotLoadLoop(path);
    SlicePtr s = t.currentSlice();
    while (!s->isLoadingComplete()) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

QString loopFile(const char *name, float dc) {
    static QTemporaryDir dir;
    static QString paths[2];
    QString &path = paths[dc != 0.0f ? 1 : 0];
    if (path.isEmpty())
        path = writeLoop(dir, name, dc);
    return path;
}

void slice64(benchmark::State &state, const char *name, float dc, bool snap) {
    const QString path = loopFile(name, dc);
    Trevant t;
    load(t, path);
    Settings::instance().set("snap_to_zero_crossings", snap ? "1" : "0");
    for (auto _ : state) {
        t.sliceEvenly(64);
        benchmark::DoNotOptimize(t.slicePoints().size());
    }
    const QList<int> points = t.slicePoints();
    const long long length = t.currentSlice()->length();
    // Without snapping the last point is exactly 63/64 of the way (64-bit arithmetic).
    if (points.size() != 63 || (!snap && points.last() != int((63 * length / 64) & ~1LL)))
        state.SkipWithError("wrong slice points");
}

void BM_SliceEvenly64_NoSnap(benchmark::State &s) {
    slice64(s, "music.wav", 0.0f, false);
}
void BM_SliceEvenly64_Snap(benchmark::State &s) {
    slice64(s, "music.wav", 0.0f, true);
}
void BM_SliceEvenly64_DcOffset_NoSnap(benchmark::State &s) {
    slice64(s, "dc.wav", 0.6f, false);
}
void BM_SliceEvenly64_DcOffset_Snap(benchmark::State &s) {
    slice64(s, "dc.wav", 0.6f, true);
}
// The longest of the render calls a second thread makes, 256 frames each, back to back,
// for as long as busy() keeps returning true.
double longestRenderUs(Trevant &t, const std::function<bool()> &busy) {
    std::atomic<bool> stop{false};
    double longest = 0.0;
    std::thread callback([&] {
        // Real-time scheduling where the system grants it, as an audio thread has, so
        // that what the figure shows is waiting rather than being preempted.
        sched_param param{};
        param.sched_priority = 5;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        std::vector<float> buffer(2 * 256);
        while (!stop.load()) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            const auto t0 = std::chrono::steady_clock::now();
            t.render(buffer.data(), int(buffer.size()));
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
            longest = std::max(longest, us);
        }
    });
    while (busy()) {
    }
    stop = true;
    callback.join();
    return longest;
}

void BM_RenderWhileSlicing_DcOffset(benchmark::State &state) {
    Trevant t;
    load(t, loopFile("dc.wav", 0.6f));
    Settings::instance().set("snap_to_zero_crossings", "1");
    t.setEngineSampleRate(kRate);
    // Plays the whole loop (ten minutes, longer than the benchmark), which is also what
    // slicing divides.
    t.togglePlayback(true);
    constexpr int kRounds = 20;
    double whileSlicing = 0.0, idle = 0.0;
    for (auto _ : state) {
        int rounds = 0;
        whileSlicing = std::max(whileSlicing, longestRenderUs(t, [&] {
                                    t.sliceEvenly(64);
                                    return ++rounds < kRounds;
                                }));
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        idle = std::max(idle, longestRenderUs(t, [&] {
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                            return std::chrono::steady_clock::now() < until;
                        }));
    }
    state.counters["longest_render_us_while_slicing"] = whileSlicing;
    state.counters["longest_render_us_idle"] = idle;
    state.counters["period_us_at_256"] = 256.0 * 1.0e6 / kRate;
}

BENCHMARK(BM_SliceEvenly64_NoSnap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_Snap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_DcOffset_NoSnap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_DcOffset_Snap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RenderWhileSlicing_DcOffset)->Iterations(3)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
