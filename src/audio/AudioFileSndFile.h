#pragma once

#include "AudioFile.h"

#include <sndfile.h>

#include <atomic>

// WAV and AIFF (and anything else libsndfile recognises) through libsndfile. Samples
// come as floats normalised to ±1.0 whatever the file's bit depth.
class AudioFileSndFile : public AudioFile {
public:
    explicit AudioFileSndFile(const QString &path);
    // Any thread. Opens path for reading through libsndfile, by descriptor: libsndfile
    // refuses paths longer than 1024 bytes, which deep folders of long names reach. The
    // descriptor is libsndfile's from the call on: it closes it at sf_close, and also when
    // it cannot open the file, whatever it is told, so no caller may close it (closed twice,
    // it closed the next file opened). Null when the file cannot be opened.
    static SNDFILE *openForReading(const QString &path, SF_INFO *info);
    ~AudioFileSndFile() override;

    int length() override { return m_length; }
    int sampleRate() override { return m_sampleRate; }
    int read(float *buffer, unsigned count) override;
    int seek(unsigned sampleIndex) override;
    int position() override { return 2 * m_framesRead; }
    long long missingFrames() const override { return m_missingFrames.load(); }
    int integerBits() override;
    int readInt16(std::int16_t *buffer, unsigned count) override;

    int channels() const override { return m_info.channels; }
    // An MP3 or Ogg stream of its own (not one inside a WAV), which libsndfile decodes
    // with decoders of its own.
    bool isCompressedStream() const;

private:
    // read() and readInt16(): libsndfile's reader for one sample type.
    template <typename Sample, typename ReadFunction>
    int readAs(Sample *buffer, unsigned count, ReadFunction readFile);

    SF_INFO m_info{};
    SNDFILE *m_file = nullptr;
    QString m_path;
    int m_length = 0;
    int m_sampleRate = 0;
    int m_framesRead = 0;
    // From the header on opening; raised by the reading thread when the data ends early.
    std::atomic<long long> m_missingFrames{0};
    // False for MPEG audio (MP3 in a WAV), whose frame count libsndfile can only
    // estimate: reading ending short of it is no sign of a damaged file.
    bool m_bExactLength = true;
};
