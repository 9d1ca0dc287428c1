#include "TempoAlternatives.h"

#include "TempoEstimator.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kBarCounts[] = {1, 2, 4, 8, 16};
constexpr double kFitTolerance = 0.02;

// Weight of a loop-length fit: a whole number of 4/4 bars is what loops are cut to; 3/4
// happens but is rarer; no fit at all is common enough (a loop with a tail) that it only
// halves a candidate's chance.
constexpr double kFitFourFour = 1.0;
constexpr double kFitThreeFour = 0.75;
constexpr double kNoFit = 0.5;

// How likely a tempo is to be the written one, before listening: broad, centred on the
// tempi of most drum loops, falling an octave away to a quarter.
double tempoPrior(double bpm) {
    const double octaves = std::log2(bpm / 115.0);
    return std::exp(-0.5 * (octaves / 0.6) * (octaves / 0.6));
}

struct Weighed {
    double bpm = 0.0;
    double score = 0.0;
    int bars = 0;
    int beatsPerBar = 0;
};

Weighed weigh(const TempoEstimator &estimator, double bpm, double loopSeconds, double beatShare = 1.0) {
    Weighed w;
    w.bpm = bpm;
    double fitWeight = 1.0;
    if (loopSeconds > 0.0 && loopSeconds <= TempoAlternatives::kLongestLoopSeconds) {
        double fitted = bpm;
        if (TempoAlternatives::fitBars(bpm, loopSeconds, &w.bars, &w.beatsPerBar, &fitted)) {
            fitWeight = w.beatsPerBar == 4 ? kFitFourFour : kFitThreeFour;
            w.bpm = fitted;
        } else {
            fitWeight = kNoFit;
        }
    }
    const double periodicity = std::max(0.0, estimator.periodicity(bpm)) * beatShare;
    // A small floor keeps tempi the comb cannot reach (too short a recording) in order of
    // plausibility instead of all at zero.
    w.score = (0.05 + periodicity) / 1.05 * tempoPrior(bpm) * fitWeight;
    return w;
}

} // namespace

bool TempoAlternatives::fitBars(double bpm, double loopSeconds, int *bars, int *beatsPerBar,
                                double *fittedBpm) {
    if (!(bpm > 0.0) || !(loopSeconds > 0.0) || !std::isfinite(bpm) || !std::isfinite(loopSeconds))
        return false;
    const double beats = loopSeconds * bpm / 60.0;
    for (int meter : {4, 3})
        for (int n : kBarCounts) {
            const double whole = double(n * meter);
            if (std::fabs(beats - whole) <= kFitTolerance * whole) {
                *bars = n;
                *beatsPerBar = meter;
                // Rounded to the hundredth the tempo box shows, so that the tempo chosen
                // is the one the tooltip names.
                *fittedBpm = std::round(whole * 60.0 / loopSeconds * 100.0) / 100.0;
                return true;
            }
        }
    return false;
}

TempoAnalysis TempoAlternatives::analyse(const TempoEstimator &estimator, double shownBpm,
                                         double loopSeconds) {
    TempoAnalysis result;
    if (!(shownBpm > 0.0) || !std::isfinite(shownBpm))
        return result;
    result.detectedBpm = shownBpm;

    const Weighed shown = weigh(estimator, shownBpm, loopSeconds);
    // The shown tempo is reported as detected, only its fit is described.
    result.score = shown.score;
    result.bars = shown.bars;
    result.beatsPerBar = shown.beatsPerBar;

    static const int kRelations[][2] = {{2, 1}, {1, 2}, {3, 2}, {2, 3}};
    std::vector<std::pair<Weighed, const int *>> others;
    for (const auto &r : kRelations) {
        const double bpm = shownBpm * r[0] / r[1];
        if (bpm < kSlowest || bpm > kFastest)
            continue;
        // The comb rates a tempo 3/2 off almost as high as the truth, since their bars
        // line up; whether its own beat recurs tells them apart. (Half and double a tempo
        // recur alike, and only the comb weighs them.)
        double beatShare = 1.0;
        if (r[0] * r[1] == 6) {
            const double own = estimator.beatRecurrence(shownBpm);
            const double other = estimator.beatRecurrence(bpm);
            if (own > 0.0 && other >= 0.0)
                beatShare = std::min(1.0, other / own);
        }
        others.emplace_back(weigh(estimator, bpm, loopSeconds, beatShare), r);
    }
    std::stable_sort(others.begin(), others.end(),
                     [](const auto &a, const auto &b) { return a.first.score > b.first.score; });

    for (const auto &o : others) {
        TempoAlternative a;
        a.bpm = o.first.bpm;
        a.numerator = o.second[0];
        a.denominator = o.second[1];
        a.score = o.first.score;
        a.bars = o.first.bars;
        a.beatsPerBar = o.first.beatsPerBar;
        result.alternatives.push_back(a);
    }

    // Sure when the shown tempo clearly outscores its strongest rival, unsure when they
    // score alike, and no better than unsure when a rival scores higher.
    const double rival = others.empty() ? 0.0 : others.front().first.score;
    if (shown.score > 0.0)
        result.confidence = std::clamp((shown.score - rival) / shown.score, 0.0, 1.0);
    return result;
}
