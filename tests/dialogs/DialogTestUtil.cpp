#include "DialogTestUtil.h"

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <cmath>
#include <cstring>
#include <sndfile.h>

namespace DialogTestUtil {

std::vector<float> stereoSine(double freq, int rate, int frames, float amp)
{
    std::vector<float> v(size_t(frames) * 2);
    for (int f = 0; f < frames; ++f) {
        const float s = float(amp * std::sin(2.0 * M_PI * freq * f / rate));
        v[size_t(2 * f)] = s;
        v[size_t(2 * f + 1)] = s;
    }
    return v;
}

OfflineStretchRenderer::SampleReader vectorReader(const std::vector<float> &samples)
{
    return [&samples](float *dst, int start, int count) {
        if (start < 0 || size_t(start) >= samples.size())
            return 0;
        const int n = int(std::min<size_t>(size_t(count), samples.size() - size_t(start)));
        std::memcpy(dst, samples.data() + start, size_t(n) * sizeof(float));
        return n;
    };
}

std::vector<float> readStereo(const QString &path, int *rate)
{
    SF_INFO info{};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    std::vector<float> out;
    if (!f)
        return out;
    std::vector<float> raw(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(f, raw.data(), info.frames);
    sf_close(f);
    out.resize(size_t(info.frames) * 2);
    for (sf_count_t i = 0; i < info.frames; ++i) {
        out[size_t(2 * i)] = raw[size_t(i * info.channels)];
        out[size_t(2 * i + 1)] = raw[size_t(i * info.channels + (info.channels > 1 ? 1 : 0))];
    }
    if (rate)
        *rate = info.samplerate;
    return out;
}

double dominantFrequency(const std::vector<float> &v, int rate, int c, size_t from, size_t to)
{
    to = std::min(to, v.size() / 2);
    if (to <= from + 16)
        return 0.0;
    const size_t n = to - from;
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) // Hann window against leakage
        x[i] = v[2 * (from + i) + size_t(c)] * (0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n - 1)));
    auto power = [&](double freq) { // Goertzel
        const double w = 2.0 * std::cos(2.0 * M_PI * freq / rate);
        double s1 = 0.0, s2 = 0.0;
        for (double xi : x) {
            const double s0 = xi + w * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        return s1 * s1 + s2 * s2 - w * s1 * s2;
    };
    double best = 0.0, bestPower = -1.0;
    for (double f = 40.0; f < 4000.0; f += 5.0) {
        const double p = power(f);
        if (p > bestPower) { bestPower = p; best = f; }
    }
    const double coarse = best;
    for (double f = coarse - 5.0; f <= coarse + 5.0; f += 0.25) {
        const double p = power(f);
        if (p > bestPower) { bestPower = p; best = f; }
    }
    return best;
}

void saveScreenshot(QWidget *w, const QString &name)
{
    QDir().mkpath(QStringLiteral("/tmp/quillory-dialogs"));
    w->grab().save(QStringLiteral("/tmp/quillory-dialogs/%1.png").arg(name));
}

} // namespace DialogTestUtil
