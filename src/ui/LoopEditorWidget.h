#pragma once

#include "SampleRenderer.h"

// A small waveform of one loop (for example a sampler pad's) on which the left button sets
// the loop start and the right button the loop end.
class LoopEditorWidget : public SampleRenderer {
    Q_OBJECT
public:
    LoopEditorWidget(QWidget *parent, QSharedPointer<Slice> loop);

    void setSlice(QSharedPointer<Slice> loop) override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintView(QPainter *painter) override;

private:
    void applyButtons(Qt::MouseButtons buttons, int x);
};
