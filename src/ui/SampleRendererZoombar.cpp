#include "SampleRendererZoombar.h"

#include "Slice.h"
#include "UiLogging.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

SampleRendererZoombar::SampleRendererZoombar(QWidget *parent, QSharedPointer<Slice> loop)
    : SampleRenderer(parent, loop) {
    setMouseTracking(true);
    if (m_pSlice) {
        iBarEndSampleIdx = m_pSlice->length();
        m_iHandleEnd = iBarEndSampleIdx;
    }
}

SampleRendererZoombar::~SampleRendererZoombar() {
    // A bar closed in the middle of a drag must not leave the pointer hidden.
    if (m_bDragging)
        QApplication::restoreOverrideCursor();
}

void SampleRendererZoombar::setSlice(QSharedPointer<Slice> loop) {
    SampleRenderer::setSlice(loop);
    iBarStartSampleIdx = 0;
    iBarEndSampleIdx = loopLength();
    m_iHandleStart = 0;
    m_iHandleEnd = loopLength();
    update();
}

QSize SampleRendererZoombar::minimumSizeHint() const {
    return QSize(100, int(m_fDevicePixelRatio * 25));
}

void SampleRendererZoombar::setBarPosition(long start, long end) {
    iBarStartSampleIdx = int(start);
    iBarEndSampleIdx = int(end);
    updateHandle();
    update();
}

void SampleRendererZoombar::updateHandle() {
    const int xs = drawingX((iBarStartSampleIdx));
    const int xe = drawingX((iBarEndSampleIdx));
    const int d = xe - xs;
    if (d > 19) {
        m_iHandleStart = iBarStartSampleIdx;
        m_iHandleEnd = iBarEndSampleIdx;
        return;
    }
    // A narrow window still gets a handle wide enough to grab.
    const int c = xs + int(std::ceil(d * 0.5));
    int right = std::max(c + 10, 20);
    int left;
    if (right < width()) {
        left = std::max(c - 10, 0);
    } else {
        right = width();
        left = width() - 20;
    }
    m_iHandleStart = pixelToSample(left);
    m_iHandleEnd = pixelToSample(right);
}

bool SampleRendererZoombar::insideHandle(int x) const {
    const int s = pixelToSample(x);
    return m_iHandleStart < s && s < m_iHandleEnd;
}

void SampleRendererZoombar::recentreCursor() {
    const int centre = drawingX((iBarStartSampleIdx + (iBarEndSampleIdx - iBarStartSampleIdx) / 2));
    const QPoint local(centre, height() / 2);
    QCursor::setPos(mapToGlobal(local));
    m_pressPosition = local;
    m_lastPosition = local;
    m_bSkipNextMove = true;
}

void SampleRendererZoombar::mousePressEvent(QMouseEvent *event) {
    if (m_pSlice && event->button() == Qt::LeftButton && insideHandle(event->pos().x())) {
        m_pressPosition = event->pos();
        QApplication::setOverrideCursor(Qt::BlankCursor);
        m_bDragging = true;
        setMouseTracking(false);
    } else if (event->button() == Qt::RightButton) {
        m_pressPosition = event->pos();
    }
    m_lastPosition = event->pos();
    event->accept();
}

void SampleRendererZoombar::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pSlice) {
        m_lastPosition = event->pos();
        event->accept();
        return;
    }
    if (m_bDragging) {
        if (m_bSkipNextMove) {
            m_bSkipNextMove = false;
            m_lastPosition = event->pos();
            event->accept();
            return;
        }
        const QPoint delta = event->pos() - m_lastPosition;
        m_lastDelta = delta;
        const int length = m_pSlice->length();
        const int w = iBarEndSampleIdx - iBarStartSampleIdx;
        const int scroll = int(double(delta.x()) * w / 250.0);
        const int zoom = int(-(double(w) * delta.y()) / 200.0);
        // The scroll stops at the loop's ends so that a sideways drag into an end keeps the
        // window's width instead of squeezing it against the end.
        const int zoomedStart = iBarStartSampleIdx + zoom;
        const int zoomedEnd = iBarEndSampleIdx - zoom;
        const int limitedScroll = std::max(std::min(scroll, length - zoomedEnd), -zoomedStart);
        const int shift = (zoomedStart < 0 || zoomedEnd > length) ? scroll : limitedScroll;
        int newStart = std::max(zoomedStart + shift, 0);
        int newEnd = std::min(zoomedEnd + shift, length);
        if (newEnd - newStart < kMinimumViewSamples) {
            qCDebug(lcUi) << "Hit minimum size in SampleRendererZoombar";
            newStart = iBarStartSampleIdx;
            newEnd = newStart + kMinimumViewSamples;
            // Near the end of the loop the minimum window is anchored at the end instead,
            // so the bar never reaches past the loop.
            if (newEnd > length) {
                newEnd = length;
                newStart = std::max(length - kMinimumViewSamples, 0);
            }
        }
        iBarStartSampleIdx = newStart;
        iBarEndSampleIdx = newEnd;
        updateHandle();
        update();
        emit barChanged(iBarStartSampleIdx, iBarEndSampleIdx);

        m_lastPosition = event->pos();
        const int x = event->pos().x();
        if (x < 0 || x > width() || std::abs(event->pos().y() - m_pressPosition.y()) >= 26)
            recentreCursor();
        event->accept();
        return;
    }
    if (insideHandle(event->pos().x()))
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
    m_lastPosition = event->pos();
    event->accept();
}

void SampleRendererZoombar::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton && m_bDragging) {
        recentreCursor();
        m_bSkipNextMove = false;
        QApplication::restoreOverrideCursor();
        setMouseTracking(true);
        m_bDragging = false;
    } else {
        m_lastPosition = event->pos();
    }
    event->accept();
}

void SampleRendererZoombar::wheelEvent(QWheelEvent *event) {
    event->accept();
}

void SampleRendererZoombar::timerEvent(QTimerEvent *) {}

void SampleRendererZoombar::drawBackground() {
    QMutexLocker locker(&m_pixmapMutex);
    if (!m_pBackgroundPixmap)
        m_pBackgroundPixmap = new QPixmap(std::max(width(), 1), std::max(height(), 1));
    m_pBackgroundPixmap->fill(m_backgroundColor.isValid() ? m_backgroundColor : QColor(Qt::black));
    m_bBackgroundDirty = false;
}

void SampleRendererZoombar::paintView(QPainter *target) {
    QPainter &painter = *target;
    paintLayers(&painter);
    drawPlayPosition(&painter);
    if (!m_pSlice)
        return;
    // The handle is recomputed here too: the widget may have been resized since the last
    // bar position arrived.
    updateHandle();
    const int L = drawingX((m_iHandleStart));
    const int R = drawingX((m_iHandleEnd));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 40));
    const QPoint triangle[3] = {QPoint(L, 0), QPoint(R, height()), QPoint(R, 0)};
    painter.drawPolygon(triangle, 3);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QColor(200, 200, 200));
    painter.drawRect(L + 1, 0, R - L - 1, height() - 1);
    painter.setPen(Qt::NoPen);
    painter.fillRect(QRect(0, 0, std::max(L, 0), height()), QColor(255, 255, 255, 127));
    painter.fillRect(QRect(R, 0, std::max(width() - R, 0), height()), QColor(255, 255, 255, 127));
}
