#pragma once

#include "Slice.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>
#include <memory>

// Runs the tempo estimator over queued loops, one at a time, on the tempo detection
// thread, and stores the rounded tempo in each loop. The queue, the stop flag and the
// busy flag are guarded by the worker's mutex; the cancel request is an atomic so that
// the running detection can poll it once per block without taking the mutex.
class BpmDetectorWorker : public QObject {
    Q_OBJECT
public:
    BpmDetectorWorker();
    ~BpmDetectorWorker() override;
    BpmDetectorWorker(const BpmDetectorWorker &) = delete;
    BpmDetectorWorker &operator=(const BpmDetectorWorker &) = delete;

    // Any thread: ends the worker loop. The running detection is abandoned within one
    // block and queued loops are dropped, so that shutting down never waits for them.
    void stop();
    // Any thread: true once stop() has been called.
    bool isStopping() const;

signals:
    void calculatingBpm();
    void calculatingBpmProgress(float fraction);
    void bpmDetected();
    void finished();

public slots:
    // Tempo detection thread: the worker loop; returns after stop().
    void waitAndProcess();
    // Any thread: queues a loop and wakes the worker.
    void addToQueueAndWake(SlicePtr pSlice);
    // Tempo detection thread (or any thread when no worker loop runs): one detection.
    void detectBpm(SlicePtr pSlice);
    // Any thread: abandons the running detection (if any) and drops the queue.
    void cancel();

private:
    // Owned by the mutex.
    bool m_bStop = false;
    bool m_bBusy = false;
    std::atomic<bool> m_bCancel{false};
    std::unique_ptr<QWaitCondition> m_pWaitCondition;
    mutable std::unique_ptr<QMutex> m_pMutex;
    QList<SlicePtr> m_queue;

    // Owned by the tempo detection thread: allocated once per worker loop.
    struct alignas(16) InputBlock {
        float samples[512];
    };
    struct alignas(16) MonoBlock {
        float samples[256];
    };
    std::unique_ptr<InputBlock> m_pInput;
    std::unique_ptr<MonoBlock> m_pMono;
};
