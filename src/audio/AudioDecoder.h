#pragma once

#include "AudioDecoderBase.h"

#include <cstdint>
#include <memory>

class PcmSource;

// Decodes compressed audio files (MP3, M4A, WMA, Ogg, Opus and whatever else FFmpeg
// reads) into interleaved float samples in the file's own channel layout. The logic
// here (leftover frames between reads, correction of inaccurate seeks, 16-bit to float)
// runs over a PcmSource; by default FFmpeg's.
//
// Used by one thread at a time: opened on the GUI thread, read on the background
// reader's thread. Progress lines go to the standard output, failures and warnings to
// the standard error stream.
class AudioDecoder : public AudioDecoderBase {
public:
    explicit AudioDecoder(const std::string &fileName);
    // Tests: decode from a given source instead of FFmpeg.
    AudioDecoder(const std::string &fileName, std::unique_ptr<PcmSource> source);
    ~AudioDecoder() override;

    // 0 on success, -1 when the file cannot be decoded (it then reports 0 samples).
    int open() override;
    int numSamples() const override;
    int read(int size, float *buffer) override;
    int seek(int sampleIdx) override;
    // See PcmSource::missingFrames; 0 until opened.
    int64_t missingFrames() const;
    // See PcmSource::durationExact; false until opened.
    bool durationExact() const;
    // Depth of the integer PCM that read() scales to floats by 2^-(bits - 1).
    int bitsPerSample() const { return m_bitsPerSample; }

    // Extensions (lower case, no dot) of the files the FFmpeg build at hand decodes.
    static std::vector<std::string> supportedFileExtensions();

    // Largest request one pass of read() handles; longer requests run several passes.
    static constexpr int kMaxReadSamples = 8192;

private:
    bool configureAudioStream();
    bool readProperties();
    int readChunk(int size, float *buffer);
    void copyFrames(int16_t *dest, int64_t *framesNeeded, const int16_t *src, int64_t srcFrames);
    int64_t frameFromTime(int64_t time) const;
    int64_t timeFromFrame(int64_t frame) const;
    static double secondsFromTime(int64_t time);

    std::unique_ptr<PcmSource> m_source;
    bool m_opened = false;
    int64_t m_nextFrame = 0;               // frame index the next read delivers
    std::unique_ptr<int16_t[]> m_leftover; // tail of the last buffer, not yet delivered
    int64_t m_leftoverCapacity = 0;        // in samples
    int64_t m_leftoverFrames = 0;
    int64_t m_leftoverPosition = 0; // frame index where the leftover frames begin
    int64_t m_mediaDuration = 0;    // in ticks of 100 ns
    bool m_dead = false;
    bool m_seeking = false;
    int m_bitsPerSample = 16;
    int16_t m_sampleBuffer[kMaxReadSamples] = {};
};
