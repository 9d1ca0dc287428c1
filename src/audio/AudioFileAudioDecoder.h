#pragma once

#include "AudioFile.h"

// Every container other than WAV, AIFF and FLAC (MP3, M4A, WMA, MP4, OGG, ...),
// through the compressed-audio decoder `AudioDecoder`.
//
// Until that decoder is wired in, the reader opens every file empty (length 0), which
// the loop reports as a file that could not be loaded. Wiring it in keeps this class
// thin:
//   - construction: `m_decoder = std::make_unique<AudioDecoder>(path)` (the path as
//     given, "/" separators); `if (m_decoder->open() != 0)` log "Error opening file"
//     with the path; then log "fileLength:" numSamples(), "channels:" channels() and
//     "samplerate:" sampleRate(). Refuse (length 0) when
//     `!isLoadable(2LL * frames, sampleRate())`;
//   - length(): numSamples() for stereo, 2 × numSamples() for any other channel count;
//     sampleRate(): the decoder's; seek(i): the decoder's seek(i); position(): its
//     positionInSamples();
//   - read(): readFromSource() below with the decoder's read() as source: it already
//     limits the request to what remains, spreads mono to stereo, delivers nothing
//     for more than two channels and zeroes the rest of the request.
class AudioFileAudioDecoder : public AudioFile {
public:
    explicit AudioFileAudioDecoder(const QString &path);
    ~AudioFileAudioDecoder() override;

    int length() override { return m_length; }
    int sampleRate() override { return m_sampleRate; }
    int read(float *buffer, unsigned count) override;
    int seek(unsigned sampleIndex) override;
    int position() override { return 2 * m_framesRead; }

private:
    // Reads up to count samples in the file's own channel layout into buffer and
    // returns how many it read (0 at the end).
    int readFromSource(float *buffer, int count);

    QString m_path;
    int m_length = 0;
    int m_sampleRate = 0;
    int m_channels = 0;
    int m_framesRead = 0;
};
