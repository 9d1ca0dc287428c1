#include "SampleRenderer.h"

#include "AudioCache.h"
#include "EditableAudioCache.h"
#include "PeakSummary.h"
#include "Slice.h"
#include "UiLogging.h"

#include <QGuiApplication>
#include <QLinearGradient>
#include <QLoggingCategory>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Paint events arrive many times a second while a loop plays; their trace is off unless
// asked for with QT_LOGGING_RULES="quillory.views.paint.debug=true".
Q_LOGGING_CATEGORY(lcViewPaint, "quillory.views.paint", QtInfoMsg)

SampleRenderer::SampleRenderer(QWidget *parent, QSharedPointer<Slice> loop)
    : QOpenGLWidget(parent), m_pixmapMutex(QMutex::Recursive),
      m_fDevicePixelRatio(qApp ? qApp->devicePixelRatio() : 1.0) {
    m_pSlice = loop;
    connectLoop();
    resetView();
    // About the display's refresh rate; a tick that finds the position unchanged costs nothing.
    m_playPositionTimer.setInterval(16);
    connect(&m_playPositionTimer, &QTimer::timeout, this, &SampleRenderer::pollPlayPosition);
    m_playPositionTimer.start();
}

void SampleRenderer::pollPlayPosition() {
    if (m_pSlice && isVisible() && m_pSlice->shownPlayPosition() != m_iPaintedPlayPos)
        update();
}

SampleRenderer::~SampleRenderer() {
    QMutexLocker locker(&m_pixmapMutex);
    delete m_pWaveformPixmap;
    delete m_pBackgroundPixmap;
}

int SampleRenderer::loopLength() const {
    return m_pSlice ? m_pSlice->length() : 0;
}

void SampleRenderer::connectLoop() {
    if (m_pSlice) {
        connect(m_pSlice.data(), &Slice::lengthChanged, this, &SampleRenderer::resetView,
                Qt::UniqueConnection);
        connect(m_pSlice.data(), &Slice::playPosChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update), Qt::UniqueConnection);
    }
}

void SampleRenderer::setSlice(QSharedPointer<Slice> loop) {
    if (m_pSlice && m_pSlice != loop)
        disconnect(m_pSlice.data(), nullptr, this, nullptr);
    if (m_pConnectedCache && (!loop || loop->cache().data() != m_pConnectedCache.data())) {
        disconnect(m_pConnectedCache.data(), nullptr, this, nullptr);
        m_pConnectedCache.clear();
    }
    m_pSlice = loop;
    connectLoop();
    resetView();
    setWaveformDirty(true);
    update();
}

void SampleRenderer::resetView() {
    if (m_pSlice) {
        const int length = m_pSlice->length();
        if (iViewStartSampleIdx != 0 && iViewEndSampleIdx > kMinimumViewSamples) {
            iViewStartSampleIdx = 0;
            setWaveformDirty(true);
            update();
            emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
        }
        // A loop shorter than the minimum window is still shown whole.
        if (iViewEndSampleIdx != length &&
            (length - iViewStartSampleIdx > kMinimumViewSamples || length <= kMinimumViewSamples)) {
            if (length <= kMinimumViewSamples)
                iViewStartSampleIdx = 0;
            iViewEndSampleIdx = length;
            setWaveformDirty(true);
            update();
            emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
        }

        // Connected once per cache, not once per length change; a loop that enters edit
        // mode gets a new cache, which is connected in its place.
        QSharedPointer<AudioCache> cache = m_pSlice->cache();
        if (cache.data() != m_pConnectedCache.data()) {
            if (m_pConnectedCache)
                disconnect(m_pConnectedCache.data(), nullptr, this, nullptr);
            m_pConnectedCache = cache.data();
            if (cache) {
                connect(cache.data(), &AudioCache::fillProgress, this,
                        &SampleRenderer::setWaveformDirtyAndRepaint);
                connect(cache.data(), &AudioCache::lengthChanged, this,
                        &SampleRenderer::setWaveformDirtyAndRepaint);
            }
        }
        m_iSampleRate = m_pSlice->fileSampleRate();
        if (m_iSampleRate <= 0)
            m_iSampleRate = 44100;
    }
    qCDebug(lcUi) << (isValid() ? "SampleRenderer is valid" : "SampleRenderer is not valid");
}

