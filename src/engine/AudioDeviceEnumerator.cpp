#include "AudioDeviceEnumerator.h"

#include "EngineLogging.h"
#include "JackOutput.h"
#include "PortAudioJack.h"
#include "Settings.h"

#include <alsa/asoundlib.h>

const char *const kDefaultDeviceEntry = "Windows Default";

namespace {
constexpr int kFallbackSampleRate = 44100;
constexpr int kMinimumSampleRate = 8000;
constexpr int kDefaultBufferFrames = 1024;

QStringList &hostApiList()
{
    static QStringList list;
    return list;
}

QStringList &outputList()
{
    static QStringList list;
    return list;
}

QStringList &inputList()
{
    static QStringList list;
    return list;
}

// The index of a stored API name, or PortAudio's default host API when the name
// matches none (there is no WASAPI here to fall back to).
int hostApiIndexFor(const QString &apiName, const char *logPrefix)
{
    int index = hostApiList().indexOf(apiName);
    if (index < 0 || apiName.isEmpty()) {
        index = Pa_GetDefaultHostApi();
        qCDebug(lcEngine) << logPrefix << "Audio API not found, falling back to default host API with index"
                          << index;
    }
    return index;
}

// The device index in front of the first "." of a list entry, or -1.
int deviceIndexFromEntry(const QString &entry)
{
    bool ok = false;
    const int index = entry.section('.', 0, 0).toInt(&ok);
    return ok ? index : -1;
}

PaDeviceIndex defaultDeviceFor(const QString &apiName, bool input)
{
    const QString name = apiName.isEmpty() ? Settings::instance().value("AudioDeviceAPI") : apiName;
    const int index = hostApiIndexFor(name, input ? "getDefaultInputDevicePaID:" : "getDefaultOutputDevicePaID:");
    const PaHostApiInfo *info = index >= 0 ? Pa_GetHostApiInfo(index) : nullptr;
    if (info) {
        qCDebug(lcEngine) << "Audio API with index" << index << "is" << info->name;
        return input ? info->defaultInputDevice : info->defaultOutputDevice;
    }
    return input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
}
} // namespace

AudioDeviceEnumerator::AudioDeviceEnumerator(QObject *parent) : QObject(parent)
{
    const PaError err = PortAudioJack::initializeWithoutJack();
    if (err != paNoError) {
        qCDebug(lcEngine) << "PortAudio error:" << Pa_GetErrorText(err);
        hostApiList().clear();
        outputList().clear();
        return;
    }
    m_initialized = true;

    hostApiNames();
    const QString missing = missingHostApiName();
    // JACK plays outside PortAudio; the list holds the default API's devices, for the time
    // no JACK server answers.
    if (!missing.isEmpty() && !isJackChosen())
        qCDebug(lcEngine) << "AudioDeviceEnumerator: Audio API" << missing << "not found, falling back to default host API"
                 << defaultHostApiName();
    deviceList(activeHostApiName(), AudioOutput, false);

    // To list the devices, PortAudio opened every PCM the ALSA configuration defines, which
    // loads each one's plugin library and all it links (the AC-3 encoder plugin alone
    // brings in libavcodec and dozens of codec libraries, megabytes for the life of the
    // program). The lists are built now: releasing ALSA's global configuration unloads
    // the plugins nothing holds open, and opening a stream reads the configuration again
    // and loads only what that stream plays through.
    snd_config_update_free_global();
}

AudioDeviceEnumerator::~AudioDeviceEnumerator()
{
    if (!m_initialized)
        return;
    // Should PortAudio have connected to JACK all the same, it would abort the program on
    // its dead client; it is left initialised instead, which costs nothing at exit.
    if (PortAudioJack::clientLost()) {
        qCDebug(lcEngine) << "PortAudio left initialised: its JACK server is gone";
        return;
    }
    const PaError err = Pa_Terminate();
    if (err != paNoError)
        qCDebug(lcEngine) << "PortAudio error:" << Pa_GetErrorText(err);
}

