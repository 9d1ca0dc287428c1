#pragma once

// The pull interface of everything that produces audio: the loop, the playback engine,
// the recording buffers. A source adds its samples into the caller's buffer of
// interleaved stereo floats (two samples per frame) and never overwrites it.
class AudioSource {
public:
    AudioSource() = default;
    virtual ~AudioSource() = default;
    AudioSource(const AudioSource &) = delete;
    AudioSource &operator=(const AudioSource &) = delete;

    // Adds up to count samples into buffer and returns the number delivered; 0 means
    // the source has nothing more to give (end of input for the stages that pull).
    // Usually runs on the sound-card thread: implementations must not allocate, do file
    // I/O or wait on a lock that the GUI holds for long.
    virtual int pull(float *buffer, int count) = 0;

    virtual void setSampleRate(int rate) { m_iOutputSampleRate = rate; }
    // The rate at which the source delivers its output.
    virtual int sampleRate() const { return m_iOutputSampleRate; }

    // Number of samples the source holds or has available.
    virtual int length() = 0;

protected:
    int m_iOutputSampleRate = 44100;
};
