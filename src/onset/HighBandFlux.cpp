#include "HighBandFlux.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {
// The compression of the main function: quiet strokes keep a fair share of the flux.
constexpr float kCompression = 10000.0f;
constexpr double kLowestHz = 4000.0;
// Below this top frequency (a sample rate under 12 kHz) the band is a sliver at the
// filter's edge: its flux is the noise of a bin or two, and its peaks, rated against
// themselves, came out as strong as real hits. Such files go without this function.
constexpr double kLowestTopHz = 6000.0;
} // namespace

HighBandFlux::HighBandFlux(int sampleRate, qint64 frames)
    : m_size([sampleRate] {
          int size = 64;
          while (size < sampleRate * 0.0053)
              size *= 2;
          return size;
      }()),
      m_fft(m_size) {
    m_hop = m_size / 2;
    m_bins = m_size / 2 + 1;
    m_firstBin = sampleRate * 0.5 < kLowestTopHz ? m_bins : std::max(1, int(std::ceil(kLowestHz * m_size / sampleRate)));
    for (int i = 0; i < m_size; ++i)
        m_window.push_back(float(0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / m_size)));
    m_magScale = 2.0f / std::accumulate(m_window.begin(), m_window.end(), 0.0f);
    m_frameCount = std::max<qint64>(0, frames / m_hop + 1);
    const int width = std::max(0, m_bins - m_firstBin);
    m_widened.assign(size_t(m_lag + m_refSpan + 1), std::vector<float>(size_t(width), 0.0f));
    m_current.assign(size_t(width), 0.0f);
    m_reference.assign(size_t(width), 0.0f);
    m_rise.assign(size_t(width), 1.0f);
    m_flux.assign(size_t(m_frameCount), 0.0f);
    m_bufferStart = -m_size / 2;
    m_buffer.assign(size_t(m_size / 2), 0.0f);
}

void HighBandFlux::add(const float *mono, qint64 first, int count) {
    if (!isValid() || count <= 0)
        return;
    // Drop what no frame still needs before appending, so the buffer stays a few windows long.
    const qint64 keepFrom = std::min(neededFrom(), first);
    if (keepFrom > m_bufferStart) {
        const qint64 drop = std::min<qint64>(keepFrom - m_bufferStart, qint64(m_buffer.size()));
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + drop);
        m_bufferStart += drop;
    }
    m_buffer.insert(m_buffer.end(), mono, mono + count);
    const qint64 available = m_bufferStart + qint64(m_buffer.size());
    while (m_nextFrame < m_frameCount && m_nextFrame * m_hop + m_size / 2 <= available)
        computeFrame(m_nextFrame++);
}

void HighBandFlux::finish() {
    if (!isValid())
        return;
    while (m_nextFrame < m_frameCount)
        computeFrame(m_nextFrame++);
}

void HighBandFlux::computeFrame(qint64 n) {
    const qint64 first = n * m_hop - m_size / 2 - m_bufferStart;
    float *in = m_fft.input();
    const float *window = m_window.data();
    if (first >= 0 && first + m_size <= qint64(m_buffer.size())) {
        const float *x = m_buffer.data() + first;
        for (int i = 0; i < m_size; ++i)
            in[i] = x[i] * window[i];
    } else {
        for (int i = 0; i < m_size; ++i) {
            const qint64 at = first + i;
            in[i] = (at >= 0 && at < qint64(m_buffer.size()) ? m_buffer[size_t(at)] : 0.0f) * window[i];
        }
    }
    const float *out = reinterpret_cast<const float *>(m_fft.run() + m_firstBin);
    const int width = m_bins - m_firstBin;
    // Powers, not compressed magnitudes: the compression is monotonic, so the maxima below
    // are the same either way, and it is applied only to the few bins that rise.
    float *current = m_current.data();
    for (int k = 0; k < width; ++k)
        current[k] = out[2 * k] * out[2 * k] + out[2 * k + 1] * out[2 * k + 1];
    const int ring = m_lag + m_refSpan + 1;
    float *wide = m_widened[size_t(n % ring)].data();
    if (width == 1) {
        wide[0] = current[0];
    } else {
        wide[0] = std::max(current[0], current[1]);
        for (int k = 1; k + 1 < width; ++k)
            wide[k] = std::max(current[k], std::max(current[k - 1], current[k + 1]));
        wide[width - 1] = std::max(current[width - 1], current[width - 2]);
    }
    if (n < m_lag)
        return;
    float *reference = m_reference.data();
    std::fill(m_reference.begin(), m_reference.end(), 0.0f);
    for (qint64 m = std::max<qint64>(0, n - m_lag - m_refSpan); m <= n - m_lag; ++m) {
        const float *earlier = m_widened[size_t(m % ring)].data();
        for (int k = 0; k < width; ++k)
            reference[k] = std::max(reference[k], earlier[k]);
    }
    // Each bin's rise as a ratio of compressed magnitudes, 1 where it did not rise, for
    // all bins at once (no branch per bin: which bins rise is noise). The sum of their
    // logarithms is the logarithm of their product, taken once per frame.
    const float gain = kCompression * m_magScale;
    float *rise = m_rise.data();
    for (int k = 0; k < width; ++k)
        rise[k] = std::max(1.0f, (1.0f + gain * std::sqrt(current[k])) / (1.0f + gain * std::sqrt(reference[k])));
    double product = 1.0, sum = 0.0;
    for (int k = 0; k < width; ++k) {
        product *= double(rise[k]);
        // Out of silence each bin may rise ten-thousandfold: keep the product finite.
        if ((k & 7) == 7 && product > 1e200) {
            sum += std::log10(product);
            product = 1.0;
        }
    }
    m_flux[size_t(n)] = float(sum + std::log10(product));
}
