#pragma once

#include "OnsetDetector.h"
#include "RealFft.h"

#include <vector>

// Placement by bands. A hi-hat or ride under the tail of a snare, the wash of another
// cymbal or a reverb raises the level of the whole signal too little to show in a
// broadband envelope, and the coarse detection function peaks well into such a sound, so
// its slice started late and lost the attack. Above a few kHz, though, the hat still lifts
// its own part of the spectrum clearly over what that part held just before. So around
// each candidate a short-window spectrogram (about 3 ms windows, under a millisecond
// apart, FFTW) is split into bands from 4 kHz up to the top of the signal (small hats
// have much of their edge above 13 kHz), and the earliest frame at which a band rises
// well over its own recent mean level marks the attack. Lower bands are left to the
// broadband envelopes: with windows this short they hold a few bins each and flicker too
// much to trust, and kicks, snares and bass notes show plainly there anyway.
class BandPlacer {
public:
    BandPlacer(int sampleRate, int channels);
    bool isValid() const { return m_fft.isValid() && !m_bandFirst.empty(); }

    // Earliest sample in [from, to] where a band of the hit rises clearly, or -1.
    // detectionPeak is where the hit's detection function peaked.
    qint64 earliest(const OnsetDetector::FrameReader &reader, qint64 frames, qint64 from, qint64 to,
                    qint64 detectionPeak);

    // The lowest band edge; the jump over the band's recent mean (in dB) that counts as an
    // attack; how far under the band's own peak near the hit the rise may lie; how far
    // under the loudest band a band may lie and still take part. (Benchmark: 6 dB found
    // the hats under a snare's tail, 8 dB and more missed them.)
    static constexpr double kBandLowestHz = 4000.0;
    static constexpr float kBandRiseDb = 6.0f;
    static constexpr float kBandNearPeakDb = 20.0f;
    static constexpr float kBandSpanDb = 30.0f;
    // A rise found more than kHoldReachMs before the detection peak counts only if its band
    // stays kHoldDb over its earlier level until kHoldUntilMs before the peak. A hat that
    // leads a kick holds; what falls back before the hit was the flicker of an earlier
    // sound: the loop seam of a ringing open hat, 12 ms before each kick of a house groove,
    // started those kicks 13-16 ms early. (Benchmark, matched starts more than 10 ms early:
    // 49 -> 36 on the corpus, 33, 41, 22 -> 32, 40, 21 on its replays; starts later than
    // 1 ms after their hit 6, 20, 6, 10 -> 6, 21, 6, 9.)
    static constexpr double kHoldReachMs = 10.0;
    static constexpr double kHoldUntilMs = 2.0;
    static constexpr float kHoldDb = 3.0f;

private:
    int m_rate, m_channels, m_size, m_hop = 32;
    RealFft m_fft;
    std::vector<float> m_window, m_raw, m_mono, m_level;
    std::vector<int> m_bandFirst, m_bandEnd;
};
