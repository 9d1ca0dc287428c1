#pragma once

#include <QString>
#include <QVector>

// What tempo detection found besides the tempo it shows: how sure it is, and the other
// tempi a musician is most likely to mean, best first. Plain data, stored in the loop.
struct TempoAlternative {
    double bpm = 0.0;
    // bpm over the detected tempo as a fraction (2/1, 1/2, 3/2, 2/3).
    int numerator = 1;
    int denominator = 1;
    // 0–1, on the same scale as the confidence's inputs; only the order matters.
    double score = 0.0;
    // Whole bars the loop holds at this tempo (0: no whole number of bars fits).
    int bars = 0;
    int beatsPerBar = 0;
};

struct TempoAnalysis {
    double detectedBpm = 0.0; // the tempo detection stored as the loop's tempo
    double confidence = 0.0;  // 0–1 for detectedBpm
    double score = 0.0;       // detectedBpm's score, comparable with the alternatives'
    int bars = 0;             // fit of detectedBpm, as in TempoAlternative
    int beatsPerBar = 0;
    QVector<TempoAlternative> alternatives;

    bool isEmpty() const { return detectedBpm <= 0.0; }
};

namespace TempoText {
// "×2", "½", "×3⁄2", "×2⁄3", "×1" …: a ratio of two tempi as a musician reads it, or
// "×1.27" when it is no simple fraction.
QString relation(double ratio);
// The same in ASCII for scripts: "x2", "1/2", "x3/2", "x2/3", "x1.27".
QString relationAscii(double ratio);
// "4 bars at 150.00 BPM", "2 bars of 3/4 at 90.00 BPM"; empty when bars is 0.
QString fit(int bars, int beatsPerBar, double bpm);
} // namespace TempoText
