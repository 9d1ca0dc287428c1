#include "TempoEstimator.h"

#include "BandSpectrum.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// Speed without changing a single bit of the result: every sum below still runs term by
// term in its own order, but several independent sums (the bins of one frame, the lags
// of one autocorrelation block) advance side by side in the lanes of one vector. There
// is no fused multiply-add on the targets used here, so each lane rounds exactly as the
// plain scalar loop would.

namespace {

// The largest sample rate analysed. The analysis tables grow with the rate; a corrupt
// header claiming billions of hertz must not allocate gigabytes.
constexpr float kMaxSampleRate = 3072000.0f;
// The beat check looks at the first four multiples of a beat period: a true beat recurs
// at each of them, while a tempo whose bar merely spans a whole number of true beats
// (three, five or six of them) meets at most one.
constexpr int kBeatMultiples = 4;
// How much more clearly a related tempo must recur than the comb's choice to replace it.
// On the click, drum and waltz fixtures the right tempo recurs at least 1.5 times as
// clearly as the wrong one, and a wrong replacement at most 0.9 times.
constexpr double kBeatCheckMargin = 1.25;
constexpr int kBeatCheckSteps = 3;
// Nor does a related tempo replace it unless its period stands clearly above the
// autocorrelation's mean (a clear beat rises 0.5 or more; melodic loops without accents
// show rises near 0.1 that say little).
constexpr double kLeastRecurrence = 0.15;
// A comb whose strongest lag rises less than this share above its weakest has found no
// beat: DC or noise (about 0.01). A loop under a pad or noise 12 dB louder than itself
// still rises 0.05 and keeps its tempo.
constexpr double kLeastCombContrast = 0.03;
// A steady tone's comb can rise as far (0.03 to 0.12), from the beating of its period
// with the analysis step, but its level hardly moves. Measured over kLevelFrames steps
// (about 65 ms, two periods of the lowest tone analysed), the level of DC, white noise
// and steady tones from 30 Hz up varies by under 1% of its mean, and by 6% or more for
// anything with a beat in it, even a loop under noise 12 dB louder. Single frames, half
// a period of a 50 Hz tone long, swayed with the tone's phase by up to 16%, and low drones
// got a tempo (50 Hz read as 139 BPM).
constexpr double kLeastLevelVariation = 0.02;
constexpr int kLevelFrames = 12;

typedef double Vec4 __attribute__((vector_size(32)));

// Frame kernel, for K frames at once (each frame's sums stay independent; two frames per
// pass halve the table traffic and keep more additions in flight): lane l of table row j
// is the windowed sine or cosine of one bin at sample j;
// sums[f * 4V + l] = sum over j of frames[f][j] * table[j][l], and squares[f] is the sum
// of squares of frame f.
template <int V, int K>
__attribute__((always_inline)) inline void frameSumsV(const double *const *frames, const double *table, int n,
                                                      double *sums, double *squares) {
    Vec4 acc[K][V];
    double sq[K];
    for (int f = 0; f < K; ++f) {
        sq[f] = 0.0;
        for (int v = 0; v < V; ++v)
            acc[f][v] = Vec4{0.0, 0.0, 0.0, 0.0};
    }
    for (int j = 0; j < n; ++j) {
        const double *row = table + static_cast<size_t>(j) * 4 * V;
        Vec4 t[V];
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v)
            std::memcpy(&t[v], row + 4 * v, sizeof(Vec4));
#pragma GCC unroll 2
        for (int f = 0; f < K; ++f) {
            const double xj = frames[f][j];
            const Vec4 xv = {xj, xj, xj, xj};
#pragma GCC unroll 8
            for (int v = 0; v < V; ++v)
                acc[f][v] += xv * t[v];
            sq[f] += xj * xj;
        }
    }
    for (int f = 0; f < K; ++f) {
        std::memcpy(sums + f * 4 * V, acc[f], sizeof acc[f]);
        squares[f] = sq[f];
    }
}

