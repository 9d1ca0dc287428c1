#pragma once

#include "NativeAudioInterface.h"

#include <QString>
#include <atomic>
#include <memory>
#include <portaudio.h>

class AudioSource;
class RecordingEngine;

// One PortAudio stream of interleaved 32-bit float stereo. The callback pulls from
// the output source and counts underflows and overflows; a failed open leaves an
// error text and a suggestion for the user.
//
// Open, close and the accessors run on the GUI thread; the stream callback runs on
// PortAudio's thread and touches only the atomics, the scratch buffer and the
// counters (whose names are fixed before the stream starts).
class AudioDevice : public NativeAudioInterface {
public:
    static constexpr int kScratchSamples = 262144;

    AudioDevice(AudioSource *outputSource, RecordingEngine *inputSink, const PaStreamParameters *outputParameters,
                const PaStreamParameters *inputParameters, int sampleRate, int framesPerBuffer, bool outputEnabled);
    ~AudioDevice() override;

    int open() override;
    // Stops the stream (aborting it when a stop fails) and closes it. Returns 1 when
    // PortAudio reported an error; isCallbackStopped then tells whether the callback may
    // still run, in which case the device must stay alive.
    int close() override;
    bool isCallbackStopped() const { return m_stream == nullptr || m_callbackStopped; }
    // Makes the callback play silence and touch neither source nor sink, for a device
    // whose stream could not be stopped and that outlives the objects it fed.
    void detach() { m_detached.store(true); }

    // How the device stops and closes its stream: PortAudio's functions, replaceable so
    // that tests can make them fail.
    struct StreamControl {
        PaError (*stop)(PaStream *);
        PaError (*abort)(PaStream *);
        PaError (*close)(PaStream *);
    };
    static StreamControl &streamControl();

    // 1: no stream, 2: stream not active, 0: active (or PortAudio could not tell).
    int streamHealth() const;

    QString errorText() const { return m_errorText; }
    QString errorSuggestion() const { return m_errorSuggestion; }
    void setError(const QString &text, const QString &suggestion);

    QString deviceName() const { return m_deviceName; }
    int sampleRate() const { return m_sampleRate; }
    int framesPerBuffer() const { return m_framesPerBuffer; }
    long long frameCount() const { return m_frameCounter.load(); }
    bool isOpen() const { return m_stream != nullptr; }

    void setOutputEnabled(bool enabled) { m_outputEnabled.store(enabled); }
    bool isOutputEnabled() const { return m_outputEnabled.load(); }
    void setInputGain(double gain) { m_inputGain.store(gain); }
    void setInputChannels(int firstChannel, int singleChannel);

    QString cpuCounterName() const { return m_cpuCounterName; }
    QString underflowCounterName() const { return m_underflowCounterName; }
    QString overflowCounterName() const { return m_overflowCounterName; }

    AudioDevice(const AudioDevice &) = delete;
    AudioDevice &operator=(const AudioDevice &) = delete;

private:
    // Sound-card thread: no allocation, no file I/O, no blocking lock, no logging.
    static int streamCallback(const void *input, void *output, unsigned long frameCount,
                              const PaStreamCallbackTimeInfo *timeInfo, PaStreamCallbackFlags statusFlags,
                              void *userData);
    // Sound-card thread: no allocation, no file I/O, no blocking lock, no logging.
    int process(const float *input, float *output, int frames, PaStreamCallbackFlags statusFlags);

    void nameCounters(const QString &deviceName);

    // Fixed after construction (names and parameters are set by open, before the stream runs).
    AudioSource *m_outputSource;
    RecordingEngine *m_inputSink;
    PaStream *m_stream = nullptr;
    std::unique_ptr<PaStreamParameters> m_outputParameters;
    std::unique_ptr<PaStreamParameters> m_inputParameters;
    std::unique_ptr<float[]> m_scratch;
    int m_sampleRate;
    int m_framesPerBuffer;
    int m_inputFirstChannel = 0;
    int m_inputSingleChannel = -1;
    QString m_cpuCounterName;
    QString m_underflowCounterName;
    QString m_overflowCounterName;
    QString m_deviceName;

    // Shared with the sound-card thread.
    std::atomic<double> m_inputGain{1.0};
    std::atomic<bool> m_outputEnabled;
    std::atomic<long long> m_frameCounter{0};
    std::atomic<bool> m_detached{false};

    // GUI thread only.
    QString m_errorText;
    QString m_errorSuggestion;
    // True once the stream was stopped or aborted even though closing it failed.
    bool m_callbackStopped = false;
};
