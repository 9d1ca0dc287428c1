// Offline stretch render of a one-minute loop at ratio 1.5. The figure to read is
// "audio_fraction": render time over the audio's duration (0.1 = ten times faster
// than real time). The baseline in the same run is the real-time engine the preview
// uses, fed the same minute at the same ratio.
#include "OfflineStretchRenderer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <rubberband/RubberBandStretcher.h>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;
constexpr double kRatio = 1.5;

// A drum-break-like minute: decaying noise hits on the beat at 120 BPM over a bass tone.
const std::vector<float> &minuteOfBreak()
{
    static const std::vector<float> samples = [] {
        std::vector<float> v(size_t(kRate) * kSeconds * 2);
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
        const int beat = kRate / 2;
        for (int f = 0; f < kRate * kSeconds; ++f) {
            const float env = std::exp(-float(f % beat) / 2000.0f);
            const float bass = 0.2f * float(std::sin(2.0 * M_PI * 55.0 * f / kRate));
            v[size_t(2 * f)] = 0.5f * env * noise(rng) + bass;
            v[size_t(2 * f + 1)] = 0.5f * env * noise(rng) + bass;
        }
        return v;
    }();
    return samples;
}

void BM_OfflineRender(benchmark::State &state)
{
    const auto &input = minuteOfBreak();
    QTemporaryDir dir;
    OfflineStretchRenderer::Job job;
    job.reader = [&input](float *dst, int start, int count) {
        const int n = std::min<int>(count, int(input.size()) - start);
        std::memcpy(dst, input.data() + start, size_t(n) * sizeof(float));
        return n;
    };
    job.end = int(input.size());
    job.sampleRate = kRate;
    job.timeRatio = kRatio;
    job.options = 0x400 | 0x100000; // the Drums preset
    job.outputDir = dir.path();
    double seconds = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const auto r = OfflineStretchRenderer::render(job, {}, {});
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (r.outcome != OfflineStretchRenderer::Outcome::Finished)
            state.SkipWithError("render failed");
        QFile::remove(r.filePath);
    }
    state.counters["audio_fraction"] = seconds / double(state.iterations()) / kSeconds;
}

// The preview's engine: real-time mode, standard engine, the same ratio and input.
void BM_RealtimeEngineBaseline(benchmark::State &state)
{
    using RubberBand::RubberBandStretcher;
    const auto &input = minuteOfBreak();
    const int block = 1024;
    std::vector<float> l(block), r(block), ol(4 * block), orr(4 * block);
    double seconds = 0.0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        RubberBandStretcher s(kRate, 2,
                              RubberBandStretcher::OptionProcessRealTime | RubberBandStretcher::OptionDetectorPercussive |
                                  RubberBandStretcher::OptionWindowShort,
                              kRatio, 1.0);
        float *in[2] = {l.data(), r.data()};
        float *out[2] = {ol.data(), orr.data()};
        for (int f = 0; f < kRate * kSeconds; f += block) {
            const int n = std::min(block, kRate * kSeconds - f);
            for (int i = 0; i < n; ++i) {
                l[size_t(i)] = input[size_t(2 * (f + i))];
                r[size_t(i)] = input[size_t(2 * (f + i) + 1)];
            }
            s.process(in, size_t(n), f + n >= kRate * kSeconds);
            int avail;
            while ((avail = s.available()) > 0)
                s.retrieve(out, size_t(std::min(avail, 4 * block)));
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    state.counters["audio_fraction"] = seconds / double(state.iterations()) / kSeconds;
}

} // namespace

BENCHMARK(BM_RealtimeEngineBaseline)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_OfflineRender)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_MAIN();
