#include "SampleRendererTrevant.h"

#include "AddSlicePointCommand.h"
#include "MoveSlicePointCommand.h"
#include "RemoveSlicePointCommand.h"
#include "SetTrimEndCommand.h"
#include "SetTrimStartCommand.h"
#include "Slice.h"
#include "SliceExporter.h"
#include "Trevant.h"

#include <QAction>
#include <QApplication>
#include <QDataStream>
#include <QDir>
#include <QGuiApplication>
#include <QDrag>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QUrl>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QUndoStack>

#include <algorithm>
#include <cmath>

namespace {
// Position of range among the loop's slices (0 when it is not one of them).
int indexOfSlice(const QVector<SliceExporter::Range> &all, const SliceExporter::Range &range) {
    for (int i = 0; i < all.size(); ++i)
        if (all[i].start == range.start && all[i].end == range.end)
            return i;
    return 0;
}
} // namespace

SampleRendererTrevant::SampleRendererTrevant(QWidget *parent, Trevant *slicer, QUndoStack *stack)
    : SampleRenderer(parent, slicer ? slicer->currentSlice() : QSharedPointer<Slice>()), m_pSlicer(slicer),
      m_pUndoStack(stack) {
    setMouseTracking(true);
    setFocusPolicy(Qt::WheelFocus);
    setBackgroundRole(QPalette::Base);

    m_pActionSliceHere = new QAction(tr("Slice Here"), this);
    m_pActionDelete = new QAction(tr("Delete Slice Point"), this);
    m_pActionSave = new QAction(tr("Save Slice..."), this);
    m_pContextMenu = new QMenu(this);
    m_pContextMenu->addAction(m_pActionSliceHere);
    m_pContextMenu->addAction(m_pActionDelete);
    m_pContextMenu->addSeparator();
    m_pContextMenu->addAction(m_pActionSave);
    connect(m_pActionSliceHere, &QAction::triggered, this, &SampleRendererTrevant::slotSliceHere);
    connect(m_pActionDelete, &QAction::triggered, this, &SampleRendererTrevant::slotDeleteSlicePoint);
    connect(m_pActionSave, &QAction::triggered, this, &SampleRendererTrevant::slotSaveSelectedSlice);

    m_pDropPixmap = new QPixmap(QStringLiteral(":draghere.png"));
    m_pDragHandlePixmap = new QPixmap(QStringLiteral(":dragexporthandle.png"));

    if (m_pUndoStack)
        connect(m_pUndoStack, &QUndoStack::indexChanged, this, &SampleRendererTrevant::slotUndoIndexChanged);
    if (m_pSlicer) {
        connect(m_pSlicer, &Trevant::slicePointsChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update));
        connect(m_pSlicer, &Trevant::trimPointsChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update));
    }
}

SampleRendererTrevant::~SampleRendererTrevant() {
    delete m_pDropPixmap;
    delete m_pDragHandlePixmap;
}

QSize SampleRendererTrevant::minimumSizeHint() const {
    return QSize(100, 100);
}

int SampleRendererTrevant::slicePointTolerance() const {
    // Zoomed far in, eight pixels cover less than one sample; a tolerance of 0 would ask
    // the slicer for the containing slice instead of a nearby point.
    return std::max(1, int(samplesPerPixel() * kHitPixels));
}

