#include "AudioDevice.h"

#include "AudioSource.h"
#include "EngineLogging.h"
#include "PerfCounterManager.h"
#include "PortAudioJack.h"
#include "RecordingEngine.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstring>

namespace {
QString preferencesSuggestion()
{
    return QCoreApplication::translate(
        "AudioDevice", "Try changing this audio device in the <a href=\"#preferences\">Preferences</a>.");
}
} // namespace

AudioDevice::AudioDevice(AudioSource *outputSource, RecordingEngine *inputSink,
                         const PaStreamParameters *outputParameters, const PaStreamParameters *inputParameters,
                         int sampleRate, int framesPerBuffer, bool outputEnabled)
    : m_outputSource(outputSource), m_inputSink(inputSink),
      m_outputParameters(outputParameters ? new PaStreamParameters(*outputParameters) : nullptr),
      m_inputParameters(inputParameters ? new PaStreamParameters(*inputParameters) : nullptr),
      m_scratch(new float[kScratchSamples]()), m_sampleRate(sampleRate), m_framesPerBuffer(framesPerBuffer),
      m_outputEnabled(outputEnabled)
{
}

AudioDevice::~AudioDevice() { close(); }

void AudioDevice::setError(const QString &text, const QString &suggestion)
{
    m_errorText = text;
    m_errorSuggestion = suggestion;
}

void AudioDevice::setInputChannels(int firstChannel, int singleChannel)
{
    m_inputFirstChannel = std::max(0, firstChannel);
    m_inputSingleChannel = singleChannel;
}

void AudioDevice::nameCounters(const QString &deviceName)
{
    m_cpuCounterName = deviceName + " Callback CPU Usage";
    m_underflowCounterName = deviceName + " Underflows";
    m_overflowCounterName = deviceName + " Overflows";
    m_deviceName = deviceName;
}

int AudioDevice::open()
{
    if (m_stream)
        return 0;
    m_errorText.clear();
    m_errorSuggestion.clear();
    if (m_framesPerBuffer < 0)
        m_framesPerBuffer = 0;

    const PaDeviceInfo *outputInfo = nullptr;
    if (m_outputParameters) {
        outputInfo = Pa_GetDeviceInfo(m_outputParameters->device);
        if (m_outputEnabled.load() && m_outputSource)
            m_outputSource->setSampleRate(m_sampleRate);
        if (!outputInfo) {
            setError(QCoreApplication::translate("AudioDevice", "Invalid audio output device."),
                     preferencesSuggestion());
            return 1;
        }
        qCDebug(lcEngine) << "Suggsted output latency:" << m_outputParameters->suggestedLatency;
        nameCounters(QString::fromUtf8(outputInfo->name));
    }
    const PaDeviceInfo *inputInfo = nullptr;
    if (m_inputParameters) {
        inputInfo = Pa_GetDeviceInfo(m_inputParameters->device);
        if (m_inputSink)
            m_inputSink->setInputSampleRate(m_sampleRate);
        if (!inputInfo) {
            setError(QCoreApplication::translate("AudioDevice", "Invalid audio input device."),
                     preferencesSuggestion());
            return 1;
        }
        qCDebug(lcEngine) << "Suggsted input latency:" << m_inputParameters->suggestedLatency;
        nameCounters(QString::fromUtf8(inputInfo->name));
    }
    if (!m_outputParameters && !m_inputParameters) {
        qCDebug(lcEngine) << "ERROR: NULL input and ouput parameters.";
        m_deviceName = "Invalid Audio Device";
        return 1;
    }

    const PaDeviceInfo *info = outputInfo ? outputInfo : inputInfo;
    const PaHostApiInfo *api = Pa_GetHostApiInfo(info->hostApi);
    qCDebug(lcEngine) << "Host API for device is:" << (api ? api->name : "");
    qCDebug(lcEngine) << "Opening device stream at" << m_sampleRate;

    PaError err = Pa_OpenStream(&m_stream, m_inputParameters.get(), m_outputParameters.get(), m_sampleRate,
                                static_cast<unsigned long>(m_framesPerBuffer), paNoFlag, &AudioDevice::streamCallback,
                                this);
    if (err != paNoError) {
        m_stream = nullptr;
        qCDebug(lcEngine) << "PortAudio error:" << Pa_GetErrorText(err);
        setError(QCoreApplication::translate("AudioDevice", "Failed to open %1.").arg(m_deviceName),
                 preferencesSuggestion());
        return 1;
    }

    // Every counter exists before the first callback, so the callback never inserts.
    PerfCounterManager &counters = PerfCounterManager::instance();
    counters.set(m_underflowCounterName, 0.0f);
    counters.set(m_overflowCounterName, 0.0f);
    counters.setRange(m_cpuCounterName, 0.0f, 100.0f);

    m_frameCounter.store(0);
    err = Pa_StartStream(m_stream);
    if (err == paNoError)
        return 0;

    qCDebug(lcEngine) << "PortAudio error:" << Pa_GetErrorText(err);
    QString text;
    if (m_inputParameters)
        text = QCoreApplication::translate("AudioDevice", "Failed to open %1 for capture.");
    else
        text = QCoreApplication::translate("AudioDevice", "Failed to open %1 for playback.");
    setError(text.arg(m_deviceName), preferencesSuggestion());
    // A stream that never started is closed here so that the device holds no handle.
    Pa_CloseStream(m_stream);
    m_stream = nullptr;
    return 1;
}

