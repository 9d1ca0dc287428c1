#include "TapTempo.h"

#include <algorithm>
#include <cmath>

void TapTempo::reset() {
    m_taps.clear();
}

int TapTempo::agreeingTaps() const {
    return static_cast<int>(m_taps.size());
}

double TapTempo::tap(long long ms) {
    // A clock that went backwards or a long pause starts over.
    if (!m_taps.empty() && (ms <= m_taps.back() || ms - m_taps.back() >= kResetMs))
        m_taps.clear();
    m_taps.push_back(ms);

    // Keep the longest run of newest intervals that all lie within the agreement of
    // their mean; an interval that breaks it (the player changed tempo or stumbled)
    // drops every tap before it.
    const int n = static_cast<int>(m_taps.size());
    int first = n - 1; // oldest tap of the agreeing run
    int intervals = 0;
    double sum = 0.0;
    double shortest = 0.0;
    double longest = 0.0;
    for (int i = n - 1; i > 0 && intervals < kIntervalsKept; --i) {
        const double interval = double(m_taps[i] - m_taps[i - 1]);
        const double mean = (sum + interval) / (intervals + 1);
        const double low = intervals == 0 ? interval : std::min(shortest, interval);
        const double high = intervals == 0 ? interval : std::max(longest, interval);
        if (high - mean > kAgreement * mean || mean - low > kAgreement * mean)
            break;
        sum += interval;
        shortest = low;
        longest = high;
        ++intervals;
        first = i - 1;
    }
    m_taps.erase(m_taps.begin(), m_taps.begin() + first);
    if (intervals + 1 < kTapsNeeded)
        return 0.0;
    return 60000.0 * intervals / sum;
}
