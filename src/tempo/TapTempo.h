#pragma once

#include <vector>

// Tempo from taps: the average interval of the last taps that agree with each other.
// Times come from the caller (milliseconds on any steady clock), so that the logic does
// not depend on when it runs.
class TapTempo {
public:
    // A pause this long ends a run of taps; the next tap starts a new one.
    static constexpr long long kResetMs = 2000;
    // Taps needed before a tempo is given, and how closely their intervals must agree.
    static constexpr int kTapsNeeded = 4;
    static constexpr double kAgreement = 0.02;
    // Intervals averaged at most: enough to smooth a human hand, few enough to follow a
    // deliberate change quickly.
    static constexpr int kIntervalsKept = 8;

    // Records a tap at time ms; returns the tempo in BPM once at least four of the last
    // taps agree within 2%, else 0.
    double tap(long long ms);
    void reset();
    // Taps in the current run that agree (the newest first), for showing progress.
    int agreeingTaps() const;

private:
    std::vector<long long> m_taps;
};