__attribute__((always_inline)) inline void frameSumsScalar(const double *const *frames, int count,
                                                           const double *table, int n, int lanes,
                                                           double *sums, double *squares) {
    for (int f = 0; f < count; ++f) {
        const double *x = frames[f];
        double *out = sums + f * lanes;
        std::fill(out, out + lanes, 0.0);
        double sq = 0.0;
        for (int j = 0; j < n; ++j) {
            const double *row = table + static_cast<size_t>(j) * lanes;
            for (int l = 0; l < lanes; ++l)
                out[l] += x[j] * row[l];
            sq += x[j] * x[j];
        }
        squares[f] = sq;
    }
}

template <int K>
__attribute__((always_inline)) inline void frameSumsK(const double *const *frames, const double *table, int n,
                                                      int lanes, double *sums, double *squares) {
    switch (lanes) {
    case 4:
        return frameSumsV<1, K>(frames, table, n, sums, squares);
    case 8:
        return frameSumsV<2, K>(frames, table, n, sums, squares);
    case 12:
        return frameSumsV<3, K>(frames, table, n, sums, squares);
    case 16:
        return frameSumsV<4, K>(frames, table, n, sums, squares);
    default:
        return frameSumsScalar(frames, K, table, n, lanes, sums, squares);
    }
}

// Autocorrelation kernel: sums[k] = sum over i from 0 to n - 1 - (tau0 + k) of
// f[i] * f[i + tau0 + k], for the 4V lags tau0 .. tau0 + 4V - 1, each in ascending i.
template <int V>
__attribute__((always_inline)) inline void lagSumsV(const double *f, int n, int tau0, double *sums) {
    constexpr int W = 4 * V;
    Vec4 acc[V];
    for (int v = 0; v < V; ++v)
        acc[v] = Vec4{0.0, 0.0, 0.0, 0.0};
    // Up to iEnd every lane of the block still has a term.
    const int iEnd = n - (tau0 + W - 1);
    for (int i = 0; i < iEnd; ++i) {
        const double fi = f[i];
        const Vec4 fv = {fi, fi, fi, fi};
        const double *p = f + i + tau0;
#pragma GCC unroll 8
        for (int v = 0; v < V; ++v) {
            Vec4 t;
            std::memcpy(&t, p + 4 * v, sizeof t);
            acc[v] += fv * t;
        }
    }
    std::memcpy(sums, acc, sizeof acc);
    const int iStart = std::max(iEnd, 0);
    for (int k = 0; k < W; ++k) {
        const int lag = tau0 + k;
        double s = sums[k];
        for (int i = iStart; i < n - lag; ++i)
            s += f[i] * f[i + lag];
        sums[k] = s;
    }
}

void frameSumsDefault(const double *const *frames, int count, const double *table, int n, int lanes,
                      double *sums, double *squares) {
    if (count == 2)
        frameSumsK<2>(frames, table, n, lanes, sums, squares);
    else
        frameSumsK<1>(frames, table, n, lanes, sums, squares);
}

constexpr int kDefaultLagBlock = 16;
void lagSumsDefault(const double *f, int n, int tau0, double *sums) {
    lagSumsV<4>(f, n, tau0, sums);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define QUILLORY_TEMPO_AVX 1
__attribute__((target("avx"))) void frameSumsAvx(const double *const *frames, int count, const double *table,
                                                 int n, int lanes, double *sums, double *squares) {
    if (count == 2)
        frameSumsK<2>(frames, table, n, lanes, sums, squares);
    else
        frameSumsK<1>(frames, table, n, lanes, sums, squares);
}

constexpr int kAvxLagBlock = 32;
__attribute__((target("avx"))) void lagSumsAvx(const double *f, int n, int tau0, double *sums) {
    lagSumsV<8>(f, n, tau0, sums);
}

bool cpuHasAvx() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx") != 0;
    }();
    return has;
}
#endif

using FrameSumsFn = void (*)(const double *const *, int, const double *, int, int, double *, double *);
using LagSumsFn = void (*)(const double *, int, int, double *);

} // namespace

