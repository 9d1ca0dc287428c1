#include "AudioFileAudioDecoder.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

AudioFileAudioDecoder::AudioFileAudioDecoder(const QString &path) : m_path(path) {
    // No compressed-audio decoder is available yet: the file opens empty.
    qDebug() << "Error opening file" << path;
    qDebug() << "fileLength:" << m_length;
    qDebug() << "channels:" << m_channels;
    qDebug() << "samplerate:" << m_sampleRate;
}

AudioFileAudioDecoder::~AudioFileAudioDecoder() = default;

int AudioFileAudioDecoder::readFromSource(float *, int) {
    return 0;
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

    const unsigned result = 2u * unsigned(frames);
    if (result < requested)
        std::memset(buffer + result, 0, (requested - result) * sizeof(float));
    return int(result);
}

int AudioFileAudioDecoder::seek(unsigned) {
    return 0;
}
