#pragma once

#include <portaudio.h>

// PortAudio's JACK host API keeps one JACK client for the whole process, opened by
// Pa_Initialize. Once the JACK server has gone away that client is dead for good:
// stopping, aborting or closing one of its streams never returns, and Pa_Terminate
// aborts the program in an assertion. These functions name that client and tell
// whether it is still alive, so that the engine skips those calls and moves on.
// GUI thread.
namespace PortAudioJack {

// The name PortAudio gives its JACK host API (and the AudioDeviceAPI setting stores).
extern const char *const kHostApiName;

// The client name other JACK programs see; set before Pa_Initialize.
extern const char *const kClientName;
void nameClient();

bool isJackDevice(PaDeviceIndex device);

// True when PortAudio opened a JACK client and the server no longer knows it (the
// server stopped, or was restarted and forgot it). Asks the server through a short
// probe client; once lost, it stays lost.
bool clientLost();

// True when a JACK server (or PipeWire's JACK) answers now; a short probe client,
// never starting a server.
bool serverRunning();

// True when a JACK server answers but PortAudio holds no JACK client: the server
// started after PortAudio was initialised, so PortAudio must be started again to list
// it. False once PortAudio's own client was lost: PortAudio cannot be restarted then
// (see refreshAudioSystems in SliceEngine).
bool serverStartedLater();

} // namespace PortAudioJack
