#include "PeakSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUILLORY_PEAKS_AVX2 1
#endif

namespace {

constexpr int kFineSamples = PeakSummary::kBlockFrames[0] * 2;
// Whole finest blocks summarised per step of an update: their extremes wait on the stack.
constexpr int kBatchBlocks = 64;

// An unknown block holds an empty range (minimum above maximum), which no samples produce.
constexpr float kUnknownMinimum = std::numeric_limits<float>::infinity();
constexpr float kUnknownMaximum = -std::numeric_limits<float>::infinity();
constexpr std::int16_t kUnknownMinimum16 = std::numeric_limits<std::int16_t>::max();
constexpr std::int16_t kUnknownMaximum16 = std::numeric_limits<std::int16_t>::min();

constexpr float kInt16Scale = 1.0f / 32768.0f;

bool isKnown(float minimum, float maximum) {
    return minimum <= maximum;
}

// The value a 16-bit store keeps for a float sample (the cache converts the same way).
std::int16_t toInt16(float value) {
    return std::int16_t(std::clamp(value * 32768.0f, -32768.0f, 32767.0f));
}

std::uint32_t pack16(std::int16_t minimum, std::int16_t maximum) {
    return std::uint32_t(std::uint16_t(minimum)) | std::uint32_t(std::uint16_t(maximum)) << 16;
}

std::uint64_t pack32(float minimum, float maximum) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, &minimum, sizeof lo);
    std::memcpy(&hi, &maximum, sizeof hi);
    return std::uint64_t(lo) | std::uint64_t(hi) << 32;
}

// NaN compares false both ways and is left out; a stretch of nothing but NaN reads as
// silent. Eight running extremes side by side, so the compiler can keep them in vector
// registers instead of one long dependency chain.
void scan(const float *samples, int count, float &minimum, float &maximum) {
    constexpr int kLanes = 8;
    float lo[kLanes], hi[kLanes];
    for (int j = 0; j < kLanes; ++j) {
        lo[j] = kUnknownMinimum;
        hi[j] = kUnknownMaximum;
    }
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        for (int j = 0; j < kLanes; ++j) {
            const float v = samples[i + j];
            lo[j] = v < lo[j] ? v : lo[j];
            hi[j] = v > hi[j] ? v : hi[j];
        }
    }
    for (; i < count; ++i) {
        const float v = samples[i];
        lo[0] = v < lo[0] ? v : lo[0];
        hi[0] = v > hi[0] ? v : hi[0];
    }
    float l = lo[0], h = hi[0];
    for (int j = 1; j < kLanes; ++j) {
        l = std::min(l, lo[j]);
        h = std::max(h, hi[j]);
    }
    if (!isKnown(l, h))
        l = h = 0.0f;
    minimum = l;
    maximum = h;
}

// Nothing at all reads as silent.
void scan(const std::int16_t *samples, int count, std::int16_t &minimum, std::int16_t &maximum) {
    std::int16_t l = kUnknownMinimum16, h = kUnknownMaximum16;
    for (int i = 0; i < count; ++i) {
        l = std::min(l, samples[i]);
        h = std::max(h, samples[i]);
    }
    if (count <= 0)
        l = h = 0;
    minimum = l;
    maximum = h;
}

// The extremes of n whole finest blocks, one after the other from samples. The fill runs
// these on every sample it reads, so the vector versions take several blocks at once and
// fold their partial results together rather than one block at a time.
void fineBlocksPortable(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
    for (int b = 0; b < n; ++b)
        scan(samples + b * kFineSamples, kFineSamples, minima[b], maxima[b]);
}

#if !defined(__SSE2__)
void fineBlocksPortable(const float *samples, int n, float *minima, float *maxima) {
    for (int b = 0; b < n; ++b)
        scan(samples + b * kFineSamples, kFineSamples, minima[b], maxima[b]);
}
#endif

#if defined(__SSE2__)

// Eight vectors of partial results, one per block, to one vector holding each block's
// result in its lane: three rounds of interleaving neighbours and combining the halves.
template <__m128i (*op)(__m128i, __m128i)> inline __m128i fold8(const __m128i *v) {
    __m128i pairs[4], quads[2];
    for (int k = 0; k < 4; ++k)
        pairs[k] = op(_mm_unpacklo_epi16(v[2 * k], v[2 * k + 1]), _mm_unpackhi_epi16(v[2 * k], v[2 * k + 1]));
    for (int k = 0; k < 2; ++k)
        quads[k] = op(_mm_unpacklo_epi32(pairs[2 * k], pairs[2 * k + 1]),
                      _mm_unpackhi_epi32(pairs[2 * k], pairs[2 * k + 1]));
    return op(_mm_unpacklo_epi64(quads[0], quads[1]), _mm_unpackhi_epi64(quads[0], quads[1]));
}

