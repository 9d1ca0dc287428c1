// quillory-cli as a process: slicing a folder of one-bar loops with two jobs against one,
// and the tempo of one track against the in-process read and estimate. Ratios of wall
// times measured in this run.

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

template <typename F> void timed(benchmark::State &state, const std::string &what, F &&run) {
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (!run()) {
            state.SkipWithError("run failed");
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    seconds()[what] = total / double(state.iterations());
}

void BM_SliceFolder(benchmark::State &state) {
    const QString in = loopFolder();
    const int jobs = int(state.range(0));
    int round = 0;
    timed(state, "slice/" + std::to_string(jobs), [&] {
        const QString out = tempDir().filePath(QString("out-%1-%2").arg(jobs).arg(round++));
        return runCli({"slice", in, "--out", out, "--beats", "1", "--tempo", "120", "--jobs", QString::number(jobs)});
    });
}

void BM_TempoProcess(benchmark::State &state) {
    const QString path = track();
    timed(state, "tempo process", [&] { return runCli({"tempo", path}); });
}

// The same figure as the tempo benchmark's read and estimate, on the same track.
void BM_TempoInProcess(benchmark::State &state) {
    const QString path = track();
    timed(state, "read+estimate", [&] {
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
    });
}
} // namespace

BENCHMARK(BM_SliceFolder)->Arg(1)->Arg(2)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TempoInProcess)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TempoProcess)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

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
