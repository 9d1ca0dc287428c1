// MIDI input over PortMidi. There is no MIDI device on the test machines, so the
// device paths are tested through their failure modes and the event handling
// through processEvents, the step pollMidi hands every read batch to.
#include "tst_midi.h"

#include "MidiInput.h"
#include "MidiProcessor.h"
#include "RealtimeEvents.h"
#include "Settings.h"

#include <QtTest>

namespace {
struct Received {
    int status, data1, data2, baseNote;
    bool operator==(const Received &o) const
    {
        return status == o.status && data1 == o.data1 && data2 == o.data2 && baseNote == o.baseNote;
    }
};

class RecordingProcessor : public MidiProcessor {
public:
    void processMidiMessage(uint32_t message, int &baseNote) override
    {
        messages.append({status(message), data1(message), data2(message), baseNote});
    }
    void processSysex(int status, int &) override { sysexEnds.append(status); }
    QList<Received> messages;
    QList<int> sysexEnds;
};

PmEvent midiEvent(int status, int data1, int data2)
{
    PmEvent e{};
    e.message = Pm_Message(status, data1, data2);
    return e;
}

// Four sysex bytes in one event, as PortMidi delivers them.
PmEvent packed(int b0, int b1, int b2, int b3)
{
    PmEvent e{};
    e.message = PmMessage(uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24);
    return e;
}
} // namespace

void MidiTest::init()
{
    Settings::instance().set("MidiDevice", "None");
    Settings::instance().set("MidiDeviceBaseNote", QString());
}

void MidiTest::baseNoteFromSettings()
{
    QCOMPARE(MidiInput(nullptr, nullptr).baseNote(), 36);
    Settings::instance().set("MidiDeviceBaseNote", "abc");
    QCOMPARE(MidiInput(nullptr, nullptr).baseNote(), 36);
    Settings::instance().set("MidiDeviceBaseNote", "48");
    QCOMPARE(MidiInput(nullptr, nullptr).baseNote(), 48);
}

void MidiTest::noneAndMissingDevicesOpenNothing()
{
    MidiInput input(nullptr, nullptr);
    QCOMPARE(input.openMidiDevice(), 0);
    QVERIFY(!input.isOpen());
    QCOMPARE(input.pollMidi(), 0);
    QCOMPARE(input.closeMidiDevice(), 0);

    // A stored device that is not there: nothing opens, nothing fails.
    QVERIFY(midiDeviceList().isEmpty());
    Settings::instance().set("MidiDevice", "3. Pad Controller");
    QTest::ignoreMessage(QtDebugMsg, "MidiDevice: Parsed devId 3");
    QCOMPARE(input.openMidiDevice(), 0);
    QVERIFY(!input.isOpen());
    QCOMPARE(input.pollMidi(), 0);
    QCOMPARE(input.closeMidiDevice(), 0);
    // PortMidi can be started again after the last user let it go.
    QCOMPARE(input.openMidiDevice(), 0);
    QCOMPARE(input.closeMidiDevice(), 0);
}

void MidiTest::eventsReachTheReceiver()
{
    Settings::instance().set("MidiDeviceBaseNote", "40");
    MidiInput input(nullptr, nullptr);
    const PmEvent none[] = {midiEvent(0x90, 36, 100)};
    input.processEvents(none, 1); // no receiver yet: dropped

    RecordingProcessor receiver;
    input.setReceiver(&receiver);
    const PmEvent events[] = {
        midiEvent(0x90, 36, 100), // note-on, channel 1
        midiEvent(0x95, 37, 90),  // note-on, channel 6: same as channel 1
        midiEvent(0x90, 38, 0),   // velocity 0: passed on, the slicer ignores it
        midiEvent(0x80, 36, 0),   // note-off, channel 1: passed on
        midiEvent(0x81, 36, 0),   // note-off, channel 2: dropped
        midiEvent(0xB0, 7, 127),  // controller: dropped
        midiEvent(0xE0, 0, 64),   // pitch bend: dropped
    };
    input.processEvents(events, 7);
    const QList<Received> expected{{0x90, 36, 100, 40}, {0x95, 37, 90, 40}, {0x90, 38, 0, 40}, {0x80, 36, 0, 40}};
    QCOMPARE(receiver.messages, expected);
    QVERIFY(receiver.sysexEnds.isEmpty());
}

// Sysex arrives the way PortMidi packs it: four bytes to an event, low byte first, the end
// byte in any of the four; a real-time byte may sit between its events, and a status byte
// cuts it short. Whatever the sysex, the note-on after it is played.
void MidiTest::sysexIsSkippedToItsEnd()
{
    MidiInput input(nullptr, nullptr);
    RecordingProcessor receiver;
    input.setReceiver(&receiver);
    RealtimeEvents::report(); // what earlier tests left unreported
    const quint64 finishedBefore = RealtimeEvents::count(RealtimeEvents::MidiSysexFinished);
    const PmEvent events[] = {
        packed(0xF0, 0x43, 0x10, 0x4C), // a synth's parameter change: end byte in the last byte
        packed(0x00, 0x00, 0x7E, 0xF7),
        midiEvent(0x90, 36, 100),
        packed(0xF0, 0x7D, 0x01, 0xF7), // a whole message in one event
        midiEvent(0x90, 37, 100),
        packed(0xF0, 0x7F, 0x01, 0x02), // marked for forwarding
        packed(0xF8, 0, 0, 0),          // clock inside the sysex
        packed(0x03, 0x90, 0x04, 0x05), // data bytes only: a status byte above the low byte is data
        packed(0x06, 0xF7, 0x00, 0x00), // end byte in the second byte
        midiEvent(0x90, 38, 100),
        packed(0xF0, 0x41, 0x10, 0x42), // cut short by the next note-on, which plays
        midiEvent(0x90, 39, 100),
        packed(0xF7, 0, 0, 0),          // a stray end byte outside any sysex: nothing
        midiEvent(0x90, 40, 100),
    };
    input.processEvents(events, int(sizeof events / sizeof events[0]));
    QList<int> notes;
    for (const Received &r : receiver.messages)
        notes.append(r.data1);
    QCOMPARE(notes, (QList<int>{36, 37, 38, 39, 40}));
    QCOMPARE(receiver.sysexEnds, QList<int>{0x06});
    QCOMPARE(RealtimeEvents::count(RealtimeEvents::MidiSysexFinished) - finishedBefore, quint64(4));

    // A sysex left open by one batch keeps the next batch's data out until its end.
    const PmEvent open[] = {packed(0xF0, 0x43, 0x10, 0x4C)};
    input.processEvents(open, 1);
    const PmEvent later[] = {packed(0x10, 0x20, 0x30, 0x40), packed(0xF7, 0, 0, 0), midiEvent(0x90, 41, 100)};
    input.processEvents(later, 3);
    QCOMPARE(receiver.messages.size(), 6);
    QCOMPARE(receiver.messages.last().data1, 41);
    // The log lines for the sound-card thread's events are written by the GUI when it reports.
    QTest::ignoreMessage(QtDebugMsg, "MIDI system-exclusive message finished (5 times)");
    RealtimeEvents::report();
}