void SampleRenderer::setViewPosition(long start, long end) {
    iViewStartSampleIdx = int(std::max(start, 0L));
    iViewEndSampleIdx = int(end);
    if (m_pSlice)
        iViewEndSampleIdx = int(std::min(end, long(m_pSlice->length())));
    setWaveformDirty(true);
    update();
}

void SampleRenderer::setWaveformDirtyAndRepaint() {
    setWaveformDirty(true);
    update();
}

bool SampleRenderer::applyViewStart(int start, bool emitSignal) {
    if (start == iViewStartSampleIdx || iViewEndSampleIdx - start <= kMinimumViewSamples)
        return false;
    iViewStartSampleIdx = start;
    setWaveformDirty(true);
    update();
    if (emitSignal)
        emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
    return true;
}

bool SampleRenderer::applyViewEnd(int end, bool emitSignal) {
    if (end == iViewEndSampleIdx || end - iViewStartSampleIdx <= kMinimumViewSamples)
        return false;
    iViewEndSampleIdx = end;
    setWaveformDirty(true);
    update();
    if (emitSignal)
        emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
    return true;
}

void SampleRenderer::setViewStart(int start, bool emitSignal) {
    applyViewStart(start, emitSignal);
}

void SampleRenderer::setViewEnd(int end, bool emitSignal) {
    applyViewEnd(end, emitSignal);
}

void SampleRenderer::setWaveformDirty(bool dirty) {
    m_bWaveformDirty = dirty;
    if (m_pSlice) {
        const int length = m_pSlice->length();
        if (length < iViewEndSampleIdx && length - iViewStartSampleIdx > kMinimumViewSamples) {
            iViewEndSampleIdx = length;
            m_bWaveformDirty = true;
            update();
            emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
        }
    }
}

void SampleRenderer::setBackgroundColor(QColor color) {
    m_backgroundColor = color;
    m_bBackgroundDirty = true;
}

double SampleRenderer::sampleToPixel(int sample) const {
    const int span = iViewEndSampleIdx - iViewStartSampleIdx;
    if (!m_pSlice || span <= 0)
        return 0.0;
    return width() * (double(sample) - iViewStartSampleIdx) / span;
}

int SampleRenderer::pixelToSample(int x) const {
    if (!m_pSlice || x < 0 || width() <= 0)
        return 0;
    const double span = double(iViewEndSampleIdx) - iViewStartSampleIdx;
    const long long sample = iViewStartSampleIdx + (long long)std::floor(double(x) / width() * span);
    const int length = m_pSlice->length();
    if (sample > length)
        return std::max(length - 4, 0);
    return int(sample);
}

float SampleRenderer::pixelToSeconds(int x) const {
    return float(pixelToSample(x)) / float(m_iSampleRate * 2);
}

double SampleRenderer::secondsToPixel(float seconds) const {
    return sampleToPixel(int(double(m_iSampleRate) * seconds * 2.0));
}

double SampleRenderer::pixelToLoopFraction(int x) const {
    if (!m_pSlice || x < 0 || width() <= 0)
        return 0.0;
    const double length = m_pSlice->length();
    if (length <= 0)
        return 0.0;
    const double fraction =
        double(x) / width() * (iViewEndSampleIdx / length - iViewStartSampleIdx / length) +
        iViewStartSampleIdx / length;
    return std::min(fraction, 1.0);
}

float SampleRenderer::zoomFactor() const {
    const int span = iViewEndSampleIdx - iViewStartSampleIdx;
    if (!m_pSlice || span <= 0)
        return 1.0f;
    return float(m_pSlice->length()) / float(span);
}

double SampleRenderer::samplesPerPixel() const {
    // The exact window width per pixel: a truncated loop-length-per-pixel term would give
    // 0 for a loop narrower than the widget, which turns every drag distance into nothing.
    if (width() <= 0)
        return 0.0;
    return double(iViewEndSampleIdx - iViewStartSampleIdx) / width();
}

int SampleRenderer::drawingX(int sample) const {
    const double limit = 4.0 * std::max(width(), 1);
    return int(std::max(-limit, std::min(sampleToPixel(sample), limit + width())));
}

