#include "AudioFileAudioDecoder.h"

#include "AudioDecoder.h"
#include "AudioLogging.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstring>

AudioFileAudioDecoder::AudioFileAudioDecoder(const QString &path)
    : m_path(path), m_decoder(std::make_unique<AudioDecoder>(QFile::encodeName(path).toStdString())) {
    if (m_decoder->open() != 0)
        qCDebug(lcAudio) << "Error opening file" << path;
    qCDebug(lcAudio) << "fileLength:" << m_decoder->numSamples();
    qCDebug(lcAudio) << "channels:" << m_decoder->channels();
    qCDebug(lcAudio) << "samplerate:" << m_decoder->sampleRate();

    const int channels = m_decoder->channels();
    const long long frames = channels > 0 ? m_decoder->numSamples() / channels : 0;
    if (!isLoadable(2LL * frames, m_decoder->sampleRate()))
        return;
    // The decoder's count stops at the largest whole-frame int rather than overflow. A
    // file that reaches it is longer than an int sample index holds: refused, as the
    // WAV and FLAC readers refuse theirs, not loaded as its first six hours or so.
    if (channels > 0 && m_decoder->numSamples() >= INT_MAX - INT_MAX % channels) {
        qCDebug(lcAudio) << "Error opening file" << path << "(longer than an int sample index holds)";
        return;
    }
    m_channels = channels;
    m_sampleRate = m_decoder->sampleRate();
    // A stereo stream of the file's frames, whatever its channel count: more than two
    // channels are not mixed down but play as silence for the file's own duration.
    m_length = int(2 * frames);
}

AudioFileAudioDecoder::~AudioFileAudioDecoder() = default;

int AudioFileAudioDecoder::readFromSource(float *buffer, int count) {
    return m_decoder->read(count, buffer);
}

int AudioFileAudioDecoder::read(float *buffer, unsigned count) {
    if (m_length == 0)
        return 0;
    const unsigned remaining = unsigned(m_length - 2 * m_framesRead);
    // Past the end the whole request reads as silence, not just the part that remains.
    const unsigned requested = count;
    if (count > remaining)
        count = remaining;

    int frames = 0;
    if (m_channels == 1) {
        frames = std::max(0, readFromSource(buffer, int(count / 2)));
        for (int i = frames - 1; i >= 0; --i) {
            const float v = buffer[i];
            buffer[2 * i] = v;
            buffer[2 * i + 1] = v;
        }
    } else if (m_channels == 2) {
        frames = std::max(0, readFromSource(buffer, int(count & ~1u))) / 2;
    }
    m_framesRead += frames;
    // The file lost data since it was opened (a copy still being written, a share gone).
    if (m_decoder->durationExact() && (m_channels == 1 || m_channels == 2) && unsigned(frames) < count / 2)
        m_missingFrames.store(std::max(m_missingFrames.load(), (long long)(m_length / 2 - m_framesRead)));

    const unsigned result = 2u * unsigned(frames);
    if (result < requested)
        std::memset(buffer + result, 0, (requested - result) * sizeof(float));
    return int(result);
}

int AudioFileAudioDecoder::seek(unsigned sampleIndex) {
    if (m_length == 0)
        return 0;
    // The decoder counts samples of the file's own channels.
    const long long frame = std::min<long long>(sampleIndex / 2, m_length / 2);
    const int position = m_decoder->seek(int(frame * std::max(1, m_channels)));
    m_framesRead = position / std::max(1, m_channels);
    return 2 * m_framesRead;
}

long long AudioFileAudioDecoder::missingFrames() const {
    return m_length > 0 ? m_decoder->missingFrames() + m_missingFrames.load() : 0;
}

int AudioFileAudioDecoder::integerBits() {
    return m_length > 0 && m_decoder->bitsPerSample() == 16 ? 16 : 0;
}