class TempoEstimator::Impl {
public:
    explicit Impl(float sampleRate);

    void process(const float *samples, int count);
    double estimateTempo();

    // A completed frame waits for the next one so that both are transformed in one pass;
    // features are still appended strictly in frame order.
    void analyseFrame();
    void flushWaitingFrame();
    void appendFeatures(const double *sums, double squares, const double *frame);
    void autocorrelate(const std::vector<double> &feature, int length, std::vector<double> &out) const;
    template <typename Visit> void forEachWindow(int lag, int length, Visit &&visit) const;
    double periodicity(double bpm) const;
    double recurrence(double lag, int length) const;
    // recurrence() of bpm's period above the floor (at least 0), or -1 when too short.
    double recurrenceAbove(double bpm, int length) const;
    void measureRecurrenceFloor(int shortestLag, int length);
    // False when the frame level hardly varies (DC, a steady tone, noise): nothing beats.
    bool levelMoves() const;
    double checkBeat(double tempo, int length) const;

    const double m_dMinimumTempo = 55.0;
    const double m_dMaximumTempo = 190.0;
    const int m_iBeatsPerBar = 4;
    float m_fSampleRate;
    int m_iBlockSize = 0;
    int m_iStepSize = 0;
    const int m_iLowBandLower = 0;
    const int m_iLowBandUpper = 550;
    const int m_iHighBandLower = 9000;
    const int m_iHighBandUpper = 9001;
    std::vector<double> m_lowFeature;
    std::vector<double> m_highFeature;
    std::vector<double> m_rmsFeature;
    // Each frame's mean sample, so that the level check can take out a constant offset.
    std::vector<double> m_frameMean;
    std::vector<double> m_candidates;
    // Kept from the last estimate so that other tempi can be weighed with the same comb.
    std::vector<double> m_mixed;
    double m_dRawLowest = 0.0;
    double m_dRawHighest = 0.0;
    // The mean of the mixed autocorrelation over the tempo lags.
    double m_dRecurrenceFloor = 0.0;
    std::unique_ptr<BandSpectrum> m_pLowSpectrum;
    std::unique_ptr<BandSpectrum> m_pHighSpectrum;
    std::vector<double> m_frame;
    std::vector<double> m_pending;
    int m_iPendingCount = 0;
    std::vector<double> m_magnitudes;
    std::vector<double> m_previousLow;
    std::vector<double> m_previousHigh;

    double m_dFeatureRate = 0.0;
    // False for rates that give no step (below about 184 Hz), that are not positive or
    // finite, or that are absurdly high: such input is ignored and the tempo is 0.0.
    bool m_bUsable = false;

    // Both spectra's tables, transposed so that row j holds every bin's sine, then every
    // bin's cosine, at sample j (padded to whole vectors).
    std::vector<double> m_bandTable;
    int m_iLanes = 0;
    std::vector<double> m_laneSums;
    std::vector<double> m_waitingFrame;
    bool m_bFrameWaiting = false;
    FrameSumsFn m_frameSums = frameSumsDefault;
    LagSumsFn m_lagSums = lagSumsDefault;
    int m_iLagBlock = kDefaultLagBlock;
};

