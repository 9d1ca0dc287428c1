#include "EditableAudioCacheWorker.h"

#include <QMutexLocker>
#include <algorithm>

EditableAudioCacheWorker::EditableAudioCacheWorker(const AudioCachePtr &renderCache, QRecursiveMutex *editLock)
    : m_renderCache(renderCache), m_editLock(editLock)
{
}

void EditableAudioCacheWorker::queueRegion(int startSample, int endSample)
{
    int start = std::max(0, startSample);
    int end = std::min(endSample, m_renderCache->length());
    if (end <= start)
        return;
    {
        QMutexLocker lock(&m_mutex);
        // Fold every queued region that overlaps or touches the new one into it: dragging an
        // edit queues a region per mouse move, and each sample needs resetting only once.
        for (int k = m_regions.size() - 1; k >= 0; --k) {
            const QPair<int, int> &r = m_regions.at(k);
            if (r.first <= end && start <= r.second) {
                start = std::min(start, r.first);
                end = std::max(end, r.second);
                m_regions.removeAt(k);
            }
        }
        m_regions.append(qMakePair(start, end));
    }
    m_wakeUp.wakeAll();
}

void EditableAudioCacheWorker::stop()
{
    QMutexLocker lock(&m_mutex);
    m_stop.store(true);
    m_wakeUp.wakeAll();
}

bool EditableAudioCacheWorker::isBusy() const
{
    QMutexLocker lock(&m_mutex);
    return m_resetting || !m_regions.isEmpty();
}

int EditableAudioCacheWorker::queuedRegionCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_regions.size();
}

void EditableAudioCacheWorker::markSamplesAsDirty()
{
    QMutexLocker lock(&m_mutex);
    while (!m_stop.load()) {
        if (m_regions.isEmpty()) {
            m_wakeUp.wait(&m_mutex);
            continue;
        }
        const QPair<int, int> region = m_regions.takeFirst();
        m_resetting = true;
        lock.unlock();
        for (int pos = region.first; pos < region.second && !m_stop.load(); pos += kResetSlice) {
            const int count = std::min(kResetSlice, region.second - pos);
            QMutexLocker editLock(m_editLock);
            m_renderCache->zeroSamples(pos, count);
            if (m_resetHook)
                m_resetHook(pos, pos + count);
        }
        emit cacheUpdateProgress();
        lock.relock();
        m_resetting = false;
    }
    lock.unlock();
    emit finished();
}
