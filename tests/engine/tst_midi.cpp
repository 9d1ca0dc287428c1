// MIDI input over PortMidi. There is no MIDI device on the test machines, so the
// device paths are tested through their failure modes and the event handling
// through processEvents, the step pollMidi hands every read batch to.
#include "tst_midi.h"

#include "MidiInput.h"
#include "MidiProcessor.h"
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

void MidiTest::sysexIsSkippedToItsEnd()
{
    MidiInput input(nullptr, nullptr);
    RecordingProcessor receiver;
    input.setReceiver(&receiver);
    const PmEvent events[] = {
        midiEvent(0xF0, 0x7F, 0x01), // sysex start, marked for forwarding
        midiEvent(0x90, 36, 100),    // inside: dropped
        midiEvent(0x02, 0x03, 0xF7), // end byte in data 2
        midiEvent(0x90, 37, 100),    // delivered
        midiEvent(0xF0, 0x41, 0x10), // not forwarded
        midiEvent(0xF7, 0, 0),       // end
        midiEvent(0x90, 38, 100),
    };
    QTest::ignoreMessage(QtDebugMsg, "sysex finished!");
    QTest::ignoreMessage(QtDebugMsg, "sysex finished!");
    input.processEvents(events, 7);
    QCOMPARE(receiver.sysexEnds, QList<int>{0x02});
    QCOMPARE(receiver.messages.size(), 2);
    QCOMPARE(receiver.messages[0].data1, 37);
    QCOMPARE(receiver.messages[1].data1, 38);

    // A sysex left open by one batch keeps the next batch's notes out until its end.
    const PmEvent open[] = {midiEvent(0xF0, 0x7F, 0)};
    input.processEvents(open, 1);
    const PmEvent later[] = {midiEvent(0x90, 40, 100), midiEvent(0xF7, 0, 0), midiEvent(0x90, 41, 100)};
    QTest::ignoreMessage(QtDebugMsg, "sysex finished!");
    input.processEvents(later, 3);
    QCOMPARE(receiver.messages.size(), 3);
    QCOMPARE(receiver.messages[2].data1, 41);
}
