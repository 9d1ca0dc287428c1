#pragma once

#include "TempoAnalysis.h"

class TempoEstimator;

// Ranks the tempi a detected tempo is most often confused with (twice, half, three
// halves and two thirds of it) by the estimator's own comb at their beat periods, by how
// plausible the tempo is, and by how well the loop's length holds a whole number of bars
// at that tempo. The shown tempo is never changed here: it is only weighed the same way,
// which gives its confidence.
namespace TempoAlternatives {

// Tempi outside this range are never offered.
constexpr double kSlowest = 40.0;
constexpr double kFastest = 260.0;

// Loops longer than this are songs rather than loops: their length says nothing of the
// tempo. (16 bars at 55 BPM.)
constexpr double kLongestLoopSeconds = 16 * 4 * 60.0 / 55.0;

// estimator: after estimateTempo. shownBpm: the tempo stored for the loop (0: none, and
// the result is empty). loopSeconds: the loop's duration, once through.
TempoAnalysis analyse(const TempoEstimator &estimator, double shownBpm, double loopSeconds);

// Whole bars of 4 beats (1, 2, 4, 8 or 16) and, as a weaker second choice, of 3 beats,
// that the loop holds at bpm within 2%; false when none does. *fittedBpm is the tempo
// at which they fit exactly.
bool fitBars(double bpm, double loopSeconds, int *bars, int *beatsPerBar, double *fittedBpm);

} // namespace TempoAlternatives
