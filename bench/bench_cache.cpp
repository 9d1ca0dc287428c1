// Opening and filling a long loop: how long until the loop has its final length (reader,
// cache, preallocation) against how long the whole background fill takes, and the fill's
// throughput against a bare loop that reads the same file with the same reader into one
// buffer. Input: a 10-minute 48 kHz stereo file, generated here in a temporary folder.

#include "AudioCache.h"
#include "PeakSummary.h"
#include "AudioFile.h"
#include "BackgroundReader.h"
#include "TestAudio.h"
#include "ThreadPriority.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <vector>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

namespace {

constexpr int kRate = 48000;
constexpr long long kFrames = 10LL * 60 * kRate;

QTemporaryDir *g_dir = nullptr;
std::map<std::string, double> g_seconds; // mean seconds per iteration, by benchmark

QString fileFor(const std::string &kind) {
    const QString path = g_dir->filePath(QString::fromStdString("long." + kind));
    if (!QFile::exists(path)) {
        // A few partials and a little pseudo-random noise, so FLAC has real work to do.
        unsigned seed = 12345;
        const TestAudio::Generator gen = [&seed](long long f, int c) {
            seed = seed * 1664525u + 1013904223u;
            const double t = double(f) / kRate;
            return float(0.3 * std::sin(2 * M_PI * 110.0 * t + c) + 0.2 * std::sin(2 * M_PI * 1234.5 * t) +
                         0.05 * (double(seed >> 8) / double(1 << 24) - 0.5));
        };
        const int format =
            kind == "wav" ? (SF_FORMAT_WAV | SF_FORMAT_PCM_16) : (SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        if (!TestAudio::writeSndFile(path, format, 2, kRate, kFrames, gen)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            std::exit(1);
        }
    }
    return path;
}

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void record(benchmark::State &state, const std::string &name, double total) {
    if (state.iterations() > 0)
        g_seconds[name] = total / double(state.iterations());
}

// Until the loop has its final length: construct the reader and the cache, preallocate.
void BM_OpenUntilLengthKnown(benchmark::State &state, const std::string &kind) {
    const QString path = fileFor(kind);
    double total = 0;
    for (auto _ : state) {
        const double t0 = now();
        AudioCachePtr cache(new AudioCache(AudioFile::createForPath(path)));
        cache->preallocate();
        const double t1 = now();
        benchmark::DoNotOptimize(cache->length());
        state.SetIterationTime(t1 - t0);
        total += t1 - t0;
        if (cache->length() != 2 * kFrames)
            state.SkipWithError("wrong length");
    }
    record(state, "open_" + kind, total);
}

// The whole background fill, from startBackgroundFill until the cache is filled.
void BM_BackgroundFill(benchmark::State &state, const std::string &kind) {
    const QString path = fileFor(kind);
    double total = 0;
    for (auto _ : state) {
        AudioCachePtr cache(new AudioCache(AudioFile::createForPath(path)));
        cache->preallocate();
        const double t0 = now();
        cache->startBackgroundFill();
        BackgroundReader::instance()->waitForIdle();
        const double t1 = now();
        if (!cache->isFilled() || cache->getSample(int(2 * kFrames) - 1) == 0.0f)
            state.SkipWithError("fill incomplete");
        state.SetIterationTime(t1 - t0);
        total += t1 - t0;
    }
    state.SetBytesProcessed(state.iterations() * 2 * kFrames * int64_t(sizeof(float)));
    record(state, "fill_" + kind, total);
}

// The block summary's share of the fill: the same updates the fill makes, over a filled
// cache, into a fresh summary. The fill summarises a 16-bit store a run of chunks at a
// time (one block of the summary's coarsest level) right after the reader wrote them, a
// float store chunk by chunk; so each run or chunk is first copied into a small scratch
// buffer (untimed) to be as hot in the processor's cache as it is there.
void BM_SummaryBuild(benchmark::State &state, const std::string &kind) {
    AudioCachePtr cache(new AudioCache(AudioFile::createForPath(fileFor(kind))));
    cache->preallocate();
    cache->fillSynchronously();
    // The 16-bit WAV fill takes libsndfile's integers as they are and summarises those.
    const bool integers = kind == "wav" && cache->store() == AudioCache::Store::Int16;
    const int run = integers ? 2 * PeakSummary::kBlockFrames[PeakSummary::kLevels - 1] : SampleChunk::chunkSize;
    double total = 0;
    for (auto _ : state) {
        PeakSummary summary(cache->length(), true, cache->peakSummary()->precision());
        std::vector<float> scratch(static_cast<size_t>(run));
        std::vector<std::int16_t> scratch16(static_cast<size_t>(run));
        double elapsed = 0;
        for (int start = 0; start < cache->length(); start += run) {
            const int count = int(cache->readSamples(scratch.data(), unsigned(std::min(run, cache->length() - start)),
                                                     unsigned(start)));
            if (count <= 0)
                break;
            if (integers)
                for (int i = 0; i < count; ++i)
                    scratch16[size_t(i)] = std::int16_t(std::lround(scratch[size_t(i)] * 32768.0f));
            const double t0 = now();
            if (integers)
                summary.update(start, scratch16.data(), count);
            else
                summary.update(start, scratch.data(), count);
            elapsed += now() - t0;
        }
        state.SetIterationTime(elapsed);
        total += elapsed;
    }
    record(state, "summary_" + kind, total);
}

// Baseline: the same reader reading the whole file in blocks of 4096 samples into one
// buffer of the whole length (fresh memory, like the cache's), on a thread of the
// background reader's priority, so that on a busy machine both get the same share.
void BM_BareRead(benchmark::State &state, const std::string &kind) {
    const QString path = fileFor(kind);
    double total = 0;
    for (auto _ : state) {
        AudioFilePtr file = AudioFile::createForPath(path);
        const size_t n = size_t(file->length());
        float *buffer = static_cast<float *>(std::calloc(n, sizeof(float)));
        double t0 = 0;
        double t1 = 0;
        std::thread reader([&] {
            ThreadPriority::lowerCurrentThreadForBackgroundWork();
            t0 = now();
            size_t done = 0;
            while (done < n) {
                const unsigned want = unsigned(std::min<size_t>(4096, n - done));
                const int got = file->read(buffer + done, want);
                done += size_t(got);
                if (unsigned(got) < want)
                    break;
            }
            t1 = now();
        });
        reader.join();
        benchmark::DoNotOptimize(buffer[n - 1]);
        std::free(buffer);
        state.SetIterationTime(t1 - t0);
        total += t1 - t0;
    }
    state.SetBytesProcessed(state.iterations() * 2 * kFrames * int64_t(sizeof(float)));
    record(state, "bare_" + kind, total);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // The readers and the cache log one line per event; keep the benchmark output clean.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    // The FLAC reader prints its stream information to the standard error stream.
    if (std::getenv("BENCH_QUIET") && !std::freopen("/dev/null", "w", stderr))
        return 1;
    QTemporaryDir dir;
    g_dir = &dir;

    for (const std::string kind : {"wav", "flac"}) {
        benchmark::RegisterBenchmark(("OpenUntilLengthKnown/" + kind).c_str(), BM_OpenUntilLengthKnown, kind)
            ->UseManualTime()
            ->Iterations(10)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BareRead/" + kind).c_str(), BM_BareRead, kind)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BackgroundFill/" + kind).c_str(), BM_BackgroundFill, kind)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("SummaryBuild/" + kind).c_str(), BM_SummaryBuild, kind)
            ->UseManualTime()
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    for (const std::string kind : {"wav", "flac"}) {
        if (g_seconds.count("open_" + kind) && g_seconds.count("fill_" + kind))
            std::printf("%s: open until length known / full fill = %.2f%%\n", kind.c_str(),
                        100.0 * g_seconds["open_" + kind] / g_seconds["fill_" + kind]);
        if (g_seconds.count("bare_" + kind) && g_seconds.count("fill_" + kind))
            std::printf("%s: background fill / bare read = %.3fx\n", kind.c_str(),
                        g_seconds["fill_" + kind] / g_seconds["bare_" + kind]);
        if (g_seconds.count("summary_" + kind) && g_seconds.count("fill_" + kind))
            std::printf("%s: peak summary updates / full fill (which includes them) = %.2f%%\n", kind.c_str(),
                        100.0 * g_seconds["summary_" + kind] / g_seconds["fill_" + kind]);
    }
    benchmark::Shutdown();
    return 0;
}
