#pragma once
// Rhythmic fixtures for the tempo tests and benchmarks, synthesised in code.

#include <vector>

namespace TempoFixtures {

// Mono train of short identical clicks, one per beat, starting at sample 0.
std::vector<float> clickTrain(double bpm, double seconds, int rate);

// The same clicks in bars of beatsPerBar, the first beat of each bar at full level and
// the others at half (3: a waltz).
std::vector<float> accentedClicks(double bpm, double seconds, int rate, int beatsPerBar);

// Mono drum pattern: kick on beats 1 and 3 (plus an off-beat kick), snare on 2 and 4,
// closed hi-hat on every eighth note. Deterministic for a given seed.
std::vector<float> drumPattern(double bpm, double seconds, int rate, unsigned seed = 1);

// Interleaved stereo copy of a mono signal (left = right).
std::vector<float> toStereo(const std::vector<float> &mono);

} // namespace TempoFixtures
