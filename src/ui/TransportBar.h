#pragma once

#include <QList>
#include <QOpenGLWidget>
#include <QPoint>
#include <QPointer>

class QUndoStack;
class SampleRenderer;
class Trevant;

// Strip above the waveform views: a time ruler (click plays from there to the end of the
// slice, hovering draws a position line) over the loop bar (click toggles looping of a
// slice, Shift-click extends the loop region, dragging moves the region's two bounding
// slice points as one undo step). It draws in the coordinates of the view it follows.
class TransportBar : public QOpenGLWidget {
    Q_OBJECT
public:
    // The ruler is the band above this line; the loop bar band lies below.
    static constexpr int kRulerHeight = 28;
    // The closest the two trim points come, as in the slicing view.
    static constexpr int kMinimumTrimSamples = 512;

    TransportBar(QWidget *parent, Trevant *slicer, SampleRenderer *view, QUndoStack *stack);
    ~TransportBar() override;

    void setView(SampleRenderer *view);
    SampleRenderer *view() const { return m_pView; }
    void setDragExport(bool on);
    bool isDragExportOn() const { return m_bDragExport; }
    const QList<int> &ghostMarkers() const { return m_ghostMarkers; }
    bool isMovingRange() const { return m_bMovingRange; }

    // Tick spacing of the ruler in samples for the followed view's window; 0 when the
    // window is too narrow for any tick.
    int rulerSpacing() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintGL() override;
    void resizeGL(int w, int h) override;

private:
    bool hasLoop() const;
    bool isLooping() const;
    // The loop region moved by a drag of dx pixels, kept inside the loop and frame-aligned.
    void movedRegion(int dx, int *start, int *end) const;
    void repaintView();
    // Pushes the command that moves one edge of the loop region from one sample to another.
    void pushEdgeMove(int from, int to);

    Trevant *m_pSlicer;
    QPointer<SampleRenderer> m_pView;
    QPoint m_mousePosition{-1, -1};
    QPoint m_pressPosition{-1, -1};
    bool m_bMovingRange = false;
    int m_iRangeStartAtDrag = 0;
    int m_iRangeEndAtDrag = 0;
    QList<int> m_ghostMarkers;
    bool m_bDragExport = false;
    QPixmap *m_pLoopIcon;
    QPixmap *m_pBackground;
    QPixmap *m_pLoopBar;
    QUndoStack *m_pUndoStack;
};
