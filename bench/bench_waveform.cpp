// A full redraw of a ten-minute 48 kHz stereo loop in a 1920-pixel view, at device pixel
// ratio 1 and 2: the waveform renderer as it is (every column from the loop's min/max
// summary) against the renderer it replaced (a column from at most 16 frames read at
// even steps), both in the same run on the same loaded loop, interleaved render by
// render so that the machine's load falls on both alike. Reported as the median time of
// each and the median of their ratios pair by pair (current / reference).
//
// Runs on any Qt platform; without a display it picks the offscreen one (nothing is
// shown: the renderers draw into pixmaps).

#include "AudioCache.h"
#include "SampleRenderer.h"
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPainter>
#include <QPixmap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kLength = 10 * 60 * kRate * 2;
constexpr int kWidth = 1920;
constexpr int kHeight = 200;

// The same decaying hits over a slow swell as the views' long-loop test uses.
SlicePtr longLoop() {
    static QTemporaryDir dir;
    static SlicePtr loop;
    if (loop)
        return loop;
    const QString path = dir.filePath("long.wav");
    const long long beat = kRate / 4;
    TestAudio::writeWav(
        path, 2, kRate, kLength / 2,
        [beat](long long f, int c) {
            const double t = double(f % beat) / kRate;
            const double v = 0.8 * std::exp(-t * 18.0) * std::sin(2.0 * M_PI * 110.0 * t) +
                             0.05 * std::sin(2.0 * M_PI * 3.0 * double(f) / kRate);
            return float(c == 0 ? v : 0.9 * v);
        },
        false);
    loop = Slice::create(path, kRate);
    while (!loop->isLoadingComplete()) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    return loop;
}

// The waveform renderer of the views, at a chosen device pixel ratio and without a
// window. Each render starts from a dropped pixmap, as the first paint after a resize.
class CurrentRenderer : public SampleRenderer {
public:
    CurrentRenderer(const SlicePtr &loop, double ratio) : SampleRenderer(nullptr, loop) {
        m_fDevicePixelRatio = ratio;
        resize(kWidth, kHeight);
        setViewPosition(0, loop->length());
    }
    void render() {
        delete m_pWaveformPixmap;
        m_pWaveformPixmap = nullptr;
        renderWaveform();
    }
    const QPixmap *pixmap() const { return m_pWaveformPixmap; }
};

// Reference only: the renderer the views used before the min/max summary, kept here as
// the baseline of this benchmark. Each column reads at most 16 evenly spaced frames of
// its span through the cache's per-sample read and shows the larger of their extremes;
// zoomed out the mirrored bars are written into the pixels of a reused image, zoomed in
// a connected line is stroked with QPainter.
class SampledColumnsReference {
public:
    SampledColumnsReference(SlicePtr loop, double ratio) : m_loop(std::move(loop)), m_ratio(ratio) {}

    void render(int viewStart, int viewEnd) {
        QMutexLocker locker(&m_pixmapMutex);
        QSharedPointer<AudioCache> cache = m_loop->cache();
        const int length = m_loop->length();
        if (!cache || length <= 0)
            return;

        m_pixmap.reset(new QPixmap(std::max(int(kWidth * m_ratio), 1), std::max(int(kHeight * m_ratio), 1)));
        const double H = m_pixmap->height();
        const double E = H * 0.5;

        double spp = double(viewEnd - viewStart) / m_pixmap->width();
        if (spp < 0)
            spp = 0;

        const bool barMode = spp > 256;
        if (barMode) {
            if (m_image.size() != m_pixmap->size())
                m_image = QImage(m_pixmap->size(), QImage::Format_ARGB32_Premultiplied);
            m_image.fill(Qt::transparent);
        } else {
            m_image = QImage();
            m_pixmap->fill(Qt::transparent);
        }
        QPainter painter(m_pixmap.get());
        if (spp < 256) {
            painter.setPen(QColor(64, 64, 64));
            painter.drawLine(QPointF(0, H / 2), QPointF(m_pixmap->width(), H / 2));
        }
        painter.setPen(QPen(QColor(140, 247, 0), 1));

        const int last = std::min(viewEnd, length) - 1;
        double p = viewStart & ~1;
        constexpr double kFramesPerColumn = 16.0;
        const double frameStep = std::max(1.0, spp * 0.5 / kFramesPerColumn);
        const double span = std::ceil(spp);
        const double advance = spp > 0 ? spp : 1.0;
        const int columns = m_pixmap->width();
        const double scale = H * 0.5;

        QVector<QLineF> lines;
        lines.reserve(columns + 1);
        double previousP = 0.0;
        bool first = true;
        for (int x = 0; last > p && x <= columns; ++x) {
            const double t = std::min(p + span, double(last));
            double minimum = 1.0;
            double maximum = 0.0;
            for (double f = std::floor(p * 0.5);; f += frameStep) {
                const int i = int(f) * 2;
                if (i >= t)
                    break;
                const double left = cache->getSample(i) * scale;
                const double right = i + 1 <= last ? cache->getSample(i + 1) * scale : left;
                minimum = std::min(minimum, std::min(left, right));
                maximum = std::max(maximum, std::max(left, right));
            }
            const double peak = std::abs(maximum) > std::abs(minimum) ? maximum : minimum;
            if (barMode) {
                fillBar(x, E, peak);
            } else {
                if (first)
                    previousP = peak;
                lines.append(QLineF(x > 0 ? x - 1 : 0, E + previousP, x, E + peak));
                previousP = peak;
                first = false;
            }
            p += advance;
        }
        painter.drawLines(lines);
        painter.end();
        if (barMode)
            m_pixmap->convertFromImage(m_image);
    }

