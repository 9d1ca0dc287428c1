#pragma once

#include "Slice.h"

#include <QObject>

class BpmDetectorWorker;
class QThread;

// The tempo detection service: lives on the GUI thread and hands loops to a worker on a
// thread of its own. Its signals arrive queued on the GUI thread.
class BpmDetector : public QObject {
    Q_OBJECT
public:
    explicit BpmDetector(QObject *parent = nullptr);
    // Stops the worker (abandoning a running detection) and joins its thread.
    ~BpmDetector() override;
    BpmDetector(const BpmDetector &) = delete;
    BpmDetector &operator=(const BpmDetector &) = delete;

    // Queues a loop for detection; the result is stored in the loop.
    void detect(SlicePtr pSlice);
    // Abandons the running detection and drops queued ones.
    void cancel();

    // The worker, for connections that must run on the detection thread itself.
    BpmDetectorWorker *worker() const { return m_pWorker; }

signals:
    void calculatingBpm();
    void calculatingBpmProgress(float fraction);
    void bpmDetected();

private:
    BpmDetectorWorker *m_pWorker;
    QThread *m_pThread;
};
