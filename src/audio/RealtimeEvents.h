#pragma once

#include <QtGlobal>

// Things that happen on the sound-card thread and deserve a log line. That thread may not
// log, so it only counts them (one relaxed atomic add); the GUI thread writes the lines
// when it reports, one line per kind of event with the number of times it happened.
namespace RealtimeEvents {

enum Event {
    StretcherInputEnded,   // the time stretcher has taken the last input of a slice
    StretcherRetrieveFailed, // Rubber Band reported a negative frame count
    LoopPositionPastEnd,   // a loop stopped because its play position lay past its end
    MidiSysexFinished,     // a system-exclusive MIDI message ended
    LooperQuantizationStop, // a looper stopped recording at its quantization length
    EventCount
};

// Sound-card thread: no allocation, no lock, no logging.
void note(Event event) noexcept;

// Any thread: how many times the event happened since the program started.
quint64 count(Event event) noexcept;

// GUI thread: logs what happened since the previous report; returns the number of lines.
int report();

} // namespace RealtimeEvents
