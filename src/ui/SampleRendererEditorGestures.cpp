// The edit view's mouse and keyboard gestures: pressing, dragging and releasing over the
// selection and the items, auto-scrolling while dragging, and the keys of the view.
#include "SampleRendererEditor.h"

#include "AdjustEditEndPointCommand.h"
#include "AdjustEditStartPointCommand.h"
#include "AudioEditItem.h"
#include "EditableAudioCache.h"
#include "TranslateEditCommand.h"
#include "Trevant.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>
#include <limits>

// --- Coordinates and snapping -------------------------------------------------------

double SampleRendererEditor::samplesPerPixelSafe() const {
    const double spp = samplesPerPixel();
    return spp > 0.0 ? spp : 1.0;
}

int SampleRendererEditor::sampleAtX(double x) const {
    const int length = editedLength();
    if (!m_pSlice || width() <= 0)
        return 0;
    const double span = double(iViewEndSampleIdx) - iViewStartSampleIdx;
    const double sample = iViewStartSampleIdx + std::floor(x / width() * span);
    return int(std::clamp(sample, 0.0, double(std::max(0, length)))) & ~1;
}

int SampleRendererEditor::snapSample(int x) const {
    const int length = std::max(0, editedLength());
    if (!m_pSlice || width() <= 0)
        return std::clamp(x, 0, length) & ~1;
    const double px = sampleToPixel(x);
    if (std::abs(px - sampleToPixel(0)) <= kSnapPixels)
        return 0;
    if (std::abs(px - sampleToPixel(length)) <= kSnapPixels)
        return length & ~1;
    const int even = std::clamp(x, 0, length) & ~1;
    if (m_pSlicer) {
        for (int point : m_pSlicer->slicePoints()) {
            if (point >= iViewStartSampleIdx && point <= iViewEndSampleIdx &&
                std::abs(sampleToPixel(point) - px) <= kSnapPixels)
                return std::clamp(point, 0, length) & ~1;
        }
    }
    for (AudioEditItem *item : m_items) {
        if (item == m_pClickedItem || item->isHidden())
            continue;
        for (int edge : {item->edit()->startSample(), item->edit()->endSample()}) {
            if (std::abs(sampleToPixel(edge) - px) <= kSnapPixels)
                return std::clamp(edge, 0, length) & ~1;
        }
    }
    return even;
}

// --- Mouse and keyboard -------------------------------------------------------------

void SampleRendererEditor::mousePressEvent(QMouseEvent *event) {
    setFocus(Qt::MouseFocusReason);
    m_lastMousePosition = event->pos();
    event->accept();
    if (!m_pSlice)
        return;
    updateItemGeometry();
    if (event->button() == Qt::LeftButton)
        handleLeftPress(event->pos(), event->modifiers());
    else if (event->button() == Qt::RightButton)
        handleRightPress(event->pos());
}

void SampleRendererEditor::handleLeftPress(const QPoint &pos, Qt::KeyboardModifiers modifiers) {
    m_dragMode = DragNone;
    m_pClickedItem = nullptr;
    m_dragButtons = Qt::LeftButton;
    m_pressPosition = pos;
    m_iPressSample = sampleAtX(pos.x());

    if (m_bHasSelection) {
        if (std::abs(pos.x() - sampleToPixel(m_iSelectionStart)) <= kSelectionEdgePixels)
            m_dragMode = DragSelectionStart;
        else if (std::abs(pos.x() - sampleToPixel(m_iSelectionEnd)) <= kSelectionEdgePixels)
            m_dragMode = DragSelectionEnd;
        m_iPressSelectionStart = m_iSelectionStart;
        m_iPressSelectionEnd = m_iSelectionEnd;
    }

    const bool additive = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    if (m_dragMode == DragNone) {
        AudioEditItem *hit = nullptr;
        DragMode hitMode = DragNone;
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            if (item->isNearLeftEdge(pos, kItemEdgePixels))
                hitMode = DragStartHandle;
            else if (item->isNearRightEdge(pos, kItemEdgePixels))
                hitMode = DragEndHandle;
            else if (!item->contains(pos))
                continue;
            hit = item;
            break;
        }
        if (hit) {
            if (!additive && !hit->isSelected())
                clearItemSelection(false);
            selectItem(hit);
            m_pClickedItem = hit;
            if (hitMode == DragNone && hit->mousePress(pos, Qt::LeftButton, modifiers)) {
                m_dragMode = DragItem;
                update();
                return;
            }
            m_dragMode = hitMode;
        }
    }

    if (m_pClickedItem || m_dragMode == DragStartHandle || m_dragMode == DragEndHandle) {
        for (AudioEditItem *item : qAsConst(m_items))
            item->rememberRange();
        clearFreeformSelection(true);
        emit itemSelected();
    } else if (m_dragMode != DragSelectionStart && m_dragMode != DragSelectionEnd) {
        clearFreeformSelection(true);
        clearItemSelection(true);
        m_iPressSample = snapSample(m_iPressSample);
    }
    update();
}