inline __m128i min16(__m128i a, __m128i b) {
    return _mm_min_epi16(a, b);
}
inline __m128i max16(__m128i a, __m128i b) {
    return _mm_max_epi16(a, b);
}

inline __m128i load16(const std::int16_t *p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

void fineBlocksSse2(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
    int b = 0;
    for (; b + 8 <= n; b += 8) {
        __m128i lo[8], hi[8];
        for (int k = 0; k < 8; ++k) {
            const std::int16_t *p = samples + (b + k) * kFineSamples;
            __m128i l0 = load16(p), l1 = load16(p + 8), l2 = load16(p + 16), l3 = load16(p + 24);
            __m128i h0 = l0, h1 = l1, h2 = l2, h3 = l3;
            for (int i = 32; i < kFineSamples; i += 32) {
                const __m128i v0 = load16(p + i), v1 = load16(p + i + 8), v2 = load16(p + i + 16),
                              v3 = load16(p + i + 24);
                l0 = _mm_min_epi16(l0, v0);
                l1 = _mm_min_epi16(l1, v1);
                l2 = _mm_min_epi16(l2, v2);
                l3 = _mm_min_epi16(l3, v3);
                h0 = _mm_max_epi16(h0, v0);
                h1 = _mm_max_epi16(h1, v1);
                h2 = _mm_max_epi16(h2, v2);
                h3 = _mm_max_epi16(h3, v3);
            }
            lo[k] = _mm_min_epi16(_mm_min_epi16(l0, l1), _mm_min_epi16(l2, l3));
            hi[k] = _mm_max_epi16(_mm_max_epi16(h0, h1), _mm_max_epi16(h2, h3));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(minima + b), fold8<min16>(lo));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(maxima + b), fold8<max16>(hi));
    }
    fineBlocksPortable(samples + b * kFineSamples, n - b, minima + b, maxima + b);
}

// The sample is the first operand: where it is NaN, the running extreme comes back.
void fineBlocksSse2(const float *samples, int n, float *minima, float *maxima) {
    int b = 0;
    for (; b + 4 <= n; b += 4) {
        __m128 lo[4], hi[4];
        for (int k = 0; k < 4; ++k) {
            const float *p = samples + (b + k) * kFineSamples;
            __m128 l0 = _mm_set1_ps(kUnknownMinimum), l1 = l0, l2 = l0, l3 = l0;
            __m128 h0 = _mm_set1_ps(kUnknownMaximum), h1 = h0, h2 = h0, h3 = h0;
            for (int i = 0; i < kFineSamples; i += 16) {
                const __m128 v0 = _mm_loadu_ps(p + i), v1 = _mm_loadu_ps(p + i + 4),
                             v2 = _mm_loadu_ps(p + i + 8), v3 = _mm_loadu_ps(p + i + 12);
                l0 = _mm_min_ps(v0, l0);
                l1 = _mm_min_ps(v1, l1);
                l2 = _mm_min_ps(v2, l2);
                l3 = _mm_min_ps(v3, l3);
                h0 = _mm_max_ps(v0, h0);
                h1 = _mm_max_ps(v1, h1);
                h2 = _mm_max_ps(v2, h2);
                h3 = _mm_max_ps(v3, h3);
            }
            lo[k] = _mm_min_ps(_mm_min_ps(l0, l1), _mm_min_ps(l2, l3));
            hi[k] = _mm_max_ps(_mm_max_ps(h0, h1), _mm_max_ps(h2, h3));
        }
        // Rows become blocks: after the transpose, lane k of every row belongs to block k.
        _MM_TRANSPOSE4_PS(lo[0], lo[1], lo[2], lo[3]);
        _MM_TRANSPOSE4_PS(hi[0], hi[1], hi[2], hi[3]);
        _mm_storeu_ps(minima + b, _mm_min_ps(_mm_min_ps(lo[0], lo[1]), _mm_min_ps(lo[2], lo[3])));
        _mm_storeu_ps(maxima + b, _mm_max_ps(_mm_max_ps(hi[0], hi[1]), _mm_max_ps(hi[2], hi[3])));
    }
    for (; b < n; ++b)
        scan(samples + b * kFineSamples, kFineSamples, minima[b], maxima[b]);
    // An all-NaN block comes out of the vector loop empty; it reads as silent.
    for (int k = 0; k < n; ++k)
        if (!isKnown(minima[k], maxima[k]))
            minima[k] = maxima[k] = 0.0f;
}