TempoEstimator::Impl::Impl(float sampleRate) : m_fSampleRate(sampleRate) {
    if (!(sampleRate > 0.0f) || !(sampleRate <= kMaxSampleRate))
        return;
    m_iBlockSize = static_cast<int>(m_fSampleRate * 6.0f / static_cast<float>(m_iLowBandUpper));
    m_iStepSize = m_iBlockSize / 2;
    if (m_iStepSize <= 0)
        return;
    m_dFeatureRate = static_cast<double>(m_fSampleRate / static_cast<float>(m_iStepSize));

    const double rate = m_fSampleRate;
    m_pLowSpectrum.reset(new BandSpectrum(m_iBlockSize, rate, m_iLowBandLower, m_iLowBandUpper, true));
    m_pHighSpectrum.reset(new BandSpectrum(m_iBlockSize, rate, m_iHighBandLower, m_iHighBandUpper, true));
    const int lowBins = m_pLowSpectrum->binCount();
    const int highBins = m_pHighSpectrum->binCount();

    m_frame.assign(m_iBlockSize, 0.0);
    m_pending.assign(m_iStepSize, 0.0);
    m_magnitudes.assign(std::max(lowBins, highBins), 0.0);
    m_previousLow.assign(lowBins, 0.0);
    m_previousHigh.assign(highBins, 0.0);

    const int bins = lowBins + highBins;
    m_iLanes = (2 * bins + 3) / 4 * 4;
    m_bandTable.assign(static_cast<size_t>(m_iLanes) * m_iBlockSize, 0.0);
    m_laneSums.assign(2 * static_cast<size_t>(m_iLanes), 0.0);
    m_waitingFrame.assign(m_iBlockSize, 0.0);
    for (int j = 0; j < m_iBlockSize; ++j) {
        double *row = m_bandTable.data() + static_cast<size_t>(j) * m_iLanes;
        for (int k = 0; k < lowBins; ++k) {
            row[k] = m_pLowSpectrum->sineRow(k)[j];
            row[bins + k] = m_pLowSpectrum->cosineRow(k)[j];
        }
        for (int k = 0; k < highBins; ++k) {
            row[lowBins + k] = m_pHighSpectrum->sineRow(k)[j];
            row[bins + lowBins + k] = m_pHighSpectrum->cosineRow(k)[j];
        }
    }
#ifdef QUILLORY_TEMPO_AVX
    if (cpuHasAvx()) {
        m_frameSums = frameSumsAvx;
        m_lagSums = lagSumsAvx;
        m_iLagBlock = kAvxLagBlock;
    }
#endif
    m_bUsable = true;
}

void TempoEstimator::Impl::process(const float *samples, int count) {
    if (!m_bUsable || samples == nullptr || count <= 0)
        return;
    const int overlap = m_iBlockSize - m_iStepSize;
    int index = 0;
    do {
        if (m_iPendingCount + (count - index) < m_iStepSize) {
            while (index < count)
                m_pending[m_iPendingCount++] = samples[index++];
            return;
        }
        double *tail = m_frame.data() + overlap;
        for (int i = 0; i < m_iPendingCount; ++i)
            tail[i] = m_pending[i];
        const int take = m_iStepSize - m_iPendingCount;
        for (int i = 0; i < take; ++i)
            tail[m_iPendingCount + i] = samples[index + i];
        index += take;
        m_iPendingCount = 0;
        analyseFrame();
        std::memmove(m_frame.data(), m_frame.data() + m_iStepSize, sizeof(double) * overlap);
    } while (index < count);
}

void TempoEstimator::Impl::analyseFrame() {
    if (!m_bFrameWaiting) {
        std::copy(m_frame.begin(), m_frame.end(), m_waitingFrame.begin());
        m_bFrameWaiting = true;
        return;
    }
    const double *frames[2] = {m_waitingFrame.data(), m_frame.data()};
    double squares[2];
    m_frameSums(frames, 2, m_bandTable.data(), m_iBlockSize, m_iLanes, m_laneSums.data(), squares);
    m_bFrameWaiting = false;
    appendFeatures(m_laneSums.data(), squares[0], frames[0]);
    appendFeatures(m_laneSums.data() + m_iLanes, squares[1], frames[1]);
}

void TempoEstimator::Impl::flushWaitingFrame() {
    if (!m_bFrameWaiting)
        return;
    const double *frames[1] = {m_waitingFrame.data()};
    double squares[1];
    m_frameSums(frames, 1, m_bandTable.data(), m_iBlockSize, m_iLanes, m_laneSums.data(), squares);
    m_bFrameWaiting = false;
    appendFeatures(m_laneSums.data(), squares[0], frames[0]);
}

