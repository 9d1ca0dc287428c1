#pragma once

#include "AudioFile.h"

#include <atomic>
#include <memory>

class AudioDecoder;

// Every container other than WAV, AIFF and FLAC (MP3, M4A, WMA, MP4, OGG, Opus, ...),
// through the compressed-audio decoder `AudioDecoder`. The path is handed on as it is.
// Mono is spread to both channels; files with more than two channels report 2 x frames
// and read as silence. A file the decoder cannot open gives length 0.
class AudioFileAudioDecoder : public AudioFile {
public:
    explicit AudioFileAudioDecoder(const QString &path);
    ~AudioFileAudioDecoder() override;

    int length() override { return m_length; }
    int sampleRate() override { return m_sampleRate; }
    int read(float *buffer, unsigned count) override;
    int seek(unsigned sampleIndex) override;
    int position() override { return 2 * m_framesRead; }
    // Known on opening for uncompressed AIFC and CAF (see PcmSource::missingFrames); for
    // a stream whose length is exact, also the frames a read found gone since the open
    // (the file cut short by another program while it loads).
    long long missingFrames() const override;
    // The decoder delivers 16-bit PCM scaled by 2^-15.
    int integerBits() override;
    int channels() const override { return m_channels; }

private:
    // Reads up to count samples in the file's own channel layout into buffer and
    // returns how many it read (0 at the end).
    int readFromSource(float *buffer, int count);

    QString m_path;
    std::unique_ptr<AudioDecoder> m_decoder;
    int m_length = 0;
    int m_sampleRate = 0;
    int m_channels = 0;
    int m_framesRead = 0;
    // Read by the GUI thread while the background reader reads.
    std::atomic<long long> m_missingFrames{0};
};
