#include "BandPlacer.h"

#include <algorithm>
#include <cmath>

BandPlacer::BandPlacer(int sampleRate, int channels)
    : m_rate(sampleRate), m_channels(channels), m_size(sampleRate > 64000 ? 256 : 128), m_fft(m_size)
{
    m_hop = m_size / 4;
    for (int i = 0; i < m_size; ++i)
        m_window.push_back(float(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / m_size)));
    const double binHz = double(sampleRate) / m_size;
    const int bins = m_size / 2 + 1;
    int lo = std::max(1, int(std::lround(kBandLowestHz / binHz)));
    for (double edge : {4000.0, 8000.0, 13000.0, 1e9}) {
        const int hi = std::min(bins, int(std::lround(edge / binHz)));
        if (hi > lo) {
            m_bandFirst.push_back(lo);
            m_bandEnd.push_back(hi);
        }
        lo = hi;
    }
}

qint64 BandPlacer::earliest(const OnsetDetector::FrameReader &reader, qint64 frames, qint64 from, qint64 to,
                            qint64 detectionPeak) {
    const int bands = int(m_bandFirst.size());
    const int past = std::max(2, int(std::lround(m_rate * 0.004 / m_hop)));
    const int ahead = m_size / m_hop;
    const qint64 first = std::max<qint64>(0, from - qint64(past + ahead) * m_hop);
    const qint64 last = std::min(frames - 1, to + qint64(m_size / 2));
    if (last <= first)
        return -1;
    const int count = int((last - first) / m_hop) + 1;
    const qint64 readFrom = first - m_size / 2;
    const qint64 readTo = first + qint64(count - 1) * m_hop + m_size / 2;
    const qint64 lo = std::max<qint64>(0, readFrom);
    const int n = int(std::min(frames, readTo) - lo);
    if (n <= 0)
        return -1;
    m_raw.resize(size_t(n) * size_t(m_channels));
    const int got = std::clamp(reader(lo, n, m_raw.data()), 0, n);
    m_mono.assign(size_t(readTo - readFrom), 0.0f);
    for (int i = 0; i < got; ++i) {
        float v = 0.0f;
        for (int c = 0; c < m_channels; ++c)
            v += m_raw[size_t(i) * size_t(m_channels) + size_t(c)];
        m_mono[size_t(lo - readFrom + i)] =
            std::isfinite(v) ? std::clamp(v, -OnsetDetector::kLoudestSample, OnsetDetector::kLoudestSample) : 0.0f;
    }
    m_level.assign(size_t(count) * size_t(bands), 0.0f);
    for (int j = 0; j < count; ++j) {
        float *in = m_fft.input();
        for (int i = 0; i < m_size; ++i)
            in[i] = m_mono[size_t(j * m_hop + i)] * m_window[size_t(i)];
        const fftwf_complex *out = m_fft.run();
        for (int b = 0; b < bands; ++b) {
            float e = 0.0f;
            for (int k = m_bandFirst[size_t(b)]; k < m_bandEnd[size_t(b)]; ++k)
                e += out[k][0] * out[k][0] + out[k][1] * out[k][1];
            m_level[size_t(j) * size_t(bands) + size_t(b)] = 10.0f * std::log10(e + 1e-12f);
        }
    }
    auto level = [&](int j, int b) { return m_level[size_t(j) * size_t(bands) + size_t(b)]; };
    std::vector<float> peak(size_t(bands), -1e9f);
    float loudest = -1e9f;
    for (int j = past; j < count; ++j)
        for (int b = 0; b < bands; ++b) {
            peak[size_t(b)] = std::max(peak[size_t(b)], level(j, b));
            loudest = std::max(loudest, level(j, b));
        }
    const qint64 holdFrom = detectionPeak - qint64(kHoldReachMs * m_rate / 1000.0);
    const qint64 holdUntil = detectionPeak - qint64(kHoldUntilMs * m_rate / 1000.0);
    // A frame is compared with frames whose windows ended before its own began, so a
    // rise is not split across overlapping windows and lost in the ramp.
    int best = -1;
    for (int b = 0; b < bands; ++b) {
        if (peak[size_t(b)] < loudest - kBandSpanDb)
            continue;
        for (int j = past + ahead; j < count && (best < 0 || j < best); ++j) {
            if (first + qint64(j) * m_hop > to)
                break;
            float before = 0.0f;
            for (int k = j - ahead - past; k <= j - ahead; ++k)
                before += level(k, b);
            before /= float(past + 1);
            const float now = level(j, b);
            if (now - before >= kBandRiseDb && now >= peak[size_t(b)] - kBandNearPeakDb) {
                if (first + qint64(j) * m_hop < holdFrom) {
                    float low = now;
                    for (int q = j + 1; q < count && first + qint64(q) * m_hop < holdUntil; ++q)
                        low = std::min(low, level(q, b));
                    if (low < before + kHoldDb)
                        continue;
                }
                int k = j - ahead + 1;
                while (k < j && level(k, b) < before + 3.0f)
                    ++k;
                best = best < 0 ? k : std::min(best, k);
                break;
            }
        }
    }
    return best < 0 ? -1 : std::max<qint64>(0, first + qint64(best) * m_hop - m_size / 8);
}