void SampleRenderer::wheelEvent(QWheelEvent *event) {
    if (!m_pSlice) {
        event->ignore();
        return;
    }
    const QPoint angle = event->angleDelta();
    const bool horizontal = std::abs(angle.x()) > std::abs(angle.y());
    const int d = horizontal ? angle.x() : angle.y();
    const int length = m_pSlice->length();
    const int w = iViewEndSampleIdx - iViewStartSampleIdx;
    long long newStart = iViewStartSampleIdx;
    long long newEnd = iViewEndSampleIdx;

    if (horizontal) {
        const float shift = -d / 120.0f * 0.15f * float(w);
        newStart = std::max<long long>((long long)(iViewStartSampleIdx + shift), 0);
        newEnd = std::min<long long>((long long)(iViewEndSampleIdx + shift), length);
    } else if (d != 0) {
        const double factor = std::exp(d / 120.0 * 0.25);
        const int newWidth = int((1.0 / factor) * w);
        const int l = (newWidth - w) / 2;
        const double mouseX = std::trunc(event->position().x());
        const double anchor =
            iViewStartSampleIdx + w * (d < 0 ? 0.5 : std::trunc(mouseX) / std::max(width(), 1));
        const long long o =
            (long long)((std::trunc(anchor) - w / 2 - iViewStartSampleIdx) * (d / 120.0 * 0.2));
        newEnd = std::min<long long>((long long)iViewEndSampleIdx + l + o, length);
        newStart = std::max<long long>((long long)iViewStartSampleIdx + o - l, 0);
    }

    if (newEnd - newStart > kMinimumViewSamples) {
        // A valid window is taken whole. Edge by edge, a scroll at the deepest zoom would
        // test the moved start against the old end, refuse it and only widen the window.
        if (newStart != iViewStartSampleIdx || newEnd != iViewEndSampleIdx) {
            iViewStartSampleIdx = int(newStart);
            iViewEndSampleIdx = int(newEnd);
            emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
        }
    } else {
        applyViewStart(int(newStart), true);
        applyViewEnd(int(newEnd), true);
    }
    event->accept();
    setWaveformDirty(true);
    update();
}

void SampleRenderer::initializeGL() {
    m_gl.initializeOpenGLFunctions();
    QOpenGLWidget::initializeGL();
}

void SampleRenderer::resizeGL(int w, int h) {
    {
        QMutexLocker locker(&m_pixmapMutex);
        delete m_pWaveformPixmap;
        m_pWaveformPixmap = nullptr;
        delete m_pBackgroundPixmap;
        m_pBackgroundPixmap = nullptr;
        m_bWaveformDirty = true;
        m_bBackgroundDirty = true;
    }
    if (context() && context()->isValid())
        QOpenGLWidget::resizeGL(w, h);
}

void SampleRenderer::paintGL() {
    QPainter painter(this);
    paintView(&painter);
}

void SampleRenderer::paintView(QPainter *painter) {
    paintLayers(painter);
}

void SampleRenderer::drawBackground() {
    QMutexLocker locker(&m_pixmapMutex);
    if (!m_pBackgroundPixmap)
        m_pBackgroundPixmap = new QPixmap(std::max(width(), 1), std::max(height(), 1));
    m_pBackgroundPixmap->fill(m_backgroundColor.isValid() ? m_backgroundColor : QColor(Qt::black));
    QPainter painter(m_pBackgroundPixmap);
    QLinearGradient gradient(QPointF(100, 100), QPointF(100, height()));
    gradient.setColorAt(0, Qt::black);
    gradient.setColorAt(1, QColor(80, 80, 80));
    gradient.setSpread(QGradient::PadSpread);
    painter.fillRect(m_pBackgroundPixmap->rect(), gradient);
    m_bBackgroundDirty = false;
}

namespace {

const QRgb kWaveColour = qRgb(140, 247, 0);
const QRgb kCentreColour = qRgb(64, 64, 64);

// Writes the column runs row by row: a tall run per column written column-wise touches
// a different cache line (and often page) for every pixel.
// Writes every pixel of the image once, row by row: colour inside each column's run from
// its top to its bottom, transparent elsewhere (an empty run has its top below its
// bottom). One streaming pass over the image costs less than clearing it and then
// writing runs down the columns, and four columns at a time with SSE2.
void fillColumns(QImage &image, const std::vector<int> &tops, const std::vector<int> &bottoms, QRgb colour) {
    const int width = std::min<int>(image.width(), int(tops.size()));
    uchar *bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int *top = tops.data();
    const int *bottom = bottoms.data();
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(bits + y * stride);
        int x = 0;
#if defined(__SSE2__)
        const __m128i level = _mm_set1_epi32(y);
        const __m128i paint = _mm_set1_epi32(int(colour));
        for (; x + 4 <= width; x += 4) {
            const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i *>(top + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bottom + x));
            const __m128i outside = _mm_or_si128(_mm_cmpgt_epi32(t, level), _mm_cmpgt_epi32(level, b));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(row + x), _mm_andnot_si128(outside, paint));
        }
