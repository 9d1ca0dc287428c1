// Tempo estimation on long tracks, against two peer tools on the same files in the same
// run: `aubio tempo FILE` and `soundstretch FILE -bpm`. Every figure is reported as a
// fraction of the audio's duration and as a ratio to the peers.

#include "TempoEstimator.h"
#include "TempoFixtures.h"
#include "TempoReference.h"
#include "TestAudio.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kRate = 44100;

struct Track {
    QString path;
    std::vector<float> mono;
    double seconds = 0.0;
};

QTemporaryDir &tempDir() {
    static QTemporaryDir dir;
    return dir;
}

// A drum pattern at 124 BPM with a tempo nudge every minute, so the track is not one
// loop repeated bit for bit; written as 16-bit stereo WAV like a typical file.
const Track &track(int minutes) {
    static std::map<int, std::unique_ptr<Track>> tracks;
    auto &slot = tracks[minutes];
    if (!slot) {
        slot.reset(new Track);
        for (int m = 0; m < minutes; ++m) {
            const std::vector<float> part =
                TempoFixtures::drumPattern(124.0 + (m % 3) * 0.25, 60.0, kRate, m + 1);
            slot->mono.insert(slot->mono.end(), part.begin(), part.end());
        }
        slot->seconds = static_cast<double>(slot->mono.size()) / kRate;
        slot->path = tempDir().filePath(QString("drums-%1min.wav").arg(minutes));
        const std::vector<float> &mono = slot->mono;
        TestAudio::writeWav(
            slot->path, 2, kRate, static_cast<long long>(mono.size()),
            [&mono](long long f, int) { return mono[static_cast<size_t>(f)]; }, false);
    }
    return *slot;
}

struct Measure {
    double secondsPerRun = 0.0;
    QString tempo;
};
std::map<std::string, Measure> &results() {
    static std::map<std::string, Measure> r;
    return r;
}

std::string key(const char *what, int minutes) {
    return std::string(what) + "/" + std::to_string(minutes);
}

template <typename F> void timed(benchmark::State &state, const char *what, const Track &t, F &&run) {
    QString tempo;
    double total = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        tempo = run();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const double perRun = total / static_cast<double>(state.iterations());
    results()[key(what, static_cast<int>(state.range(0)))] = {perRun, tempo};
    state.counters["of_duration"] = perRun / t.seconds;
    state.SetLabel(tempo.toStdString());
}

// The detector's path: 512 interleaved samples per block become 256 mono samples.
double estimateMono(const std::vector<float> &mono) {
    TempoEstimator e(static_cast<float>(kRate));
    for (size_t i = 0; i < mono.size(); i += 256)
        e.process(mono.data() + i, static_cast<int>(std::min<size_t>(256, mono.size() - i)));
    return e.estimateTempo();
}

void BM_Estimate(benchmark::State &state) {
    const Track &t = track(static_cast<int>(state.range(0)));
    timed(state, "estimate", t, [&] { return QString::number(estimateMono(t.mono), 'f', 2); });
}

// Reading the WAV with libsndfile included, as the command-line tools must.
void BM_ReadAndEstimate(benchmark::State &state) {
    const Track &t = track(static_cast<int>(state.range(0)));
    timed(state, "read+estimate", t, [&] {
        SF_INFO info{};
        SNDFILE *f = sf_open(t.path.toLocal8Bit().constData(), SFM_READ, &info);
        if (!f)
            return QString("open failed");
        TempoEstimator e(static_cast<float>(info.samplerate));
        float interleaved[512];
        float mono[256];
        sf_count_t frames;
        while ((frames = sf_readf_float(f, interleaved, 256)) > 0) {
            for (sf_count_t j = 0; j < frames; ++j)
                mono[j] = (interleaved[2 * j] + interleaved[2 * j + 1]) * 0.5f;
            e.process(mono, static_cast<int>(frames));
        }
        sf_close(f);
        return QString::number(e.estimateTempo(), 'f', 2);
    });
}

QString runTool(const QString &program, const QStringList &args, const QRegularExpression &bpm) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(-1))
        return "not installed";
    p.waitForFinished(-1);
    const QString out = QString::fromLocal8Bit(p.readAll());
    const QRegularExpressionMatch m = bpm.match(out);
    return m.hasMatch() ? m.captured(1) : QString("no tempo");
}

void BM_AubioTempo(benchmark::State &state) {
    const Track &t = track(static_cast<int>(state.range(0)));
    static const QRegularExpression bpm("([0-9.]+) bpm");
    timed(state, "aubio tempo", t, [&] { return runTool("aubio", {"tempo", t.path}, bpm); });
}

void BM_SoundStretchBpm(benchmark::State &state) {
    const Track &t = track(static_cast<int>(state.range(0)));
    static const QRegularExpression bpm("Detected BPM rate ([0-9.]+)");
    timed(state, "soundstretch -bpm", t, [&] { return runTool("soundstretch", {t.path, "-bpm"}, bpm); });
}

// ---------------------------------------------------------------- accuracy