AudioDevice::StreamControl &AudioDevice::streamControl()
{
    static StreamControl control{&Pa_StopStream, &Pa_AbortStream, &Pa_CloseStream};
    return control;
}

int AudioDevice::close()
{
    if (!m_stream)
        return 0;
    // The server took the stream's callback thread with it, and stopping or closing the
    // stream would wait for that thread forever: the handle is given up.
    const PaStreamParameters *params = m_outputParameters ? m_outputParameters.get() : m_inputParameters.get();
    if (params && PortAudioJack::isJackDevice(params->device) && PortAudioJack::clientLost()) {
        m_stream = nullptr;
        return 0;
    }
    const StreamControl &control = streamControl();
    int result = 0;
    if (!m_callbackStopped) {
        PaError err = control.stop(m_stream);
        // A stream that already stopped by itself (an error, a lost device) needs no stop.
        if (err != paNoError && err != paStreamIsStopped) {
            qCDebug(lcEngine) << "AudioDevice::close() - Pa_StopStream - PortAudio error:"
                              << Pa_GetErrorText(err);
            err = control.abort(m_stream);
            if (err != paNoError && err != paStreamIsStopped) {
                // The callback may still run: the stream stays, and so must this device.
                qCDebug(lcEngine) << "AudioDevice::close() - Pa_AbortStream - PortAudio error:"
                                  << Pa_GetErrorText(err);
                setError(QCoreApplication::translate("AudioDevice", "Failed to stop %1.").arg(m_deviceName),
                         preferencesSuggestion());
                return 1;
            }
        }
        m_callbackStopped = true;
    }
    const PaError err = control.close(m_stream);
    if (err != paNoError) {
        // Stopped but not closed: the callback no longer runs, so the device may go; the
        // handle is given up rather than closed twice.
        qCDebug(lcEngine) << "AudioDevice::close() - Pa_CloseStream - PortAudio error:"
                          << Pa_GetErrorText(err);
        result = 1;
    }
    m_stream = nullptr;
    m_callbackStopped = false;
    return result;
}

int AudioDevice::streamHealth() const
{
    if (!m_stream)
        return 1;
    return Pa_IsStreamActive(m_stream) == 0 ? 2 : 0;
}

// Sound-card thread: no allocation, no file I/O, no blocking lock, no logging.
int AudioDevice::streamCallback(const void *input, void *output, unsigned long frameCount,
                                const PaStreamCallbackTimeInfo *, PaStreamCallbackFlags statusFlags, void *userData)
{
    auto *device = static_cast<AudioDevice *>(userData);
    return device->process(static_cast<const float *>(input), static_cast<float *>(output),
                           static_cast<int>(frameCount), statusFlags);
}

// Sound-card thread: no allocation, no file I/O, no blocking lock, no logging.
int AudioDevice::process(const float *input, float *output, int frames, PaStreamCallbackFlags statusFlags)
{
    PerfCounterManager &counters = PerfCounterManager::instance();
    if (statusFlags & paInputOverflow)
        counters.increment(m_overflowCounterName);
    if (statusFlags & paOutputOverflow)
        counters.increment(m_overflowCounterName);
    if (statusFlags & paInputUnderflow)
        counters.increment(m_underflowCounterName);
    if (statusFlags & paOutputUnderflow)
        counters.increment(m_underflowCounterName);

    m_frameCounter.fetch_add(frames);
    if (m_detached.load()) {
        if (output)
            std::memset(output, 0, sizeof(float) * 2 * size_t(frames));
        return paContinue;
    }

    bool delivered = false;
    if (input && m_inputSink && m_inputParameters) {
        // The scratch buffer bounds one conversion; a larger request is cut short.
        const int n = std::min(frames, kScratchSamples / 2);
        const int channels = m_inputParameters->channelCount;
        const float gain = static_cast<float>(m_inputGain.load());
        float *dst = m_scratch.get();
        if (channels == 1) {
            for (int i = 0; i < n; ++i)
                dst[2 * i] = dst[2 * i + 1] = input[i] * gain;
        } else if (m_inputSingleChannel < 0) {
            const int left = std::min(m_inputFirstChannel, channels - 2);
            for (int i = 0; i < n; ++i) {
                dst[2 * i] = input[i * channels + left] * gain;
                dst[2 * i + 1] = input[i * channels + left + 1] * gain;
            }
        } else {
            const int channel = std::min(m_inputFirstChannel + m_inputSingleChannel, channels - 1);
            for (int i = 0; i < n; ++i)
                dst[2 * i] = dst[2 * i + 1] = input[i * channels + channel] * gain;
        }
        m_inputSink->receive(dst, n);
        delivered = true;
    }

    if (!output) {
        if (delivered && m_outputEnabled.load() && m_outputSource) {
            const int samples = std::min(2 * frames, kScratchSamples);
            std::memset(m_scratch.get(), 0, sizeof(float) * samples);
            m_outputSource->pull(m_scratch.get(), samples);
        }
        return paContinue;
    }
    if (frames == 0)
        return paContinue;

    std::memset(output, 0, sizeof(float) * 2 * frames);
    if (m_outputEnabled.load() && m_outputSource)
        m_outputSource->pull(output, 2 * frames);

    counters.set(m_cpuCounterName, static_cast<float>(Pa_GetStreamCpuLoad(m_stream) * 100.0));
    return paContinue;
}
