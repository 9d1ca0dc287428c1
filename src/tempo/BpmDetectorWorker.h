#pragma once

#include "AudioFile.h"
#include "Slice.h"
#include "TempoAnalysis.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

// Runs the tempo estimator over queued loops, one at a time, on the tempo detection
// thread, and stores the rounded tempo in each loop. The queue, the stop flag and the
// busy flag are guarded by the worker's mutex; the cancel request is an atomic so that
// the running detection can poll it once per block without taking the mutex.
class BpmDetectorWorker : public QObject {
    Q_OBJECT
public:
    // What one detection finds: the tempo stored as a loop's tempo (rounded; left out,
    // as setBpm leaves it out, when not a finite non-negative number) and its analysis.
    struct Result {
        double bpm = 0.0;
        bool hasBpm = false;
        TempoAnalysis analysis;
    };
    // Copies up to count interleaved stereo samples from startSample into buffer and
    // returns how many it copied (fewer only at the end), as AudioCache::readSamples.
    using SampleSource = std::function<unsigned(float *buffer, unsigned count, unsigned startSample)>;

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

public:
    // Calling thread, no worker loop: the detection detectBpm runs on a loop, over a file
    // read once from front to back without a cache, with the decoder a little ahead on
    // a thread of its own. The samples are the ones a filled cache holds, so the result
    // is the loop's to the bit. false when the file holds no audio to read, or when
    // stop was set meanwhile (the result is then of no use).
    bool detectFile(const AudioFilePtr &file, const std::atomic<bool> &stop, Result *result);
    // The number of times a detection reads a loop of this many samples: short loops
    // are read several times over, so that the estimator has enough beats to compare.
    static int passes(long long totalSamples, int sampleRate);

private:
    // The detection itself, over total samples at rate read through source. false when
    // cancelled.
    bool detect(const SampleSource &source, int total, int rate, Result *result);

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
