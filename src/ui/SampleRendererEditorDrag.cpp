#include "SampleRendererEditorDrag.h"

#include "AdjustEditEndPointCommand.h"
#include "AdjustEditStartPointCommand.h"
#include "AudioEditItem.h"
#include "EditableAudioCache.h"
#include "TranslateEditCommand.h"

#include <algorithm>
#include <cmath>
#include <limits>

// --- Selection ----------------------------------------------------------------------

SampleRendererEditor::SelectionDrag::SelectionDrag(SampleRendererEditor *view, Part part)
    : Drag(view), m_part(part), m_iPressStart(view->m_iSelectionStart), m_iPressEnd(view->m_iSelectionEnd),
      m_bHadSelection(view->m_bHasSelection) {}

void SampleRendererEditor::SelectionDrag::motion(const QPoint &, Qt::MouseButtons, int current, int delta) {
    switch (m_part) {
    case StartEdge:
        m_view->setFreeformSelection(m_view->snapSample(m_iPressStart + delta), m_iPressEnd);
        break;
    case EndEdge:
        m_view->setFreeformSelection(m_iPressStart, m_view->snapSample(m_iPressEnd + delta));
        break;
    case NewSelection:
        m_view->setFreeformSelection(m_view->m_iPressSample, m_view->snapSample(current));
        break;
    }
}

void SampleRendererEditor::SelectionDrag::abort() {
    if (m_bHadSelection)
        m_view->setFreeformSelection(m_iPressStart, m_iPressEnd);
    else if (m_view->m_bHasSelection)
        m_view->clearFreeformSelection(true);
}

// --- Items --------------------------------------------------------------------------

SampleRendererEditor::ItemDrag::ItemDrag(SampleRendererEditor *view, Part part) : Drag(view), m_part(part) {}

void SampleRendererEditor::ItemDrag::start() {
    // The edits move from the ranges they had at the press, whatever the mouse does after.
    m_cache = m_view->m_pCache;
    m_moved.clear();
    for (AudioEditItem *item : m_view->selectedItems())
        m_moved.append({item->edit(), item == m_view->m_pClickedItem, item->pressStart(), item->pressEnd()});
}

void SampleRendererEditor::ItemDrag::apply(const AudioEditPtr &edit, qint64 start, qint64 end) {
    switch (m_part) {
    case Body:
        m_cache->setEditRange(edit, int(start), int(end));
        break;
    case StartHandle:
        m_cache->setEditStartSample(edit, int(start));
        break;
    case EndHandle:
        m_cache->setEditEndSample(edit, int(end));
        break;
    }
}

