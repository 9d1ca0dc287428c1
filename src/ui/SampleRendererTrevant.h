#pragma once

#include <QPointer>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "SampleRenderer.h"

#include <QList>
#include <QPoint>

class QAction;
class QMenu;
class QUndoStack;
class SliceExporter;
class Trevant;

// Main view of slicing mode: draws the slice points and trim points over the waveform;
// a click auditions the slice under the mouse, Shift-click adds a point, dragging moves
// points and trim handles (one undo step per gesture, pushed on release), dragging a
// point out of the view deletes it.
class SampleRendererTrevant : public SampleRenderer {
    Q_OBJECT
public:
    // A slice point or trim handle is hit within this many pixels.
    static constexpr int kHitPixels = 8;
    // Trim start and trim end never come closer than this.
    static constexpr int kMinimumTrimSamples = 512;

    SampleRendererTrevant(QWidget *parent, Trevant *slicer, QUndoStack *stack);
    ~SampleRendererTrevant() override;

    QSize minimumSizeHint() const override;
    bool isDragExportOn() const { return m_bDragExport; }
    int dragExportMode() const { return m_iDragExportMode; }
    // The slice-point tolerance in samples for the current zoom: never below one sample.
    int slicePointTolerance() const;
    // The slice point whose grab zone holds x, else 0. A zone reaches kHitPixels, but
    // never more than a third of the gap to the next point, so that between close
    // points a click still lands in a slice.
    int slicePointAt(int x) const;
    const QList<int> &ghostMarkers() const { return m_ghostMarkers; }
    QMenu *contextMenu() const { return m_pContextMenu; }
    // Writes what a drag-export press at sample carries (the slice under it, or every
    // slice in mode 1) into this session's drag folder; returns the files, empty when
    // there is nothing to drag or writing failed.
    QStringList writeDragExportFiles(int sample);
    // Every slice, written for a drag while the loop, its slicing and its edits were as
    // they are now; empty when they changed since or were never written.
    QStringList preparedAllSlices() const;
    // Hands a background export of all slices to whoever shows exports (progress and
    // Cancel) and calls onEnd when it is over; false when it may not run now.
    using ExportTracker = std::function<bool(SliceExporter *, std::function<void(SliceExporter *)> onEnd)>;
    void setExportTracker(ExportTracker tracker) { m_exportTracker = std::move(tracker); }

signals:
    void statusTip(QString text, int msec);
    // A file was written by "Save Slice..." or a drag out of the view.
    void exportSuccessful(QString baseFilePath, QString fileName);

public slots:
    void slotSaveSelectedSlice();
    void slotSliceHere();
    void slotDeleteSlicePoint();
    void slotToggleDragExport(bool enable);
    void slotSetDragExportMode(int mode);

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool event(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void paintView(QPainter *painter) override;

private:
    bool hitsTrimStart(int x) const;
    bool hitsTrimEnd(int x) const;
    void resetDrag();
    // A point or trim handle is held (pressed on, not yet released).
    bool isGrabbing() const { return m_iDraggedSlicePoint != 0 || m_bDraggingTrimStart || m_bDraggingTrimEnd; }
    // The stack moved while a point or handle was held: what the hand holds may be gone.
    void slotUndoIndexChanged();
    void drawTrimHandle(QPainter &painter, int x, const QColor &color);
    void drawDragExportSlices(QPainter &painter);
    int clampToLoop(long long position) const;
    void startDragExport(int sample);
    void dragFiles(const QStringList &files);
    // Writes every slice in the background; the drag starts when they exist.
    void prepareAllSlices();
    // What the prepared slices were made from.
    QByteArray allSlicesKey() const;

    Trevant *m_pSlicer;
    QUndoStack *m_pUndoStack;
    int m_iPressSliceStart = 0;
    int m_iHitSlicePoint = 0;
    int m_iDraggedSlicePoint = 0;
    QPoint m_contextPosition;
    // Files dragged out live here until the program ends, so the receiving application
    // can still read them after the drop.
    std::unique_ptr<QTemporaryDir> m_pDragFolder;
    int m_iDragCount = 0;
    QStringList m_preparedAll;
    QByteArray m_preparedAllKey;
    QPointer<SliceExporter> m_pAllSlicesExporter;
    ExportTracker m_exportTracker;
    QList<int> m_ghostMarkers;
    bool m_bDraggingTrimStart = false;
    bool m_bDraggingTrimEnd = false;
    QPoint m_pressPosition;
    // The pointer has passed the drag distance since the press on a point or handle.
    bool m_bDragMoved = false;
    // This view is pushing its own step, so the stack's move is not someone else's.
    bool m_bPushing = false;
    // A Shift or Ctrl hint is in the status bar and waits for the key's release.
    bool m_bModifierTipShown = false;
    QAction *m_pActionSliceHere;
    QAction *m_pActionDelete;
    QAction *m_pActionSave;
    QMenu *m_pContextMenu;
    QPixmap *m_pDropPixmap;
    QPixmap *m_pDragHandlePixmap;
    QPoint m_hoverPosition{0, 0};
    bool m_bDragExport = false;
    int m_iDragExportMode = 0;
};
