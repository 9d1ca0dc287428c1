#include "AudioFixtures.h"

#include <QFile>
#include <QtEndian>
#include <sndfile.h>

namespace AudioFixtures {

float stair(long long i) {
    return float(i % 51 - 25) / 32.0f;
}

TestAudio::Generator stairGenerator() {
    return [](long long f, int c) { return stair(2 * f + c); };
}

float tolerance(int sfSubtype) {
    switch (sfSubtype) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_S8:
        return 0.012f; // below half a step of 1/32
    case SF_FORMAT_PCM_16:
        return 1e-4f;
    case SF_FORMAT_PCM_24:
        return 1e-6f;
    default:
        return 0.0f;
    }
}

bool writeFlac(const QString &path, int channels, int rate, long long frames, int sfSubtype) {
    return TestAudio::writeSndFile(path, SF_FORMAT_FLAC | sfSubtype, channels, rate, frames,
                                   stairGenerator());
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool patchBytes(const QString &path, qint64 offset, const QByteArray &bytes) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset))
        return false;
    return f.write(bytes) == bytes.size();
}

// STREAMINFO body: min block (16 bits), max block (16), min frame (24), max frame (24),
// sample rate (20), channels - 1 (3), bits per sample - 1 (5), total samples (36), MD5.
static bool patchStreamInfo(const QString &path, const std::function<void(QByteArray &)> &edit) {
    QByteArray all = readAll(path);
    if (all.size() < flacStreamInfoOffset + 34 || !all.startsWith("fLaC"))
        return false;
    QByteArray body = all.mid(int(flacStreamInfoOffset), 34);
    edit(body);
    return patchBytes(path, flacStreamInfoOffset, body);
}

bool patchFlacTotalSamples(const QString &path, quint64 total) {
    return patchStreamInfo(path, [total](QByteArray &b) {
        b[13] = char((uchar(b[13]) & 0xF0) | ((total >> 32) & 0x0F));
        b[14] = char((total >> 24) & 0xFF);
        b[15] = char((total >> 16) & 0xFF);
        b[16] = char((total >> 8) & 0xFF);
        b[17] = char(total & 0xFF);
    });
}

bool patchFlacSampleRate(const QString &path, unsigned rate) {
    return patchStreamInfo(path, [rate](QByteArray &b) {
        b[10] = char((rate >> 12) & 0xFF);
        b[11] = char((rate >> 4) & 0xFF);
        b[12] = char((uchar(b[12]) & 0x0F) | ((rate & 0x0F) << 4));
    });
}

bool patchFlacMaxBlockSize(const QString &path, unsigned maxBlockSize) {
    return patchStreamInfo(path, [maxBlockSize](QByteArray &b) {
        b[0] = char((maxBlockSize >> 8) & 0xFF); // the minimum may not exceed the maximum
        b[1] = char(maxBlockSize & 0xFF);
        b[2] = char((maxBlockSize >> 8) & 0xFF);
        b[3] = char(maxBlockSize & 0xFF);
    });
}

QByteArray wavHeader(int channels, int rate, int bits, quint32 dataBytes) {
    QByteArray h;
    auto u32 = [&h](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        h.append(b, 4);
    };
    auto u16 = [&h](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        h.append(b, 2);
    };
    const int blockAlign = channels * bits / 8;
    h.append("RIFF");
    u32(dataBytes > 0xFFFFFFFFu - 36 ? 0xFFFFFFFFu : dataBytes + 36);
    h.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(quint16(channels));
    u32(quint32(rate));
    u32(quint32(rate * blockAlign));
    u16(quint16(blockAlign));
    u16(quint16(bits));
    h.append("data");
    u32(dataBytes);
    return h;
}

} // namespace AudioFixtures
