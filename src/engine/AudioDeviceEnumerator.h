#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <portaudio.h>

// Initialises and terminates PortAudio for the process and builds the host API
// and output device lists that the engine and the preferences dialog share.
// GUI thread only.
class AudioDeviceEnumerator : public QObject {
    Q_OBJECT
public:
    explicit AudioDeviceEnumerator(QObject *parent = nullptr);
    ~AudioDeviceEnumerator() override;

    // False when Pa_Initialize failed; the lists then stay empty.
    bool isInitialized() const { return m_initialized; }

    AudioDeviceEnumerator(const AudioDeviceEnumerator &) = delete;
    AudioDeviceEnumerator &operator=(const AudioDeviceEnumerator &) = delete;

private:
    bool m_initialized = false;
};

enum AudioDirection { AudioInput = 0, AudioOutput = 1 };

// The first entry of every device list: the API's default device. Stored as the
// OutputDevice setting, so the text stays as it is on every platform.
extern const char *const kDefaultDeviceEntry;

// Free functions over the settings AudioDeviceAPI, OutputDevice,
// AudioDeviceBufferSize and AudioDeviceSampleRate. GUI thread; PortAudio must be
// initialised (an AudioDeviceEnumerator exists).

// Refills the process-wide host API list (index = PortAudio index) and returns the names
// offered to the user: PortAudio's host APIs except its JACK one, then JACK (played by
// JackOutput) while a server answers or it is the stored choice.
QStringList hostApiNames();
QString defaultHostApiName();
// True when the stored AudioDeviceAPI is JACK.
bool isJackChosen();
// The stored AudioDeviceAPI when PortAudio does not play it (JACK, or an API that is
// gone), otherwise empty. The setting is kept, so the API is used again once it is back.
QString missingHostApiName();
// The host API whose devices are used: the stored one, or the default one in its place.
QString activeHostApiName();
int defaultBufferSize(int hostApiIndex);
PaDeviceIndex getDefaultInputDevicePaID(const QString &apiName);
PaDeviceIndex getDefaultOutputDevicePaID(const QString &apiName);
// Rebuilds and returns the process-wide device list of that direction:
// "Windows Default" first, then "%1. %2 (%3)" (index, device, host API).
QStringList deviceList(const QString &apiName, int direction, bool showMono);
// The output list as last built.
QStringList outputDeviceList();
int outputDeviceCount();
PaDeviceIndex outputDeviceId();
// Frames per buffer for the device: AudioDeviceBufferSize, or the host API's default.
int outputBufferSize(PaDeviceIndex device);
PaStreamParameters outputStreamParameters();
int deviceSampleRate(PaDeviceIndex device);
QList<int> supportedSampleRates(const QString &deviceEntry, const QString &apiName, PaDeviceIndex device,
                                bool isInput);
