#pragma once

#include "Slice.h"

#include <QObject>

// What the slicer needs from tempo detection: start it on a loop whose fill has finished,
// and abandon it when that loop is replaced. The tempo layer provides the real one and
// the slicer's owner hands it over, so the model never reaches up into that layer.
// Signals arrive on the GUI thread.
class TempoDetection : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Queues a loop for detection; the result is stored in the loop.
    virtual void detect(SlicePtr pSlice) = 0;
    // Abandons the running detection and drops queued ones.
    virtual void cancel() = 0;

signals:
    void calculatingBpm();
    void calculatingBpmProgress(float fraction);
    void bpmDetected();
};
