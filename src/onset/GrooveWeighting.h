#pragma once

#include "OnsetDetector.h"

// Hits in a groove recur on its pulse, and the clear hits of a piece show where: a soft
// hi-hat or ghost note that lands where clear hits land elsewhere in the groove (a whole
// number of sixteenths from them, swing included) is far more likely a hit than a bump of
// the same size between them, which is a reverb's churn, a release click or the flicker
// of a wash. So the pulse is measured from the clear hits, the positions within the beat
// at which they occur are gathered into a histogram, and every candidate's strength is
// raised or lowered by how well it fits that histogram, in proportion to how clearly the
// piece has a groove at all (against what random times would show): material without one
// is left as it was.
class GrooveWeighting {
public:
    // Moves each candidate's strength by its fit to the groove of the clear hits.
    static void apply(QVector<OnsetCandidate> &candidates, int sampleRate);
};