void TempoEstimator::Impl::appendFeatures(const double *sums, double squares, const double *frame) {
    m_rmsFeature.push_back(std::sqrt(squares / m_iBlockSize));
    // Four running sums: one alone is a chain of dependent additions nearly as slow as
    // the transform. Only the level check reads the mean, so its rounding order is free.
    double partial[4] = {0.0, 0.0, 0.0, 0.0};
    int j = 0;
    for (; j + 4 <= m_iBlockSize; j += 4)
        for (int l = 0; l < 4; ++l)
            partial[l] += frame[j + l];
    for (; j < m_iBlockSize; ++j)
        partial[0] += frame[j];
    m_frameMean.push_back((partial[0] + partial[1] + partial[2] + partial[3]) / m_iBlockSize);

    const int lowBins = m_pLowSpectrum->binCount();
    const int highBins = m_pHighSpectrum->binCount();
    const int bins = lowBins + highBins;

    // Spectral difference of one band against the previous frame's magnitudes.
    auto bandFlux = [&](int firstLane, int count, std::vector<double> &previous) {
        double *m = m_magnitudes.data();
        for (int k = 0; k < count; ++k) {
            const double im = sums[firstLane + k];
            const double re = sums[bins + firstLane + k];
            m[k] = std::sqrt(im * im + re * re);
        }
        double flux = 0.0;
        for (int k = 0; k < count; ++k)
            flux += std::sqrt(std::fabs(m[k] * m[k] - previous[k] * previous[k]));
        std::copy(m, m + count, previous.begin());
        return flux;
    };
    m_lowFeature.push_back(bandFlux(0, lowBins, m_previousLow));
    m_highFeature.push_back(bandFlux(lowBins, highBins, m_previousHigh));
}

void TempoEstimator::Impl::autocorrelate(const std::vector<double> &feature, int length,
                                         std::vector<double> &out) const {
    const int n = static_cast<int>(feature.size());
    const double *f = feature.data();
    out.assign(length, 0.0);
    int tau = 0;
    for (; tau + m_iLagBlock <= length; tau += m_iLagBlock)
        m_lagSums(f, n, tau, out.data() + tau);
    for (; tau < length; ++tau) {
        double s = 0.0;
        for (int i = 0; i < n - tau; ++i)
            s += f[i] * f[i + tau];
        out[tau] = s;
    }
    for (int t = 0; t < length; ++t)
        out[t] = out[t] / static_cast<double>(n - t);

    double largest = out[0];
    for (int t = 1; t < length; ++t)
        if (out[t] > largest)
            largest = out[t];
    if (largest > 0.0)
        for (int t = 0; t < length; ++t)
            out[t] = out[t] / largest;
}

// The comb's windows for one lag: the lag itself, then around 4, 8, 16, ... times the
// lag, widening with the multiple, up to the end of the autocorrelation.
template <typename Visit> void TempoEstimator::Impl::forEachWindow(int lag, int length, Visit &&visit) const {
    for (int t = 1;; t = (t == 1) ? m_iBeatsPerBar : t * 2) {
        const int start = lag * t - t / 4;
        const int width = (t == 1) ? 1 : t / 4 + t / 2;
        const int end = start + width;
        if (end > length)
            break;
        visit(start, end, t);
    }
}

double TempoEstimator::Impl::periodicity(double bpm) const {
    const int length = static_cast<int>(m_mixed.size());
    if (!(bpm > 0.0) || !std::isfinite(bpm) || length == 0 || !(m_dRawHighest > m_dRawLowest))
        return -1.0;
    const double lag = m_dFeatureRate * 60.0 / bpm;
    if (!(lag >= 1.0) || lag >= length)
        return -1.0;
    // A tempo rarely sits on a whole lag: the best of the lags around it stands for it.
    const int centre = static_cast<int>(lag + 0.5);
    bool found = false;
    double best = 0.0;
    for (int l = std::max(1, centre - 1); l <= centre + 1; ++l) {
        double sum = 0.0;
        int windows = 0;
        forEachWindow(l, length, [&](int start, int end, int) {
            double largest = m_mixed[start];
            for (int k = start + 1; k < end; ++k)
                largest = std::max(largest, m_mixed[k]);
            sum += largest;
            ++windows;
        });
        if (windows > 0 && (!found || sum / windows > best)) {
            best = sum / windows;
            found = true;
        }
    }
    if (!found)
        return -1.0;
    const double scaled = (best - m_dRawLowest) / (m_dRawHighest - m_dRawLowest);
    return std::min(1.0, std::max(0.0, scaled));
}

