#include "TempoFixtures.h"

#include <algorithm>
#include <cmath>

namespace TempoFixtures {

std::vector<float> clickTrain(double bpm, double seconds, int rate) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> out(static_cast<size_t>(frames), 0.0f);
    const double period = 60.0 / bpm * rate;
    for (long long beat = 0;; ++beat) {
        const long long at = std::llround(beat * period);
        if (at >= frames)
            break;
        for (long long i = at; i < at + 16 && i < frames; ++i)
            out[static_cast<size_t>(i)] = 1.0f;
    }
    return out;
}

std::vector<float> accentedClicks(double bpm, double seconds, int rate, int beatsPerBar) {
    std::vector<float> out = clickTrain(bpm, seconds, rate);
    const long long frames = static_cast<long long>(out.size());
    const double period = 60.0 / bpm * rate;
    for (long long beat = 0; std::llround(beat * period) < frames; ++beat)
        if (beat % beatsPerBar != 0)
            for (long long i = std::llround(beat * period), end = std::min(i + 16, frames); i < end; ++i)
                out[static_cast<size_t>(i)] = 0.5f;
    return out;
}

namespace {

struct Noise {
    unsigned state;
    float next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
    }
};

void addKick(std::vector<float> &out, long long at, int rate, float gain) {
    const long long len = static_cast<long long>(0.35 * rate);
    double phase = 0.0;
    for (long long i = 0; i < len && at + i < static_cast<long long>(out.size()); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double freq = 50.0 + 100.0 * std::exp(-t * 25.0);
        phase += 2.0 * M_PI * freq / rate;
        out[static_cast<size_t>(at + i)] += gain * static_cast<float>(std::sin(phase) * std::exp(-t * 9.0));
    }
}

void addSnare(std::vector<float> &out, long long at, int rate, float gain, Noise &noise) {
    const long long len = static_cast<long long>(0.2 * rate);
    for (long long i = 0; i < len && at + i < static_cast<long long>(out.size()); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double tone = std::sin(2.0 * M_PI * 185.0 * t) * std::exp(-t * 30.0);
        const double rattle = noise.next() * std::exp(-t * 18.0);
        out[static_cast<size_t>(at + i)] += gain * static_cast<float>(0.4 * tone + 0.6 * rattle);
    }
}

void addHat(std::vector<float> &out, long long at, int rate, float gain, Noise &noise) {
    const long long len = static_cast<long long>(0.05 * rate);
    float previous = 0.0f;
    for (long long i = 0; i < len && at + i < static_cast<long long>(out.size()); ++i) {
        const double t = static_cast<double>(i) / rate;
        const float white = noise.next();
        // First difference: a crude high-pass that leaves mostly the top of the spectrum.
        const float bright = white - previous;
        previous = white;
        out[static_cast<size_t>(at + i)] += gain * 0.5f * bright * static_cast<float>(std::exp(-t * 90.0));
    }
}

} // namespace

std::vector<float> drumPattern(double bpm, double seconds, int rate, unsigned seed) {
    const long long frames = static_cast<long long>(seconds * rate);
    std::vector<float> out(static_cast<size_t>(frames), 0.0f);
    Noise noise{seed};
    const double sixteenth = 60.0 / bpm * rate / 4.0;
    for (long long step = 0;; ++step) {
        const long long at = std::llround(step * sixteenth);
        if (at >= frames)
            break;
        const int inBar = static_cast<int>(step % 16);
        if (inBar == 0 || inBar == 8 || inBar == 10)
            addKick(out, at, rate, inBar == 10 ? 0.6f : 0.9f);
        if (inBar == 4 || inBar == 12)
            addSnare(out, at, rate, 0.7f, noise);
        if (inBar % 2 == 0)
            addHat(out, at, rate, inBar % 4 == 0 ? 0.35f : 0.25f, noise);
    }
    return out;
}

std::vector<float> toStereo(const std::vector<float> &mono) {
    std::vector<float> out(mono.size() * 2);
    for (size_t i = 0; i < mono.size(); ++i) {
        out[2 * i] = mono[i];
        out[2 * i + 1] = mono[i];
    }
    return out;
}

} // namespace TempoFixtures
