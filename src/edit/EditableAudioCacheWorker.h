#pragma once

#include "AudioCache.h"

#include <QList>
#include <QMutex>
#include <QRecursiveMutex>
#include <QObject>
#include <QPair>
#include <QWaitCondition>
#include <atomic>
#include <functional>

// Resets dirty regions of an editable cache's render cache (sets them to 0.0, "not rendered")
// on a thread of its own, so that a changed edit costs the GUI nothing but the reads that
// follow. Overlapping or touching regions queued while it is busy are merged into one pass.
class EditableAudioCacheWorker : public QObject {
    Q_OBJECT
public:
    // editLock is the editable cache's lock: each slice of a reset is done under it, so a
    // sound-card block that rendered with an edit's old parameters can never write its values
    // back after the reset (the block holds the same lock from start to end).
    EditableAudioCacheWorker(const AudioCachePtr &renderCache, QRecursiveMutex *editLock);

    // Any thread: queues [startSample, endSample) (clamped to the render cache) and wakes the worker.
    void queueRegion(int startSample, int endSample);
    // Any thread: makes the loop end as soon as the slice in hand is done.
    void stop();
    // True while regions are queued or being reset.
    bool isBusy() const;
    // Regions waiting (after merging).
    int queuedRegionCount() const;

    // Before the thread starts: called on the worker, under the edit lock, after each
    // slice [start, end) has been reset, to bring what is derived from it up to date.
    using ResetHook = std::function<void(int start, int end)>;
    void setResetHook(ResetHook hook) { m_resetHook = std::move(hook); }

    // Samples reset per hold of the editable cache's lock (64 KiB): a few microseconds.
    static constexpr int kResetSlice = 16384;

public slots:
    // Worker thread: the loop that resets queued regions until stop.
    void markSamplesAsDirty();

signals:
    void cacheUpdateProgress();
    void finished();

private:
    const AudioCachePtr m_renderCache;
    QRecursiveMutex *const m_editLock;
    ResetHook m_resetHook;

    // Guarded by m_mutex.
    mutable QMutex m_mutex;
    QWaitCondition m_wakeUp;
    QList<QPair<int, int>> m_regions;
    bool m_resetting = false;

    std::atomic<bool> m_stop{false};
};
