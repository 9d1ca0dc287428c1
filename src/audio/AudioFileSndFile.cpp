#include "AudioFileSndFile.h"

#include <QDebug>
#include <QFile>

#include <cstring>

AudioFileSndFile::AudioFileSndFile(const QString &path) : m_path(path) {
    std::memset(&m_info, 0, sizeof m_info);
    m_file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &m_info);
    if (!m_file || !sf_format_check(&m_info)) {
        qDebug() << "Error opening file" << path;
        if (m_file)
            sf_close(m_file);
        m_file = nullptr;
        std::memset(&m_info, 0, sizeof m_info);
    } else if (!isLoadable(2LL * m_info.frames, m_info.samplerate)) {
        // A length beyond an int sample index would wrap around, and a rate of 0 or an
        // absurd one means the header is corrupt: refuse rather than play garbage.
        qDebug() << "Error opening file" << path << "frames:" << (long long)m_info.frames
                 << "samplerate:" << m_info.samplerate;
        sf_close(m_file);
        m_file = nullptr;
        std::memset(&m_info, 0, sizeof m_info);
    } else {
        m_length = int(2 * m_info.frames);
        m_sampleRate = m_info.samplerate;
    }
    qDebug() << "fileLength:" << m_length;
    qDebug() << "channels:" << m_info.channels;
    qDebug() << "fileLength after load:" << m_length << "samples";
}

AudioFileSndFile::~AudioFileSndFile() {
    if (m_file)
        sf_close(m_file);
}

template <typename Sample, typename ReadFunction>
int AudioFileSndFile::readAs(Sample *buffer, unsigned count, ReadFunction readFile) {
    if (m_length == 0 || !m_file)
        return 0;
    const unsigned remaining = unsigned(m_length - 2 * m_framesRead);
    // Past the end the whole request reads as silence, not just the part that remains.
    const unsigned requested = count;
    if (count > remaining)
        count = remaining;

    int frames = 0;
    if (m_info.channels == 1) {
        const sf_count_t got = readFile(m_file, buffer, sf_count_t(count / 2));
        frames = got > 0 ? int(got) : 0;
        // Spread in place from the last frame backwards so no value is overwritten
        // before it has been copied.
        for (int i = frames - 1; i >= 0; --i) {
            const Sample v = buffer[i];
            buffer[2 * i] = v;
            buffer[2 * i + 1] = v;
        }
    } else if (m_info.channels == 2) {
        // libsndfile only reads whole frames.
        const sf_count_t got = readFile(m_file, buffer, sf_count_t(count & ~1u));
        frames = got > 0 ? int(got / 2) : 0;
    }
    m_framesRead += frames;

    const unsigned result = 2u * unsigned(frames);
    if (result < requested)
        std::memset(buffer + result, 0, (requested - result) * sizeof(Sample));
    return int(result);
}

int AudioFileSndFile::read(float *buffer, unsigned count) {
    return readAs(buffer, count, sf_read_float);
}

int AudioFileSndFile::readInt16(std::int16_t *buffer, unsigned count) {
    // libsndfile shifts 8-bit samples up and hands 16-bit ones over as they are.
    if (integerBits() != 16)
        return -1;
    return readAs(buffer, count, sf_read_short);
}

int AudioFileSndFile::seek(unsigned sampleIndex) {
    if (!m_file)
        return -1;
    const sf_count_t frame = (m_info.channels == 1 || m_info.channels == 2) ? sf_count_t(sampleIndex / 2) : 0;
    const sf_count_t result = sf_seek(m_file, frame, SEEK_SET);
    if (result >= 0)
        m_framesRead = int(result);
    return int(result);
}

int AudioFileSndFile::integerBits() {
    if (!m_file)
        return 0;
    // libsndfile scales integer PCM by a power of two when it reads floats, so these
    // come out exact.
    switch (m_info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    default:
        return 0;
    }
}
