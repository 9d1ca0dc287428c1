#pragma once

#include <cmath>
#include <cstddef>

// Only float sources can hold values that are not numbers (NaN and infinities: a damaged
// file, a crashed plug-in's render). Everything after the readers (tempo detection, peaks,
// playback, exports) takes samples to be finite, and one such value is enough to stop a
// detection for the whole file or to be written as a full-scale click; so the readers
// that decode float data make them silence, once, as the audio enters the program.
//
// Both loops vectorise (no early exit, an integer accumulator) when compiled with the
// vectoriser's full cost model, as the readers that include this are (src/CMakeLists.txt).
namespace FiniteSamples {

// Whether any of count samples is NaN or infinite.
template <typename Sample> bool anyNonFinite(const Sample *samples, std::size_t count) {
    unsigned found = 0;
    for (std::size_t i = 0; i < count; ++i)
        found |= unsigned(!std::isfinite(samples[i]));
    return found != 0;
}

// Sets every NaN and infinity among count samples to 0.
template <typename Sample> void zeroNonFinite(Sample *samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = std::isfinite(samples[i]) ? samples[i] : Sample(0);
}

} // namespace FiniteSamples
