#pragma once

#include "AudioCache.h"

#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>
#include <QWeakPointer>

#include <climits>

// The one worker thread that fills caches, one after another in order of arrival.
//
// The thread starts with the instance and then sleeps on a wait condition while its
// queue is empty; enqueue() only appends under a short lock and wakes it, so it never
// waits for a running fill and no request is lost.
//
// The queue holds weak pointers: a cache whose last holder lets go while it is still
// queued is destroyed at once and skipped. While a cache fills, the reader holds a
// strong pointer, so the cache (and the reader it shares) outlives the fill even if
// its loop is closed meanwhile; such a loop calls AudioCache::cancelFill() and the fill
// stops after its current chunk. The last pointer may then be released on this
// thread.
class BackgroundReader : public QThread {
public:
    // The process-wide reader, created and started on first use, never destroyed.
    static BackgroundReader *instance();

    // Any thread; never waits for a fill.
    void enqueue(const AudioCachePtr &cache);

    // Number of caches waiting (not counting the one filling).
    int queuedCount();
    // Waits until the queue is empty and no fill runs; false on timeout. For tests,
    // benchmarks and shut-down, never for the GUI while the user works.
    bool waitForIdle(unsigned long msecs = ULONG_MAX);
    // Drops every queued cache, cancels the running fill and ends the thread (waiting
    // at most for the chunk being read). A later enqueue() starts it again. Runs
    // automatically when the application object is destroyed.
    void shutDown();

protected:
    void run() override;

private:
    BackgroundReader();
    ~BackgroundReader() override = default;

    QMutex m_mutex;
    QWaitCondition m_workAvailable;
    QWaitCondition m_idle;
    QList<QWeakPointer<AudioCache>> m_queue;
    AudioCachePtr m_current;
    bool m_busy = false;
    bool m_stopping = false;
};
