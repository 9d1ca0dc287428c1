#include "TransportBar.h"

#include "ExpandSliceLoopCommand.h"
#include "MoveSlicePointCommand.h"
#include "SampleRenderer.h"
#include "SetTrimEndCommand.h"
#include "SetTrimStartCommand.h"
#include "Slice.h"
#include "ToggleSliceLoopCommand.h"
#include "Trevant.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

TransportBar::TransportBar(QWidget *parent, Trevant *slicer, SampleRenderer *view, QUndoStack *stack)
    : QOpenGLWidget(parent), m_pSlicer(slicer), m_pView(view), m_pUndoStack(stack) {
    setMinimumHeight(43);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    if (m_pView)
        m_pView->installEventFilter(this);

    m_pLoopIcon = new QPixmap(QIcon(QStringLiteral(":transport_loop.png")).pixmap(41, 12));
    m_pBackground = new QPixmap(QStringLiteral(":transportbar.png"));
    m_pLoopBar = new QPixmap(QStringLiteral(":loopbar.png"));

    if (m_pSlicer) {
        connect(m_pSlicer, &Trevant::slicePointsChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update));
        connect(m_pSlicer, &Trevant::loopChanged, this, static_cast<void (QWidget::*)()>(&QWidget::update));
    }
}

TransportBar::~TransportBar() {
    delete m_pLoopIcon;
    delete m_pBackground;
    delete m_pLoopBar;
}

void TransportBar::setView(SampleRenderer *view) {
    if (m_pView)
        m_pView->removeEventFilter(this);
    m_pView = view;
    if (m_pView)
        m_pView->installEventFilter(this);
    update();
}

bool TransportBar::eventFilter(QObject *watched, QEvent *event) {
    // The ruler and markers use the view's scale. In a shrinking layout this bar is
    // resized (and painted) before the view below it, so it paints again once the view
    // has its new width.
    // The type is checked first: a view being destroyed still sends events here, and
    // reading the guarded pointer then would cast a half-destroyed widget.
    if (event->type() == QEvent::Resize && watched == m_pView)
        update();
    return QOpenGLWidget::eventFilter(watched, event);
}

void TransportBar::setDragExport(bool on) {
    m_bDragExport = on;
    setMouseTracking(!on);
    if (on) {
        m_ghostMarkers.clear();
        m_bMovingRange = false;
        m_pressPosition = QPoint(-1, -1);
    }
    update();
}

bool TransportBar::hasLoop() const {
    return m_pSlicer && m_pView && m_pSlicer->currentSlice() && m_pSlicer->currentSlice()->length() > 0;
}

bool TransportBar::isLooping() const {
    return m_pSlicer->currentSlice()->loopMode() > 0;
}

void TransportBar::repaintView() {
    if (m_pView)
        m_pView->update();
    update();
}

void TransportBar::movedRegion(int dx, int *start, int *end) const {
    const int loopStart = m_pSlicer->loopStart();
    const int loopEnd = m_pSlicer->loopEnd();
    const long long length = m_pSlicer->currentSlice()->length();
    // The region keeps its width: the shift is limited so neither edge leaves the loop.
    long long shift = (long long)std::llround(dx * m_pView->samplesPerPixel());
    shift = std::max<long long>(shift, -(long long)std::min(loopStart, loopEnd));
    shift = std::min<long long>(shift, length - std::max(loopStart, loopEnd));
    // A trim point moved with the region keeps its distance from the other one.
    const int trimStart = m_pSlicer->trimStart();
    const int trimEnd = m_pSlicer->trimEnd();
    const bool startIsTrim = loopStart == trimStart && !m_pSlicer->hasSlicePoint(loopStart);
    const bool endIsTrim = loopEnd == trimEnd && !m_pSlicer->hasSlicePoint(loopEnd);
    if (startIsTrim && !endIsTrim)
        shift = std::min<long long>(shift, (long long)trimEnd - kMinimumTrimSamples - loopStart);
    if (endIsTrim && !startIsTrim)
        shift = std::max<long long>(shift, (long long)trimStart + kMinimumTrimSamples - loopEnd);
    // A slice point on the loop's first sample could never be grabbed again: it stops a
    // frame short of it.
    if (!startIsTrim && loopStart >= 2)
        shift = std::max<long long>(shift, 2 - (long long)loopStart);
    *start = int(std::max<long long>(0, std::min<long long>(loopStart + shift, length))) & ~1;
    *end = int(std::max<long long>(0, std::min<long long>(loopEnd + shift, length))) & ~1;
}