#endif
        for (; x < width; ++x)
            row[x] = top[x] <= y && y <= bottom[x] ? colour : 0;
        for (x = width; x < image.width(); ++x)
            row[x] = 0;
    }
}

// The extremes of the samples [from, to) read sparsely, for a stretch whose summary is
// not known yet (an edited region the worker has not reached): at most about 16 frames,
// so the render stays bounded; the exact picture follows when the summary catches up.
PeakSummary::Range sampledRange(AudioCache &cache, int from, int to, int length) {
    PeakSummary::Range range;
    bool any = false;
    const double frames = std::max(1.0, (to - from) * 0.5);
    const double step = std::max(1.0, frames / 16.0);
    for (double f = std::floor(from * 0.5); int(f) * 2 < to; f += step) {
        for (int i = int(f) * 2; i < int(f) * 2 + 2 && i < length; ++i) {
            const float v = cache.getSample(i);
            range.minimum = any ? std::min(range.minimum, v) : v;
            range.maximum = any ? std::max(range.maximum, v) : v;
            any = true;
        }
    }
    return range;
}

} // namespace

void SampleRenderer::renderWaveform() {
    QMutexLocker locker(&m_pixmapMutex);
    if (!m_pSlice)
        return;
    QSharedPointer<AudioCache> cache = m_pSlice->cache();
    const int length = m_pSlice->length();
    if (!cache || length <= 0) {
        // A loop emptied by its edits shows nothing, not the last waveform drawn.
        delete m_pWaveformPixmap;
        m_pWaveformPixmap = nullptr;
        return;
    }

    if (!m_pWaveformPixmap) {
        m_pWaveformPixmap = new QPixmap(std::max(int(width() * m_fDevicePixelRatio), 1),
                                        std::max(int(height() * m_fDevicePixelRatio), 1));
    }
    const int columns = m_pWaveformPixmap->width();
    const int H = m_pWaveformPixmap->height();
    const double E = H * 0.5;
    const double scale = H * 0.5;

    double spp = double(iViewEndSampleIdx - iViewStartSampleIdx) / columns;
    if (spp < 0)
        spp = 0;
    const bool barMode = spp > 256;

    // Every mode writes straight into the pixels of a reused image: a column is one
    // vertical run, several times cheaper than stroking lines through QPainter.
    if (m_waveformImage.size() != m_pWaveformPixmap->size())
        m_waveformImage = QImage(m_pWaveformPixmap->size(), QImage::Format_ARGB32_Premultiplied);

    // Columns tile the window: column x holds the samples from start + x * spp up to where
    // the next column begins, and at least one frame, so no sample falls between two
    // columns at any zoom and each column shows the true extremes of its samples.
    const PeakSummary *summary = cache->peakSummary();
    AudioCache *reader = cache.data();
    // A plain cache copies whole runs; an editable cache's block reads give the unedited
    // source, so its samples come one by one through the edits.
    const bool edited = qobject_cast<EditableAudioCache *>(reader) != nullptr;
    const PeakSummary::SampleReader read = [reader, edited](float *dst, int start, int count) {
        int done = edited ? 0 : int(reader->readSamples(dst, unsigned(count), unsigned(start)));
        for (int i = done; i < count; ++i)
            dst[i] = reader->getSample(start + i);
    };
    const int end = std::min(iViewEndSampleIdx, length);
    const double origin = iViewStartSampleIdx & ~1;
    int previousTop = 0;
    int previousBottom = 0;
    bool first = true;
    // An empty run (top above bottom) leaves the column untouched.
    m_columnTops.assign(size_t(columns), 1);
    m_columnBottoms.assign(size_t(columns), 0);
    // Zoomed out, where a column spans many of the summary's finest blocks, column edges
    // fall on block edges: every column is then answered from whole blocks, with no
    // samples to read at its ends, and moving an edge by less than a block (1.3 ms) moves
    // nothing on the screen at that scale.
    const int blockSamples = 2 * PeakSummary::kBlockFrames[0];
    const bool alignToBlocks = summary && spp >= 8.0 * blockSamples;
    auto edge = [&](int x) {
        const int at = int(origin + std::floor(x * spp)) & ~1;
        if (!alignToBlocks)
            return at;
        return std::max(int(origin), (at + blockSamples / 2) / blockSamples * blockSamples);
    };
    for (int x = 0; x < columns; ++x) {
        const int from = x == 0 ? int(origin) : edge(x);
        if (from >= end)
            break;
        // The last column runs to the end of the window whatever the rounding.
        const int to = x == columns - 1 ? end : std::min(std::max(from + 2, edge(x + 1)), end);
        PeakSummary::Range range;
        if (!summary || !summary->query(from, to, read, range))
            range = sampledRange(*cache, from, to, length);
        // Positive samples lie below the centre line.
        int top = int(std::lround(E + std::clamp(double(range.minimum), -1.0, 1.0) * scale));
        int bottom = int(std::lround(E + std::clamp(double(range.maximum), -1.0, 1.0) * scale));
        if (barMode) {
            // A silent column is a short dash on the centre line.
            if (range.minimum == 0.0f && range.maximum == 0.0f) {
                for (int c = x; c < std::min(x + 2, columns); ++c) {
                    const bool empty = m_columnTops[size_t(c)] > m_columnBottoms[size_t(c)];
                    m_columnTops[size_t(c)] = empty ? int(E) : std::min(m_columnTops[size_t(c)], int(E));
                    m_columnBottoms[size_t(c)] = empty ? int(E) : std::max(m_columnBottoms[size_t(c)], int(E));
                }
                continue;
            }
        } else if (!first) {
            // Zoomed in, the columns join into one connected line.
            if (top > previousBottom)
                top = previousBottom;
            if (bottom < previousTop)
                bottom = previousTop;
        }
        previousTop = int(std::lround(E + std::clamp(double(range.minimum), -1.0, 1.0) * scale));
        previousBottom = int(std::lround(E + std::clamp(double(range.maximum), -1.0, 1.0) * scale));
        first = false;
        const bool empty = m_columnTops[size_t(x)] > m_columnBottoms[size_t(x)];
        m_columnTops[size_t(x)] = empty ? top : std::min(m_columnTops[size_t(x)], top);
        m_columnBottoms[size_t(x)] = empty ? bottom : std::max(m_columnBottoms[size_t(x)], bottom);
    }
    fillColumns(m_waveformImage, m_columnTops, m_columnBottoms, kWaveColour);
    // Zoomed in, the centre line shows wherever the wave leaves it.
    if (spp < 256) {
        QRgb *row = reinterpret_cast<QRgb *>(m_waveformImage.scanLine(std::min(H / 2, H - 1)));
        for (int x = 0; x < columns; ++x)
            if (row[x] == 0)
                row[x] = kCentreColour;
    }
    m_pWaveformPixmap->convertFromImage(m_waveformImage);
    m_bWaveformDirty = false;
}

void SampleRenderer::paintLayers(QPainter *painter) {
    if (m_bBackgroundDirty || !m_pBackgroundPixmap)
        drawBackground();
    if (m_pSlice && (m_bWaveformDirty || !m_pWaveformPixmap))
        renderWaveform();
    QMutexLocker locker(&m_pixmapMutex);
    if (m_pBackgroundPixmap)
        painter->drawPixmap(rect(), *m_pBackgroundPixmap);
    if (m_pSlice && m_pWaveformPixmap)
        painter->drawPixmap(rect(), *m_pWaveformPixmap);
}

void SampleRenderer::paintEvent(QPaintEvent *event) {
    qCDebug(lcViewPaint) << "SampleRenderer::paintEvent";
    QOpenGLWidget::paintEvent(event);
}

void SampleRenderer::drawPlayPosition(QPainter *painter) {
    if (!m_pSlice)
        return;
    const int position = m_pSlice->shownPlayPosition();
    m_iPaintedPlayPos = position;
    const int span = iViewEndSampleIdx - iViewStartSampleIdx;
    if (span <= 0)
        return;
    const int x = int(width() * float(position - iViewStartSampleIdx) / span);
    painter->setPen(Qt::white);
    painter->drawLine(x, 0, x, height());
}
