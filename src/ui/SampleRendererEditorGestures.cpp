// The edit view's mouse and keyboard gestures: pressing, dragging and releasing over the
// selection and the items, auto-scrolling while dragging, and the keys of the view.
#include "SampleRendererEditor.h"

#include "AudioEditItem.h"
#include "EditableAudioCache.h"
#include "SampleRendererEditorDrag.h"
#include "Trevant.h"

#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <algorithm>
#include <cmath>

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
    finishDrag();
    m_pClickedItem = nullptr;
    m_dragButtons = Qt::LeftButton;
    m_pressPosition = pos;
    m_iPressSample = sampleAtX(pos.x());

    std::unique_ptr<Drag> drag;
    if (m_bHasSelection) {
        if (std::abs(pos.x() - sampleToPixel(m_iSelectionStart)) <= kSelectionEdgePixels)
            drag = std::make_unique<SelectionDrag>(this, SelectionDrag::StartEdge);
        else if (std::abs(pos.x() - sampleToPixel(m_iSelectionEnd)) <= kSelectionEdgePixels)
            drag = std::make_unique<SelectionDrag>(this, SelectionDrag::EndEdge);
    }

    const bool additive = modifiers & (Qt::ShiftModifier | Qt::ControlModifier);
    if (!drag) {
        AudioEditItem *hit = nullptr;
        bool onHandle = false;
        ItemDrag::Part handle = ItemDrag::Body;
        for (AudioEditItem *item : qAsConst(m_items)) {
            if (item->isHidden())
                continue;
            if (item->isNearLeftEdge(pos, kItemEdgePixels)) {
                onHandle = true;
                handle = ItemDrag::StartHandle;
            } else if (item->isNearRightEdge(pos, kItemEdgePixels)) {
                onHandle = true;
                handle = ItemDrag::EndHandle;
            } else if (!item->contains(pos)) {
                continue;
            }
            hit = item;
            break;
        }
        if (hit) {
            if (!additive && !hit->isSelected())
                clearItemSelection(false);
            selectItem(hit);
            m_pClickedItem = hit;
            if (!onHandle && hit->mousePress(pos, Qt::LeftButton, modifiers)) {
                m_drag = std::make_unique<ItemOwnDrag>(this);
                m_drag->start();
                update();
                return;
            }
            if (onHandle)
                drag = std::make_unique<ItemDrag>(this, handle);
        }
    }

    if (m_pClickedItem) {
        for (AudioEditItem *item : qAsConst(m_items))
            item->rememberRange();
        clearFreeformSelection(true);
        emit itemSelected();
    } else if (!drag) {
        clearFreeformSelection(true);
        clearItemSelection(true);
        m_iPressSample = snapSample(m_iPressSample);
    }
    m_drag = std::move(drag);
    if (m_drag)
        m_drag->start();
    update();
}

void SampleRendererEditor::handleRightPress(const QPoint &pos) {
    finishDrag();
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

    if (!m_drag) {
        if (m_pClickedItem) {
            if (std::abs(pos.x() - m_pressPosition.x()) < kDragStartPixels)
                return;
            m_drag = std::make_unique<ItemDrag>(this, ItemDrag::Body);
        } else {
            m_drag = std::make_unique<SelectionDrag>(this, SelectionDrag::NewSelection);
        }
        m_drag->start();
    }
    updateAutoScroll(pos);

    const int current = sampleAtX(pos.x());
    m_drag->motion(pos, buttons, current, current - m_iPressSample);
}

void SampleRendererEditor::finishDrag() {
    // Out of the member first: what finish pushes may come back here (an item removed).
    if (std::unique_ptr<Drag> drag = std::move(m_drag))
        drag->finish();
}

void SampleRendererEditor::abortDrag() {
    if (std::unique_ptr<Drag> drag = std::move(m_drag))
        drag->abort();
}

void SampleRendererEditor::updateAutoScroll(const QPoint &pos) {
    const bool nearEdge = pos.x() < kScrollMarginPixels || pos.x() > width() - kScrollMarginPixels;
    if (nearEdge && !m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
    else if (!nearEdge)
        m_autoScrollTimer.stop();
}

void SampleRendererEditor::scrollViewToMouse() {
    if (!m_pSlice || !m_drag || width() <= 0) {
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
    if (m_pClickedItem && (!m_drag || m_drag->releasesClickedItem()))
        m_pClickedItem->mouseRelease(event->pos(), event->button());
    finishDrag();
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
        // Undo or redo with the mouse still down acts on the drag so far: it becomes its
        // step first, and the rest of the mouse's way is only hovering.
        if (m_drag && (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo))) {
            finishDrag();
            m_dragButtons = Qt::NoButton;
            m_autoScrollTimer.stop();
        }
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
