#pragma once

#include <QString>

#include <functional>

// What the engine and window benchmarks share: a drum-like loop on disk and a wait that
// keeps the event loop turning.
namespace DrumLoopFile {

// Decaying noise bursts on every beat at 120 BPM over a 110 Hz tone, 16-bit stereo, written
// to folder/name unless it is there already; returns its path.
QString write(const QString &folder, const QString &name, double seconds, int rate);

// Processes events until done() holds or timeoutMs has passed.
void waitFor(const std::function<bool()> &done, qint64 timeoutMs = 120000);

} // namespace DrumLoopFile