#endif

#if defined(QUILLORY_PEAKS_AVX2)

// Twice the width where the processor has it; chosen once at run time. A block's minima
// and its inverted maxima (the largest value is the smallest of the inverted ones) share
// one register, so both are folded by the same instructions.
template <__m256i (*op)(__m256i, __m256i)>
__attribute__((target("avx2"))) inline __m256i fold8(const __m256i *v) {
    __m256i pairs[4], quads[2];
    for (int k = 0; k < 4; ++k)
        pairs[k] =
            op(_mm256_unpacklo_epi16(v[2 * k], v[2 * k + 1]), _mm256_unpackhi_epi16(v[2 * k], v[2 * k + 1]));
    for (int k = 0; k < 2; ++k)
        quads[k] = op(_mm256_unpacklo_epi32(pairs[2 * k], pairs[2 * k + 1]),
                      _mm256_unpackhi_epi32(pairs[2 * k], pairs[2 * k + 1]));
    return op(_mm256_unpacklo_epi64(quads[0], quads[1]), _mm256_unpackhi_epi64(quads[0], quads[1]));
}

__attribute__((target("avx2"))) inline __m256i min16x16(__m256i a, __m256i b) {
    return _mm256_min_epi16(a, b);
}

__attribute__((target("avx2"))) void fineBlocksAvx2(const std::int16_t *samples, int n, std::int16_t *minima,
                                                    std::int16_t *maxima) {
    const __m256i ones = _mm256_set1_epi32(-1);
    int b = 0;
    for (; b + 8 <= n; b += 8) {
        __m256i v[8];
        for (int k = 0; k < 8; ++k) {
            const __m256i *p = reinterpret_cast<const __m256i *>(samples + (b + k) * kFineSamples);
            __m256i l0 = _mm256_loadu_si256(p), l1 = _mm256_loadu_si256(p + 1);
            __m256i l2 = _mm256_loadu_si256(p + 2), l3 = _mm256_loadu_si256(p + 3);
            __m256i h0 = l0, h1 = l1, h2 = l2, h3 = l3;
            const __m256i v0 = _mm256_loadu_si256(p + 4), v1 = _mm256_loadu_si256(p + 5);
            const __m256i v2 = _mm256_loadu_si256(p + 6), v3 = _mm256_loadu_si256(p + 7);
            l0 = _mm256_min_epi16(l0, v0);
            l1 = _mm256_min_epi16(l1, v1);
            l2 = _mm256_min_epi16(l2, v2);
            l3 = _mm256_min_epi16(l3, v3);
            h0 = _mm256_max_epi16(h0, v0);
            h1 = _mm256_max_epi16(h1, v1);
            h2 = _mm256_max_epi16(h2, v2);
            h3 = _mm256_max_epi16(h3, v3);
            const __m256i l = _mm256_min_epi16(_mm256_min_epi16(l0, l1), _mm256_min_epi16(l2, l3));
            const __m256i h =
                _mm256_xor_si256(_mm256_max_epi16(_mm256_max_epi16(h0, h1), _mm256_max_epi16(h2, h3)), ones);
            // 128-bit lanes [l.low h.low] against [l.high h.high].
            v[k] = _mm256_min_epi16(_mm256_permute2x128_si256(l, h, 0x20),
                                    _mm256_permute2x128_si256(l, h, 0x31));
        }
        // The low lane holds each block's minimum, the high lane its inverted maximum.
        const __m256i r = fold8<min16x16>(v);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(minima + b), _mm256_castsi256_si128(r));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(maxima + b),
                         _mm256_extracti128_si256(_mm256_xor_si256(r, ones), 1));
    }
    fineBlocksPortable(samples + b * kFineSamples, n - b, minima + b, maxima + b);
}

#endif

void fineBlocks(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
#if defined(QUILLORY_PEAKS_AVX2)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return fineBlocksAvx2(samples, n, minima, maxima);
#endif
#if defined(__SSE2__)
    fineBlocksSse2(samples, n, minima, maxima);
#else
    fineBlocksPortable(samples, n, minima, maxima);
#endif
}

void fineBlocks(const float *samples, int n, float *minima, float *maxima) {
#if defined(__SSE2__)
    fineBlocksSse2(samples, n, minima, maxima);
#else
    fineBlocksPortable(samples, n, minima, maxima);
#endif
}

