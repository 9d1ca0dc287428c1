#pragma once

#include <QVector>
#include <QtGlobal>
#include <functional>

// One detected hit: where its slice should start and how salient it is.
struct OnsetCandidate {
    // Frame at which a slice for this hit starts: at or just before the attack.
    qint64 startFrame = 0;
    // Frame of the detection-function peak (the hit itself, for scoring and display).
    qint64 peakFrame = 0;
    // Salience in [0, 1]; picking at a higher sensitivity admits weaker hits.
    float strength = 0.0f;
    // How far the level rose at the attack over what came before it, in dB; 0 where no
    // broadband rise was traced.
    float riseDb = 0.0f;
};

// The result of analysing one piece of audio. Kept by the caller until the audio changes,
// so that a sensitivity change only re-picks and never re-analyses.
struct OnsetAnalysis {
    int sampleRate = 0;
    qint64 frames = 0;
    // Sorted by startFrame.
    QVector<OnsetCandidate> candidates;
    // Candidates ordered for picking (indices into candidates): a candidate is taken at a
    // sensitivity when its strength passes that sensitivity's threshold and no earlier
    // taken candidate lies within the minimum slice length. Because the order does not
    // depend on the sensitivity, raising it never removes a point.
    QVector<int> pickOrder;
    bool isEmpty() const { return candidates.isEmpty(); }
};

// Transient detection for slicing at the hits. Plain computation on the caller's thread;
// analyse may take seconds on a long file, pick is cheap enough for a slider.
class OnsetDetector {
public:
    // Reads frames [frame, frame + count) into interleaved (count * channels floats) and
    // returns the frames delivered (0 at the end).
    using FrameReader = std::function<int(qint64 frame, int count, float *interleaved)>;
    // Fraction done in [0, 1]; returning false abandons the analysis (analyse then
    // returns an empty result).
    using Progress = std::function<bool(double fraction)>;

    // Chosen by the benchmark: the best setting on its corpus and on the same parts played
    // again at other tempi, timings and velocities (F at least 0.97 on each).
    static constexpr double defaultSensitivity = 53.0;
    static constexpr double defaultMinLengthMs = 30.0;
    // The analysis hears every sample beyond this (36 dB over full scale) as this. A float
    // file may go over full scale, but a damaged one can hold values up to 3e38, whose
    // powers overflow to infinity and leave no finite level to measure the hits against:
    // a single burst of 1e20 in a loop took every slice point away.
    static constexpr float kLoudestSample = 64.0f;

    static OnsetAnalysis analyse(const FrameReader &reader, qint64 frames, int channels,
                                 int sampleRate, const Progress &progress = {});

    // Slice starts (frames, ascending) for hits in (startFrame, endFrame): not the region's
    // own start, never closer than minLengthMs to each other or to the region's ends.
    // sensitivity runs from 0 (only the strongest hits) to 100 (every candidate).
    static QVector<qint64> pick(const OnsetAnalysis &analysis, double sensitivity,
                                double minLengthMs, qint64 startFrame, qint64 endFrame);
};
