#pragma once

#include <QMutex>
#include <QString>
#include <QStringList>
#include <portmidi.h>

class BankSampler;
class LoopingSamplerBank;
class MidiProcessor;

// One PortMidi input device, polled by the engine at the start of every audio
// buffer. Open, close and the receiver setter run on the GUI thread; pollMidi runs
// on the sound-card thread and only tries the lock, so a buffer that meets an open
// or close in progress leaves its events in PortMidi's queue for the next buffer.
class MidiInput {
public:
    static constexpr int kEventBufferSize = 64;

    MidiInput(BankSampler *samplerBank, LoopingSamplerBank *looperBank);
    ~MidiInput();

    void setReceiver(MidiProcessor *receiver);
    int openMidiDevice();
    int closeMidiDevice();

    // Sound-card thread: no allocation, no file I/O, no blocking lock.
    int pollMidi();

    // Hands events to the receiver: note-ons on any channel and note-offs on channel 1.
    // System-exclusive messages, packed four bytes to an event, are skipped up to their
    // end byte or up to the next status byte; real-time bytes inside them are dropped.
    // Sound-card thread (from pollMidi): no allocation, no file I/O, no blocking lock.
    void processEvents(const PmEvent *events, int eventCount);

    int baseNote() const { return m_baseNote; }
    bool isOpen() const { return m_stream != nullptr; }

    MidiInput(const MidiInput &) = delete;
    MidiInput &operator=(const MidiInput &) = delete;

private:
    // Sound-card thread (from processEvents): no allocation, no file I/O, no logging.
    void finishSysex(int status);

    BankSampler *m_samplerBank;
    LoopingSamplerBank *m_looperBank;
    PortMidiStream *m_stream = nullptr;
    PmEvent m_events[kEventBufferSize];
    bool m_inSysex = false;
    bool m_forwardSysex = false;
    MidiProcessor *m_receiver = nullptr;
    int m_baseNote = 36;
    bool m_holdsPortMidi = false;
    QRecursiveMutex m_lock;
};

// The process-wide list of MIDI input devices, "%1. %2" (index, name). GUI thread.
QStringList midiDeviceList();
