#pragma once

#include <cstdint>

// Receiver of MIDI input. A short message travels as one 32-bit word laid out as PortMidi
// packs it: status in bits 0-7, first data byte in bits 8-15, second data byte in bits
// 16-23. The base note is owned by the MIDI input and handed over by reference.
//
// Both operations are called on the sound-card thread (the engine polls MIDI inside its
// callback): no allocation, no file I/O, no long waits.
class MidiProcessor {
public:
    virtual ~MidiProcessor() = default;

    virtual void processMidiMessage(uint32_t message, int &baseNote) = 0;
    // The end of a forwarded system-exclusive message.
    virtual void processSysex(int status, int &baseNote) {
        (void)status;
        (void)baseNote;
    }

    static constexpr int status(uint32_t message) { return int(message & 0xFF); }
    static constexpr int data1(uint32_t message) { return int((message >> 8) & 0xFF); }
    static constexpr int data2(uint32_t message) { return int((message >> 16) & 0xFF); }
    static constexpr uint32_t message(int status, int data1, int data2) {
        return uint32_t(status & 0xFF) | (uint32_t(data1 & 0xFF) << 8) | (uint32_t(data2 & 0xFF) << 16);
    }
};