// The mixed autocorrelation at the first multiples of a (fractional) beat period, each
// the best within a frame either side; -1 when the autocorrelation is too short.
double TempoEstimator::Impl::recurrence(double lag, int length) const {
    if (!(lag > 0.0) || !(lag * kBeatMultiples + 1.0 < length))
        return -1.0;
    double sum = 0.0;
    for (int k = 1; k <= kBeatMultiples; ++k) {
        const double centre = k * lag;
        const int from = std::max(1, static_cast<int>(std::ceil(centre - 1.0)));
        const int to = static_cast<int>(std::floor(centre + 1.0));
        if (to >= length)
            return -1.0;
        double largest = m_mixed[from];
        for (int x = from + 1; x <= to; ++x)
            largest = std::max(largest, m_mixed[x]);
        sum += largest;
    }
    return sum / kBeatMultiples;
}

bool TempoEstimator::Impl::levelMoves() const {
    // The first frame starts on the silence before the recording and the last may end on
    // the silence after it: with an offset, those steps alone would read as movement.
    const int all = static_cast<int>(m_rmsFeature.size());
    const int first = all > kLevelFrames + 2 ? 1 : 0;
    const int frames = all - 2 * first;
    const int span = std::min(kLevelFrames, frames);
    if (span <= 0)
        return false;
    // A constant offset (DC on a recording) adds the same to every frame's energy and
    // would drown how much the level moves: each frame's energy is taken about the
    // recording's mean instead of about zero.
    double offset = 0.0;
    for (int i = first; i < first + frames; ++i)
        offset += m_frameMean[i];
    offset /= frames;
    std::vector<double> frameEnergy(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double rms = m_rmsFeature[first + i];
        frameEnergy[i] = std::max(0.0, rms * rms - 2.0 * offset * m_frameMean[first + i] + offset * offset);
    }
    // Levels of kLevelFrames frames at a time, as a running sum of their energies.
    std::vector<double> levels;
    levels.reserve(static_cast<size_t>(frames - span + 1));
    double energy = 0.0;
    for (int i = 0; i < frames; ++i) {
        energy += frameEnergy[i];
        if (i >= span)
            energy -= frameEnergy[i - span];
        if (i >= span - 1)
            levels.push_back(std::sqrt(std::max(0.0, energy) / span));
    }
    const double n = static_cast<double>(levels.size());
    double mean = 0.0;
    for (double v : levels)
        mean += v;
    mean /= n;
    // Nothing left beside the offset but its rounding: nothing beats.
    if (!(mean > 1e-6 * std::fabs(offset)))
        return false;
    double variance = 0.0;
    for (double v : levels)
        variance += (v - mean) * (v - mean);
    return std::sqrt(variance / n) > kLeastLevelVariation * mean;
}

void TempoEstimator::Impl::measureRecurrenceFloor(int shortestLag, int length) {
    // Measured above the autocorrelation's mean, so that a steady background (a dense
    // hi-hat, compression, noise) does not make every period look alike.
    double floor = 0.0;
    for (int t = shortestLag; t < length; ++t)
        floor += m_mixed[t];
    m_dRecurrenceFloor = floor / (length - shortestLag);
}

