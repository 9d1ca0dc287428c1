// sliceEvenly(64) with zero-crossing snapping on a 10-minute 48 kHz stereo loop, on
// ordinary audio and on audio with a DC offset (no crossing anywhere). The baseline is the
// same slicing with snapping off, on the same loop in the same run.
#include "Settings.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cmath>

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

void slice64(benchmark::State &state, const char *name, float dc, bool snap) {
    static QTemporaryDir dir;
    static QString paths[2];
    QString &path = paths[dc != 0.0f ? 1 : 0];
    if (path.isEmpty())
        path = writeLoop(dir, name, dc);
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
BENCHMARK(BM_SliceEvenly64_NoSnap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_Snap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_DcOffset_NoSnap)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SliceEvenly64_DcOffset_Snap)->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
