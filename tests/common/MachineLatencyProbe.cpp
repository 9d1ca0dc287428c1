#include "MachineLatencyProbe.h"

#include <QFile>
#include <QList>

#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {
long long nowMicros() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}
} // namespace

MachineLatencyProbe::MachineLatencyProbe(int periodMicros)
    : m_periodMicros(periodMicros), m_stolenAtStart(stolenSinceBoot()), m_thread([this] { run(); }) {}

MachineLatencyProbe::~MachineLatencyProbe() {
    stop();
}

void MachineLatencyProbe::stop() {
    if (!m_thread.joinable())
        return;
    m_stop = true;
    m_thread.join();
    m_stolenMs = stolenSinceBoot() - m_stolenAtStart;
}

void MachineLatencyProbe::run() {
    // The priority JACK gives its clients' process threads under a server at its default 10.
    sched_param param{};
    param.sched_priority = 5;
    m_realtime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    while (!m_stop.load()) {
        const long long before = nowMicros();
        const timespec millisecond{0, 1000000};
        clock_nanosleep(CLOCK_MONOTONIC, 0, &millisecond, nullptr);
        const long long late = nowMicros() - before - 1000;
        if (late > m_latest.load())
            m_latest = late;
        if (late > m_periodMicros)
            ++m_lateWakes;
    }
}

double MachineLatencyProbe::stolenSinceBoot() {
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0.0;
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    // cpu user nice system idle iowait irq softirq steal ...
    if (fields.size() < 9 || fields[0] != "cpu")
        return 0.0;
    return fields[8].toDouble() * 1000.0 / double(sysconf(_SC_CLK_TCK));
}