int SampleRendererTrevant::slicePointAt(int x) const {
    if (!m_pSlicer)
        return 0;
    const QList<int> points = m_pSlicer->slicePoints();
    int best = -1;
    double bestDistance = 0.0;
    for (int i = 0; i < points.size(); ++i) {
        const double d = std::abs(sampleToPixel(points.at(i)) - x);
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    if (best < 0)
        return 0;
    double reach = kHitPixels;
    const double at = sampleToPixel(points.at(best));
    if (best > 0)
        reach = std::min(reach, (at - sampleToPixel(points.at(best - 1))) / 3.0);
    if (best + 1 < points.size())
        reach = std::min(reach, (sampleToPixel(points.at(best + 1)) - at) / 3.0);
    return bestDistance <= reach ? points.at(best) : 0;
}

int SampleRendererTrevant::clampToLoop(long long position) const {
    const long long length = loopLength();
    position = std::max<long long>(0, std::min(position, length));
    return int(position) & ~1;
}

bool SampleRendererTrevant::hitsTrimStart(int x) const {
    return std::abs(x - sampleToPixel(m_pSlicer->trimStart())) <= kHitPixels;
}

bool SampleRendererTrevant::hitsTrimEnd(int x) const {
    return std::abs(x - sampleToPixel(m_pSlicer->trimEnd())) <= kHitPixels;
}

void SampleRendererTrevant::slotSaveSelectedSlice() {
    if (!m_pSlice || !m_pSlicer)
        return;
    const SliceExporter::Range range = SliceExporter::sliceAt(m_pSlicer, pixelToSample(m_contextPosition.x()));
    if (range.end <= range.start)
        return;
    const QString folder = QFileInfo(m_pSlice->fileName()).absolutePath();
    const QVector<SliceExporter::Range> all = SliceExporter::sliceRanges(m_pSlicer);
    const QString suggested = folder + "/" +
                              SliceExporter::sliceFileName(m_pSlice->baseName(), indexOfSlice(all, range) + 1,
                                                           all.size());
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Save Slice..."), suggested, tr("WAV Audio (*.wav);;AIFF Audio (*.aif *.aiff);;FLAC Audio (*.flac)"));
    if (path.isEmpty())
        return;
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSpan(m_pSlicer, path, range));
    if (!exporter)
        return;
    // One slice is short: writing it in place keeps the gesture simple.
    if (exporter->run() == SliceExporter::Status::Failed) {
        QMessageBox::critical(this, tr("Error"), exporter->errorMessage());
        return;
    }
    for (const QString &file : exporter->writtenFiles()) {
        const QFileInfo info(file);
        emit exportSuccessful(QDir::toNativeSeparators(info.absolutePath()), info.fileName());
    }
}

QStringList SampleRendererTrevant::writeDragExportFiles(int sample) {
    if (!m_pSlice || !m_pSlicer)
        return {};
    if (!m_pDragFolder) {
        m_pDragFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/Quillory drag export-XXXXXX");
        if (!m_pDragFolder->isValid()) {
            m_pDragFolder.reset();
            return {};
        }
    }
    // A fresh sub-folder per drag, so names never collide with an earlier drag.
    const QString folder = m_pDragFolder->filePath(QString::number(++m_iDragCount));
    QDir().mkpath(folder);
    std::unique_ptr<SliceExporter> exporter;
    if (m_iDragExportMode == 1) {
        const QStringList prepared = preparedAllSlices();
        if (!prepared.isEmpty())
            return prepared;
        exporter.reset(SliceExporter::forSlices(m_pSlicer, folder));
    } else {
        const SliceExporter::Range range = SliceExporter::sliceAt(m_pSlicer, sample);
        if (range.end <= range.start)
            return {};
        const QVector<SliceExporter::Range> all = SliceExporter::sliceRanges(m_pSlicer);
        const int index = indexOfSlice(all, range);
        exporter.reset(SliceExporter::forSpan(
            m_pSlicer, folder + "/" + SliceExporter::sliceFileName(m_pSlice->baseName(), index + 1, all.size()),
            range));
    }
    if (!exporter || exporter->run() != SliceExporter::Status::Completed)
        return {};
    const QStringList files = exporter->writtenFiles();
    if (m_iDragExportMode == 1) {
        m_preparedAll = files;
        m_preparedAllKey = allSlicesKey();
    }
    for (const QString &file : files) {
        const QFileInfo info(file);
        emit exportSuccessful(QDir::toNativeSeparators(info.absolutePath()), info.fileName());
    }
    return files;
}

QByteArray SampleRendererTrevant::allSlicesKey() const {
    // Every change of slicing, trim or audio goes through the undo stack; the command on
    // top and the ranges together tell an undone-and-redone state from a new one.
    QByteArray key;
    QDataStream out(&key, QIODevice::WriteOnly);
    out << quintptr(m_pSlice.data()) << (m_pSlice ? m_pSlice->fileName() : QString());
    if (m_pUndoStack)
        out << m_pUndoStack->index() << quintptr(m_pUndoStack->command(m_pUndoStack->index() - 1));
    for (const SliceExporter::Range &range : SliceExporter::sliceRanges(m_pSlicer))
        out << range.start << range.end;
    return key;
}

QStringList SampleRendererTrevant::preparedAllSlices() const {
    if (m_preparedAll.isEmpty() || m_preparedAllKey != allSlicesKey())
        return {};
    for (const QString &file : m_preparedAll)
        if (!QFileInfo::exists(file))
            return {};
    return m_preparedAll;
}

