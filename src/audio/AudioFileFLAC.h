#pragma once

#include "AudioFile.h"

#include <FLAC++/decoder.h>

#include <atomic>
#include <cstdint>

// FLAC through libFLAC++. Decodes one frame at a time into a frame buffer sized for
// the stream's largest block, and delivers from it.
class AudioFileFLAC : public AudioFile, protected FLAC::Decoder::File {
public:
    explicit AudioFileFLAC(const QString &path);
    ~AudioFileFLAC() override;

    int length() override { return m_length; }
    int sampleRate() override { return int(m_sampleRate); }
    int read(float *buffer, unsigned count) override;
    int seek(unsigned sampleIndex) override;
    int position() override { return m_position; }
    long long missingFrames() const override { return m_missingFrames.load(); }
    int integerBits() override;

    int channels() const override { return int(m_channels); }
    int bitsPerSample() const { return int(m_bitsPerSample); }

protected:
    ::FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame *frame,
                                                    const FLAC__int32 *const buffer[]) override;
    void metadata_callback(const ::FLAC__StreamMetadata *metadata) override;
    void error_callback(::FLAC__StreamDecoderErrorStatus status) override;

private:
    // Decodes frames until one arrives; false at the end of the stream or when
    // decoding has stopped.
    bool decodeNextFrame();
    int outputChannels() const { return m_channels > 2 ? int(m_channels) : 2; }

    int m_length = 0;
    uint64_t m_length64 = 0;
    float *m_frameBuffer = nullptr;
    int m_frameCapacity = 0;
    int m_available = 0;
    int m_readOffset = 0;
    unsigned m_sampleRate = 0;
    unsigned m_channels = 0;
    unsigned m_bitsPerSample = 0;
    unsigned m_maxBlockSize = 0;
    int m_position = 0;
    bool m_gotStreamInfo = false;
    bool m_gotFrame = false;
    // Set by the reading thread when the audio ends before the length STREAMINFO declared.
    std::atomic<long long> m_missingFrames{0};
};
