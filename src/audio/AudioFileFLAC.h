#pragma once

#include "AudioFile.h"

#include <FLAC++/decoder.h>

#include <atomic>
#include <cstdint>

// FLAC through libFLAC++. Decodes one frame at a time into a frame buffer sized for
// the stream's largest block, and delivers from it.
//
// The length is what the file really holds: the declared one when its last sample
// decodes, otherwise (a file cut off, or a stream written without knowing its length)
// the frames counted by decoding the file once on opening.
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
    // Whether libFLAC found the stream's STREAMINFO. A file refused without it may still
    // be FLAC that libFLAC cannot find its way into (an ID3v2 tag with a footer before
    // the stream); one refused after it holds damage or an impossible header.
    bool streamInfoFound() const { return m_gotStreamInfo; }

protected:
    ::FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame *frame,
                                                    const FLAC__int32 *const buffer[]) override;
    void metadata_callback(const ::FLAC__StreamMetadata *metadata) override;
    void error_callback(::FLAC__StreamDecoderErrorStatus status) override;

private:
    // Decodes frames until one arrives; false at the end of the stream or when
    // decoding has stopped.
    bool decodeNextFrame();
    // Opening: whether the last frame STREAMINFO declares is there and decodes.
    bool lastDeclaredFrameDecodes();
    // Opening: the frames the file delivers, counted by decoding it from the start to
    // where decoding ends; stops counting once the int sample index would overflow.
    uint64_t countDecodableFrames();
    // Opening: logs why the file is refused and leaves a reader of length 0.
    void refuse(const QString &path, const char *why);
    int outputChannels() const { return m_channels > 2 ? int(m_channels) : 2; }

    int m_length = 0;
    // Frames per channel STREAMINFO declares; 0 when the encoder did not know.
    uint64_t m_declaredFrames = 0;
    // Declared frames the file does not hold, as found on opening.
    long long m_declaredMissing = 0;
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
    // While countDecodableFrames() runs, frames are counted instead of delivered.
    bool m_counting = false;
    uint64_t m_countedFrames = 0;
    // Declared frames missing from the file; raised by the reading thread when the audio
    // ends before the length found on opening (the file changed or is damaged inside).
    std::atomic<long long> m_missingFrames{0};
};
