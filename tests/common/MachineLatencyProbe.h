#pragma once
// What the machine itself does to a real-time thread, measured beside a benchmark that
// plays through a real-time paced device. A thread with an audio thread's scheduling
// (SCHED_FIFO where the system grants it) sleeps a millisecond at a time and records how
// late it wakes; beside it, the processor time the host took from this virtual machine.
// Periods a device misses while this thread, which does no work, also wakes a period late
// were lost to the machine, not to the program.

#include <atomic>
#include <thread>

class MachineLatencyProbe {
public:
    // Starts at once; wakes later than periodMicros are counted.
    explicit MachineLatencyProbe(int periodMicros);
    ~MachineLatencyProbe();
    MachineLatencyProbe(const MachineLatencyProbe &) = delete;
    MachineLatencyProbe &operator=(const MachineLatencyProbe &) = delete;

    // Ends the measurement; the figures stay. Idempotent.
    void stop();

    // Whether the probe got real-time scheduling.
    bool isRealtime() const { return m_realtime.load(); }
    // The latest wake, and how many wakes came more than a period late.
    long long latestWakeMicros() const { return m_latest.load(); }
    long long lateWakes() const { return m_lateWakes.load(); }
    // Processor time the host took from all processors since the start (milliseconds;
    // 0 where the system does not report it), up to stop.
    double stolenMs() const { return m_stolenMs; }

private:
    void run();
    static double stolenSinceBoot();

    const int m_periodMicros;
    const double m_stolenAtStart;
    double m_stolenMs = 0.0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_realtime{false};
    std::atomic<long long> m_latest{0};
    std::atomic<long long> m_lateWakes{0};
    std::thread m_thread;
};