// The comb scores a lag by the autocorrelation at 1, 4, 8, 16... times it. Any tempo
// whose four-beat bar spans a whole number of true beats matches every window but the
// first, so plain click tracks and waltzes came out at 4/3, 4/5 or 2/3 of their tempo
// (90 BPM as 120, 135 as 108, a 3/4 at 180 as 120). Such a tempo's own period does not
// recur: the true one, at 3/4, 5/4 or 3/2 of it, does, and replaces it. The octave the
// comb chose is left alone.
double TempoEstimator::Impl::recurrenceAbove(double bpm, int length) const {
    const double recurs = recurrence(m_dFeatureRate * 60.0 / bpm, length);
    return recurs < 0.0 ? -1.0 : std::max(0.0, recurs - m_dRecurrenceFloor);
}

double TempoEstimator::Impl::checkBeat(double tempo, int length) const {
    const double ownAbove = recurrenceAbove(tempo, length);
    if (ownAbove < 0.0)
        return tempo;
    double chosen = tempo;
    double chosenAbove = ownAbove;
    for (double ratio : {0.75, 1.25, 1.5}) {
        double other = tempo * ratio;
        if (other > m_dMaximumTempo)
            other /= 2.0;
        if (other < m_dMinimumTempo)
            other *= 2.0;
        const double above = recurrenceAbove(other, length);
        if (above > kLeastRecurrence && above > kBeatCheckMargin * ownAbove && above > chosenAbove) {
            chosen = other;
            chosenAbove = above;
        }
    }
    return chosen;
}