void SampleRendererTrevant::prepareAllSlices() {
    if (m_pAllSlicesExporter)
        return; // the press that started it still gets its drag
    if (!m_pDragFolder) {
        m_pDragFolder = std::make_unique<QTemporaryDir>(QDir::tempPath() + "/Quillory drag export-XXXXXX");
        if (!m_pDragFolder->isValid()) {
            m_pDragFolder.reset();
            emit statusTip(tr("The slices could not be written for dragging."), 3000);
            return;
        }
    }
    const QString folder = m_pDragFolder->filePath(QString::number(++m_iDragCount));
    QDir().mkpath(folder);
    SliceExporter *exporter = SliceExporter::forSlices(m_pSlicer, folder, QString(), this);
    if (!exporter) {
        emit statusTip(tr("There is no slice to drag here."), 2000);
        return;
    }
    const QByteArray key = allSlicesKey();
    auto onEnd = [this, key](SliceExporter *done) {
        if (done->status() != SliceExporter::Status::Completed)
            return;
        m_preparedAll = done->writtenFiles();
        m_preparedAllKey = key;
        // The files took a while: a drag needs the button still held, else the next
        // press drags them at once.
        const QStringList files = preparedAllSlices();
        if (files.isEmpty())
            return;
        if (QGuiApplication::mouseButtons() & Qt::LeftButton)
            dragFiles(files);
        else
            emit statusTip(files.size() == 1 ? tr("The slice is ready: drag it out.")
                                             : tr("All %1 slices are ready: drag them out.").arg(files.size()),
                           10000);
    };
    if (m_exportTracker) {
        if (!m_exportTracker(exporter, onEnd)) {
            delete exporter;
            return;
        }
    } else {
        connect(exporter, &SliceExporter::finished, this, [exporter, onEnd] {
            onEnd(exporter);
            exporter->deleteLater();
        });
    }
    m_pAllSlicesExporter = exporter;
    emit statusTip(tr("Writing the slices for dragging..."), 0);
    exporter->start();
}

void SampleRendererTrevant::startDragExport(int sample) {
    if (m_iDragExportMode == 1) {
        const QStringList files = preparedAllSlices();
        if (files.isEmpty())
            prepareAllSlices();
        else
            dragFiles(files);
        return;
    }
    const QStringList files = writeDragExportFiles(sample);
    if (files.isEmpty()) {
        emit statusTip(tr("There is no slice to drag here."), 2000);
        return;
    }
    dragFiles(files);
}

