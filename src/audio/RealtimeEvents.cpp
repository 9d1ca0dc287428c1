#include "RealtimeEvents.h"

#include <QLoggingCategory>
#include <atomic>

Q_LOGGING_CATEGORY(lcRealtime, "quillory.realtime")

namespace {
std::atomic<quint64> g_counts[RealtimeEvents::EventCount];
// GUI thread only: what the previous report had seen.
quint64 g_reported[RealtimeEvents::EventCount];

const char *description(RealtimeEvents::Event event)
{
    switch (event) {
    case RealtimeEvents::StretcherInputEnded:
        return "Time stretcher reached the end of its input";
    case RealtimeEvents::StretcherRetrieveFailed:
        return "Rubber Band returned a negative frame count";
    case RealtimeEvents::LoopPositionPastEnd:
        return "Loop stopped: play position past the end of the loop";
    case RealtimeEvents::MidiSysexFinished:
        return "MIDI system-exclusive message finished";
    case RealtimeEvents::LooperQuantizationStop:
        return "Looper stopped recording at its quantization length";
    case RealtimeEvents::EventCount:
        break;
    }
    return "";
}
} // namespace

namespace RealtimeEvents {

void note(Event event) noexcept
{
    if (event >= 0 && event < EventCount)
        g_counts[event].fetch_add(1, std::memory_order_relaxed);
}

quint64 count(Event event) noexcept
{
    return event >= 0 && event < EventCount ? g_counts[event].load(std::memory_order_relaxed) : 0;
}

int report()
{
    int lines = 0;
    for (int i = 0; i < EventCount; ++i) {
        const quint64 now = g_counts[i].load(std::memory_order_relaxed);
        const quint64 since = now - g_reported[i];
        g_reported[i] = now;
        if (since == 0)
            continue;
        qCDebug(lcRealtime).nospace() << description(Event(i)) << " (" << since << (since == 1 ? " time)" : " times)");
        ++lines;
    }
    return lines;
}

} // namespace RealtimeEvents
