#pragma once

#include <cstdint>
#include <vector>

// The smallest and largest of runs of interleaved samples, for the peak summary. The fill
// runs this over every sample it reads, so whole blocks are taken several at a time in
// vector registers, with the widest instructions the processor has (chosen once, at run
// time); a portable version serves everywhere else and as the reference in the tests.
namespace PeakScan {

// Samples in one block (64 stereo frames).
constexpr int kBlockSamples = 128;

// The extremes of count samples. NaN is left out; nothing, or nothing but NaN, reads as
// silence (0, 0).
void scan(const float *samples, int count, float &minimum, float &maximum);
void scan(const std::int16_t *samples, int count, std::int16_t &minimum, std::int16_t &maximum);
// The largest absolute value of count samples (a level to normalize to); NaN is left out.
float largestMagnitude(const float *samples, int count);

// The extremes of n whole blocks one after the other from samples, one pair per block.
using Int16Blocks = void (*)(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima);
using FloatBlocks = void (*)(const float *samples, int n, float *minima, float *maxima);
void blocks(const std::int16_t *samples, int n, std::int16_t *minima, std::int16_t *maxima);
void blocks(const float *samples, int n, float *minima, float *maxima);

// Every version this processor runs, the portable one first and the one blocks() uses last.
struct Int16Kernel {
    const char *name;
    Int16Blocks run;
};
struct FloatKernel {
    const char *name;
    FloatBlocks run;
};
std::vector<Int16Kernel> int16Kernels();
std::vector<FloatKernel> floatKernels();

} // namespace PeakScan