    const QPixmap *pixmap() const { return m_pixmap.get(); }

private:
    // One column of the bar display: the pixels from E - |peak| to E + |peak|, or a
    // two-pixel dash on the centre line for a silent column.
    void fillBar(int x, double centre, double peak) {
        static const QRgb colour = qRgb(140, 247, 0);
        const int width = m_image.width();
        const int height = m_image.height();
        if (x < 0 || x >= width || height <= 0)
            return;
        if (peak == 0) {
            const int y = std::min(std::max(int(centre), 0), height - 1);
            QRgb *row = reinterpret_cast<QRgb *>(m_image.scanLine(y));
            row[x] = colour;
            if (x + 1 < width)
                row[x + 1] = colour;
            return;
        }
        const double extent = std::abs(peak);
        const int top = std::max(int(std::lround(centre - extent)), 0);
        const int bottom = std::min(int(std::lround(centre + extent)), height - 1);
        uchar *bits = m_image.bits();
        const qsizetype stride = m_image.bytesPerLine();
        for (int y = top; y <= bottom; ++y)
            reinterpret_cast<QRgb *>(bits + y * stride)[x] = colour;
    }

    SlicePtr m_loop;
    double m_ratio;
    QMutex m_pixmapMutex;
    std::unique_ptr<QPixmap> m_pixmap;
    QImage m_image;
};

double median(std::vector<double> values) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Argument: the device pixel ratio.
void BM_WholeLoopRedraw(benchmark::State &state) {
    const double ratio = double(state.range(0));
    SlicePtr loop = longLoop();
    if (loop->length() != kLength) {
        state.SkipWithError("the ten-minute loop did not load");
        for (auto _ : state) {
        }
        return;
    }
    CurrentRenderer current(loop, ratio);
    SampledColumnsReference reference(loop, ratio);
    // One untimed render of each: the pixel buffers and the loop's pages are warm for both.
    current.render();
    reference.render(0, loop->length());
    if (!current.pixmap() || !reference.pixmap() || current.pixmap()->width() != int(kWidth * ratio) ||
        reference.pixmap()->width() != int(kWidth * ratio)) {
        state.SkipWithError("a renderer drew no pixmap of the view's width");
        for (auto _ : state) {
        }
        return;
    }

    std::vector<double> currentMs;
    std::vector<double> referenceMs;
    std::vector<double> ratios;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        current.render();
        const double c = double(timer.nsecsElapsed()) / 1.0e6;
        timer.restart();
        reference.render(0, loop->length());
        const double r = double(timer.nsecsElapsed()) / 1.0e6;
        currentMs.push_back(c);
        referenceMs.push_back(r);
        if (r > 0.0)
            ratios.push_back(c / r);
        state.SetIterationTime(c / 1000.0);
    }
    state.counters["dpr"] = ratio;
    state.counters["current_ms"] = median(currentMs);
    state.counters["reference_ms"] = median(referenceMs);
    // Of the pairs rendered back to back, so that a burst of load falls on both halves.
    state.counters["ratio"] = median(ratios);
}
BENCHMARK(BM_WholeLoopRedraw)->Arg(1)->Arg(2)->Iterations(200)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    Settings::instance().set("snap_to_zero_crossings", "0");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
