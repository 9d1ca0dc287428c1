#pragma once

#include <functional>

struct SpeexResamplerState_;

// Converts one finite span of interleaved stereo audio to another rate with the speexdsp
// resampler, offline: at a higher quality than playback can afford, with the filter's
// delay compensated (the first output frame lines up with the first input frame) and its
// tail flushed, so the output has exactly the converted length.
class ExportResampler {
public:
    static constexpr int kQuality = 8;

    ExportResampler(int inputRate, int outputRate);
    ~ExportResampler();
    ExportResampler(const ExportResampler &) = delete;
    ExportResampler &operator=(const ExportResampler &) = delete;

    bool isValid() const { return m_pState != nullptr; }

    // Fills out with up to frames converted frames; read(buffer, frames) must deliver
    // the next input frames and return how many (0 at the end of the span). Returns the
    // frames produced: fewer than asked only once input and tail are exhausted.
    int produce(float *out, int frames, const std::function<int(float *, int)> &read);
    // Input frames taken from read so far.
    long long framesConsumed() const { return m_iConsumed; }

private:
    SpeexResamplerState_ *m_pState = nullptr;
    static constexpr int kInputFrames = 4096;
    float m_input[2 * kInputFrames];
    int m_iInputPos = 0;
    int m_iInputCount = 0;
    int m_iTailLeft = -1; // zero frames still to feed after the end; -1 before the end
    long long m_iConsumed = 0;
};
