// Exporting the 64 slices of a 10-minute 48 kHz stereo loop, against a bare libsndfile
// write of the same 64 spans from one buffer in memory, in the same run and at the same
// bit depth. The exporter adds reading the cache in blocks, the temporary-file-and-rename
// step per file and, in the resampled case, the Speex resampler.

#include "LongLoop.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceExporter.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr long long kFrames = 10LL * 60 * kRate;
constexpr int kSlices = 64;

QTemporaryDir *g_dir = nullptr;
SlicePtr g_loop;
std::vector<float> g_audio; // the whole loop, for the baseline
QVector<SliceExporter::Range> g_ranges;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void setUp() {
    if (g_loop)
        return;
    g_loop = LongLoop::writeAndLoad(g_dir->filePath("long.wav"), kRate, kFrames);
    g_audio.resize(size_t(g_loop->length()));
    g_loop->cache()->readSamples(g_audio.data(), unsigned(g_audio.size()), 0);
    QList<int> points;
    for (int i = 1; i < kSlices; ++i)
        points.append(int(qint64(g_loop->length()) * i / kSlices) & ~1);
    g_ranges = SliceExporter::sliceRanges(points, 0, g_loop->length());
}

QString freshFolder(const char *name) {
    const QString folder = g_dir->filePath(QString::fromLatin1(name));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

// The baseline: each span written straight from memory with libsndfile.
double bareWrite(const QString &folder) {
    const double t0 = now();
    for (int i = 0; i < g_ranges.size(); ++i) {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        const QString path = QDir(folder).filePath(QStringLiteral("bare_%1.wav").arg(i));
        SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        const SliceExporter::Range r = g_ranges.at(i);
        sf_writef_float(f, g_audio.data() + r.start, (r.end - r.start) / 2);
        sf_close(f);
    }
    return now() - t0;
}

double exportOnce(const QString &folder, int rate) {
    SliceExporter exporter(g_loop);
    ExportFormat format;
    format.bitDepth = 16;
    format.sampleRate = rate;
    exporter.setFormat(format);
    exporter.setFadeEdges(false);
    exporter.setCollision(SliceExporter::Collision::Overwrite);
    exporter.addSlices(g_ranges, folder, QStringLiteral("long"));
    const double t0 = now();
    if (exporter.run() != SliceExporter::Status::Completed) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(exporter.errorMessage()));
        std::exit(1);
    }
    return now() - t0;
}

void runExport(benchmark::State &state, int rate) {
    setUp();
    const QString bare = freshFolder("bare");
    const QString exported = freshFolder("exported");
    double exportSeconds = 0.0;
    double bareSeconds = 0.0;
    for (auto _ : state) {
        bareSeconds += bareWrite(bare);
        const double t = exportOnce(exported, rate);
        exportSeconds += t;
        state.SetIterationTime(t);
    }
    state.counters["ratio_to_bare_write"] = exportSeconds / bareSeconds;
    state.counters["bare_write_s"] = bareSeconds / double(state.iterations());
}

void BM_Export64SlicesOriginalRate(benchmark::State &state) {
    runExport(state, 0);
}
void BM_Export64SlicesResampledTo44100(benchmark::State &state) {
    runExport(state, 44100);
}

BENCHMARK(BM_Export64SlicesOriginalRate)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Export64SlicesResampledTo44100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QTemporaryDir dir(qEnvironmentVariableIsSet("QUILLORY_TEST_TMP")
                          ? qEnvironmentVariable("QUILLORY_TEST_TMP") + "/bench_export-XXXXXX"
                          : QDir::tempPath() + "/bench_export-XXXXXX");
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_loop.reset();
    return 0;
}
