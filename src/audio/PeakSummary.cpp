#include "PeakSummary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// An unknown block holds an empty range (minimum above maximum), which no samples produce.
constexpr float kUnknownMinimum = std::numeric_limits<float>::infinity();
constexpr float kUnknownMaximum = -std::numeric_limits<float>::infinity();

bool isKnown(float minimum, float maximum) { return minimum <= maximum; }

// NaN compares false both ways and is left out; a block of nothing but NaN reads as silent.
// Eight running extremes side by side, so the compiler turns the loop into vector min/max
// instead of one long dependency chain: the fill pays for this on every sample it reads.
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

// The same for 16-bit integers, which a vector unit compares eight at a time; the
// extremes come out as the floats the cache hands out for them. Written with SSE2 where
// the processor has it (every x86-64 does): the compiler leaves the plain loop scalar at
// the optimisation level we build with, and this runs on every sample the fill reads.
void scan(const std::int16_t *samples, int count, float &minimum, float &maximum) {
    std::int16_t l = std::numeric_limits<std::int16_t>::max();
    std::int16_t h = std::numeric_limits<std::int16_t>::min();
    int i = 0;
#if defined(__SSE2__)
    if (count >= 8) {
        __m128i lo = _mm_set1_epi16(l), hi = _mm_set1_epi16(h);
        for (; i + 8 <= count; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + i));
            lo = _mm_min_epi16(lo, v);
            hi = _mm_max_epi16(hi, v);
        }
        // Fold the eight lanes: halves, quarters, pairs.
        lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
        hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
        lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
        hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
        lo = _mm_min_epi16(lo, _mm_shufflelo_epi16(lo, _MM_SHUFFLE(2, 3, 0, 1)));
        hi = _mm_max_epi16(hi, _mm_shufflelo_epi16(hi, _MM_SHUFFLE(2, 3, 0, 1)));
        l = std::int16_t(_mm_extract_epi16(lo, 0));
        h = std::int16_t(_mm_extract_epi16(hi, 0));
    }
#endif
    for (; i < count; ++i) {
        const std::int16_t v = samples[i];
        l = v < l ? v : l;
        h = v > h ? v : h;
    }
    if (count <= 0)
        l = h = 0;
    minimum = float(l) * (1.0f / 32768.0f);
    maximum = float(h) * (1.0f / 32768.0f);
}

} // namespace

constexpr int PeakSummary::kBlockFrames[];

PeakSummary::PeakSummary(int length, bool knownSilent) : m_length(std::max(0, length)) {
    const long long frames = (m_length + 1LL) / 2;
    for (int l = 0; l < kLevels; ++l) {
        Level &level = m_levels[l];
        level.blockFrames = kBlockFrames[l];
        level.blocks = int((frames + level.blockFrames - 1) / level.blockFrames);
        level.minimum.reset(new std::atomic<float>[size_t(std::max(level.blocks, 1))]);
        level.maximum.reset(new std::atomic<float>[size_t(std::max(level.blocks, 1))]);
        for (int b = 0; b < level.blocks; ++b) {
            level.minimum[size_t(b)].store(knownSilent ? 0.0f : kUnknownMinimum, std::memory_order_relaxed);
            level.maximum[size_t(b)].store(knownSilent ? 0.0f : kUnknownMaximum, std::memory_order_relaxed);
        }
    }
}

void PeakSummary::storeBlock(Level &level, int block, float minimum, float maximum) {
    level.minimum[size_t(block)].store(minimum, std::memory_order_relaxed);
    level.maximum[size_t(block)].store(maximum, std::memory_order_relaxed);
}

void PeakSummary::update(int startSample, const float *samples, int count) {
    updateFrom(startSample, samples, count);
}

void PeakSummary::update(int startSample, const std::int16_t *samples, int count) {
    updateFrom(startSample, samples, count);
}

