#pragma once

#include "TempoDetection.h"

class BpmDetectorWorker;
class QThread;

// The tempo detection service: lives on the GUI thread and hands loops to a worker on a
// thread of its own. Its signals arrive queued on the GUI thread.
class BpmDetector : public TempoDetection {
    Q_OBJECT
public:
    explicit BpmDetector(QObject *parent = nullptr);
    // Stops the worker (abandoning a running detection) and joins its thread.
    ~BpmDetector() override;
    BpmDetector(const BpmDetector &) = delete;
    BpmDetector &operator=(const BpmDetector &) = delete;

    void detect(SlicePtr pSlice) override;
    void cancel() override;

    // The worker, for connections that must run on the detection thread itself.
    BpmDetectorWorker *worker() const { return m_pWorker; }

private:
    BpmDetectorWorker *m_pWorker;
    QThread *m_pThread;
};