// The word of a block made of count 16-bit blocks: unknown if any of them is. Plain
// loads: the words were mostly stored one by one just before, and a wider load of fresh
// narrow stores would wait for them to reach the cache.
std::uint32_t combine16(const std::atomic<std::uint32_t> *words, int count) {
    std::int16_t lo = kUnknownMinimum16, hi = kUnknownMaximum16;
    bool known = count > 0;
    for (int c = 0; c < count; ++c) {
        const std::uint32_t w = words[c].load(std::memory_order_relaxed);
        const std::int16_t cLo = std::int16_t(std::uint16_t(w)), cHi = std::int16_t(std::uint16_t(w >> 16));
        known = known && cLo <= cHi;
        lo = std::min(lo, cLo);
        hi = std::max(hi, cHi);
    }
    return known ? pack16(lo, hi) : pack16(kUnknownMinimum16, kUnknownMaximum16);
}

// A partial block's extremes as floats (the 16-bit ones scaled as the cache scales them).
PeakSummary::Range partial(const float *samples, int count) {
    PeakSummary::Range r;
    scan(samples, count, r.minimum, r.maximum);
    return r;
}

PeakSummary::Range partial(const std::int16_t *samples, int count) {
    std::int16_t lo, hi;
    scan(samples, count, lo, hi);
    return {float(lo) * kInt16Scale, float(hi) * kInt16Scale};
}

} // namespace

constexpr int PeakSummary::kBlockFrames[];

PeakSummary::PeakSummary(int length, bool knownSilent, Precision precision)
    : m_length(std::max(0, length)), m_precision(precision) {
    const long long frames = (m_length + 1LL) / 2;
    for (int l = 0; l < kLevels; ++l) {
        Level &level = m_levels[l];
        level.blockFrames = kBlockFrames[l];
        level.blocks = int((frames + level.blockFrames - 1) / level.blockFrames);
        const size_t n = size_t(std::max(level.blocks, 1));
        // Known silence is the word 0 at both precisions.
        if (m_precision == Precision::Int16) {
            level.words16.reset(new std::atomic<std::uint32_t>[n]());
            if (!knownSilent)
                for (size_t b = 0; b < n; ++b)
                    level.words16[b].store(pack16(kUnknownMinimum16, kUnknownMaximum16),
                                           std::memory_order_relaxed);
        } else {
            level.words32.reset(new std::atomic<std::uint64_t>[n]());
            if (!knownSilent)
                for (size_t b = 0; b < n; ++b)
                    level.words32[b].store(pack32(kUnknownMinimum, kUnknownMaximum),
                                           std::memory_order_relaxed);
        }
    }
}

PeakSummary::Range PeakSummary::loadBlock(const Level &level, int block) const {
    if (m_precision == Precision::Int16) {
        const std::uint32_t w = level.words16[size_t(block)].load(std::memory_order_relaxed);
        const std::int16_t lo = std::int16_t(std::uint16_t(w)), hi = std::int16_t(std::uint16_t(w >> 16));
        if (lo > hi)
            return {kUnknownMinimum, kUnknownMaximum};
        return {float(lo) * kInt16Scale, float(hi) * kInt16Scale};
    }
    const std::uint64_t w = level.words32[size_t(block)].load(std::memory_order_relaxed);
    const std::uint32_t lo = std::uint32_t(w), hi = std::uint32_t(w >> 32);
    Range r;
    std::memcpy(&r.minimum, &lo, sizeof lo);
    std::memcpy(&r.maximum, &hi, sizeof hi);
    return r;
}

void PeakSummary::storeBlock(Level &level, int block, float minimum, float maximum) {
    const bool known = isKnown(minimum, maximum);
    if (m_precision == Precision::Int16) {
        const std::uint32_t w =
            known ? pack16(toInt16(minimum), toInt16(maximum)) : pack16(kUnknownMinimum16, kUnknownMaximum16);
        level.words16[size_t(block)].store(w, std::memory_order_relaxed);
    } else {
        const std::uint64_t w = known ? pack32(minimum, maximum) : pack32(kUnknownMinimum, kUnknownMaximum);
        level.words32[size_t(block)].store(w, std::memory_order_relaxed);
    }
}

