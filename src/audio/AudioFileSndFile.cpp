#include "AudioFileSndFile.h"

#include "AudioLogging.h"
#include "FiniteSamples.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstring>
#include <fcntl.h>

namespace {
quint32 le32(const char *p) {
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}
quint16 le16(const char *p) {
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint16(u[0] | u[1] << 8);
}
quint32 be32(const char *p) {
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint32(u[3]) | quint32(u[2]) << 8 | quint32(u[1]) << 16 | quint32(u[0]) << 24;
}

// The frame count a WAV or AIFF header declares, or -1 when it declares none that can
// be trusted. libsndfile quietly shortens a file whose audio data is cut off to the
// frames that are there; the declaration is what tells that something is missing.
long long declaredFrames(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const qint64 size = file.size();
    char head[12];
    if (file.read(head, 12) != 12)
        return -1;
    const bool wav = std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0;
    const bool aiff = std::memcmp(head, "FORM", 4) == 0 &&
                      (std::memcmp(head + 8, "AIFF", 4) == 0 || std::memcmp(head + 8, "AIFC", 4) == 0);
    if (!wav && !aiff)
        return -1; // RF64 keeps its sizes elsewhere; other containers are not looked into
    int frameBytes = 0;
    for (qint64 offset = 12; offset + 8 <= size;) {
        char chunk[26];
        if (!file.seek(offset) || file.read(chunk, 8) != 8)
            return -1;
        const quint32 length = wav ? le32(chunk + 4) : be32(chunk + 4);
        if (wav && std::memcmp(chunk, "fmt ", 4) == 0 && length >= 16) {
            if (file.read(chunk + 8, 16) != 16)
                return -1;
            const quint16 tag = le16(chunk + 8);
            // PCM, float, A-law, µ-law and their extensible form. A frame is as wide as
            // libsndfile reads it, whole bytes per sample for every channel, whatever the
            // header's block alignment says: writers get that field wrong, and trusted, a
            // whole file read as cut off.
            if (tag == 1 || tag == 3 || tag == 6 || tag == 7 || tag == 0xFFFE)
                frameBytes = le16(chunk + 10) * ((le16(chunk + 22) + 7) / 8);
        } else if (wav && std::memcmp(chunk, "data", 4) == 0) {
            // 0 and all ones are what writers that never finished (or stream) leave.
            if (frameBytes <= 0 || length == 0 || length == 0xFFFFFFFFu)
                return -1;
            return length / quint32(frameBytes);
        } else if (aiff && std::memcmp(chunk, "COMM", 4) == 0 && length >= 6) {
            if (file.read(chunk + 8, 6) != 6)
                return -1;
            return be32(chunk + 10);
        }
        offset += 8 + qint64(length) + (length & 1);
    }
    return -1;
}
} // namespace

SNDFILE *AudioFileSndFile::openForReading(const QString &path, SF_INFO *info) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    return fd >= 0 ? sf_open_fd(fd, SFM_READ, info, SF_TRUE) : nullptr;
}

AudioFileSndFile::AudioFileSndFile(const QString &path) : m_path(path) {
    std::memset(&m_info, 0, sizeof m_info);
    m_file = openForReading(path, &m_info);
    if (!m_file || !sf_format_check(&m_info)) {
        qCDebug(lcAudio) << "Error opening file" << path;
        if (m_file)
            sf_close(m_file);
        m_file = nullptr;
        std::memset(&m_info, 0, sizeof m_info);
    } else if (!isLoadable(2LL * std::min<long long>(m_info.frames, INT_MAX), m_info.samplerate)) {
        // (A stream of unknown length, a FLAC without its count, says SF_COUNT_MAX frames.)
        // A length beyond an int sample index would wrap around, and a rate of 0 or an
        // absurd one means the header is corrupt: refuse rather than play garbage.
        qCDebug(lcAudio) << "Error opening file" << path << "frames:" << (long long)m_info.frames
                         << "samplerate:" << m_info.samplerate;
        sf_close(m_file);
        m_file = nullptr;
        std::memset(&m_info, 0, sizeof m_info);
    } else {
        m_length = int(2 * m_info.frames);
        m_sampleRate = m_info.samplerate;
        const int subtype = m_info.format & SF_FORMAT_SUBMASK;
        m_bExactLength = subtype != SF_FORMAT_MPEG_LAYER_I && subtype != SF_FORMAT_MPEG_LAYER_II &&
                         subtype != SF_FORMAT_MPEG_LAYER_III;
        m_missingFrames = std::max(0LL, declaredFrames(path) - (long long)m_info.frames);
        if (m_missingFrames > 0)
            qCDebug(lcAudio) << path << "is truncated:" << m_missingFrames
                     << "frames declared in its header are missing";
    }
    qCDebug(lcAudio) << "fileLength:" << m_length;
    qCDebug(lcAudio) << "channels:" << m_info.channels;
    qCDebug(lcAudio) << "fileLength after load:" << m_length << "samples";
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
    // The file lost data since it was opened (a copy still being written, a share gone).
    if (m_bExactLength && (m_info.channels == 1 || m_info.channels == 2) && unsigned(frames) < count / 2)
        m_missingFrames.store(std::max(m_missingFrames.load(), (long long)(m_length / 2 - m_framesRead)));

    const unsigned result = 2u * unsigned(frames);
    if (result < requested)
        std::memset(buffer + result, 0, (requested - result) * sizeof(Sample));
    return int(result);
}

int AudioFileSndFile::read(float *buffer, unsigned count) {
    const int delivered = readAs(buffer, count, sf_read_float);
    // Integer PCM always converts to finite values; float data may hold anything.
    if (delivered > 0 && integerBits() == 0 && FiniteSamples::anyNonFinite(buffer, size_t(delivered)))
        FiniteSamples::zeroNonFinite(buffer, size_t(delivered));
    return delivered;
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

bool AudioFileSndFile::isCompressedStream() const {
    const int container = m_info.format & SF_FORMAT_TYPEMASK;
    return m_file && (container == SF_FORMAT_MPEG || container == SF_FORMAT_OGG);
}
