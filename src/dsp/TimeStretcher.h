#pragma once

#include <QRecursiveMutex>
#include <memory>

namespace RubberBand {
class RubberBandStretcher;
}
class AudioSource;
class SpeexResampler;

// Real-time time stretching and pitch shifting of a playing loop with Rubber Band. It
// draws its input from the loop's resampler and adds its output into the caller's buffer.
//
// The Rubber Band stretcher and its buffers (over a megabyte) are built by prepare(), not
// with the object: most loops and pads play unstretched and never need them. Until then
// the settings are only kept, render adds nothing and the stretcher reads as empty. The
// owner calls prepare() before it lets the sound-card thread render through it.
//
// The loop owns it and calls setPitch/setTimeRatio under the loop lock. Option changes
// that need a new stretcher build it outside every lock and swap it in under this
// object's lock, so the sound-card thread never waits for a construction; the owner
// resets its resampler afterwards (the stretcher's buffered input is gone).
class TimeStretcher {
public:
    // Largest number of frames handled in one step; bigger requests are served in pieces.
    static constexpr int maxFrames = 2048;

    // Option words (Rubber Band option bits).
    static constexpr int TransientsCrisp = 0x0, TransientsMixed = 0x100, TransientsSmooth = 0x200;
    static constexpr int DetectorCompound = 0x0, DetectorPercussive = 0x400, DetectorSoft = 0x800;
    static constexpr int WindowStandard = 0x0, WindowShort = 0x100000, WindowLong = 0x200000;
    static constexpr int SmoothingOff = 0x0, SmoothingOn = 0x800000;
    static constexpr int FormantShifted = 0x0, FormantPreserved = 0x1000000;
    static constexpr int ChannelsApart = 0x0, ChannelsTogether = 0x10000000;

    explicit TimeStretcher(int engineSampleRate = 44100);
    ~TimeStretcher();
    TimeStretcher(const TimeStretcher &) = delete;
    TimeStretcher &operator=(const TimeStretcher &) = delete;

    // Builds the Rubber Band stretcher and its buffers if they are not there yet: any
    // thread but the sound-card one. The stretcher is swapped in under this object's lock.
    void prepare();
    bool isPrepared();

    void setPitch(int semitones);
    void setTimeRatio(double ratio);
    int pitch() const { return m_iPitch; }
    double timeRatio() const { return m_dTimeRatio; }
    double pitchScale() const;

    // Drops the buffered audio; called whenever playback starts (also on the sound-card
    // thread, for MIDI notes): no allocation.
    void reset();
    // Sound-card thread too: no allocation. True when Rubber Band has no output ready.
    bool isEmpty();
    // Sound-card thread too: no allocation. The input has ended (final block given) ...
    bool isAtEndOfInput();
    // ... and from then on, the frames still to come out.
    int availableFrames();

    // Applied to the running stretcher at once.
    void setTransientsOption(int option);
    void setDetectorOption(int option);
    void setFormantOption(int option);
    // Need a new stretcher (rebuild).
    void setWindowOption(int option);
    void setSmoothingOption(int option);
    void setChannelsOption(int option);
    void setEngineSampleRate(int rate);

    int transientsOption() const { return m_iTransients; }
    int detectorOption() const { return m_iDetector; }
    int windowOption() const { return m_iWindow; }
    int smoothingOption() const { return m_iSmoothing; }
    int formantOption() const { return m_iFormant; }
    int channelsOption() const { return m_iChannels; }
    int engineSampleRate() const { return m_iEngineSampleRate; }
    // The combined options the stretcher runs with (always including real-time mode).
    int options() const;
    // Frames of delay Rubber Band puts before the first stretched frame (prepares).
    int latencyFrames();
    // Incremented by every option change that needs a new stretcher (whether one was
    // built yet or not); lets tests and the owner see that one happened.
    int rebuildCount() const { return m_iRebuilds; }

    // Sound-card thread: no allocation, no file I/O; takes this object's lock, which the
    // GUI holds only to swap pointers or set a word.
    // Adds up to frames stretched frames into out and returns how many it added.
    int render(float *out, int frames, SpeexResampler *source, AudioSource *loop);

private:
    std::unique_ptr<RubberBand::RubberBandStretcher> build() const;
    void rebuild();
    int renderSome(float *out, int frames, SpeexResampler *source, AudioSource *loop);
    void resetRun();
    int remainingLocked() const;
    // How much silence at most pushes the end of a run through (a safety stop: the pitch
    // shifter's pipeline is a few thousand frames).
    static constexpr int kMaxFlushFrames = 16 * maxFrames;

    QRecursiveMutex m_lock;
    std::unique_ptr<RubberBand::RubberBandStretcher> m_pStretcher;
    SpeexResampler *m_pSource = nullptr;
    int m_iEngineSampleRate;
    struct AlignedFree {
        void operator()(float *p) const;
    };
    std::unique_ptr<float[], AlignedFree> m_pInput;
    std::unique_ptr<float[], AlignedFree> m_pLeft;
    std::unique_ptr<float[], AlignedFree> m_pRight;
    // In real-time mode Rubber Band neither pads its input nor compensates its delay, and
    // when pitch-shifting it keeps the end of the input inside its pipeline after the final
    // block: a one-shot stretched by 1.5 an octave up lost its last 0.15 s, and its first
    // frames came out attenuated. So a run starts by feeding the silence Rubber Band asks for
    // and dropping its start delay from the output; once the source has ended, silence
    // pushes the rest through until the output owed (the input fed times the ratio) is out.
    bool m_bPrimed = false;
    int m_iDiscard = 0;
    bool m_bSourceEnded = false;
    int m_iFlushed = 0;
    double m_dOwed = 0.0;
    // The final block has been given: what is left is all there is.
    bool m_bEndOfInput = false;
    int m_iPitch = 0;
    double m_dTimeRatio = 1.0;
    int m_iTransients = 0;
    int m_iDetector = 0;
    int m_iWindow = 0;
    int m_iSmoothing = 0;
    int m_iFormant = 0;
    int m_iChannels = 0;
    int m_iRebuilds = 0;
};