void PeakSummary::storeWords(Level &level, int first, int n, const std::int16_t *minima,
                             const std::int16_t *maxima) {
    if (m_precision == Precision::Int16) {
        for (int k = 0; k < n; ++k)
            level.words16[size_t(first + k)].store(pack16(minima[k], maxima[k]), std::memory_order_relaxed);
    } else {
        for (int k = 0; k < n; ++k)
            level.words32[size_t(first + k)].store(
                pack32(float(minima[k]) * kInt16Scale, float(maxima[k]) * kInt16Scale),
                std::memory_order_relaxed);
    }
}

void PeakSummary::storeWords(Level &level, int first, int n, const float *minima, const float *maxima) {
    if (m_precision == Precision::Int16) {
        for (int k = 0; k < n; ++k)
            level.words16[size_t(first + k)].store(pack16(toInt16(minima[k]), toInt16(maxima[k])),
                                                   std::memory_order_relaxed);
    } else {
        for (int k = 0; k < n; ++k)
            level.words32[size_t(first + k)].store(pack32(minima[k], maxima[k]), std::memory_order_relaxed);
    }
}

void PeakSummary::update(int startSample, const float *samples, int count) {
    updateFrom(startSample, samples, count);
}

void PeakSummary::update(int startSample, const std::int16_t *samples, int count) {
    updateFrom(startSample, samples, count);
}

template <typename Sample> void PeakSummary::updateFrom(int startSample, const Sample *samples, int count) {
    if (!samples || startSample < 0 || count <= 0 || startSample >= m_length)
        return;
    count = std::min(count, m_length - startSample);
    Level &fine = m_levels[0];
    const int end = startSample + count;
    const int first = startSample / kFineSamples;
    const int last = (end - 1) / kFineSamples;
    int b = first;
    if (startSample % kFineSamples != 0) {
        // Begun elsewhere: what this update adds is merged with what the block holds.
        const int to = std::min((b + 1) * kFineSamples, end);
        Range r = partial(samples, to - startSample);
        const Range old = loadBlock(fine, b);
        if (isKnown(old.minimum, old.maximum)) {
            r.minimum = std::min(r.minimum, old.minimum);
            r.maximum = std::max(r.maximum, old.maximum);
        }
        storeBlock(fine, b, r.minimum, r.maximum);
        ++b;
    }
    // The next level's blocks that lie whole in one batch are made from the batch's
    // extremes while they are at hand; propagate does the others.
    constexpr int kRatio = kBlockFrames[1] / kBlockFrames[0];
    static_assert(kBatchBlocks % kRatio == 0, "a batch holds whole blocks of the next level");
    Level &next = m_levels[1];
    int madeFrom = 0, madeTo = 0;
    Sample minima[kBatchBlocks], maxima[kBatchBlocks];
    while ((b + 1) * kFineSamples <= end) {
        const int n = std::min(kBatchBlocks, end / kFineSamples - b);
        fineBlocks(samples + (b * kFineSamples - startSample), n, minima, maxima);
        storeWords(fine, b, n, minima, maxima);
        for (int c = (b + kRatio - 1) / kRatio; (c + 1) * kRatio <= b + n; ++c) {
            const int o = c * kRatio - b;
            Sample lo = minima[o], hi = maxima[o];
            for (int k = 1; k < kRatio; ++k) {
                lo = std::min(lo, minima[o + k]);
                hi = std::max(hi, maxima[o + k]);
            }
            storeWords(next, c, 1, &lo, &hi);
            if (madeFrom == madeTo)
                madeFrom = c;
            madeTo = c + 1;
        }
        b += n;
    }
    if (b <= last) {
        // The last block of the audio, cut short by its end.
        const Range r = partial(samples + (b * kFineSamples - startSample), end - b * kFineSamples);
        storeBlock(fine, b, r.minimum, r.maximum);
    }
    propagate(first, std::min(last, fine.blocks - 1), madeFrom, madeTo);
}

void PeakSummary::recompute(int startSample, int endSample, const SampleReader &read) {
    startSample = std::max(0, startSample);
    endSample = std::min(endSample, m_length);
    if (endSample <= startSample || !read)
        return;
    Level &fine = m_levels[0];
    const int first = startSample / kFineSamples;
    const int last = (endSample - 1) / kFineSamples;
    float buffer[kFineSamples];
    for (int b = first; b <= last && b < fine.blocks; ++b) {
        const int from = b * kFineSamples;
        const int n = std::min(kFineSamples, m_length - from);
        read(buffer, from, n);
        float lo, hi;
        scan(buffer, n, lo, hi);
        storeBlock(fine, b, lo, hi);
    }
    propagate(first, std::min(last, fine.blocks - 1), 0, 0);
}

