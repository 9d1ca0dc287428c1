#include "DecoderFixtures.h"

#include "AudioDecoder.h"
#include "TestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>

namespace DecoderFixtures {

QStringList chirpInput(int rate, double seconds, int channels) {
    QStringList expressions;
    for (int c = 0; c < channels; ++c)
        expressions << QString("0.4*sin(2*PI*(%1+%2*t)*t)").arg(150 + 170 * c).arg(90 + 40 * c);
    return {"-f", "lavfi", "-i",
            QString("aevalsrc=%1:s=%2:d=%3").arg(expressions.join('|')).arg(rate).arg(seconds)};
}

bool encodeChirp(const QString &path, int rate, double seconds, int channels, const QStringList &outputArgs) {
    return TestAudio::runFfmpeg(chirpInput(rate, seconds, channels) + outputArgs + QStringList{path});
}

std::vector<int16_t> ffmpegDecode(const QString &path, int channels) {
    QTemporaryDir dir;
    const QString raw = dir.filePath("reference.raw");
    std::vector<int16_t> samples;
    if (!TestAudio::runFfmpeg({"-i", path, "-f", "s16le", "-ac", QString::number(channels), raw}))
        return samples;
    QFile file(raw);
    if (!file.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray bytes = file.readAll();
    samples.resize(size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

std::vector<float> decodeAll(AudioDecoder &decoder, int readSize, long long maxSamples) {
    std::vector<float> all;
    std::vector<float> block(static_cast<size_t>(readSize));
    while (static_cast<long long>(all.size()) < maxSamples) {
        const int got = decoder.read(readSize, block.data());
        all.insert(all.end(), block.begin(), block.begin() + std::max(0, got));
        if (got < readSize)
            break;
    }
    return all;
}

} // namespace DecoderFixtures
