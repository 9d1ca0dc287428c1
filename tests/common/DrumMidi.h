#pragma once
// Drum parts written as standard MIDI files (General MIDI percussion, channel 10) and
// rendered with the fluidsynth command, so that every hit's time is known exactly.

#include <QByteArray>
#include <QString>
#include <vector>

namespace DrumMidi {

struct Hit {
    double seconds = 0.0;
    int note = 36; // General MIDI percussion key
    int velocity = 100;
    int channel = 9; // 0-based: 9 is the percussion channel; others for pitched parts
    double lengthSeconds = 0.05;
    int program = -1; // program change sent before the first note of a pitched channel
};

// A format-0 file at a fixed 120 BPM with 20000 ticks per quarter note (25 us per tick).
// reverbSend (0-127) sets the reverb send of every channel used, when not negative.
QByteArray build(const std::vector<Hit> &hits, int reverbSend = -1);

// Tick of a time after rounding.
long long ticks(double seconds);

// Nominal tick time of a hit after rounding, in seconds.
double tickSeconds(double seconds);

// Renders a MIDI file with fluidsynth into a 16-bit stereo WAV at rate. Reverb (a large
// room) and chorus off unless asked for. Returns false when the tool or the sound font is missing.
bool render(const QString &midiPath, const QString &wavPath, int rate, bool effects = false);

// The General MIDI sound font the renders use (empty when not installed).
QString soundFont();

// Reads a sound file into interleaved floats.
bool readSound(const QString &path, std::vector<float> *interleaved, int *channels, int *rate);

} // namespace DrumMidi
