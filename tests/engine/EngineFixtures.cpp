#include "EngineFixtures.h"

#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace EngineFixtures {

bool waitUntilLoaded(const SlicePtr &slice, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!slice->isLoadingComplete()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

std::vector<float> renderOffline(const QString &path, int deviceRate, int start, int end, int pieceFrames,
                                 bool stretched)
{
    std::vector<float> out;
    SlicePtr slice = Slice::create(path, deviceRate);
    if (!waitUntilLoaded(slice))
        return out;
    slice->setStretchEnabled(stretched);
    slice->play(true, start, end);
    std::vector<float> piece(size_t(2 * pieceFrames));
    for (int guard = 0; guard < 100000; ++guard) {
        std::fill(piece.begin(), piece.end(), 0.0f);
        const int n = slice->render(piece.data(), int(piece.size()));
        if (n <= 0)
            break;
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

long long firstSoundFrame(const std::vector<float> &samples)
{
    for (size_t i = 0; i < samples.size(); ++i)
        if (samples[i] != 0.0f)
            return (long long)(i / 2);
    return -1;
}

void trimSilence(std::vector<float> &samples)
{
    size_t end = samples.size();
    while (end >= 2 && samples[end - 1] == 0.0f && samples[end - 2] == 0.0f)
        end -= 2;
    samples.resize(end);
}

float maxDifference(const std::vector<float> &a, size_t aStart, const std::vector<float> &b, size_t bStart,
                    size_t count)
{
    float worst = 0.0f;
    for (size_t i = 0; i < count; ++i) {
        const float x = aStart + i < a.size() ? a[aStart + i] : 0.0f;
        const float y = bStart + i < b.size() ? b[bStart + i] : 0.0f;
        worst = std::max(worst, std::fabs(x - y));
    }
    return worst;
}

int risingZeroCrossings(const std::vector<float> &samples, int channel, long long from, long long to)
{
    int crossings = 0;
    for (long long f = from + 1; f < to && size_t(2 * f + channel) < samples.size(); ++f)
        if (samples[size_t(2 * (f - 1) + channel)] < 0.0f && samples[size_t(2 * f + channel)] >= 0.0f)
            ++crossings;
    return crossings;
}

} // namespace EngineFixtures
