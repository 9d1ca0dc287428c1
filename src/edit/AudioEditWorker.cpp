#include "AudioEditWorker.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

namespace {
QThread *s_thread = nullptr;

// Hands the worker's reference back to the thread the edit lives on, so that an edit whose
// last holder let go during its analysis is destroyed there rather than on the worker.
void releaseOnOwnerThread(AudioEditPtr edit)
{
    QObject *owner = QCoreApplication::instance();
    if (!owner || !edit || edit->thread() == QThread::currentThread())
        return;
    QMetaObject::invokeMethod(owner, [held = std::move(edit)]() {}, Qt::QueuedConnection);
}
} // namespace

AudioEditWorker *AudioEditWorker::instance()
{
    static AudioEditWorker *worker = new AudioEditWorker;
    return worker;
}

AudioEditWorker *AudioEditWorker::startThread()
{
    AudioEditWorker *worker = instance();
    if (s_thread || worker->thread() != QThread::currentThread())
        return worker;
    {
        QMutexLocker lock(&worker->m_mutex);
        worker->m_stop = false;
    }
    s_thread = new QThread;
    s_thread->setObjectName(QStringLiteral("AudioEditWorker"));
    worker->moveToThread(s_thread);
    QObject::connect(s_thread, &QThread::started, worker, &AudioEditWorker::processWork);
    s_thread->start(QThread::InheritPriority);
    return worker;
}

void AudioEditWorker::shutDown()
{
    if (!s_thread)
        return;
    instance()->stop();
    s_thread->quit();
    s_thread->wait();
    // The worker keeps its (finished) thread affinity; a later startThread is not expected.
}

int AudioEditWorker::queuedCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_queue.size();
}

void AudioEditWorker::queueWork(AudioEditPtr pAudioEdit)
{
    if (!pAudioEdit)
        return;
    {
        QMutexLocker lock(&m_mutex);
        if (m_queue.contains(pAudioEdit))
            return;
        m_queue.append(pAudioEdit);
    }
    m_wakeUp.wakeAll();
}

void AudioEditWorker::stop()
{
    QMutexLocker lock(&m_mutex);
    m_stop = true;
    m_wakeUp.wakeAll();
}

void AudioEditWorker::processWork()
{
    QMutexLocker lock(&m_mutex);
    for (;;) {
        // Waiting only on an empty queue: an edit queued while the last one was analysed is
        // never missed.
        while (m_queue.isEmpty() && !m_stop)
            m_wakeUp.wait(&m_mutex);
        if (m_stop)
            break;
        // Taken off the queue before the analysis, so a move during the analysis queues the
        // edit again and the gain follows its latest range.
        AudioEditPtr edit = m_queue.takeFirst();
        lock.unlock();
        edit->analyze();
        edit->notifyRegionModified();
        emit workFinished();
        releaseOnOwnerThread(std::move(edit));
        lock.relock();
    }
}