void SampleRendererEditor::handleRightPress(const QPoint &pos) {
    m_dragMode = DragNone;
    AudioEditItem *last = nullptr;
    const QList<AudioEditItem *> items = m_items;
    for (AudioEditItem *item : items) {
        if (item->isHidden() || !item->contains(pos))
            continue;
        item->mousePress(pos, Qt::RightButton, Qt::NoModifier);
        last = item;
    }
    m_pClickedItem = last;
    if (last && !last->isSelected()) {
        clearItemSelection(false);
        selectItem(last);
    }
    if (!last && !m_bHasSelection && m_pSlice) {
        // The gap between the neighbouring edits and slice points around the mouse.
        const int m = sampleAtX(pos.x());
        int low = 0;
        int high = editedLength();
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            const int start = item->edit()->startSample();
            const int end = item->edit()->endSample();
            if (end < m)
                low = std::max(low, end);
            if (start > m)
                high = std::min(high, start);
        }
        if (m_pSlicer) {
            for (int point : m_pSlicer->slicePoints()) {
                if (point < m)
                    low = std::max(low, point);
                else if (point > m)
                    high = std::min(high, point);
            }
        }
        setFreeformSelection(low, high);
    }
    updateEditActions();
    m_pContextMenu->popup(mapToGlobal(pos));
}

void SampleRendererEditor::mouseMoveEvent(QMouseEvent *event) {
    event->accept();
    handleMove(event->pos(), event->buttons());
}

void SampleRendererEditor::handleMove(const QPoint &pos, Qt::MouseButtons buttons) {
    m_lastMousePosition = pos;
    if (!m_pSlice)
        return;
    updateItemGeometry();
    if (!(buttons & Qt::LeftButton) || m_dragButtons != Qt::LeftButton) {
        Qt::CursorShape shape = Qt::ArrowCursor;
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            if (item->isNearEdge(pos, kItemEdgePixels)) {
                shape = Qt::SizeHorCursor;
                break;
            }
            if (item->contains(pos)) {
                shape = item->cursorAt(pos);
                break;
            }
        }
        if (m_bHasSelection &&
            (std::abs(pos.x() - sampleToPixel(m_iSelectionStart)) <= kSelectionEdgePixels ||
             std::abs(pos.x() - sampleToPixel(m_iSelectionEnd)) <= kSelectionEdgePixels))
            shape = Qt::SizeHorCursor;
        setCursor(shape);
        return;
    }

    if (m_dragMode == DragNone) {
        if (m_pClickedItem) {
            if (std::abs(pos.x() - m_pressPosition.x()) < kDragStartPixels)
                return;
            m_dragMode = DragBody;
        } else {
            m_dragMode = DragFreeform;
        }
    }
    updateAutoScroll(pos);

    const int current = sampleAtX(pos.x());
    const int delta = current - m_iPressSample;
    switch (m_dragMode) {
    case DragSelectionStart:
        setFreeformSelection(snapSample(m_iPressSelectionStart + delta), m_iPressSelectionEnd);
        break;
    case DragSelectionEnd:
        setFreeformSelection(m_iPressSelectionStart, snapSample(m_iPressSelectionEnd + delta));
        break;
    case DragFreeform:
        setFreeformSelection(m_iPressSample, snapSample(current));
        break;
    case DragBody:
    case DragStartHandle:
    case DragEndHandle:
        dragItems(delta);
        break;
    case DragItem:
        if (m_pClickedItem)
            m_pClickedItem->mouseMove(pos, buttons);
        break;
    case DragNone:
        break;
    }
}

