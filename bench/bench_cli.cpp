// quillory-cli as a process: slicing a folder of one-bar loops with two jobs against one,
// and the tempo of one track against the in-process read and estimate. Ratios of wall
// times measured in this run, each pair in turns.

#include "TempoEstimator.h"
#include "TempoFixtures.h"
#include "TestAudio.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>

namespace {
constexpr int kRate = 44100;

QTemporaryDir &tempDir() {
    static QTemporaryDir dir;
    return dir;
}

std::map<std::string, double> &seconds() {
    static std::map<std::string, double> s;
    return s;
}

// 100 one-bar drum loops at 120 BPM (two seconds each), each a little different.
QString loopFolder() {
    static QString folder;
    if (folder.isEmpty()) {
        folder = tempDir().filePath("loops");
        QDir().mkpath(folder);
        for (int i = 0; i < 100; ++i) {
            const std::vector<float> mono = TempoFixtures::drumPattern(120.0, 2.0, kRate, unsigned(i + 1));
            TestAudio::writeWav(
                QDir(folder).filePath(QString("loop%1.wav").arg(i, 3, 10, QLatin1Char('0'))), 2, kRate,
                (long long)mono.size(), [&mono](long long f, int) { return mono[size_t(f)]; }, false);
        }
    }
    return folder;
}

QString track() {
    static QString path;
    if (path.isEmpty()) {
        path = tempDir().filePath("drums-5min.wav");
        const std::vector<float> mono = TempoFixtures::drumPattern(124.0, 300.0, kRate, 7);
        TestAudio::writeWav(path, 2, kRate, (long long)mono.size(), [&mono](long long f, int) { return mono[size_t(f)]; },
                            false);
    }
    return path;
}

bool runCli(const QStringList &args) {
    QProcess p;
    p.start(QStringLiteral(QUILLORY_CLI_PATH), args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// Runs run once and adds its wall time to *total; false when it failed.
template <typename F> bool timeOnce(F &&run, double *total) {
    const auto start = std::chrono::steady_clock::now();
    if (!run())
        return false;
    *total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return true;
}

// Both sides of a ratio measured in turns (a b, b a, a b …) within one benchmark, so that
// what other programs do on a shared machine meanwhile weighs on both sides alike.
template <typename A, typename B>
void paired(benchmark::State &state, const std::string &nameA, A &&runA, const std::string &nameB, B &&runB) {
    double a = 0.0, b = 0.0;
    bool aFirst = true;
    for (auto _ : state) {
        const bool ok =
            aFirst ? timeOnce(runA, &a) && timeOnce(runB, &b) : timeOnce(runB, &b) && timeOnce(runA, &a);
        if (!ok) {
            state.SkipWithError("run failed");
            return;
        }
        aFirst = !aFirst;
    }
    seconds()[nameA] = a / double(state.iterations());
    seconds()[nameB] = b / double(state.iterations());
    state.counters["ratio"] = a > 0.0 ? b / a : 0.0;
}

void BM_SliceFolderJobs(benchmark::State &state) {
    const QString in = loopFolder();
    int round = 0;
    const auto slice = [&](int jobs) {
        const QString out = tempDir().filePath(QString("out-%1-%2").arg(jobs).arg(round++));
        return runCli({"slice", in, "--out", out, "--beats", "1", "--tempo", "120", "--jobs", QString::number(jobs)});
    };
    paired(
        state, "slice/1", [&] { return slice(1); }, "slice/2", [&] { return slice(2); });
}

// The in-process side is the tempo benchmark's read and estimate, on the same track.
bool readAndEstimate(const QString &path) {
    SF_INFO info{};
    SNDFILE *f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f)
        return false;
    TempoEstimator e(float(info.samplerate));
    float interleaved[512];
    float mono[256];
    sf_count_t frames;
    while ((frames = sf_readf_float(f, interleaved, 256)) > 0) {
        for (sf_count_t j = 0; j < frames; ++j)
            mono[j] = (interleaved[2 * j] + interleaved[2 * j + 1]) * 0.5f;
        e.process(mono, int(frames));
    }
    sf_close(f);
    return e.estimateTempo() > 0.0;
}

void BM_TempoProcessAndInProcess(benchmark::State &state) {
    const QString path = track();
    paired(
        state, "read+estimate", [&] { return readAndEstimate(path); }, "tempo process",
        [&] {
            return runCli({"tempo", path});
        });
}
} // namespace

BENCHMARK(BM_SliceFolderJobs)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TempoProcessAndInProcess)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const auto &s = seconds();
    const auto ratio = [&](const char *a, const char *b) {
        const auto x = s.find(a), y = s.find(b);
        return x == s.end() || y == s.end() || y->second <= 0.0 ? -1.0 : x->second / y->second;
    };
    std::printf("\nslice, 100 one-bar loops: --jobs 2 / --jobs 1 wall time = %.3f\n", ratio("slice/2", "slice/1"));
    std::printf("tempo, 5-minute track: process / in-process read+estimate = %.3f\n",
                ratio("tempo process", "read+estimate"));
    return 0;
}
