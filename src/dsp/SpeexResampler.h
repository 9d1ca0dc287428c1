#pragma once

#include <memory>

class AudioSource;
struct SpeexResamplerState_;

// Converts a source's interleaved stereo output from its file rate to the device rate
// with the speexdsp resampler (quality 3). One per loop; all buffers are allocated at
// construction, so converting never allocates.
class SpeexResampler {
public:
    // Largest number of frames converted in one step; bigger requests are served in pieces.
    static constexpr int maxFrames = 16384;

    SpeexResampler(int inputRate, int outputRate);
    ~SpeexResampler();
    SpeexResampler(const SpeexResampler &) = delete;
    SpeexResampler &operator=(const SpeexResampler &) = delete;

    // Drops buffered input and the filter's memory; the next produce starts afresh. Also
    // runs on the sound-card thread (playback started by a MIDI note): no allocation.
    void reset();
    // Changes the conversion (may reallocate the filter: not for the sound-card thread).
    void setRates(int inputRate, int outputRate);
    // End of input was reached and no input is left to convert.
    bool isEmpty() const { return m_bEndOfInput && m_iInputAvailable <= 0; }

    // Sound-card thread: no allocation, no file I/O, no locks of its own.
    // Adds up to frames converted frames into out, pulling input from source as needed.
    // Returns the frames added; fewer than asked only at the end of the source's input.
    int produce(float *out, int frames, AudioSource *source);

    // When on, the filter's delay is compensated: the first output frame is aligned with
    // the first input frame and the tail is flushed at the end of input. Off by default.
    void setLatencyCompensation(bool on);

    int inputRate() const { return m_iInputRate; }
    int outputRate() const { return m_iOutputRate; }
    int framesConsumed() const { return m_iFramesConsumed; }
    int framesProduced() const { return m_iFramesProduced; }

private:
    int produceSome(float *out, int frames, AudioSource *source);

    bool m_bLatencyCompensationOff = true;
    SpeexResamplerState_ *m_pState = nullptr;
    struct AlignedFree {
        void operator()(float *p) const;
    };
    std::unique_ptr<float[], AlignedFree> m_pOutput;
    std::unique_ptr<float[], AlignedFree> m_pInput;
    int m_iInputAvailable = 0;
    int m_iInputPos = 0;
    bool m_bEndOfInput = false;
    int m_iFramesConsumed = 0;
    int m_iFramesProduced = 0;
    bool m_bFlushed = false;
    int m_iInputRate;
    int m_iOutputRate;
};