void SampleRendererEditor::dragItems(int delta) {
    if (!m_pCache || !m_pUndoStack)
        return;
    const qint64 length = editedLength();
    // At least 8 pixels wide, and never narrower than one stereo frame at the deepest zoom.
    const qint64 minimumWidth =
        std::max<qint64>(2, qint64(std::ceil(kItemEdgePixels * samplesPerPixelSafe())));
    const QList<AudioEditItem *> selected = selectedItems();
    qint64 bodyDelta = 0;
    if (m_dragMode == DragBody) {
        // One delta for all selected edits, so they move as a block: the clicked edit's
        // snapping decides it, and the loop's edges stop the whole block.
        bodyDelta = qint64(delta) & ~qint64(1);
        if (m_pClickedItem && m_pClickedItem->isSelected()) {
            const qint64 pressStart = m_pClickedItem->pressStart();
            const qint64 pressEnd = m_pClickedItem->pressEnd();
            const qint64 s = pressStart + bodyDelta;
            const qint64 e = pressEnd + bodyDelta;
            if (s >= 0 && s <= length && snapSample(int(s)) != s)
                bodyDelta = snapSample(int(s)) - pressStart;
            else if (e >= 0 && e <= length && snapSample(int(e)) != (e & ~qint64(1)))
                bodyDelta = snapSample(int(e)) - pressEnd;
        }
        qint64 lowest = std::numeric_limits<qint64>::min();
        qint64 highest = std::numeric_limits<qint64>::max();
        for (AudioEditItem *item : selected) {
            lowest = std::max<qint64>(lowest, -qint64(item->pressStart()));
            highest = std::min<qint64>(highest, length - item->pressEnd());
        }
        // An edit that no longer fits the (shortened) loop holds the block where it is.
        if (lowest > highest)
            return;
        bodyDelta = std::clamp(bodyDelta, lowest, highest);
    }
    QList<QUndoCommand *> commands;
    bool changed = false;
    for (AudioEditItem *item : selected) {
        const AudioEditPtr edit = item->edit();
        const bool clicked = item == m_pClickedItem;
        const qint64 pressStart = item->pressStart();
        const qint64 pressEnd = item->pressEnd();
        if (m_dragMode == DragBody) {
            const qint64 s = pressStart + bodyDelta;
            const qint64 e = pressEnd + bodyDelta;
            if (s != edit->startSample() || e != edit->endSample())
                changed = true;
            commands.append(
                new TranslateEditCommand(m_pCache, edit, int(s), int(e), int(pressStart), int(pressEnd)));
        } else if (m_dragMode == DragEndHandle) {
            qint64 e = pressEnd + delta;
            e = std::max(e, edit->startSample() + minimumWidth);
            if (clicked)
                e = snapSample(int(std::clamp<qint64>(e, 0, length)));
            e = std::min(e, length);
            e = std::min(e, qint64(edit->startSample()) + edit->maxLength());
            e = std::max(e, qint64(edit->startSample()) + 2) & ~qint64(1);
            if (e != edit->endSample())
                changed = true;
            commands.append(new AdjustEditEndPointCommand(m_pCache, edit, int(e), int(pressEnd)));
        } else if (m_dragMode == DragStartHandle) {
            qint64 s = pressStart + delta;
            s = std::min(s, edit->endSample() - minimumWidth);
            s = std::clamp<qint64>(s, 0, length);
            if (clicked)
                s = snapSample(int(s));
            s = std::max(s, qint64(edit->endSample()) - edit->maxLength());
            s = std::clamp<qint64>(std::min(s, qint64(edit->endSample()) - 2), 0, length) & ~qint64(1);
            if (s != edit->startSample())
                changed = true;
            commands.append(new AdjustEditStartPointCommand(m_pCache, edit, int(s), int(pressStart)));
        }
    }
    if (!changed) {
        qDeleteAll(commands);
        return;
    }
    pushCommands(commands);
    update();
}

void SampleRendererEditor::updateAutoScroll(const QPoint &pos) {
    const bool nearEdge = pos.x() < kScrollMarginPixels || pos.x() > width() - kScrollMarginPixels;
    if (nearEdge && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!nearEdge)
        m_autoScrollTimer.stop();
}

void SampleRendererEditor::scrollViewToMouse() {
    if (!m_pSlice || m_dragMode == DragNone || width() <= 0) {
        m_autoScrollTimer.stop();
        return;
    }
    const int x = m_lastMousePosition.x();
    const int length = loopLength();
    const double spp = samplesPerPixelSafe();
    int shift = 0;
    if (x > width() - kScrollMarginPixels)
        shift = std::max(2, int((x - (width() - kScrollMarginPixels)) * spp));
    else if (x < kScrollMarginPixels)
        shift = -std::max(2, int((kScrollMarginPixels - x) * spp));
    shift &= ~1;
    if (shift > 0)
        shift = std::min(shift, length - iViewEndSampleIdx);
    else if (shift < 0)
        shift = std::max(shift, -iViewStartSampleIdx);
    if (shift != 0) {
        iViewStartSampleIdx += shift;
        iViewEndSampleIdx += shift;
        setWaveformDirty(true);
        update();
        emit viewChanged(iViewStartSampleIdx, iViewEndSampleIdx);
    }
    // The drag in progress follows the view.
    handleMove(m_lastMousePosition, m_dragButtons);
}

void SampleRendererEditor::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    m_lastMousePosition = event->pos();
    if (event->button() != Qt::LeftButton)
        return;
    if (m_pClickedItem && m_dragMode != DragBody)
        m_pClickedItem->mouseRelease(event->pos(), event->button());
    m_dragMode = DragNone;
    m_dragButtons = Qt::NoButton;
    m_pClickedItem = nullptr;
    m_autoScrollTimer.stop();
    updateEditActions();
    update();
}

bool SampleRendererEditor::event(QEvent *event) {
    // The window's Escape shortcut would otherwise take the key first; while something
    // is selected here, Escape means "select nothing", as the user expects.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && key->modifiers() == Qt::NoModifier &&
            (m_bHasSelection || !selectedItems().isEmpty())) {
            event->accept();
            return true;
        }
    }
    return SampleRenderer::event(event);
}

void SampleRendererEditor::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_Escape:
        selectNone();
        event->accept();
        return;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        slotDelete();
        event->accept();
        return;
    default:
        SampleRenderer::keyPressEvent(event);
    }
}
