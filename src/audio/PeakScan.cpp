#include "PeakScan.h"

#include <algorithm>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE2__) && defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUILLORY_PEAKS_X86 1
#endif

namespace PeakScan {

namespace {

constexpr float kPlusInfinity = std::numeric_limits<float>::infinity();
constexpr float kMinusInfinity = -std::numeric_limits<float>::infinity();
constexpr std::int16_t kHighest16 = std::numeric_limits<std::int16_t>::max();
constexpr std::int16_t kLowest16 = std::numeric_limits<std::int16_t>::min();

bool nonEmpty(float minimum, float maximum) {
    return minimum <= maximum;
}

} // namespace

// NaN compares false both ways and is left out; a stretch of nothing but NaN reads as
// silent. Eight running extremes side by side, so the compiler can keep them in vector
// registers instead of one long dependency chain.
void scan(const float *samples, int count, float &minimum, float &maximum) {
    constexpr int kLanes = 8;
    float lo[kLanes], hi[kLanes];
    for (int j = 0; j < kLanes; ++j) {
        lo[j] = kPlusInfinity;
        hi[j] = kMinusInfinity;
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
    if (!nonEmpty(l, h))
        l = h = 0.0f;
    minimum = l;
    maximum = h;
}

float largestMagnitude(const float *samples, int count) {
    float minimum = 0.0f, maximum = 0.0f;
    scan(samples, count, minimum, maximum);
    return std::max(-minimum, maximum);
}

// Nothing at all reads as silent.
void scan(const std::int16_t *samples, int count, std::int16_t &minimum, std::int16_t &maximum) {
    std::int16_t l = kHighest16, h = kLowest16;
    for (int i = 0; i < count; ++i) {
        l = std::min(l, samples[i]);
        h = std::max(h, samples[i]);
    }
    if (count <= 0)
        l = h = 0;
    minimum = l;
    maximum = h;
}

namespace {

// The extremes of n whole finest blocks, one after the other from samples. The fill runs
// these on every sample it reads, so the vector versions take several blocks at once and
// fold their partial results together rather than one block at a time.
void blocksPortable(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
    for (int b = 0; b < n; ++b)
        scan(samples + b * kBlockSamples, kBlockSamples, minima[b], maxima[b]);
}

void blocksPortable(const float *samples, int n, float *minima, float *maxima) {
    for (int b = 0; b < n; ++b)
        scan(samples + b * kBlockSamples, kBlockSamples, minima[b], maxima[b]);
}

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

void blocksSse2(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
    int b = 0;
    for (; b + 8 <= n; b += 8) {
        __m128i lo[8], hi[8];
        for (int k = 0; k < 8; ++k) {
            const std::int16_t *p = samples + (b + k) * kBlockSamples;
            __m128i l0 = load16(p), l1 = load16(p + 8), l2 = load16(p + 16), l3 = load16(p + 24);
            __m128i h0 = l0, h1 = l1, h2 = l2, h3 = l3;
            for (int i = 32; i < kBlockSamples; i += 32) {
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
    blocksPortable(samples + b * kBlockSamples, n - b, minima + b, maxima + b);
}

// The sample is the first operand: where it is NaN, the running extreme comes back.
void blocksSse2(const float *samples, int n, float *minima, float *maxima) {
    int b = 0;
    for (; b + 4 <= n; b += 4) {
        __m128 lo[4], hi[4];
        for (int k = 0; k < 4; ++k) {
            const float *p = samples + (b + k) * kBlockSamples;
            __m128 l0 = _mm_set1_ps(kPlusInfinity), l1 = l0, l2 = l0, l3 = l0;
            __m128 h0 = _mm_set1_ps(kMinusInfinity), h1 = h0, h2 = h0, h3 = h0;
            for (int i = 0; i < kBlockSamples; i += 16) {
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
        scan(samples + b * kBlockSamples, kBlockSamples, minima[b], maxima[b]);
    // An all-NaN block comes out of the vector loop empty; it reads as silent.
    for (int k = 0; k < n; ++k)
        if (!nonEmpty(minima[k], maxima[k]))
            minima[k] = maxima[k] = 0.0f;
}

#endif

#if defined(QUILLORY_PEAKS_X86)

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

__attribute__((target("avx2"))) void blocksAvx2(const std::int16_t *samples, int n, std::int16_t *minima,
                                                std::int16_t *maxima) {
    const __m256i ones = _mm256_set1_epi32(-1);
    int b = 0;
    for (; b + 8 <= n; b += 8) {
        __m256i v[8];
        for (int k = 0; k < 8; ++k) {
            const __m256i *p = reinterpret_cast<const __m256i *>(samples + (b + k) * kBlockSamples);
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
    // The callers' vector code is compiled for SSE2: leaving the upper halves of the
    // registers dirty would slow every one of its instructions down (GCC does not clear
    // them before the tail call below).
    _mm256_zeroupper();
    blocksPortable(samples + b * kBlockSamples, n - b, minima + b, maxima + b);
}

#endif

} // namespace

std::vector<Int16Kernel> int16Kernels() {
    std::vector<Int16Kernel> kernels{{"portable", blocksPortable}};
#if defined(__SSE2__)
    kernels.push_back({"SSE2", blocksSse2});
#endif
#if defined(QUILLORY_PEAKS_X86)
    if (__builtin_cpu_supports("avx2"))
        kernels.push_back({"AVX2", blocksAvx2});
#endif
    return kernels;
}

std::vector<FloatKernel> floatKernels() {
    std::vector<FloatKernel> kernels{{"portable", blocksPortable}};
#if defined(__SSE2__)
    kernels.push_back({"SSE2", blocksSse2});
#endif
    return kernels;
}

void blocks(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima) {
    static const Int16Blocks best = int16Kernels().back().run;
    best(samples, n, minima, maxima);
}

void blocks(const float *samples, int n, float *minima, float *maxima) {
    static const FloatBlocks best = floatKernels().back().run;
    best(samples, n, minima, maxima);
}

} // namespace PeakScan
