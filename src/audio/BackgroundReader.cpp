#include "BackgroundReader.h"

#include "AudioLogging.h"
#include "ThreadPriority.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutexLocker>

namespace {
void shutDownInstance() {
    BackgroundReader::instance()->shutDown();
}
} // namespace

BackgroundReader::BackgroundReader() {
    setObjectName(QStringLiteral("BackgroundReader"));
}

BackgroundReader *BackgroundReader::instance() {
    static BackgroundReader *reader = [] {
        auto *r = new BackgroundReader;
        // Without this the thread could still be filling while the application object
        // and its event dispatcher are torn down.
        if (QCoreApplication::instance())
            qAddPostRoutine(shutDownInstance);
        r->start(QThread::InheritPriority);
        return r;
    }();
    return reader;
}

void BackgroundReader::enqueue(const AudioCachePtr &cache) {
    if (!cache)
        return;
    QMutexLocker locker(&m_mutex);
    m_queue.append(cache.toWeakRef());
    if (!isRunning()) {
        m_stopping = false;
        start(QThread::InheritPriority);
    }
    m_workAvailable.wakeOne();
}

int BackgroundReader::queuedCount() {
    QMutexLocker locker(&m_mutex);
    return m_queue.size();
}

bool BackgroundReader::waitForIdle(unsigned long msecs) {
    const QDeadlineTimer deadline =
        msecs == ULONG_MAX ? QDeadlineTimer(QDeadlineTimer::Forever) : QDeadlineTimer(qint64(msecs));
    QMutexLocker locker(&m_mutex);
    while ((!m_queue.isEmpty() || m_busy) && isRunning()) {
        if (!m_idle.wait(&m_mutex, deadline))
            return m_queue.isEmpty() && !m_busy;
    }
    return true;
}

void BackgroundReader::shutDown() {
    {
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_queue.clear();
        if (m_current)
            m_current->cancelFill();
        m_workAvailable.wakeAll();
    }
    wait();
    QMutexLocker locker(&m_mutex);
    m_busy = false;
    m_idle.wakeAll();
}

void BackgroundReader::run() {
    ThreadPriority::lowerCurrentThreadForBackgroundWork();
    QMutexLocker locker(&m_mutex);
    for (;;) {
        while (m_queue.isEmpty() && !m_stopping) {
            if (m_busy) {
                m_busy = false;
                qCDebug(lcAudio) << "Background reader finished";
                m_idle.wakeAll();
            }
            m_workAvailable.wait(&m_mutex);
        }
        if (m_stopping)
            break;
        if (!m_busy) {
            m_busy = true;
            qCDebug(lcAudio) << "Running background reader";
        }
        m_current = m_queue.takeFirst().toStrongRef();
        AudioCachePtr cache = m_current;
        locker.unlock();

        if (cache && !cache->isFillCancelled())
            cache->fill(); // virtual: an editable cache forwards to its source

        locker.relock();
        m_current.clear();
        // The last pointer to a cancelled cache may be this one; release it outside
        // the lock, since the cache's destructor may take a while.
        locker.unlock();
        cache.clear();
        locker.relock();
    }
    m_busy = false;
    m_idle.wakeAll();
}
