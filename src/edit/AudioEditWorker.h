#pragma once

#include "AudioEdit.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>

class QThread;

// The process-wide worker that analyses edits (Normalize) on a thread of its own.
// The queue holds shared pointers, so an edit that is undone and released while it waits or
// while it is being analysed stays alive until the worker is done with it.
class AudioEditWorker : public QObject {
    Q_OBJECT
public:
    // The one worker, constructed (without a thread) on the first call. GUI thread.
    static AudioEditWorker *instance();
    // Moves the worker to a new QThread, connects the thread's started() to processWork() and
    // starts it. Does nothing when the worker already runs on a thread of its own. GUI thread.
    static AudioEditWorker *startThread();
    // Stops the worker and joins its thread; for the end of the process and of tests.
    static void shutDown();

    // Number of edits waiting (not counting one being analysed).
    int queuedCount() const;

    AudioEditWorker(const AudioEditWorker &) = delete;
    AudioEditWorker &operator=(const AudioEditWorker &) = delete;

public slots:
    // Any thread. An edit already waiting is not queued twice.
    void queueWork(AudioEditPtr pAudioEdit);
    // Worker thread: the analysis loop, until stop.
    void processWork();
    // Any thread: ends processWork once the edit in hand is done.
    void stop();

signals:
    void workFinished();

private:
    AudioEditWorker() = default;

    QList<AudioEditPtr> m_queue;
    mutable QMutex m_mutex;
    QWaitCondition m_wakeUp;
    bool m_stop = false;
};
