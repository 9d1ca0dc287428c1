#include "PortAudioJack.h"

#include "EngineLogging.h"

#include <jack/jack.h>
#include <pa_jack.h>

namespace PortAudioJack {

const char *const kHostApiName = "JACK Audio Connection Kit";
const char *const kClientName = "Quillory";

void nameClient()
{
    // PortAudio keeps the pointer, hence the static string.
    const PaError err = PaJack_SetClientName(kClientName);
    if (err != paNoError)
        qCDebug(lcEngine) << "PortAudio JACK client name not set:" << Pa_GetErrorText(err);
}

bool isJackDevice(PaDeviceIndex device)
{
    const PaDeviceInfo *info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo *api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

bool clientLost()
{
    static bool lost = false;
    if (lost)
        return true;
    // Without a server at Pa_Initialize the JACK host API is not listed and owns no client.
    if (Pa_HostApiTypeIdToHostApiIndex(paJACK) < 0)
        return false;
    const char *name = nullptr;
    if (PaJack_GetClientName(&name) != paNoError || !name)
        return false;

    jack_status_t status{};
    jack_client_t *probe = jack_client_open("Quillory-probe", JackNoStartServer, &status);
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

bool serverRunning()
{
    jack_status_t status{};
    jack_client_t *probe = jack_client_open("Quillory-probe", JackNoStartServer, &status);
    if (probe)
        jack_client_close(probe);
    return probe != nullptr;
}

bool serverStartedLater()
{
    return Pa_HostApiTypeIdToHostApiIndex(paJACK) < 0 && serverRunning();
}

} // namespace PortAudioJack
