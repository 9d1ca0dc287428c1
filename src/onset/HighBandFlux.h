#pragma once

#include "RealFft.h"

#include <QtGlobal>
#include <vector>

// A second detection function for what the main one cannot see: a soft hi-hat under the
// tail of a loud snare or a cymbal. The main function compares 21 ms spectra with the
// loudest of those 10 to 30 ms before, and a decaying tail is louder there than the soft
// stroke ever gets, so the stroke adds nothing. Over a few milliseconds, though, it still
// lifts the top of the spectrum clearly above what the tail held just before. So this
// function takes short windows (about 5 ms, half-overlapped), keeps only the bins above
// 4 kHz, and sums each bin's rise over the maximum of itself and its neighbours two to
// four windows back, on the same compressed scale as the main function. (Benchmark, dry
// drum and bass: the soft hats the main function missed stand above every peak of this
// function that is not a hit.)
class HighBandFlux {
public:
    HighBandFlux(int sampleRate, qint64 frames);
    bool isValid() const { return m_fft.isValid() && m_firstBin < m_bins; }

    // Feeds the mono signal: samples [first, first + count) of it, in order, with no gaps.
    // Frames are computed as soon as their windows are complete.
    void add(const float *mono, qint64 first, int count);
    // Computes the frames that reach past the end of the signal (as silence).
    void finish();
    // The earliest sample that frames still to come need.
    qint64 neededFrom() const { return m_nextFrame * m_hop - m_size / 2; }

    int hop() const { return m_hop; }
    // Frames before this one have nothing to compare with and stay zero.
    int lag() const { return m_lag; }
    int windowSize() const { return m_size; }
    // Frame n is centred on sample n * hop().
    const std::vector<float> &values() const { return m_flux; }

private:
    void computeFrame(qint64 n);

    int m_size = 256, m_hop = 128, m_lag = 2, m_refSpan = 2;
    int m_bins = 0, m_firstBin = 0;
    float m_magScale = 1.0f;
    qint64 m_frameCount = 0, m_nextFrame = 0;
    RealFft m_fft;
    std::vector<float> m_window;
    // Samples from m_bufferStart on, as far as they have come.
    std::vector<float> m_buffer;
    qint64 m_bufferStart = 0;
    // Ring of the last frames' compressed spectra (bins from m_firstBin), each widened to
    // the maximum of itself and its neighbours.
    std::vector<std::vector<float>> m_widened;
    std::vector<float> m_current, m_reference, m_rise;
    std::vector<float> m_flux;
};
