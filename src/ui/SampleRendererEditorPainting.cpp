// The edit view's painting: the slice points, the items (the first in the list on top)
// and the freeform selection over the waveform.
#include "SampleRendererEditor.h"

#include "AudioEditItem.h"
#include "Trevant.h"

#include <QPainter>
#include <QRegion>

#include <algorithm>

// --- Painting -----------------------------------------------------------------------

void SampleRendererEditor::paintView(QPainter *painter) {
    paintLayers(painter);
    if (!m_pSlice)
        return;
    updateItemGeometry();

    if (m_pSlicer) {
        painter->setPen(QColor(200, 0, 0));
        for (int point : m_pSlicer->slicePoints()) {
            if (point < iViewStartSampleIdx || point > iViewEndSampleIdx)
                continue;
            const int x = drawingX(point);
            painter->drawLine(x, 0, x, height());
        }
    }

    QList<AudioEditItem *> visible;
    for (AudioEditItem *item : qAsConst(m_items))
        if (!item->isHidden() && item->rect().right() >= 0 && item->rect().left() <= width())
            visible.append(item);
    // The first item is on top; an item never paints over one earlier in the list.
    QRegion covered;
    QVector<QRegion> above(visible.size());
    for (int k = 0; k < visible.size(); ++k) {
        above[k] = covered;
        covered += visible.at(k)->rect();
    }
    for (int k = visible.size() - 1; k >= 0; --k) {
        painter->save();
        painter->setClipRegion(QRegion(rect()) - above.at(k));
        painter->setOpacity(visible.at(k)->isSelected() ? 1.0 : 0.5);
        visible.at(k)->paint(painter);
        painter->restore();
    }

    if (m_bHasSelection) {
        const int left = drawingX(m_iSelectionStart);
        const int right = drawingX(m_iSelectionEnd);
        painter->fillRect(QRect(QPoint(left, 0), QPoint(std::max(left, right), height())),
                          QColor(255, 255, 255, 128));
    }
    drawPlayPosition(painter);
}
