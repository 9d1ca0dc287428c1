#pragma once
// Fixture generators shared by the test programs: audio is synthesised in code and
// written with libsndfile (or encoded with the ffmpeg command), never committed.

#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <vector>

namespace TestAudio {

// Generator: value of channel c at frame f.
using Generator = std::function<float(long long f, int c)>;

// Staircase: sample i of the interleaved stereo stream holds a value derived from i,
// so any offset or channel swap shows exactly.
float staircase(long long interleavedIndex);

Generator sine(double freqHz, double rate, float amp = 0.5f);

// Writes a file with libsndfile. format is an SF_FORMAT_* major|subtype combination.
bool writeSndFile(const QString &path, int format, int channels, int rate, long long frames,
                  const Generator &gen);
// Convenience: 16-bit/float WAV.
bool writeWav(const QString &path, int channels, int rate, long long frames, const Generator &gen,
              bool asFloat = true);

// Runs the ffmpeg command (quiet, overwrite). Returns true on exit code 0.
bool runFfmpeg(const QStringList &args);

// Writes raw bytes to a file.
bool writeBytes(const QString &path, const QByteArray &bytes);

// Frequency of one channel of an interleaved stereo buffer between two frame indices,
// from interpolated rising zero crossings; 0 when fewer than two crossings.
double frequency(const std::vector<float> &interleaved, int channel, long long fromFrame, long long toFrame,
                 double rate);

// Reads a whole file of interleaved float32 samples.
std::vector<float> readRawFloat(const QString &path);

} // namespace TestAudio