QStringList hostApiNames()
{
    QStringList &list = hostApiList();
    list.clear();
    QStringList shown;
    const int count = Pa_GetHostApiCount();
    for (int i = 0; i < count; ++i) {
        if (const PaHostApiInfo *info = Pa_GetHostApiInfo(i)) {
            list.append(QString::fromUtf8(info->name));
            if (info->type != paJACK)
                shown.append(list.last());
        }
    }
    // JACK is played by a client of Quillory's own. It is offered while a server runs, and
    // kept while it is the stored choice, so that a server started later is used again.
    const QString jack = QString::fromLatin1(PortAudioJack::kHostApiName);
    if (Settings::instance().value("AudioDeviceAPI") == jack || JackOutput::serverAnswers())
        shown.append(jack);
    return shown;
}

bool isJackChosen() { return Settings::instance().value("AudioDeviceAPI") == QLatin1String(PortAudioJack::kHostApiName); }

QString missingHostApiName()
{
    const QString stored = Settings::instance().value("AudioDeviceAPI");
    if (isJackChosen())
        return stored;
    return stored.isEmpty() || hostApiList().contains(stored) ? QString() : stored;
}

QString activeHostApiName()
{
    const QString stored = Settings::instance().value("AudioDeviceAPI");
    if (!stored.isEmpty() && missingHostApiName().isEmpty())
        return stored;
    const int index = Pa_GetDefaultHostApi();
    const PaHostApiInfo *info = index >= 0 ? Pa_GetHostApiInfo(index) : nullptr;
    return info ? QString::fromUtf8(info->name) : QString();
}

QString defaultHostApiName()
{
    const int index = Pa_GetDefaultHostApi();
    qCDebug(lcEngine) << "Got default Host API Index of:" << index;
    if (index < 0) {
        qCDebug(lcEngine) << "Failed to enumerate the default audio API. Is Portaudio initialized?";
        return QString();
    }
    const PaHostApiInfo *info = Pa_GetHostApiInfo(index);
    return info ? QString::fromUtf8(info->name) : QString();
}

int defaultBufferSize(int hostApiIndex)
{
    Q_UNUSED(hostApiIndex);
    return kDefaultBufferFrames;
}

PaDeviceIndex getDefaultInputDevicePaID(const QString &apiName) { return defaultDeviceFor(apiName, true); }

PaDeviceIndex getDefaultOutputDevicePaID(const QString &apiName) { return defaultDeviceFor(apiName, false); }

QStringList deviceList(const QString &apiName, int direction, bool showMono)
{
    const bool output = direction == AudioOutput;
    QStringList &list = output ? outputList() : inputList();
    list.clear();
    list.append(QString::fromLatin1(kDefaultDeviceEntry));
    if (showMono)
        qCWarning(lcEngine) << "getDeviceList for playback devices with mono outputs not implemented yet.";
    // JACK plays into the system's playback ports; other routing is the patchbay's job.
    if (apiName == QLatin1String(PortAudioJack::kHostApiName))
        return list;

    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo *device = Pa_GetDeviceInfo(i);
        if (!device)
            continue;
        const PaHostApiInfo *api = Pa_GetHostApiInfo(device->hostApi);
        if (!api)
            continue;
        const QString hostName = QString::fromUtf8(api->name);
        if (!apiName.isEmpty() && apiName != hostName)
            continue;
        const int channels = output ? device->maxOutputChannels : device->maxInputChannels;
        if (channels >= 1)
            list.append(QString("%1. %2 (%3)").arg(i).arg(QString::fromUtf8(device->name), hostName));
    }
    return list;
}

QStringList outputDeviceList() { return outputList(); }

int outputDeviceCount()
{
    const QStringList &list = outputList();
    return list.size() < 2 ? 0 : list.size() - 1;
}

PaDeviceIndex outputDeviceId()
{
    QString entry = Settings::instance().value("OutputDevice");
    if (entry.isEmpty()) {
        entry = QString::fromLatin1(kDefaultDeviceEntry);
        Settings::instance().set("OutputDevice", entry);
    }
    PaDeviceIndex id;
    // A stored device of a host API that is gone: its index now names another API's device.
    if (entry == QLatin1String(kDefaultDeviceEntry) || !missingHostApiName().isEmpty())
        id = getDefaultOutputDevicePaID(QString());
    else
        id = deviceIndexFromEntry(entry);
    // A JACK device whose server went away cannot play; the default device can.
    if (PortAudioJack::isJackDevice(id) && PortAudioJack::clientLost()) {
        id = Pa_GetDefaultOutputDevice();
        if (PortAudioJack::isJackDevice(id))
            id = paNoDevice;
    }
    qCDebug(lcEngine) << "AudioDevice: Parsed paDevId" << id;
    return id;
}

