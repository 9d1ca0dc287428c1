#include "LoopEditorWidget.h"

#include "Slice.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

LoopEditorWidget::LoopEditorWidget(QWidget *parent, QSharedPointer<Slice> loop)
    : SampleRenderer(parent, loop) {
    setToolTip(tr("Left-click to set the loop starting point"));
    if (m_pSlice)
        connect(m_pSlice.data(), &Slice::loopChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update));
}

void LoopEditorWidget::setSlice(QSharedPointer<Slice> loop) {
    SampleRenderer::setSlice(loop);
    if (m_pSlice)
        connect(m_pSlice.data(), &Slice::loopChanged, this,
                static_cast<void (QWidget::*)()>(&QWidget::update), Qt::UniqueConnection);
}

void LoopEditorWidget::applyButtons(Qt::MouseButtons buttons, int x) {
    if (!m_pSlice)
        return;
    // Dragged beyond the widget the position is kept on the loop and on a frame boundary.
    const int s = pixelToSample(std::max(x, 0)) & ~1;
    if (buttons & Qt::LeftButton) {
        if (s < m_pSlice->loopEnd())
            m_pSlice->setLoopStart(s);
    } else if (buttons & Qt::RightButton) {
        if (s > m_pSlice->loopStart())
            m_pSlice->setLoopEnd(s);
    }
    update();
}

void LoopEditorWidget::mousePressEvent(QMouseEvent *event) {
    applyButtons(event->button(), event->pos().x());
    event->accept();
}

void LoopEditorWidget::mouseMoveEvent(QMouseEvent *event) {
    if (event->buttons() & (Qt::LeftButton | Qt::RightButton))
        applyButtons(event->buttons(), event->pos().x());
    event->accept();
}

void LoopEditorWidget::paintView(QPainter *target) {
    QPainter &painter = *target;
    paintLayers(&painter);
    if (!m_pSlice)
        return;
    const int start = int(sampleToPixel(m_pSlice->loopStart()));
    const int end = int(sampleToPixel(m_pSlice->loopEnd()));
    painter.setPen(QColor(200, 0, 0));
    painter.drawLine(start, 0, start, height());
    painter.setPen(QColor(0, 0, 200));
    painter.drawLine(end, 0, end, height());
}
