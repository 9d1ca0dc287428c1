#pragma once

#include <cstddef>
#include <vector>

// Windowed partial discrete Fourier transform over a contiguous range of bins.
// Only the few bins the tempo features need are computed, by direct multiply-and-add
// over precomputed windowed sine and cosine tables.
class BandSpectrum {
public:
    BandSpectrum(int blockSize, double sampleRate, double lowerEdgeHz, double upperEdgeHz,
                 bool windowed = true);

    int blockSize() const { return m_iBlockSize; }
    int lowestBin() const { return m_iLowestBin; }
    int highestBin() const { return m_iHighestBin; }
    int binCount() const { return m_iBinCount; }

    // Row k holds bin lowestBin() + k, one value per frame sample.
    const double *sineRow(int k) const { return m_sine.data() + static_cast<std::size_t>(k) * m_iBlockSize; }
    const double *cosineRow(int k) const {
        return m_cosine.data() + static_cast<std::size_t>(k) * m_iBlockSize;
    }

    // Magnitudes of every bin for one frame of blockSize() samples, into out[0 .. binCount()).
    void magnitudes(const double *frame, double *out) const;

private:
    int m_iBlockSize;
    double m_dSampleRate;
    double m_dLowerEdge;
    double m_dUpperEdge;
    bool m_bWindowed;
    int m_iLowestBin;
    int m_iHighestBin;
    int m_iBinCount;
    std::vector<double> m_sine;
    std::vector<double> m_cosine;
};
