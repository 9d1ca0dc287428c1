#pragma once
// Shared helpers for the loop-model tests: generated loops, waiting for fills, rendering.

#include "Slice.h"
#include "TestAudio.h"

#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace ModelFixtures {

// A stereo float WAV whose interleaved sample i holds TestAudio::staircase(i).
QString writeStaircase(QTemporaryDir &dir, const QString &name, int rate, long long frames);
// A stereo float WAV sine (both channels alike).
QString writeSine(QTemporaryDir &dir, const QString &name, int rate, long long frames, double freq,
                  float amp = 0.5f, float dc = 0.0f);
// Loads a loop and waits for its fill to finish.
SlicePtr loadFilled(const QString &path, int engineRate);
// Renders the playing loop block by block until it delivers nothing (at most maxFrames).
std::vector<float> renderAll(Slice &slice, int blockFrames = 512, long long maxFrames = 10'000'000);
using TestAudio::frequency;
// Sets a setting for the duration of the test program.
void setSetting(const char *key, const char *value);

} // namespace ModelFixtures
