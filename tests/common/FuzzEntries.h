#pragma once
// What each fuzz target does with one input, shared by the fuzz programs (fuzz/) and by
// the test that replays every input that ever crashed, hung or leaked, so that both go
// through exactly the same code. Each entry must return for any bytes whatsoever.

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

namespace FuzzEntries {

// WAV, AIFF, W64 and whatever else libsndfile recognises, in a file named .wav, through
// the reader the program chooses for it (by content when libsndfile refuses it).
void soundFile(const uint8_t *data, size_t size);
// FLAC in a file named .flac, through our libFLAC++ reader or the one its content calls for.
void flacFile(const uint8_t *data, size_t size);
// Compressed audio through the decoder over FFmpeg reading from memory.
void compressedAudio(const uint8_t *data, size_t size);
// A project file: read, checked and loaded into a sampler bank.
void projectFile(const uint8_t *data, size_t size);
// A slice template: read, checked and fitted onto loops.
void sliceTemplate(const uint8_t *data, size_t size);
// A settings file.
void settingsFile(const uint8_t *data, size_t size);

// Drops Qt's log output below fatal: the program's debug lines would cost the fuzzer most
// of its speed and bury its report.
void silenceLogging();

// The targets by name (the folder names of corpora and regression inputs).
QStringList targetNames();
// Runs the named target on one input; false for an unknown name.
bool run(const QString &target, const uint8_t *data, size_t size);

} // namespace FuzzEntries
