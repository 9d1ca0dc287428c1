#pragma once

#include "Slice.h"

#include <QString>

namespace LongLoop {
// Writes a 16-bit stereo WAV of a 110 Hz tone under light noise (the same bytes every
// time) at path, loads it as a loop and waits until its cache is filled. Exits the
// program when the file cannot be written: the benchmarks that use it cannot go on.
SlicePtr writeAndLoad(const QString &path, int rate, long long frames);
} // namespace LongLoop