template <typename Sample>
void PeakSummary::updateFrom(int startSample, const Sample *samples, int count) {
    if (!samples || startSample < 0 || count <= 0 || startSample >= m_length)
        return;
    count = std::min(count, m_length - startSample);
    Level &fine = m_levels[0];
    const int blockSamples = fine.blockFrames * 2;
    const int first = startSample / blockSamples;
    const int last = (startSample + count - 1) / blockSamples;
    for (int b = first; b <= last && b < fine.blocks; ++b) {
        const int from = std::max(b * blockSamples, startSample);
        const int to = std::min((b + 1) * blockSamples, startSample + count);
        float lo, hi;
        scan(samples + (from - startSample), to - from, lo, hi);
        const bool whole = from == b * blockSamples;
        if (!whole) {
            const float oldLo = fine.minimum[size_t(b)].load(std::memory_order_relaxed);
            const float oldHi = fine.maximum[size_t(b)].load(std::memory_order_relaxed);
            if (isKnown(oldLo, oldHi)) {
                lo = std::min(lo, oldLo);
                hi = std::max(hi, oldHi);
            }
        }
        storeBlock(fine, b, lo, hi);
    }
    propagate(first, std::min(last, fine.blocks - 1));
}

void PeakSummary::recompute(int startSample, int endSample, const SampleReader &read) {
    startSample = std::max(0, startSample);
    endSample = std::min(endSample, m_length);
    if (endSample <= startSample || !read)
        return;
    Level &fine = m_levels[0];
    const int blockSamples = fine.blockFrames * 2;
    const int first = startSample / blockSamples;
    const int last = (endSample - 1) / blockSamples;
    float buffer[PeakSummary::kBlockFrames[0] * 2];
    for (int b = first; b <= last && b < fine.blocks; ++b) {
        const int from = b * blockSamples;
        const int n = std::min(blockSamples, m_length - from);
        read(buffer, from, n);
        float lo, hi;
        scan(buffer, n, lo, hi);
        storeBlock(fine, b, lo, hi);
    }
    propagate(first, std::min(last, fine.blocks - 1));
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

void PeakSummary::propagate(int first, int last) {
    if (last < first)
        return;
    for (int l = 1; l < kLevels; ++l) {
        const Level &below = m_levels[l - 1];
        Level &level = m_levels[l];
        const int ratio = level.blockFrames / below.blockFrames;
        first /= ratio;
        last /= ratio;
        for (int b = first; b <= last && b < level.blocks; ++b) {
            float lo = kUnknownMinimum;
            float hi = kUnknownMaximum;
            bool known = true;
            const int end = std::min((b + 1) * ratio, below.blocks);
            for (int c = b * ratio; c < end; ++c) {
                const float cLo = below.minimum[size_t(c)].load(std::memory_order_relaxed);
                const float cHi = below.maximum[size_t(c)].load(std::memory_order_relaxed);
                if (!isKnown(cLo, cHi)) {
                    known = false;
                    break;
                }
                lo = std::min(lo, cLo);
                hi = std::max(hi, cHi);
            }
            if (known)
                storeBlock(level, b, lo, hi);
            else
                storeBlock(level, b, kUnknownMinimum, kUnknownMaximum);
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
        constexpr int kPiece = kBlockFrames[0] * 2;
        float buffer[kPiece];
        const int end = int(std::min<long long>(endFrame * 2, m_length));
        for (int start = int(firstFrame * 2); start < end; start += kPiece) {
            const int count = std::min(kPiece, end - start);
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
        const float lo = level.minimum[size_t(b)].load(std::memory_order_relaxed);
        const float hi = level.maximum[size_t(b)].load(std::memory_order_relaxed);
        if (!isKnown(lo, hi))
            return false;
        range.minimum = std::min(range.minimum, lo);
        range.maximum = std::max(range.maximum, hi);
        any = true;
    }
    return queryFrames(l - 1, firstFrame, firstBlock * size, read, range, any) &&
           queryFrames(l - 1, std::min(endBlock * size, endFrame), endFrame, read, range, any);
}
