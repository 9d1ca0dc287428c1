#pragma once

#include <QMap>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>

// Process-wide registry of named performance counters (callback load, underflows,
// overflows, recording buffer fill). Real-time code updates them without ever
// waiting: an update that finds the registry busy is skipped.
class PerfCounterManager {
public:
    static PerfCounterManager &instance();

    // Any thread, including the sound-card thread: try-lock only, skipped when busy.
    // Counters the sound-card thread touches must already exist (set or setRange on
    // the GUI thread first) so that the update never inserts into the map.
    void increment(const QString &name);
    void set(const QString &name, float value);

    // GUI thread: waits for the lock; creates the counter at 0 when absent.
    void setRange(const QString &name, float minimum, float maximum);

    // Readers for displays and tests.
    bool contains(const QString &name) const;
    float value(const QString &name) const;
    QPair<float, float> range(const QString &name) const;
    QStringList names() const;

    PerfCounterManager(const PerfCounterManager &) = delete;
    PerfCounterManager &operator=(const PerfCounterManager &) = delete;

private:
    PerfCounterManager() = default;

    mutable QMutex m_lock;
    QMap<QString, float> m_values;
    QMap<QString, QPair<float, float>> m_ranges;
};