int outputBufferSize(PaDeviceIndex device)
{
    bool ok = false;
    int frames = Settings::instance().value("AudioDeviceBufferSize").toInt(&ok);
    if (!ok || frames < 1) {
        const PaDeviceInfo *info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
        frames = defaultBufferSize(info ? info->hostApi : -1);
    }
    return frames;
}

PaStreamParameters outputStreamParameters()
{
    PaStreamParameters params{};
    PaDeviceIndex index = outputDeviceId();
    const PaDeviceInfo *info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
    if (!info) {
        qCDebug(lcEngine) << "Audio device" << index << "not found";
        index = Pa_GetDefaultOutputDevice();
        info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
        if (!info) {
            qCDebug(lcEngine) << "Totally failed to find any usable default audio device.";
            return PaStreamParameters{};
        }
    }
    const int frames = outputBufferSize(index);
    const int rate = deviceSampleRate(index);
    const double latency = static_cast<double>(static_cast<float>(frames) / static_cast<float>(rate));
    qCDebug(lcEngine) << "Suggesting latency:" << latency;

    params.device = index;
    params.channelCount = 2;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = latency;
    params.hostApiSpecificStreamInfo = nullptr;
    return params;
}

int deviceSampleRate(PaDeviceIndex device)
{
    // A JACK server runs at one rate, which PortAudio reports as the device's default;
    // a stream asking for another is refused.
    if (PortAudioJack::isJackDevice(device))
        return static_cast<int>(Pa_GetDeviceInfo(device)->defaultSampleRate);
    bool ok = false;
    int rate = Settings::instance().value("AudioDeviceSampleRate").toInt(&ok);
    if (!ok) {
        const PaDeviceInfo *info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
        if (!info) {
            const PaDeviceIndex fallback = Pa_GetDefaultOutputDevice();
            info = fallback >= 0 ? Pa_GetDeviceInfo(fallback) : nullptr;
        }
        if (info) {
            rate = static_cast<int>(info->defaultSampleRate);
        } else {
            qCDebug(lcEngine) << "Audio device" << device << "not found, falling back to"
                              << kFallbackSampleRate;
            return kFallbackSampleRate;
        }
    }
    if (rate < kMinimumSampleRate) {
        qCDebug(lcEngine) << "Samplerate was less than minimum of 8000, falling back to"
                          << kFallbackSampleRate;
        rate = kFallbackSampleRate;
    }
    return rate;
}

QList<int> supportedSampleRates(const QString &deviceEntry, const QString &apiName, PaDeviceIndex device,
                                bool isInput)
{
    // A JACK server runs at the rate it was started with.
    if (apiName == QLatin1String(PortAudioJack::kHostApiName))
        return {};
    PaDeviceIndex index = device;
    if (!deviceEntry.isEmpty())
        index = deviceIndexFromEntry(deviceEntry);
    if (index == -1)
        index = isInput ? getDefaultInputDevicePaID(apiName) : getDefaultOutputDevicePaID(apiName);

    const PaDeviceInfo *info = index >= 0 ? Pa_GetDeviceInfo(index) : nullptr;
    if (!info)
        return {kFallbackSampleRate};

    QList<int> candidates{44100, 48000, 96000};
    const int deviceDefault = static_cast<int>(info->defaultSampleRate);
    if (!candidates.contains(deviceDefault))
        candidates.append(deviceDefault);

    PaStreamParameters params{};
    params.device = index;
    params.channelCount = isInput ? (info->maxInputChannels < 3 ? info->maxInputChannels : 2) : 2;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = info->defaultLowOutputLatency;
    params.hostApiSpecificStreamInfo = nullptr;

    QList<int> result;
    for (int rate : candidates) {
        const PaError err = isInput ? Pa_IsFormatSupported(&params, nullptr, rate)
                                    : Pa_IsFormatSupported(nullptr, &params, rate);
        if (err == paFormatIsSupported)
            result.append(rate);
    }
    return result;
}