void SampleRendererEditor::ItemDrag::motion(const QPoint &, Qt::MouseButtons, int, int delta) {
    if (!m_cache || !m_view->m_pUndoStack)
        return;
    const qint64 length = m_view->editedLength();
    // At least 8 pixels wide, and never narrower than one stereo frame at the deepest zoom.
    const qint64 minimumWidth =
        std::max<qint64>(2, qint64(std::ceil(kItemEdgePixels * m_view->samplesPerPixelSafe())));
    qint64 bodyDelta = 0;
    if (m_part == Body) {
        // One delta for all selected edits, so they move as a block: the clicked edit's
        // snapping decides it, and the loop's edges stop the whole block.
        bodyDelta = qint64(delta) & ~qint64(1);
        const auto clicked =
            std::find_if(m_moved.cbegin(), m_moved.cend(), [](const Moved &moved) { return moved.clicked; });
        if (clicked != m_moved.cend()) {
            const qint64 s = clicked->pressStart + bodyDelta;
            const qint64 e = clicked->pressEnd + bodyDelta;
            if (s >= 0 && s <= length && m_view->snapSample(int(s)) != s)
                bodyDelta = m_view->snapSample(int(s)) - clicked->pressStart;
            else if (e >= 0 && e <= length && m_view->snapSample(int(e)) != (e & ~qint64(1)))
                bodyDelta = m_view->snapSample(int(e)) - clicked->pressEnd;
        }
        qint64 lowest = std::numeric_limits<qint64>::min();
        qint64 highest = std::numeric_limits<qint64>::max();
        for (const Moved &moved : qAsConst(m_moved)) {
            lowest = std::max<qint64>(lowest, -moved.pressStart);
            highest = std::min<qint64>(highest, length - moved.pressEnd);
        }
        // An edit that no longer fits the (shortened) loop holds the block where it is.
        if (lowest > highest)
            return;
        bodyDelta = std::clamp(bodyDelta, lowest, highest);
    }
    // Every range is worked out before any edit moves: the limits read the others' ranges.
    QVector<QPair<qint64, qint64>> ranges;
    bool changed = false;
    for (const Moved &moved : qAsConst(m_moved)) {
        const AudioEditPtr &edit = moved.edit;
        qint64 s = edit->startSample();
        qint64 e = edit->endSample();
        if (m_part == Body) {
            s = moved.pressStart + bodyDelta;
            e = moved.pressEnd + bodyDelta;
            if (s != edit->startSample() || e != edit->endSample())
                changed = true;
        } else if (m_part == EndHandle) {
            e = moved.pressEnd + delta;
            e = std::max(e, edit->startSample() + minimumWidth);
            if (moved.clicked)
                e = m_view->snapSample(int(std::clamp<qint64>(e, 0, length)));
            e = std::min(e, length);
            e = std::min(e, qint64(edit->startSample()) + edit->maxLength());
            e = std::max(e, qint64(edit->startSample()) + 2) & ~qint64(1);
            if (e != edit->endSample())
                changed = true;
        } else {
            s = moved.pressStart + delta;
            s = std::min(s, edit->endSample() - minimumWidth);
            s = std::clamp<qint64>(s, 0, length);
            if (moved.clicked)
                s = m_view->snapSample(int(s));
            s = std::max(s, qint64(edit->endSample()) - edit->maxLength());
            s = std::clamp<qint64>(std::min(s, qint64(edit->endSample()) - 2), 0, length) & ~qint64(1);
            if (s != edit->startSample())
                changed = true;
        }
        ranges.append({s, e});
    }
    if (!changed)
        return;
    for (int k = 0; k < m_moved.size(); ++k)
        apply(m_moved.at(k).edit, ranges.at(k).first, ranges.at(k).second);
    m_view->update();
}

void SampleRendererEditor::ItemDrag::finish() {
    if (!m_cache || !m_view->m_pUndoStack)
        return;
    QList<QUndoCommand *> commands;
    bool changed = false;
    for (const Moved &moved : qAsConst(m_moved)) {
        const AudioEditPtr &edit = moved.edit;
        const int s = edit->startSample();
        const int e = edit->endSample();
        const int pressStart = int(moved.pressStart);
        const int pressEnd = int(moved.pressEnd);
        if (s != pressStart || e != pressEnd)
            changed = true;
        switch (m_part) {
        case Body:
            commands.append(new TranslateEditCommand(m_cache, edit, s, e, pressStart, pressEnd));
            break;
        case StartHandle:
            commands.append(new AdjustEditStartPointCommand(m_cache, edit, s, pressStart));
            break;
        case EndHandle:
            commands.append(new AdjustEditEndPointCommand(m_cache, edit, e, pressEnd));
            break;
        }
    }
    if (!changed) {
        qDeleteAll(commands);
        return;
    }
    m_view->pushCommands(commands);
}

void SampleRendererEditor::ItemDrag::abort() {
    if (!m_cache)
        return;
    for (const Moved &moved : qAsConst(m_moved))
        if (moved.edit->startSample() != moved.pressStart || moved.edit->endSample() != moved.pressEnd)
            apply(moved.edit, moved.pressStart, moved.pressEnd);
    m_view->update();
}

// --- An item's own drag -------------------------------------------------------------

void SampleRendererEditor::ItemOwnDrag::motion(const QPoint &pos, Qt::MouseButtons buttons, int, int) {
    if (m_view->m_pClickedItem)
        m_view->m_pClickedItem->mouseMove(pos, buttons);
}
