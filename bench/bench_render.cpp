// How many times faster than real time a playing loop renders on one core: stretched
// (ratio 1.3, pitch +3, through Rubber Band) and, as the baseline, resampled only.
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {
constexpr int kEngineRate = 48000;
constexpr int kBlockFrames = 1024;

SlicePtr makeLoop() {
    static QTemporaryDir dir;
    const QString path = dir.filePath("loop.wav");
    TestAudio::writeWav(path, 2, 44100, 44100 * 10, [](long long f, int c) {
        return 0.3f * float(std::sin(f * 0.0627 + c)) + 0.2f * float(std::sin(f * 0.0011));
    });
    SlicePtr s = Slice::create(path, kEngineRate);
    while (!s->isLoadingComplete()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    s->setLoop(0, s->length());
    s->setLoopMode(2);
    return s;
}

void render(benchmark::State &state, bool stretched) {
    SlicePtr s = makeLoop();
    if (stretched) {
        s->setStretchEnabled(true);
        s->setTimeStretchRatio(1.3, 120);
        s->setPitch(3);
    }
    s->play(true, 0, 0);
    std::vector<float> buf(2 * kBlockFrames);
    long long frames = 0;
    for (auto _ : state) {
        std::fill(buf.begin(), buf.end(), 0.0f);
        frames += s->render(buf.data(), int(buf.size())) / 2;
        benchmark::DoNotOptimize(buf.data());
    }
    // Audio seconds rendered per second of CPU: the real-time factor.
    state.counters["x_realtime"] =
        benchmark::Counter(double(frames) / kEngineRate, benchmark::Counter::kIsRate);
}

void BM_RenderResampled(benchmark::State &state) {
    render(state, false);
}
void BM_RenderStretched(benchmark::State &state) {
    render(state, true);
}
BENCHMARK(BM_RenderResampled)->MinTime(2.0);
BENCHMARK(BM_RenderStretched)->MinTime(2.0);
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    Settings::instance().set("fade_in_out_slices", "1");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
