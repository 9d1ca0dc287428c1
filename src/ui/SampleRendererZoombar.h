#pragma once

#include "SampleRenderer.h"

#include <QPoint>

// Overview strip under the main view: always shows the whole loop and a handle over the
// part the main view shows. Dragging the handle sideways scrolls the main view, dragging
// it up or down zooms it; the pointer is hidden and re-centred so a drag never runs out
// of screen.
class SampleRendererZoombar : public SampleRenderer {
    Q_OBJECT
public:
    SampleRendererZoombar(QWidget *parent, QSharedPointer<Slice> loop);
    ~SampleRendererZoombar() override;

    void setSlice(QSharedPointer<Slice> loop) override;
    QSize minimumSizeHint() const override;

    int barStart() const { return iBarStartSampleIdx; }
    int barEnd() const { return iBarEndSampleIdx; }
    int handleStart() const { return m_iHandleStart; }
    int handleEnd() const { return m_iHandleEnd; }
    bool isDragging() const { return m_bDragging; }

signals:
    void barChanged(long iBarStartSampleIdx, long iBarEndSampleIdx);

public slots:
    void setBarPosition(long start, long end);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void paintView(QPainter *painter) override;
    void drawBackground() override;

private:
    void updateHandle();
    bool insideHandle(int x) const;
    void recentreCursor();

    QPoint m_pressPosition;
    bool m_bDragging = false;
    QPoint m_lastPosition;
    QPoint m_lastDelta;
    bool m_bSkipNextMove = false;
    int iBarStartSampleIdx = 0;
    int iBarEndSampleIdx = 0;
    int m_iHandleStart = 0;
    int m_iHandleEnd = 0;
};
