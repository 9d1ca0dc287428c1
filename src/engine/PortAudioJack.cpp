#include "PortAudioJack.h"

#include "EngineLogging.h"
#include "JackOutput.h"

#include <QDebug>
#include <QtGlobal>
#include <jack/jack.h>
#include <pa_jack.h>

namespace PortAudioJack {

const char *const kHostApiName = "JACK Audio Connection Kit";

PaError initializeWithoutJack() {
    // libjack takes the server's name from this variable when it opens a client; PortAudio
    // offers no other way to leave out a host API. It is restored at once, and Quillory's
    // own client reads it later.
    const char *const variable = "JACK_DEFAULT_SERVER";
    const bool wasSet = qEnvironmentVariableIsSet(variable);
    const QByteArray saved = qgetenv(variable);
    qputenv(variable, "quillory-portaudio-without-jack");
    // A name no JACK program would take, in case the variable is not read: PortAudio then
    // shows up under it rather than as Quillory.
    PaJack_SetClientName("Quillory-PortAudio");
    PaError err;
    {
        JackOutput::QuietMessages quiet;
        err = Pa_Initialize();
    }
    if (wasSet)
        qputenv(variable, saved);
    else
        qunsetenv(variable);
    return err;
}

bool isJackDevice(PaDeviceIndex device) {
    const PaDeviceInfo *info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo *api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

bool clientLost() {
    static bool lost = false;
    if (lost)
        return true;
    // Without a server at Pa_Initialize the JACK host API is not listed and owns no client.
    if (Pa_HostApiTypeIdToHostApiIndex(paJACK) < 0)
        return false;
    const char *name = nullptr;
    if (PaJack_GetClientName(&name) != paNoError || !name)
        return false;

    jack_client_t *probe;
    {
        JackOutput::QuietMessages quiet;
        jack_status_t status{};
        probe = jack_client_open("Quillory-probe", JackNoStartServer, &status);
    }
    if (!probe) {
        lost = true;
    } else {
        char *uuid = jack_get_uuid_for_client_name(probe, name);
        lost = uuid == nullptr;
        jack_free(uuid);
        jack_client_close(probe);
    }
    if (lost)
        qCDebug(lcEngine) << "The JACK server that PortAudio connected to is gone";
    return lost;
}

} // namespace PortAudioJack
