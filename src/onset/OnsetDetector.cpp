#include "OnsetDetector.h"

#include <algorithm>
#include <cmath>
#include <vector>

// First version: a broadband energy rise per 5 ms hop. The frequency-domain detector
// replaces it; the interface and the picking rules stay.
OnsetAnalysis OnsetDetector::analyse(const FrameReader &reader, qint64 frames, int channels,
                                     int sampleRate, const Progress &progress)
{
    OnsetAnalysis result;
    result.sampleRate = sampleRate;
    result.frames = frames;
    if (!reader || frames <= 0 || channels <= 0 || sampleRate <= 0)
        return result;
    const int hop = std::max(1, sampleRate / 200);
    std::vector<float> block(size_t(hop) * size_t(channels));
    std::vector<float> energy;
    for (qint64 pos = 0; pos < frames; pos += hop) {
        const int want = int(std::min<qint64>(hop, frames - pos));
        const int got = reader(pos, want, block.data());
        double sum = 0.0;
        for (int i = 0; i < got * channels; ++i)
            sum += double(block[size_t(i)]) * block[size_t(i)];
        energy.push_back(float(std::log1p(1000.0 * sum / std::max(1, want))));
        if (progress && (energy.size() % 256) == 0 && !progress(double(pos) / double(frames)))
            return OnsetAnalysis{sampleRate, frames, {}, {}};
    }
    float maxRise = 0.0f;
    std::vector<float> rise(energy.size(), 0.0f);
    for (size_t i = 1; i < energy.size(); ++i) {
        rise[i] = std::max(0.0f, energy[i] - energy[i - 1]);
        maxRise = std::max(maxRise, rise[i]);
    }
    for (size_t i = 1; i + 1 < rise.size(); ++i) {
        if (rise[i] <= 0.0f || rise[i] < rise[i - 1] || rise[i] < rise[i + 1])
            continue;
        OnsetCandidate c;
        c.peakFrame = qint64(i) * hop;
        c.startFrame = std::max<qint64>(0, c.peakFrame - hop);
        c.strength = maxRise > 0.0f ? rise[i] / maxRise : 0.0f;
        result.candidates.push_back(c);
    }
    result.pickOrder.resize(result.candidates.size());
    for (int i = 0; i < result.pickOrder.size(); ++i)
        result.pickOrder[i] = i;
    std::stable_sort(result.pickOrder.begin(), result.pickOrder.end(), [&](int a, int b) {
        return result.candidates[a].strength > result.candidates[b].strength;
    });
    if (progress)
        progress(1.0);
    return result;
}

QVector<qint64> OnsetDetector::pick(const OnsetAnalysis &analysis, double sensitivity,
                                    double minLengthMs, qint64 startFrame, qint64 endFrame)
{
    QVector<qint64> taken;
    if (analysis.sampleRate <= 0 || endFrame <= startFrame)
        return taken;
    const double s = std::clamp(sensitivity, 0.0, 100.0) / 100.0;
    const float threshold = float(1.0 - s);
    const qint64 minFrames = qint64(std::max(0.0, minLengthMs) * analysis.sampleRate / 1000.0);
    for (int index : analysis.pickOrder) {
        const OnsetCandidate &c = analysis.candidates[index];
        if (c.strength < threshold)
            break;
        if (c.startFrame - startFrame < std::max<qint64>(1, minFrames)
            || endFrame - c.startFrame < std::max<qint64>(1, minFrames))
            continue;
        const auto at = std::lower_bound(taken.begin(), taken.end(), c.startFrame);
        if ((at != taken.end() && *at - c.startFrame < std::max<qint64>(1, minFrames))
            || (at != taken.begin() && c.startFrame - *(at - 1) < std::max<qint64>(1, minFrames)))
            continue;
        taken.insert(at, c.startFrame);
    }
    return taken;
}