void SampleRendererTrevant::dragFiles(const QStringList &files) {
    QList<QUrl> urls;
    for (const QString &file : files)
        urls << QUrl::fromLocalFile(file);
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    if (m_pDragHandlePixmap && !m_pDragHandlePixmap->isNull())
        drag->setPixmap(*m_pDragHandlePixmap);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void SampleRendererTrevant::slotSliceHere() {
    if (!m_pSlice || !m_pSlicer || !m_pUndoStack)
        return;
    const int position = m_pSlicer->snapToZeroCrossing(pixelToSample(m_contextPosition.x()));
    if (position <= 0)
        return; // the loop's own start (the menu offers nothing there)
    m_pUndoStack->push(new AddSlicePointCommand(m_pSlicer, position));
}

void SampleRendererTrevant::slotDeleteSlicePoint() {
    if (m_iHitSlicePoint == 0 || !m_pSlicer || !m_pUndoStack)
        return;
    m_pUndoStack->push(new RemoveSlicePointCommand(m_pSlicer, m_iHitSlicePoint));
    m_iHitSlicePoint = 0;
}

void SampleRendererTrevant::slotToggleDragExport(bool enable) {
    m_bDragExport = enable;
    if (enable)
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
    update();
}

void SampleRendererTrevant::slotSetDragExportMode(int mode) {
    m_iDragExportMode = mode;
    update();
}

void SampleRendererTrevant::timerEvent(QTimerEvent *) {
    update();
}

void SampleRendererTrevant::mousePressEvent(QMouseEvent *event) {
    if (!m_pSlice || !m_pSlicer) {
        event->ignore();
        return;
    }
    const int x = event->pos().x();
    const int sample = pixelToSample(x);
    m_iPressSliceStart = m_pSlicer->sliceStartAt(sample, 0);
    m_iHitSlicePoint = slicePointAt(x);

    if (m_bDragExport) {
        event->accept();
        if (event->button() != Qt::LeftButton)
            return;
        setCursor(Qt::ClosedHandCursor);
        startDragExport(sample);
        setCursor(Qt::OpenHandCursor);
        return;
    }

    if (event->button() == Qt::LeftButton) {
        // A left press while a grab is held means its release went elsewhere (a message
        // box took it): that gesture is over.
        if (isGrabbing()) {
            const int hit = m_iHitSlicePoint, pressStart = m_iPressSliceStart;
            resetDrag();
            m_iHitSlicePoint = hit;
            m_iPressSliceStart = pressStart;
        }
        if (m_iHitSlicePoint != 0) {
            m_iDraggedSlicePoint = m_iHitSlicePoint;
        } else if (hitsTrimStart(x)) {
            m_bDraggingTrimStart = true;
        } else if (hitsTrimEnd(x)) {
            m_bDraggingTrimEnd = true;
        } else if (event->modifiers() & Qt::ShiftModifier) {
            const int p = m_pSlicer->snapToZeroCrossing(clampToLoop(sample));
            // Position 0 means "no point" in this view: a point there could never be dragged
            // or deleted again, and the loop starts there anyway.
            if (p <= 0) {
                event->accept();
                return;
            }
            if (m_pUndoStack)
                m_pUndoStack->push(new AddSlicePointCommand(m_pSlicer, p));
            m_iDraggedSlicePoint = p;
        } else if (event->modifiers() & Qt::ControlModifier) {
            m_pSlicer->playFrom(m_pSlicer->snapToZeroCrossing(sample));
            event->accept();
            return;
        } else {
            m_pSlicer->playFrom(m_iPressSliceStart);
            event->accept();
            return;
        }
        m_pressPosition = event->pos();
    } else if (event->button() == Qt::RightButton) {
        m_pActionDelete->setEnabled(m_iHitSlicePoint != 0);
        m_pActionSliceHere->setEnabled(m_iHitSlicePoint == 0 && m_pSlicer->snapToZeroCrossing(sample) > 0);
        m_contextPosition = event->pos();
        // popup, not exec: a nested event loop inside a press handler would outlive
        // anything that deletes this view meanwhile.
        m_pContextMenu->popup(event->globalPos());
    }
    event->accept();
}

void SampleRendererTrevant::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pSlice || !m_pSlicer) {
        event->ignore();
        return;
    }
    const int x = event->pos().x();
    const bool grabbing = m_iDraggedSlicePoint != 0 || m_bDraggingTrimStart || m_bDraggingTrimEnd;
    if (!m_bDragExport && grabbing && !m_bDragMoved) {
        // A hand's jitter during a click must not move anything.
        if ((event->pos() - m_pressPosition).manhattanLength() < QApplication::startDragDistance()) {
            event->accept();
            return;
        }
        m_bDragMoved = true;
    }
    if (m_bDragExport) {
        m_hoverPosition = event->pos();
        update();
    } else if (m_iDraggedSlicePoint != 0) {
        m_ghostMarkers = {drawingX((m_iDraggedSlicePoint)) - m_pressPosition.x() + x};
        update();
    } else if (m_bDraggingTrimStart) {
        int ghost = drawingX((m_pSlicer->trimStart())) - m_pressPosition.x() + x;
        ghost = std::min(ghost, drawingX((m_pSlicer->trimEnd() - kMinimumTrimSamples)));
        ghost = std::max(ghost, 0);
        m_ghostMarkers = {ghost};
        update();
    } else if (m_bDraggingTrimEnd) {
        int ghost = drawingX((m_pSlicer->trimEnd())) - m_pressPosition.x() + x;
        ghost = std::max(ghost, drawingX((m_pSlicer->trimStart() + kMinimumTrimSamples)));
        ghost = std::min(ghost, width());
        m_ghostMarkers = {ghost};
        update();
    } else {
        const bool nearPoint = slicePointAt(x) != 0;
        if (nearPoint || hitsTrimStart(x) || hitsTrimEnd(x))
            setCursor(Qt::SplitHCursor);
        else
            unsetCursor();
    }
    event->accept();
}

