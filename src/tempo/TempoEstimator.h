#pragma once

#include <memory>
#include <vector>

// Estimates one tempo (beats per minute) for a stretch of mono audio: three onset
// features per analysis frame, their autocorrelation, a comb over beat multiples and a
// preference for tempos near 130 BPM; a check that the chosen beat period itself recurs
// then corrects the comb's 4:3, 5:4 and 3:2 confusions. Plain single-threaded
// computation; the tempo detection worker owns one per detection.
class TempoEstimator {
public:
    explicit TempoEstimator(float sampleRate);
    ~TempoEstimator();
    TempoEstimator(const TempoEstimator &) = delete;
    TempoEstimator &operator=(const TempoEstimator &) = delete;

    // Appends count mono samples; any block length, including less than one step.
    void process(const float *samples, int count);

    // Analyses what is still pending and returns the tempo in BPM, or 0.0 when no tempo
    // can be determined (too little audio, silence, audio without a beat such as a steady
    // tone or noise, an unusable sample rate).
    double estimateTempo();

    // Tempos of all ranked peaks of the comb in the last estimate, best first (before the
    // beat check, which may return another tempo).
    const std::vector<double> &candidates() const;

    // How strongly the last estimate's comb rings at the beat period of bpm: 0 as weak as
    // the weakest tempo the estimator considered, 1 as strong as the strongest (before
    // its preference for tempos near 130 BPM); -1 when the audio was too short to tell or
    // nothing was estimated.
    double periodicity(double bpm) const;

    // How clearly the beat period of bpm itself recurs in the last estimate's audio (its
    // first multiples, above the background); -1 when the audio was too short to tell or
    // nothing was estimated. Half or twice a tempo can recur as clearly as the tempo; a
    // tempo 3/2 or 4/3 off recurs less clearly than the true one.
    double beatRecurrence(double bpm) const;

    int blockSize() const;
    int stepSize() const;
    double featureRate() const;
    // Number of analysed frames so far (the length of each feature sequence).
    int featureCount() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
};
