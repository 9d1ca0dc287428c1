#pragma once
// Helpers shared by the engine tests: loops rendered offline by the loop model, for
// comparison with what reached the device.

#include "Slice.h"

#include <QString>
#include <vector>

namespace EngineFixtures {

// Waits (processing events) until the loop's cache is filled; false on timeout.
bool waitUntilLoaded(const SlicePtr &slice, int timeoutMs = 10000);

// Plays [start, end) of the file through a fresh loop model at the given device rate,
// rendering in pieces of pieceFrames, and returns everything it produced.
std::vector<float> renderOffline(const QString &path, int deviceRate, int start, int end, int pieceFrames,
                                 bool stretched = false);

// Index of the first frame with a non-zero sample, or -1.
long long firstSoundFrame(const std::vector<float> &samples);
// Drops trailing all-zero frames.
void trimSilence(std::vector<float> &samples);

// Largest absolute difference between a and b over count samples from the given starts.
float maxDifference(const std::vector<float> &a, size_t aStart, const std::vector<float> &b, size_t bStart,
                    size_t count);

// Zero crossings (sign changes from negative to non-negative) of one channel in [from, to) frames.
int risingZeroCrossings(const std::vector<float> &samples, int channel, long long from, long long to);

} // namespace EngineFixtures