struct Tally {
    int right = 0;  // within 2% of the tempo
    int octave = 0; // within 2% of its half or double
    int wrong = 0;  // anything else, no tempo included
    void add(double found, double bpm) {
        auto near = [&](double x) { return std::fabs(found / (bpm * x) - 1.0) < 0.02; };
        if (near(1.0))
            ++right;
        else if (near(0.5) || near(2.0))
            ++octave;
        else
            ++wrong;
    }
};

// Plain click tracks, waltzes and drum patterns from 56 to 188 BPM: the comb alone (the
// plain model), the estimator with its beat check, and the two peer tools on the same files.
void accuracyReport() {
    const QStringList sets{"clicks", "waltz", "drums"};
    const QStringList who{"comb alone", "Quillory", "aubio tempo", "soundstretch -bpm"};
    static const QRegularExpression aubioBpm("([0-9.]+) bpm");
    static const QRegularExpression stretchBpm("Detected BPM rate ([0-9.]+)");
    std::printf("\nTempo accuracy, 20-second %d Hz files, 56 to 188 BPM in steps of 4: right (within 2%%)"
                " / half or double / wrong\n",
                kRate);
    for (const QString &set : sets) {
        std::vector<Tally> tally(who.size());
        for (int bpm = 56; bpm <= 188; bpm += 4) {
            const std::vector<float> s = set == "clicks"  ? TempoFixtures::clickTrain(bpm, 20.0, kRate)
                                         : set == "waltz" ? TempoFixtures::accentedClicks(bpm, 20.0, kRate, 3)
                                                          : TempoFixtures::drumPattern(bpm, 20.0, kRate, bpm);
            tally[0].add(ReferenceTempo::estimate(s, static_cast<float>(kRate)).tempo, bpm);
            tally[1].add(estimateMono(s), bpm);
            const QString path = tempDir().filePath(QString("%1-%2.wav").arg(set).arg(bpm));
            TestAudio::writeWav(
                path, 1, kRate, static_cast<long long>(s.size()),
                [&s](long long f, int) { return s[static_cast<size_t>(f)]; }, false);
            tally[2].add(runTool("aubio", {"tempo", path}, aubioBpm).toDouble(), bpm);
            tally[3].add(runTool("soundstretch", {path, "-bpm"}, stretchBpm).toDouble(), bpm);
            QFile::remove(path);
        }
        for (int i = 0; i < who.size(); ++i)
            std::printf("  %-7s %-18s %2d / %2d / %2d\n", qPrintable(set), qPrintable(who[i]), tally[i].right,
                        tally[i].octave, tally[i].wrong);
    }
}

} // namespace

BENCHMARK(BM_Estimate)->Arg(5)->Arg(10)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadAndEstimate)->Arg(5)->Arg(10)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AubioTempo)->Arg(5)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SoundStretchBpm)->Arg(5)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    // --accuracy-only: the accuracy table without the timings.
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--accuracy-only") {
            accuracyReport();
            return 0;
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    // The speed must not come from computing something else: the vectorised estimator and
    // the plain scalar model agree bit for bit on every candidate of the 5-minute track.
    {
        const Track &t = track(5);
        TempoEstimator e(static_cast<float>(kRate));
        for (size_t i = 0; i < t.mono.size(); i += 256)
            e.process(t.mono.data() + i, static_cast<int>(std::min<size_t>(256, t.mono.size() - i)));
        e.estimateTempo();
        const ReferenceTempo::Result ref = ReferenceTempo::estimate(t.mono, static_cast<float>(kRate));
        std::printf("\n5-minute track: %zu candidates, identical to the plain model: %s\n",
                    ref.candidates.size(), ref.candidates == e.candidates() ? "yes" : "NO");
    }

    std::printf("\nTempo of a %d Hz drum track (124 BPM): time as a fraction of the audio's duration,"
                " and ratio to the peers (below 1 = faster)\n",
                kRate);
    for (int minutes : {5, 10}) {
        const auto &r = results();
        auto get = [&](const char *what) {
            auto it = r.find(key(what, minutes));
            return it == r.end() ? Measure{} : it->second;
        };
        const Measure aubio = get("aubio tempo");
        const Measure stretch = get("soundstretch -bpm");
        for (const char *what : {"estimate", "read+estimate", "aubio tempo", "soundstretch -bpm"}) {
            const Measure m = get(what);
            if (m.secondsPerRun <= 0.0)
                continue;
            std::printf("  %2d min  %-18s %9.4f s  %.6f of duration", minutes, what, m.secondsPerRun,
                        m.secondsPerRun / (minutes * 60.0));
            if (aubio.secondsPerRun > 0.0)
                std::printf("  %.4f x aubio", m.secondsPerRun / aubio.secondsPerRun);
            if (stretch.secondsPerRun > 0.0)
                std::printf("  %.4f x soundstretch", m.secondsPerRun / stretch.secondsPerRun);
            std::printf("  tempo %s\n", qPrintable(m.tempo));
        }
    }
    accuracyReport();
    return 0;
}
