#pragma once
// Helpers for the export, template and project tests: generated loops, a loaded slicer,
// reading written audio back, and listing what a folder holds.

#include "Slice.h"
#include "TestAudio.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <vector>

class Trevant;

namespace PersistFixtures {

// A stereo float WAV: interleaved sample i holds TestAudio::staircase(i).
QString writeStaircase(const QString &path, int rate, long long frames);
// A stereo float WAV sine, both channels alike.
QString writeSine(const QString &path, int rate, long long frames, double freq, float amp = 0.5f);

// Waits (at most ~10 s) for a loop's cache to be filled.
bool waitFilled(const SlicePtr &loop);
// A slicer with the file loaded and filled.
std::unique_ptr<Trevant> loadedSlicer(const QString &path, int engineRate = 44100);

struct Audio {
    int rate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples; // interleaved
    long long frames() const { return channels ? (long long)(samples.size()) / channels : 0; }
};
// Reads a whole file with libsndfile; rate 0 when it cannot be opened.
Audio readAudio(const QString &path);

// Every entry of a folder (hidden ones too), sorted.
QStringList folderEntries(const QString &folder);

using TestAudio::frequency;

} // namespace PersistFixtures
