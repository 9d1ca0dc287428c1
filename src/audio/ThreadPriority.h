#pragma once

// The CPU share of the threads that do long background work (filling caches, tempo and
// onset analysis, rendering stretched pads). Where the audio thread runs without real-time
// scheduling (a JACK server or desktop without the privilege), it competes with them in
// the ordinary scheduler; on a machine with few cores a nice-0 fill or analysis then
// delays its wake-ups past the period. Lowered, they still take all the idle CPU.
namespace ThreadPriority {

// How far the background threads are lowered (a nice value, 0 to 19).
constexpr int kBackgroundNice = 10;

// Lowers the calling thread (only that one) to kBackgroundNice; quietly does nothing
// where the system does not allow it. Idempotent.
void lowerCurrentThreadForBackgroundWork();

} // namespace ThreadPriority
