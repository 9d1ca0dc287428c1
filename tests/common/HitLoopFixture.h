#pragma once
// A loop of clean, separated drum-like hits at known frames: decaying noise bursts on
// silence, loud and soft ones mixed and off any grid, so that every hit is one a
// transient detector must find and a slice that starts late shows.

#include "TestAudio.h"

#include <QString>
#include <QVector>

namespace HitLoopFixture {

constexpr int rate = 44100;
constexpr long long frames = 2 * rate;

// Frame at which each burst starts (ascending), and its peak amplitude.
QVector<long long> hitFrames();
QVector<float> hitAmplitudes();

// Value of channel c at frame f.
TestAudio::Generator generator();

// Float WAV, stereo, `rate`, `frames` long.
bool write(const QString &path);

// Index of the hit whose start lies within [point - after, point + before] frames of the
// interleaved position point, else -1: a slice start may come a little before its hit,
// hardly after it.
int hitNear(int interleavedPoint, long long beforeFrames, long long afterFrames);

} // namespace HitLoopFixture
