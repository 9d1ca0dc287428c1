#include "PerfCounterManager.h"

PerfCounterManager &PerfCounterManager::instance()
{
    static PerfCounterManager manager;
    return manager;
}

// Sound-card thread allowed: no wait; no allocation when the counter exists.
void PerfCounterManager::increment(const QString &name)
{
    if (!m_lock.tryLock())
        return;
    auto it = m_values.find(name);
    if (it == m_values.end())
        m_values.insert(name, 1.0f);
    else
        it.value() += 1.0f;
    m_lock.unlock();
}

// Sound-card thread allowed: no wait; no allocation when the counter exists.
void PerfCounterManager::set(const QString &name, float value)
{
    if (!m_lock.tryLock())
        return;
    auto it = m_values.find(name);
    if (it == m_values.end())
        m_values.insert(name, value);
    else
        it.value() = value;
    m_lock.unlock();
}

void PerfCounterManager::setRange(const QString &name, float minimum, float maximum)
{
    QMutexLocker locker(&m_lock);
    m_ranges.insert(name, qMakePair(minimum, maximum));
    if (!m_values.contains(name))
        m_values.insert(name, 0.0f);
}

bool PerfCounterManager::contains(const QString &name) const
{
    QMutexLocker locker(&m_lock);
    return m_values.contains(name);
}

float PerfCounterManager::value(const QString &name) const
{
    QMutexLocker locker(&m_lock);
    return m_values.value(name, 0.0f);
}

QPair<float, float> PerfCounterManager::range(const QString &name) const
{
    QMutexLocker locker(&m_lock);
    return m_ranges.value(name, qMakePair(0.0f, 0.0f));
}

QStringList PerfCounterManager::names() const
{
    QMutexLocker locker(&m_lock);
    return m_values.keys();
}