void PeakSummary::invalidate(int startSample, int endSample) {
    startSample = std::max(0, startSample);
    endSample = std::min(endSample, m_length);
    if (endSample <= startSample)
        return;
    for (Level &level : m_levels) {
        const int blockSamples = level.blockFrames * 2;
        const int last = std::min((endSample - 1) / blockSamples, level.blocks - 1);
        for (int b = startSample / blockSamples; b <= last; ++b)
            storeBlock(level, b, kUnknownMinimum, kUnknownMaximum);
    }
}

void PeakSummary::propagate(int first, int last, int madeFrom, int madeTo) {
    if (last < first)
        return;
    // Every update ends here, so the words are combined as they are kept, without a
    // detour through floats.
    for (int l = 1; l < kLevels; ++l) {
        const Level &below = m_levels[l - 1];
        Level &level = m_levels[l];
        const int ratio = level.blockFrames / below.blockFrames;
        first /= ratio;
        last /= ratio;
        for (int b = first; b <= last && b < level.blocks; ++b) {
            if (l == 1 && b >= madeFrom && b < madeTo)
                continue;
            const int end = std::min((b + 1) * ratio, below.blocks);
            if (m_precision == Precision::Int16) {
                level.words16[size_t(b)].store(combine16(below.words16.get() + b * ratio, end - b * ratio),
                                               std::memory_order_relaxed);
            } else {
                float lo = kUnknownMinimum, hi = kUnknownMaximum;
                bool known = true;
                for (int c = b * ratio; c < end; ++c) {
                    const Range r = loadBlock(below, c);
                    known = known && isKnown(r.minimum, r.maximum);
                    lo = std::min(lo, r.minimum);
                    hi = std::max(hi, r.maximum);
                }
                if (!known)
                    lo = kUnknownMinimum, hi = kUnknownMaximum;
                level.words32[size_t(b)].store(pack32(lo, hi), std::memory_order_relaxed);
            }
        }
    }
}

bool PeakSummary::query(int startSample, int endSample, const SampleReader &read, Range &range) const {
    startSample = std::max(0, startSample);
    endSample = std::min(endSample, m_length);
    range = Range();
    if (endSample <= startSample)
        return true;
    // Whole frames: a column that starts or ends between the two channels of a frame
    // still shows both.
    const long long firstFrame = startSample / 2;
    const long long endFrame = (endSample + 1LL) / 2;
    bool any = false;
    Range found{kUnknownMinimum, kUnknownMaximum};
    if (!queryFrames(kLevels - 1, firstFrame, endFrame, read, found, any))
        return false;
    if (any && isKnown(found.minimum, found.maximum))
        range = found;
    return true;
}

bool PeakSummary::queryFrames(int l, long long firstFrame, long long endFrame, const SampleReader &read,
                              Range &range, bool &any) const {
    if (endFrame <= firstFrame)
        return true;
    if (l < 0) {
        if (!read)
            return false;
        // Less than two finest blocks: the recursion splits every stretch at block edges.
        float buffer[kFineSamples];
        const int end = int(std::min<long long>(endFrame * 2, m_length));
        for (int start = int(firstFrame * 2); start < end; start += kFineSamples) {
            const int count = std::min(kFineSamples, end - start);
            read(buffer, start, count);
            float lo, hi;
            scan(buffer, count, lo, hi);
            range.minimum = std::min(range.minimum, lo);
            range.maximum = std::max(range.maximum, hi);
            any = true;
        }
        return true;
    }
    const Level &level = m_levels[l];
    const long long size = level.blockFrames;
    const long long firstBlock = (firstFrame + size - 1) / size;
    // A partial last block covers the end of the audio whole.
    const long long framesTotal = (m_length + 1LL) / 2;
    long long endBlock = endFrame / size;
    if (endFrame >= framesTotal)
        endBlock = level.blocks;
    if (firstBlock >= endBlock)
        return queryFrames(l - 1, firstFrame, endFrame, read, range, any);
    for (long long b = firstBlock; b < endBlock; ++b) {
        const Range r = loadBlock(level, int(b));
        if (!isKnown(r.minimum, r.maximum))
            return false;
        range.minimum = std::min(range.minimum, r.minimum);
        range.maximum = std::max(range.maximum, r.maximum);
        any = true;
    }
    return queryFrames(l - 1, firstFrame, firstBlock * size, read, range, any) &&
           queryFrames(l - 1, std::min(endBlock * size, endFrame), endFrame, read, range, any);
}