void SampleRendererTrevant::mouseReleaseEvent(QMouseEvent *event) {
    if (!m_pSlice || !m_pSlicer) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_bDragExport) {
        setCursor(Qt::OpenHandCursor);
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    int origin;
    if (m_iDraggedSlicePoint != 0)
        origin = m_iDraggedSlicePoint;
    else if (m_bDraggingTrimStart)
        origin = m_pSlicer->trimStart();
    else if (m_bDraggingTrimEnd)
        origin = m_pSlicer->trimEnd();
    else
        return;

    const int x = event->pos().x();
    if (!m_bDragMoved && (event->pos() - m_pressPosition).manhattanLength() < QApplication::startDragDistance()) {
        // A click on a point or handle: it stays, and the slice under the click plays
        // (a Shift-click has added its point already).
        if (!(event->modifiers() & Qt::ShiftModifier) && m_iDraggedSlicePoint == m_iHitSlicePoint)
            m_pSlicer->playFrom(m_iPressSliceStart);
        resetDrag();
        return;
    }
    // Outside the view pixelToSample reads 0; the distance is measured in the view's
    // coordinates either way and the result is clamped to the loop.
    const long long delta = (long long)pixelToSample(std::max(x, 0)) - pixelToSample(m_pressPosition.x());
    const int length = loopLength();
    const QScopedValueRollback<bool> pushing(m_bPushing, true);

    if (m_iDraggedSlicePoint != 0) {
        const int moved = m_pSlicer->snapToZeroCrossing(clampToLoop(origin + delta));
        // A point that would land on the loop's first sample is one no click could grab
        // again: taken to the edge, it goes as if dragged out of the view.
        if (x <= 0 || x > width() || moved <= 0) {
            if (m_pUndoStack)
                m_pUndoStack->push(new RemoveSlicePointCommand(m_pSlicer, m_iDraggedSlicePoint));
        } else {
            if (moved != m_iDraggedSlicePoint && m_pUndoStack)
                m_pUndoStack->push(new MoveSlicePointCommand(m_pSlicer, m_iDraggedSlicePoint, moved));
        }
    } else if (m_bDraggingTrimStart) {
        long long p = std::max<long long>(0, std::min<long long>(origin + delta, length));
        const long long bound = (long long)m_pSlicer->trimEnd() - kMinimumTrimSamples;
        p = std::min<long long>(p, bound);
        int position = m_pSlicer->snapToZeroCrossing(clampToLoop(p));
        // The nearest crossing of a deep tone can lie past the other trim point.
        if (position > bound)
            position = clampToLoop(p);
        if (m_pUndoStack)
            m_pUndoStack->push(new SetTrimStartCommand(m_pSlicer, position));
    } else if (m_bDraggingTrimEnd) {
        long long p = std::max<long long>(0, std::min<long long>(origin + delta, length));
        const long long bound = (long long)m_pSlicer->trimStart() + kMinimumTrimSamples;
        p = std::max<long long>(p, bound);
        int position = m_pSlicer->snapToZeroCrossing(clampToLoop(p));
        if (position < bound)
            position = clampToLoop(p);
        if (m_pUndoStack)
            m_pUndoStack->push(new SetTrimEndCommand(m_pSlicer, position));
    }
    resetDrag();
}

void SampleRendererTrevant::resetDrag() {
    m_iDraggedSlicePoint = 0;
    m_pressPosition = QPoint(0, 0);
    m_ghostMarkers.clear();
    m_bDraggingTrimStart = false;
    m_bDraggingTrimEnd = false;
    m_bDragMoved = false;
    m_iPressSliceStart = 0;
    m_iHitSlicePoint = 0;
    update();
}

void SampleRendererTrevant::slotUndoIndexChanged() {
    // Nothing of the drag is in the model yet, so letting go of it loses nothing; the
    // release would otherwise move a point an undo took away, or push a step that throws
    // away the redo history.
    if (!m_bPushing && isGrabbing())
        resetDrag();
}

bool SampleRendererTrevant::event(QEvent *event) {
    // The window's Escape shortcut would otherwise take the key; with a point or handle
    // held, Escape lets go of it where it was.
    if (event->type() == QEvent::ShortcutOverride && isGrabbing()) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return SampleRenderer::event(event);
}

void SampleRendererTrevant::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && isGrabbing()) {
        resetDrag();
        event->accept();
    } else if (event->key() == Qt::Key_Shift) {
        m_bModifierTipShown = true;
        emit statusTip(tr("Add slice point at cursor."), 0);
    } else if (event->key() == Qt::Key_Control) {
        m_bModifierTipShown = true;
        emit statusTip(tr("Start playing at cursor."), 0);
    } else {
        SampleRenderer::keyPressEvent(event);
    }
}

void SampleRendererTrevant::keyReleaseEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Shift || event->key() == Qt::Key_Control) {
        m_bModifierTipShown = false;
        emit statusTip(QString(), 0);
    } else {
        SampleRenderer::keyReleaseEvent(event);
    }
}