void TransportBar::pushEdgeMove(int from, int to) {
    if (from == to)
        return;
    // The first slice starts at the trim start and the last ends at the trim end, neither
    // of them a slice point: the region's edge there is the trim point, and it moves.
    if (m_pSlicer->hasSlicePoint(from))
        m_pUndoStack->push(new MoveSlicePointCommand(m_pSlicer, from, to));
    else if (from == m_pSlicer->trimStart())
        m_pUndoStack->push(new SetTrimStartCommand(m_pSlicer, to));
    else if (from == m_pSlicer->trimEnd())
        m_pUndoStack->push(new SetTrimEndCommand(m_pSlicer, to));
}

void TransportBar::mousePressEvent(QMouseEvent *event) {
    event->accept();
    if (m_bDragExport || !hasLoop())
        return;
    m_mousePosition = event->pos();
    m_pressPosition = event->pos();
    QSharedPointer<Slice> loop = m_pSlicer->currentSlice();
    if (event->pos().y() < kRulerHeight) {
        if (event->button() == Qt::LeftButton) {
            const int start = int(loop->length() * m_pView->pixelToLoopFraction(event->pos().x())) & ~1;
            const int end = m_pSlicer->sliceEndAt(start);
            loop->play(true, start, end);
        }
    } else {
        m_iRangeStartAtDrag = m_pSlicer->loopStart();
        m_iRangeEndAtDrag = m_pSlicer->loopEnd();
        if (m_pSlicer->isInsideLoop(m_pView->pixelToSample(event->pos().x())))
            setCursor(Qt::ClosedHandCursor);
    }
    update();
}

void TransportBar::mouseMoveEvent(QMouseEvent *event) {
    event->accept();
    if (m_bDragExport || !hasLoop())
        return;
    m_mousePosition = event->pos();
    const int x = event->pos().x();
    const bool pressedInLoopBar = m_pressPosition.y() >= kRulerHeight;
    if (event->pos().y() < kRulerHeight && !m_bMovingRange && !(event->buttons() & Qt::LeftButton)) {
        unsetCursor();
    } else if ((event->buttons() & Qt::LeftButton) && pressedInLoopBar) {
        const int dx = x - m_pressPosition.x();
        if (std::abs(dx) < 5 || !isLooping()) {
            m_ghostMarkers.clear();
        } else {
            m_bMovingRange = true;
            int start, end;
            movedRegion(dx, &start, &end);
            m_ghostMarkers = {int(m_pView->sampleToPixel(start)), int(m_pView->sampleToPixel(end))};
        }
        repaintView();
    } else if (!(event->buttons() & Qt::LeftButton)) {
        if (m_pSlicer->isInsideLoop(m_pView->pixelToSample(x)))
            setCursor(Qt::OpenHandCursor);
        else
            unsetCursor();
    } else if (event->pos().y() < kRulerHeight) {
        unsetCursor();
    }
    update();
}

void TransportBar::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    if (m_bDragExport || !hasLoop())
        return;
    m_mousePosition = event->pos();
    if (event->button() == Qt::LeftButton && event->pos().y() >= kRulerHeight &&
        m_pressPosition.y() >= kRulerHeight) {
        setCursor(Qt::OpenHandCursor);
        const int dx = event->pos().x() - m_pressPosition.x();
        if (std::abs(dx) > 4) {
            int start, end;
            movedRegion(dx, &start, &end);
            const int oldStart = m_pSlicer->loopStart();
            const int oldEnd = m_pSlicer->loopEnd();
            // Without looping no region is drawn, and a drag has nothing visible to move.
            if (m_pUndoStack && isLooping() && (start != oldStart || end != oldEnd)) {
                m_pUndoStack->beginMacro(tr("move slice points"));
                // The leading edge moves first, so neither edge passes the other on the way.
                if (dx > 0) {
                    pushEdgeMove(oldEnd, end);
                    pushEdgeMove(oldStart, start);
                } else {
                    pushEdgeMove(oldStart, start);
                    pushEdgeMove(oldEnd, end);
                }
                m_pUndoStack->endMacro();
            }
            repaintView();
            m_bMovingRange = false;
        } else if (!m_bMovingRange && m_pUndoStack) {
            const int position = m_pView->pixelToSample(m_pressPosition.x());
            if (event->modifiers() & Qt::ShiftModifier)
                m_pUndoStack->push(new ExpandSliceLoopCommand(m_pSlicer, position));
            else
                m_pUndoStack->push(new ToggleSliceLoopCommand(m_pSlicer, position));
        }
    }
    m_ghostMarkers.clear();
    m_pressPosition = QPoint(-1, -1);
    m_bMovingRange = false;
    repaintView();
}

void TransportBar::leaveEvent(QEvent *event) {
    m_mousePosition = QPoint(-1, -1);
    m_bMovingRange = false;
    update();
    QOpenGLWidget::leaveEvent(event);
}

void TransportBar::resizeGL(int w, int h) {
    if (context() && context()->isValid())
        QOpenGLWidget::resizeGL(w, h);
}

