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
// Threads: one writer at a time (the background reader, or the editable cache's worker)
// while any number of threads read. Values are relaxed atomics: a reader may see a block
// from just before or just after its update, never a torn value.
class PeakSummary {
public:
    struct Range {
        float minimum = 0.0f;
        float maximum = 0.0f;
    };
    // Block sizes in frames, finest first; each is a whole multiple of the one before.
    static constexpr int kLevels = 3;
    static constexpr int kBlockFrames[kLevels] = {64, 1024, 16384};

    // Copies count interleaved samples from start into dst, as they are now; used for
    // the parts of a query that do not cover a whole block. count is at most one block.
    using SampleReader = std::function<void(float *dst, int start, int count)>;

    // A summary of length interleaved samples; known and silent when knownSilent, unknown
    // otherwise.
    PeakSummary(int length, bool knownSilent);
    PeakSummary(const PeakSummary &) = delete;
    PeakSummary &operator=(const PeakSummary &) = delete;

    int length() const { return m_length; }

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
    struct Level {
        int blockFrames = 0;
        int blocks = 0;
        std::unique_ptr<std::atomic<float>[]> minimum;
        std::unique_ptr<std::atomic<float>[]> maximum;
    };

    template <typename Sample>
    void updateFrom(int startSample, const Sample *samples, int count);
    // Recomputes the coarser blocks above level-0 blocks [first, last].
    void propagate(int first, int last);
    void storeBlock(Level &level, int block, float minimum, float maximum);
    bool queryFrames(int level, long long firstFrame, long long endFrame, const SampleReader &read,
                     Range &range, bool &any) const;

    const int m_length;
    Level m_levels[kLevels];
};