double TempoEstimator::Impl::estimateTempo() {
    m_candidates.clear();
    m_mixed.clear();
    m_dRawLowest = m_dRawHighest = 0.0;
    m_dRecurrenceFloor = 0.0;
    if (!m_bUsable)
        return 0.0;

    flushWaitingFrame();
    if (m_iPendingCount > 0) {
        const int overlap = m_iBlockSize - m_iStepSize;
        std::copy(m_pending.begin(), m_pending.begin() + m_iPendingCount, m_frame.begin() + overlap);
        std::fill(m_frame.begin() + overlap + m_iPendingCount, m_frame.end(), 0.0);
        m_iPendingCount = 0;
        analyseFrame();
        flushWaitingFrame();
    }

    const int n = static_cast<int>(m_rmsFeature.size());
    int length = static_cast<int>(60.0 / (m_dMinimumTempo / (m_iBeatsPerBar * 4)) * m_dFeatureRate + 0.5);
    if (length <= 0 || n <= 0)
        return 0.0;
    while (length > n)
        length /= 2;

    const int shortestLag = static_cast<int>(60.0 / m_dMaximumTempo * m_dFeatureRate + 0.5);
    const int longestLag = static_cast<int>(60.0 / m_dMinimumTempo * m_dFeatureRate + 0.5);
    // Nothing below depends on the autocorrelation when it cannot reach the slowest tempo.
    if (length < longestLag)
        return 0.0;

    std::vector<double> lowAc, highAc, rmsAc;
    autocorrelate(m_lowFeature, length, lowAc);
    autocorrelate(m_highFeature, length, highAc);
    autocorrelate(m_rmsFeature, length, rmsAc);
    std::vector<double> mixed(length);
    for (int t = 0; t < length; ++t)
        mixed[t] = lowAc[t] + 0.5 * highAc[t] + 0.1 * rmsAc[t];

    auto forEachWindow = [&](int lag, auto &&visit) { this->forEachWindow(lag, length, visit); };

    const int count = longestLag - shortestLag + 1;
    if (count <= 0)
        return 0.0;
    std::vector<double> scores(count, 0.0);
    // A lag whose first window already ends beyond the autocorrelation has no score.
    std::vector<char> scored(count, 0);
    for (int i = 0; i < count; ++i) {
        double sum = 0.0;
        int windows = 0;
        forEachWindow(shortestLag + i, [&](int start, int end, int) {
            double largest = mixed[start];
            for (int k = start + 1; k < end; ++k)
                if (mixed[k] > largest)
                    largest = mixed[k];
            sum += largest;
            ++windows;
        });
        if (windows > 0) {
            scores[i] = sum / windows;
            scored[i] = 1;
        }
    }

    bool any = false;
    double largest = 0.0;
    double smallest = 0.0;
    for (int i = 0; i < count; ++i) {
        if (!scored[i])
            continue;
        if (!any || scores[i] > largest)
            largest = scores[i];
        if (!any || scores[i] < smallest)
            smallest = scores[i];
        any = true;
    }
    m_dRawLowest = smallest;
    m_dRawHighest = largest;
    if (any && largest > smallest)
        for (int i = 0; i < count; ++i)
            if (scored[i])
                scores[i] = (scores[i] - smallest) / (largest - smallest);

    for (int i = 0; i < count; ++i) {
        const double bpm = m_dFeatureRate * 60.0 / (shortestLag + i);
        const double distance = bpm < 130.0 ? std::fabs(130.0 - bpm) / 100.0 : std::fabs(130.0 - bpm) / 80.0;
        scores[i] = scores[i] * std::max(0.0, 1.0 - std::pow(distance, 2.4));
    }

    std::vector<int> peaks;
    for (int i = 1; i + 1 < count; ++i)
        if (scored[i] && scored[i - 1] && scored[i + 1] && scores[i] > scores[i - 1] &&
            scores[i] > scores[i + 1])
            peaks.push_back(i);
    // Highest score first; among equal scores the longer lag first.
    std::sort(peaks.begin(), peaks.end(), [&](int a, int b) {
        if (scores[a] != scores[b])
            return scores[a] > scores[b];
        return a > b;
    });

    for (int i : peaks) {
        const int lag = shortestLag + i;
        double sum = 0.0;
        int windows = 0;
        forEachWindow(lag, [&](int start, int end, int t) {
            double best = 0.0;
            int bestIndex = start;
            for (int k = start; k < end; ++k)
                if (mixed[k] > best) {
                    best = mixed[k];
                    bestIndex = k;
                }
            if (best > 0.0) {
                sum += static_cast<double>(bestIndex) / t;
                ++windows;
            }
        });
        const double refinedLag = windows > 0 ? sum / windows : lag;
        m_candidates.push_back(m_dFeatureRate * 60.0 / refinedLag);
    }
    m_mixed.swap(mixed);
    measureRecurrenceFloor(shortestLag, length);
    if (m_candidates.empty() || !(largest - smallest > kLeastCombContrast * largest) || !levelMoves())
        return 0.0;
    // A correction can itself be a relative of the truth (a waltz at 144 read as 128,
    // whose best-recurring relative is 96): check again from there. Every step must
    // recur more clearly than the last, so this ends.
    double tempo = m_candidates.front();
    for (int step = 0; step < kBeatCheckSteps; ++step) {
        const double next = checkBeat(tempo, length);
        if (next == tempo)
            break;
        tempo = next;
    }
    return tempo;
}

TempoEstimator::TempoEstimator(float sampleRate) : d(new Impl(sampleRate)) {}

TempoEstimator::~TempoEstimator() = default;

void TempoEstimator::process(const float *samples, int count) {
    d->process(samples, count);
}

double TempoEstimator::estimateTempo() {
    return d->estimateTempo();
}

const std::vector<double> &TempoEstimator::candidates() const {
    return d->m_candidates;
}

double TempoEstimator::periodicity(double bpm) const {
    return d->periodicity(bpm);
}

double TempoEstimator::beatRecurrence(double bpm) const {
    const int length = static_cast<int>(d->m_mixed.size());
    if (!(bpm > 0.0) || !std::isfinite(bpm) || length == 0)
        return -1.0;
    return d->recurrenceAbove(bpm, length);
}

int TempoEstimator::blockSize() const {
    return d->m_iBlockSize;
}

int TempoEstimator::stepSize() const {
    return d->m_iStepSize;
}

double TempoEstimator::featureRate() const {
    return d->m_dFeatureRate;
}

int TempoEstimator::featureCount() const {
    return static_cast<int>(d->m_rmsFeature.size()) + (d->m_bFrameWaiting ? 1 : 0);
}
