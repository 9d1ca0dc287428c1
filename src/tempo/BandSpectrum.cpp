#include "BandSpectrum.h"

#include <cmath>

namespace {
constexpr double kTwoPi = 6.283185307179586;
}

BandSpectrum::BandSpectrum(int blockSize, double sampleRate, double lowerEdgeHz, double upperEdgeHz,
                           bool windowed)
    : m_iBlockSize(blockSize > 0 ? blockSize : 0), m_dSampleRate(sampleRate), m_dLowerEdge(lowerEdgeHz),
      m_dUpperEdge(upperEdgeHz), m_bWindowed(windowed), m_iLowestBin(0), m_iHighestBin(-1), m_iBinCount(0) {
    if (m_iBlockSize <= 0 || !(sampleRate > 0.0))
        return;
    m_iLowestBin = static_cast<int>(std::floor(m_iBlockSize * m_dLowerEdge) / m_dSampleRate);
    m_iHighestBin = static_cast<int>(std::ceil(m_iBlockSize * m_dUpperEdge) / m_dSampleRate);
    m_iBinCount = m_iHighestBin - m_iLowestBin + 1;
    if (m_iBinCount <= 0) {
        m_iBinCount = 0;
        return;
    }
    const size_t cells = static_cast<size_t>(m_iBinCount) * m_iBlockSize;
    m_sine.resize(cells);
    m_cosine.resize(cells);
    for (int k = 0; k < m_iBinCount; ++k) {
        const int bin = m_iLowestBin + k;
        const double step = bin * kTwoPi / m_iBlockSize;
        double *sineRow = m_sine.data() + static_cast<size_t>(k) * m_iBlockSize;
        double *cosineRow = m_cosine.data() + static_cast<size_t>(k) * m_iBlockSize;
        for (int j = 0; j < m_iBlockSize; ++j) {
            const double theta = j * step;
            const double w = m_bWindowed ? 0.5 - 0.5 * std::cos(kTwoPi * j / m_iBlockSize) : 1.0;
            sineRow[j] = std::sin(theta) * w;
            cosineRow[j] = std::cos(theta) * w;
        }
    }
}

void BandSpectrum::magnitudes(const double *frame, double *out) const {
    for (int k = 0; k < m_iBinCount; ++k) {
        const double *s = sineRow(k);
        const double *c = cosineRow(k);
        double re = 0.0;
        double im = 0.0;
        for (int j = 0; j < m_iBlockSize; ++j) {
            im += frame[j] * s[j];
            re += frame[j] * c[j];
        }
        out[k] = std::sqrt(im * im + re * re);
    }
}
