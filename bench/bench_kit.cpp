// Exporting a kit of the 64 slices of a 10-minute 48 kHz stereo loop, against the plain
// slice export of the same slices in the same run, same format, same fades. The kit adds
// the staging folder, the kit file, the MIDI file and the move into place; a Hydrogen
// kit also packs the samples into a compressed archive, on a second thread. Reported:
// the ratio of the clock times and, steadier on a busy machine, of the processor time
// of all threads (work_ratio).

#include "KitExporter.h"
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
#include <ctime>

namespace {

constexpr int kRate = 48000;
constexpr long long kFrames = 10LL * 60 * kRate;
constexpr int kSlices = 64;

QTemporaryDir *g_dir = nullptr;
SlicePtr g_loop;
QList<int> g_points;

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the whole process, every thread, user and system.
double processorTime() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void setUp() {
    if (g_loop)
        return;
    g_loop = LongLoop::writeAndLoad(g_dir->filePath("long.wav"), kRate, kFrames);
    g_loop->setBpm(120.0);
    for (int i = 1; i < kSlices; ++i)
        g_points.append(int(qint64(g_loop->length()) * i / kSlices) & ~1);
}

QString freshFolder(const char *name) {
    const QString folder = g_dir->filePath(QString::fromLatin1(name));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

double plainExport(const QString &folder) {
    SliceExporter exporter(g_loop);
    exporter.setCollision(SliceExporter::Collision::Overwrite);
    exporter.addSlices(SliceExporter::sliceRanges(g_points, 0, g_loop->length()), folder,
                       QStringLiteral("long"));
    const double t0 = now();
    if (exporter.run() != SliceExporter::Status::Completed) {
        std::fprintf(stderr, "export failed: %s\n", qPrintable(exporter.errorMessage()));
        std::exit(1);
    }
    return now() - t0;
}

double kitExport(const QString &folder, KitExporter::Kind kind) {
    KitExporter::Options options;
    options.kind = kind;
    options.folder = folder;
    options.name = QStringLiteral("long");
    options.overwrite = true;
    QString error;
    const double t0 = now();
    if (KitExporter::exportKit(g_loop, g_points, 0, g_loop->length(), options, &error) !=
        SliceExporter::Status::Completed) {
        std::fprintf(stderr, "kit export failed: %s\n", qPrintable(error));
        std::exit(1);
    }
    return now() - t0;
}

void runKit(benchmark::State &state, KitExporter::Kind kind) {
    setUp();
    const QString plain = freshFolder("plain");
    const QString kit = freshFolder("kit");
    double kitSeconds = 0.0;
    double plainSeconds = 0.0;
    double kitWork = 0.0;
    double plainWork = 0.0;
    for (auto _ : state) {
        const double w0 = processorTime();
        const double p = plainExport(plain);
        const double w1 = processorTime();
        const double t = kitExport(kit, kind);
        plainWork += w1 - w0;
        kitWork += processorTime() - w1;
        plainSeconds += p;
        kitSeconds += t;
        state.SetIterationTime(t);
    }
    state.counters["ratio_to_slice_export"] = kitSeconds / plainSeconds;
    // Processor time, all threads: what the kit costs beyond the slice export even where
    // a second thread hides it from the clock, and less swayed by a busy machine.
    state.counters["work_ratio"] = kitWork / plainWork;
    state.counters["slice_export_s"] = plainSeconds / double(state.iterations());
}

void BM_Kit64SlicesSfz(benchmark::State &state) {
    runKit(state, KitExporter::Kind::Sfz);
}
void BM_Kit64SlicesDecentSampler(benchmark::State &state) {
    runKit(state, KitExporter::Kind::DecentSampler);
}
void BM_Kit64SlicesHydrogen(benchmark::State &state) {
    runKit(state, KitExporter::Kind::Hydrogen);
}

BENCHMARK(BM_Kit64SlicesSfz)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Kit64SlicesDecentSampler)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Kit64SlicesHydrogen)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QTemporaryDir dir(qEnvironmentVariableIsSet("QUILLORY_TEST_TMP")
                          ? qEnvironmentVariable("QUILLORY_TEST_TMP") + "/bench_kit-XXXXXX"
                          : QDir::tempPath() + "/bench_kit-XXXXXX");
    g_dir = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_loop.reset();
    return 0;
}
