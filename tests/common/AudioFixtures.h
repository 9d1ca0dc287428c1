#pragma once
// Fixtures for the audio reader and cache tests: exactly representable staircases,
// FLAC files written with libsndfile, and byte-level damage to files.

#include "TestAudio.h"

#include <QByteArray>
#include <QString>

namespace AudioFixtures {

// Sample i of the interleaved stereo stream: a staircase of step 1/32 and period 51.
// Every value is exact in 8-, 16- and 24-bit PCM, neighbours differ, and 51 does not
// divide the chunk size, so an offset of one sample or one chunk shows.
float stair(long long interleavedIndex);

// Generator writing stair() as interleaved stereo (channel c of frame f is sample
// 2f + c). For one channel, frame f holds stair(2f); for more than two, channel c of
// frame f holds stair(2f + c).
TestAudio::Generator stairGenerator();

// Largest error a round trip through the given libsndfile subtype may add to stair().
float tolerance(int sfSubtype);

// FLAC through libsndfile (its encoder writes 4096-sample blocks).
bool writeFlac(const QString &path, int channels, int rate, long long frames, int sfSubtype = 0x0002);

QByteArray readAll(const QString &path);
// Overwrites bytes of an existing file at offset.
bool patchBytes(const QString &path, qint64 offset, const QByteArray &bytes);

// Offset of the STREAMINFO block's body in a FLAC file written by libsndfile (no ID3
// tag in front): "fLaC" + one block header.
constexpr qint64 flacStreamInfoOffset = 8;
// Patches STREAMINFO fields of a FLAC file in place.
bool patchFlacTotalSamples(const QString &path, quint64 totalSamples);
bool patchFlacSampleRate(const QString &path, unsigned rate);
bool patchFlacMaxBlockSize(const QString &path, unsigned maxBlockSize);

// A canonical 44-byte PCM WAV header.
QByteArray wavHeader(int channels, int rate, int bitsPerSample, quint32 dataBytes);

} // namespace AudioFixtures
