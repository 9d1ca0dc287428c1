#include "TestAudio.h"

#include <QFile>
#include <QProcess>
#include <cmath>
#include <sndfile.h>

namespace TestAudio {

float staircase(long long i) { return float((i % 20000) - 10000) / 10000.0f; }

Generator sine(double freqHz, double rate, float amp)
{
    return [=](long long f, int) { return float(amp * std::sin(2.0 * M_PI * freqHz * double(f) / rate)); };
}

bool writeSndFile(const QString &path, int format, int channels, int rate, long long frames,
                  const Generator &gen)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const long long block = 4096;
    std::vector<float> buf(size_t(block * channels));
    for (long long pos = 0; pos < frames; pos += block) {
        const long long n = std::min(block, frames - pos);
        for (long long k = 0; k < n; ++k)
            for (int c = 0; c < channels; ++c)
                buf[size_t(k * channels + c)] = gen(pos + k, c);
        sf_writef_float(f, buf.data(), n);
    }
    return sf_close(f) == 0;
}

bool writeWav(const QString &path, int channels, int rate, long long frames, const Generator &gen, bool asFloat)
{
    return writeSndFile(path, SF_FORMAT_WAV | (asFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16), channels, rate,
                        frames, gen);
}

bool runFfmpeg(const QStringList &args)
{
    QProcess p;
    p.start("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + args);
    if (!p.waitForFinished(120000))
        return false;
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(bytes) == bytes.size();
}

double frequency(const std::vector<float> &x, int channel, long long from, long long to, double rate)
{
    double first = -1, last = -1;
    int crossings = 0;
    for (long long f = from; f + 1 < to && size_t(2 * (f + 1) + channel) < x.size(); ++f) {
        const float a = x[size_t(2 * f + channel)], b = x[size_t(2 * (f + 1) + channel)];
        if (a < 0.0f && b >= 0.0f) {
            const double t = double(f) + double(-a) / double(b - a);
            if (first < 0)
                first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2)
        return 0.0;
    return (crossings - 1) / ((last - first) / rate);
}

std::vector<float> readRawFloat(const QString &path)
{
    QFile f(path);
    std::vector<float> out;
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray all = f.readAll();
    out.resize(size_t(all.size()) / sizeof(float));
    memcpy(out.data(), all.constData(), out.size() * sizeof(float));
    return out;
}

} // namespace TestAudio
