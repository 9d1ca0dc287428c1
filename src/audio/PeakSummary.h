#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The smallest and largest sample of every block of stereo frames at a few block sizes,
// so that a waveform column can show the exact extremes of the audio under it while
// reading a bounded number of values, whatever the zoom. Both channels of a frame go
// into the same block.
//
// A block is either known (its extremes describe the samples) or unknown (not yet
// computed; the caller has to look at the samples itself). A summary made for a cache
// that fills starts known and silent, which is what the unfilled samples read as.
//
// The extremes are kept as floats, or as 16-bit integers for audio that a 16-bit store
// holds (half the memory, and still exact: every sample there is a multiple of 2^-15).
//
// Threads: one writer at a time (the background reader, or the editable cache's worker)
// while any number of threads read. A block's two extremes are one relaxed atomic word: a
// reader may see a block from just before or just after its update, never a torn value
// nor the minimum of one update with the maximum of another.
class PeakSummary {
public:
    struct Range {
        float minimum = 0.0f;
        float maximum = 0.0f;
    };
    // How the extremes are kept. Int16 is for samples that are multiples of 2^-15 in
    // [-1, 1): float samples given to such a summary are taken to the 16-bit value a
    // 16-bit store keeps for them.
    enum class Precision { Float, Int16 };
    // Block sizes in frames, finest first; each is a whole multiple of the one before.
    static constexpr int kLevels = 3;
    static constexpr int kBlockFrames[kLevels] = {64, 1024, 16384};

    // Copies count interleaved samples from start into dst, as they are now; used for
    // the parts of a query that do not cover a whole block. count is at most one block.
    using SampleReader = std::function<void(float *dst, int start, int count)>;

    // A summary of length interleaved samples; known and silent when knownSilent, unknown
    // otherwise.
    PeakSummary(int length, bool knownSilent, Precision precision = Precision::Float);
    PeakSummary(const PeakSummary &) = delete;
    PeakSummary &operator=(const PeakSummary &) = delete;

    int length() const { return m_length; }
    Precision precision() const { return m_precision; }

    // Writer: samples[0..count) are the interleaved samples from startSample on. Every
    // block they cover whole is replaced; a block they cover only partly is replaced when
    // startSample is where it begins (the rest lies past the end of the audio, as for the
    // last chunk of a file), merged otherwise.
    void update(int startSample, const float *samples, int count);
    // The same for 16-bit integer samples, as the cache hands them out (divided by 2^15).
    void update(int startSample, const std::int16_t *samples, int count);
    // Writer: recomputes every block that [startSample, endSample) touches, reading whole
    // blocks through read (which must return the sample as it is now).
    void recompute(int startSample, int endSample, const SampleReader &read);
    // Writer: marks every block that [startSample, endSample) touches as unknown.
    void invalidate(int startSample, int endSample);

    // Any thread: the extremes of the interleaved samples [startSample, endSample), from
    // whole blocks where they fit and from read for the ragged ends. Returns false when a
    // block it needs is unknown. The cost is bounded by the block ratios, not by the span.
    bool query(int startSample, int endSample, const SampleReader &read, Range &range) const;

private:
    // One level's blocks, each one word holding both extremes: Int16 keeps the minimum in
    // the low and the maximum in the high half of 32 bits, Float the two floats' bits in
    // the halves of 64 bits.
    struct Level {
        int blockFrames = 0;
        int blocks = 0;
        std::unique_ptr<std::atomic<std::uint32_t>[]> words16;
        std::unique_ptr<std::atomic<std::uint64_t>[]> words32;
    };

    template <typename Sample> void updateFrom(int startSample, const Sample *samples, int count);
    // Stores the extremes of n known blocks of a level from block first on.
    void storeWords(Level &level, int first, int n, const std::int16_t *minima, const std::int16_t *maxima);
    void storeWords(Level &level, int first, int n, const float *minima, const float *maxima);
    // Recomputes the coarser blocks above level-0 blocks [first, last], except the
    // level-1 blocks [madeFrom, madeTo), which the caller has made already.
    void propagate(int first, int last, int madeFrom, int madeTo);
    Range loadBlock(const Level &level, int block) const;
    void storeBlock(Level &level, int block, float minimum, float maximum);
    bool queryFrames(int level, long long firstFrame, long long endFrame, const SampleReader &read,
                     Range &range, bool &any) const;

    const int m_length;
    const Precision m_precision;
    Level m_levels[kLevels];
};
