#pragma once

#include <portaudio.h>

// PortAudio's JACK host API keeps one JACK client for the whole process, opened by
// Pa_Initialize. Once the JACK server has gone away that client is dead for good:
// stopping, aborting or closing one of its streams never returns, and Pa_Terminate
// aborts the program in an assertion. Quillory therefore plays JACK through a client of
// its own (JackOutput) and keeps PortAudio off JACK; these functions do that, and guard
// the calls that would hang should PortAudio have connected anyway.
// GUI thread.
namespace PortAudioJack {

// The name of the JACK entry in the host API list, as the AudioDeviceAPI setting stores it
// (it is the name PortAudio gives its JACK host API, so stored choices keep working).
extern const char *const kHostApiName;

// Pa_Initialize with PortAudio's JACK host finding no server, so that it opens no client.
PaError initializeWithoutJack();

bool isJackDevice(PaDeviceIndex device);

// True when PortAudio opened a JACK client all the same and the server no longer knows
// it. Asks the server through a short probe client; once lost, it stays lost.
bool clientLost();

} // namespace PortAudioJack
