#pragma once
// Fixtures for the compressed-audio decoder: test signals encoded with the ffmpeg
// command, reference decodes by the same command, and whole-file decodes by AudioDecoder.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class AudioDecoder;

namespace DecoderFixtures {

// ffmpeg input arguments for a signal in which every channel sweeps its own frequency
// range: never periodic, so any offset between two decodes shows.
QStringList chirpInput(int rate, double seconds, int channels);

// Encodes the chirp to `path` with the given output arguments (codec, options, format).
bool encodeChirp(const QString &path, int rate, double seconds, int channels, const QStringList &outputArgs);

// The file as the ffmpeg command decodes it: interleaved 16-bit samples in `channels`
// channels (`ffmpeg -i FILE -f s16le -ac N -`). Empty when ffmpeg fails.
std::vector<int16_t> ffmpegDecode(const QString &path, int channels);

// Every sample the decoder delivers, read in requests of `readSize` samples until a
// short read. Stops after `maxSamples` whatever happens.
std::vector<float> decodeAll(AudioDecoder &decoder, int readSize = 4096, long long maxSamples = 400000000LL);

} // namespace DecoderFixtures
