#include "HitLoopFixture.h"

#include <cmath>
#include <cstdint>

namespace HitLoopFixture {

namespace {
constexpr double kDecaySeconds = 0.025;
constexpr long long kBurstFrames = rate * 15 / 100; // 150 ms, shorter than every gap

// Reproducible white noise in [-1, 1) from the frame and channel alone.
float noise(long long f, int c) {
    uint64_t x = uint64_t(f) * 2654435761u + uint64_t(c) * 40503u + 0x9E3779B97F4A7C15ull;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return float(double(x >> 11) / double(1ull << 53) * 2.0 - 1.0);
}
} // namespace

QVector<long long> hitFrames() {
    // Seconds: 0.10 0.31 0.52 0.68 0.97 1.21 1.38 1.70, as a person plays, not a grid.
    return {4410, 13671, 22932, 29988, 42777, 53361, 60858, 74970};
}

QVector<float> hitAmplitudes() { return {0.9f, 0.55f, 0.8f, 0.5f, 0.9f, 0.6f, 0.8f, 0.55f}; }

TestAudio::Generator generator() {
    const QVector<long long> starts = hitFrames();
    const QVector<float> amps = hitAmplitudes();
    return [starts, amps](long long f, int c) {
        for (int i = 0; i < starts.size(); ++i) {
            const long long k = f - starts[i];
            if (k >= 0 && k < kBurstFrames)
                return amps[i] * float(std::exp(-double(k) / (kDecaySeconds * rate))) * noise(f, c);
        }
        return 0.0f;
    };
}

bool write(const QString &path) { return TestAudio::writeWav(path, 2, rate, frames, generator()); }

int hitNear(int interleavedPoint, long long beforeFrames, long long afterFrames) {
    const long long frame = interleavedPoint / 2;
    const QVector<long long> starts = hitFrames();
    for (int i = 0; i < starts.size(); ++i)
        if (frame >= starts[i] - beforeFrames && frame <= starts[i] + afterFrames)
            return i;
    return -1;
}

} // namespace HitLoopFixture