int TransportBar::rulerSpacing() const {
    if (!m_pView)
        return 0;
    const long long span = (long long)m_pView->viewEnd() - m_pView->viewStart();
    if (span <= 0)
        return 0;
    // One eighth of the loop: span / (8 / zoom factor), taken from the loop's length so
    // that no float rounding shaves a sample off.
    const QSharedPointer<Slice> loop = m_pView->slice();
    int c = loop ? loop->length() / 8 : int(span / 8);
    if (c <= 0)
        return 0;
    while (span / c <= 7) {
        c = int(c / 1.5);
        if (c < 1)
            return 0;
    }
    return c;
}

void TransportBar::paintGL() {
    QPainter painter(this);
    if (m_pBackground && !m_pBackground->isNull())
        painter.drawTiledPixmap(rect(), *m_pBackground);
    else
        painter.fillRect(rect(), QColor(40, 40, 40));
    if (!hasLoop())
        return;

    QSharedPointer<Slice> loop = m_pSlicer->currentSlice();
    const int w = width();
    const int h = height();
    auto toX = [this](long long sample) {
        // Far outside the window a pixel position can exceed int; clamp before drawing.
        const double x =
            m_pView->sampleToPixel(int(std::max<long long>(std::min<long long>(sample, INT32_MAX), 0)));
        return int(std::max(-1.0e6, std::min(x, 1.0e6)));
    };

    // Loop bar.
    {
        int start, end;
        if (loop->loopMode() > 0) {
            start = m_pSlicer->loopStart();
            end = m_pSlicer->loopEnd();
        } else {
            const int s = m_pView->pixelToSample(std::max(m_mousePosition.x(), 0));
            start = m_pSlicer->sliceStartAt(s, 0);
            end = m_pSlicer->sliceEndAt(s);
        }
        const int L = toX(start);
        const int W = toX(end) - L;
        const int T = h - 15;
        const QRect barRect = QRect(L, T, W, 13).intersected(rect());
        const double iconWidth = m_pLoopIcon->width() / m_pLoopIcon->devicePixelRatio();
        const int iconX = int(L + W / 2 - iconWidth * 0.5);
        if (loop->loopMode() > 0) {
            if (!barRect.isEmpty())
                painter.drawTiledPixmap(barRect, *m_pLoopBar, QPoint(barRect.x() - L, 0));
            if (iconWidth < W && iconX >= 0 && iconX + iconWidth <= w)
                painter.drawPixmap(iconX, T, *m_pLoopIcon);
        } else if (m_mousePosition.x() > 0 && m_mousePosition.y() > kRulerHeight &&
                   m_ghostMarkers.isEmpty()) {
            painter.setOpacity(0.5);
            if (!barRect.isEmpty())
                painter.drawTiledPixmap(barRect, *m_pLoopBar, QPoint(barRect.x() - L, 0));
            if (iconWidth < W)
                painter.drawPixmap(iconX, T, *m_pLoopIcon);
            painter.setOpacity(1.0);
        }
    }

    if (m_mousePosition.y() >= 0 && m_mousePosition.y() < kRulerHeight && !m_bMovingRange) {
        painter.setPen(Qt::white);
        painter.drawLine(m_mousePosition.x(), 0, m_mousePosition.x(), kRulerHeight);
    }

    const int c = rulerSpacing();
    if (c <= 0)
        return;
    const int viewStart = m_pView->viewStart();
    const int viewEnd = m_pView->viewEnd();
    const bool milliseconds = double(c) / (double(m_pSlicer->sampleRate()) * 2.0) < 0.05;
    QFont font = painter.font();
    font.setPixelSize(9);
    painter.setFont(font);
    for (long long a = (long long)(viewStart / c) * c; a < viewEnd; a += c) {
        const int x = toX(a);
        if (a % (4LL * c) == 0) {
            painter.setPen(QColor(200, 200, 200));
            painter.drawLine(x, 0, x, 14);
        } else {
            painter.setPen(QColor(128, 128, 128));
            painter.drawLine(x, 0, x, 7);
        }
        if (a % (2LL * c) == 0) {
            // The tick's own time, not the time of its truncated pixel, so labels read
            // as round numbers.
            const double seconds = double(a) / (double(m_pSlicer->sampleRate()) * 2.0);
            const double value = milliseconds ? seconds * 1000.0 : seconds;
            painter.setPen(QColor(200, 200, 200));
            painter.drawText(QPoint(x + 4, h / 2), QString("%1").arg(value, 0, 'f', 1));
        }
    }
    painter.setPen(QColor(200, 0, 0));
    for (int point : m_pSlicer->slicePoints()) {
        if (point < viewStart || point > viewEnd)
            continue;
        const int x = toX(point);
        painter.drawLine(x, h / 2, x, h);
    }
    painter.setPen(QColor(0, 133, 56));
    for (int x : m_ghostMarkers)
        painter.drawLine(x, h / 2, x, h);
}
