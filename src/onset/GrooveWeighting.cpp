#include "GrooveWeighting.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

// How strongly a candidate's strength is moved by its fit to the groove, and the knee of
// that fit (a fit of this much counts as half way); candidates this strong are the clear
// hits that the groove is read from; the pulse (a sixteenth) is sought in this range.
constexpr float kGrooveWeight = 0.4f;
constexpr float kGrooveKnee = 0.05f;
constexpr float kClearHit = 0.6f;
constexpr double kPulseMinMs = 60.0, kPulseMaxMs = 250.0;

// The sixteenth-note period, in seconds, that puts the clear hits most often a whole
// number of periods apart, beyond what chance would give that period: a shorter period
// fits any set of times more often, so the chance share is taken off. A parabolic kernel
// rather than a Gaussian, and at most two thousand gaps: this runs for every period
// tried, and a long song has tens of thousands of gaps that all tell the same.
double pulseOf(const std::vector<double> &gaps)
{
    const double width = 0.0095;
    const size_t stride = std::max<size_t>(1, gaps.size() / 2000);
    double best = 0.0, bestScore = -1e9;
    for (double q = kPulseMinMs / 1000.0; q <= kPulseMaxMs / 1000.0; q += 0.0005) {
        const double chance = 4.0 * width / (3.0 * q);
        double sum = 0.0;
        for (size_t i = 0; i < gaps.size(); i += stride) {
            const double r = (gaps[i] - std::round(gaps[i] / q) * q) / width;
            sum += std::max(0.0, 1.0 - r * r) - chance;
        }
        if (sum > bestScore) {
            bestScore = sum;
            best = q;
        }
    }
    return best;
}

// Moves each candidate's strength by how well it sits where the clear hits of the piece
// sit within the beat (see the note at the top).
} // namespace

void GrooveWeighting::apply(QVector<OnsetCandidate> &candidates, int sampleRate)
{
    std::vector<double> clear;
    for (const OnsetCandidate &c : candidates)
        if (c.strength > kClearHit)
            clear.push_back(double(c.peakFrame) / sampleRate);
    if (clear.size() < 8)
        return;
    std::sort(clear.begin(), clear.end());
    std::vector<double> gaps;
    for (size_t i = 0; i < clear.size(); ++i)
        for (size_t j = i + 1; j < clear.size() && clear[j] - clear[i] < 1.0; ++j)
            gaps.push_back(clear[j] - clear[i]);
    const double pulse = pulseOf(gaps);
    if (!(pulse > 0.0))
        return;

    // Where within a beat (four pulses) the clear hits fall relative to each other, in
    // millisecond bins, each pair within two seconds spread over a few milliseconds of
    // timing looseness.
    const double beat = 4.0 * pulse, reach = 2.0, binWidth = 0.001, spread = 0.004;
    const int bins = std::max(1, int(beat / binWidth));
    std::vector<double> histogram(size_t(bins), 0.0);
    const int kernel = int(std::ceil(3.0 * spread / binWidth));
    std::vector<double> shape;
    for (int k = -kernel; k <= kernel; ++k) {
        const double x = k * binWidth / spread;
        shape.push_back(std::exp(-x * x));
    }
    auto binOf = [&](double d) {
        const double r = std::fmod(std::fmod(d, beat) + beat, beat);
        return int(std::lround(r / binWidth)) % bins;
    };
    // The same number of pairs at random places in the beat gives the histogram a shape of
    // its own, spikier the fewer the pairs: the groove counts only as far as the real
    // histogram is more concentrated than that. (A fixed seed: the same audio must give
    // the same points every time, in the window and on the command line.)
    std::vector<double> chance(size_t(bins), 0.0);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> anywhere(0, bins - 1);
    auto add = [&](std::vector<double> &h, int centre) {
        for (int k = -kernel; k <= kernel; ++k)
            h[size_t(((centre + k) % bins + bins) % bins)] += shape[size_t(k + kernel)];
    };
    for (size_t i = 0; i < clear.size(); ++i)
        for (size_t j = i + 1; j < clear.size() && clear[j] - clear[i] < reach; ++j)
            for (double d : {clear[j] - clear[i], clear[i] - clear[j]}) {
                add(histogram, binOf(d));
                add(chance, anywhere(random));
            }
    // How concentrated a histogram is: 0 when flat, towards 1 for a few sharp peaks.
    auto concentration = [&](std::vector<double> &h) {
        const double top = *std::max_element(h.begin(), h.end());
        if (!(top > 0.0))
            return 0.0;
        double mean = 0.0;
        for (double &v : h) {
            v /= top;
            mean += v;
        }
        return 1.0 - mean / bins;
    };
    const double found = concentration(histogram), byChance = concentration(chance);
    // How clearly the piece has a groove: 0 when its clear hits fall in the beat no more
    // regularly than random times would.
    const double clarity = byChance < 1.0 ? std::max(0.0, (found - byChance) / (1.0 - byChance)) : 0.0;
    if (clarity <= 0.0)
        return;

    for (OnsetCandidate &c : candidates) {
        const double t = double(c.peakFrame) / sampleRate;
        const auto lo = std::lower_bound(clear.begin(), clear.end(), t - reach);
        double fit = 0.0;
        int count = 0;
        for (auto it = lo; it != clear.end() && *it < t + reach; ++it) {
            if (std::fabs(*it - t) <= 0.01)
                continue;
            fit += histogram[size_t(binOf(*it - t))];
            ++count;
        }
        fit = count ? fit / count : 0.0;
        const double moved = kGrooveWeight * clarity * (fit / (fit + kGrooveKnee) - 0.5);
        c.strength = std::clamp(float(c.strength + moved), 0.0f, 1.0f);
    }
}
