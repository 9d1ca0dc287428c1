#include "PeakSummary.h"

#include "PeakScan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr int kFineSamples = PeakSummary::kBlockFrames[0] * 2;
static_assert(kFineSamples == PeakScan::kBlockSamples, "the finest blocks are the ones scanned");

using PeakScan::scan;
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
        PeakScan::blocks(samples + (b * kFineSamples - startSample), n, minima, maxima);
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