void SampleRendererTrevant::focusOutEvent(QFocusEvent *event) {
    // Ctrl+O, Ctrl+S and the like open a dialog that receives the key's release; the
    // hint about the held key must not outlive it.
    if (m_bModifierTipShown) {
        m_bModifierTipShown = false;
        emit statusTip(QString(), 0);
    }
    SampleRenderer::focusOutEvent(event);
}

void SampleRendererTrevant::hideEvent(QHideEvent *event) {
    // Hidden mid-drag (edit mode switched on with a point held), the view never sees the
    // release: the grab goes, or the next click would finish it.
    if (isGrabbing())
        resetDrag();
    SampleRenderer::hideEvent(event);
}

void SampleRendererTrevant::leaveEvent(QEvent *event) {
    m_hoverPosition = QPoint(-1, -1);
    update();
    SampleRenderer::leaveEvent(event);
}

void SampleRendererTrevant::drawTrimHandle(QPainter &painter, int x, const QColor &color) {
    const int w = width();
    const int h = height();
    painter.setPen(color);
    painter.setBrush(color);
    painter.drawLine(x, 0, x, h);
    const QPoint top[3] = {QPoint(std::max(x - 10, 0), 0), QPoint(x, 10), QPoint(std::min(w, x + 10), 0)};
    const QPoint bottom[3] = {QPoint(std::max(x - 10, 0), h - 1), QPoint(x, h - 11),
                              QPoint(std::min(w, x + 10), h - 1)};
    painter.drawPolygon(top, 3);
    painter.drawPolygon(bottom, 3);
}

void SampleRendererTrevant::drawDragExportSlices(QPainter &painter) {
    QList<int> bounds;
    bounds << 0;
    for (int point : m_pSlicer->slicePoints())
        if (point > 0 && point < loopLength())
            bounds << point;
    bounds << loopLength();
    const bool hovering = m_hoverPosition != QPoint(-1, -1);
    for (int i = 0; i + 1 < bounds.size(); ++i) {
        const int L = drawingX((bounds[i]));
        const int R = drawingX((bounds[i + 1]));
        if (R < 0 || L > width())
            continue;
        const bool highlighted =
            (L < m_hoverPosition.x() && m_hoverPosition.x() < R) || (m_iDragExportMode == 1 && hovering);
        painter.setPen(Qt::black);
        painter.setBrush(highlighted ? QColor(128, 128, 128, 64) : QColor(64, 64, 64, 64));
        const int inner = R - L - 6;
        painter.drawRoundedRect(QRect(L + 4, 2, inner, height() - 4), 4, 4);
        if (!m_pDragHandlePixmap->isNull()) {
            const QSize size = m_pDragHandlePixmap->size() / m_pDragHandlePixmap->devicePixelRatio();
            if (size.width() < inner) {
                painter.drawPixmap(L + 4 + (inner - size.width()) / 2, height() - 14 - size.height(),
                                   *m_pDragHandlePixmap);
            }
        }
    }
}

void SampleRendererTrevant::paintView(QPainter *target) {
    QPainter &painter = *target;
    paintLayers(&painter);
    drawPlayPosition(&painter);
    if (!m_pSlice || !m_pSlicer) {
        const QRect box(width() / 4, height() / 3, width() / 2, height() / 3);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(Qt::black);
        painter.drawRoundedRect(box.translated(0, -1), 5, 5);
        painter.setPen(QColor(80, 80, 80));
        painter.drawRoundedRect(box, 5, 5);
        const QString hint = tr("Drag an audio file here");
        painter.setPen(Qt::black);
        painter.drawText(rect().translated(0, -1), Qt::AlignCenter, hint);
        painter.setPen(QColor(80, 80, 80));
        painter.drawText(rect(), Qt::AlignCenter, hint);
        return;
    }
    painter.setPen(QColor(200, 0, 0));
    for (int point : m_pSlicer->slicePoints()) {
        const int x = drawingX((point));
        painter.drawLine(x, 0, x, height());
    }
    painter.setPen(QColor(0, 133, 56));
    for (int x : m_ghostMarkers)
        painter.drawLine(x, 0, x, height());
    drawTrimHandle(painter, drawingX((m_pSlicer->trimStart())), QColor(255, 40, 40));
    drawTrimHandle(painter, drawingX((m_pSlicer->trimEnd())), QColor(40, 40, 255));
    if (m_bDragExport)
        drawDragExportSlices(painter);
}
