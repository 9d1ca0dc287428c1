#pragma once

#include "SliceExporter.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class Trevant;

// The slices of a loop as a standard MIDI file: one track, one note per slice from the
// base note upward, each note starting where its slice starts and lasting as long as
// it, at the loop's tempo. Played into a sampler that holds the exported slices on the
// same notes, it rebuilds the loop.
class MidiSliceWriter {
public:
    static constexpr int kTicksPerQuarter = 480;
    static constexpr int kVelocity = 100;

    // The file's bytes. Positions count interleaved stereo samples at fileRate; times
    // are taken from the first range's start. A tempo of 0 or less writes 120 BPM.
    // Slices whose note would lie above 127 get no note; notesLeftOut counts them.
    static QByteArray build(const QVector<SliceExporter::Range> &ranges, int fileRate, double bpm,
                            int baseNote, const QString &trackName, int *notesLeftOut = nullptr);

    // The slices of the slicer's loop at its tempo, with the base note of the
    // preferences (MidiDeviceBaseNote, 36 when missing), written atomically to path
    // (".mid" is appended when the path has no extension). False with a message for
    // the user when there is nothing to write or the file cannot be written.
    static bool save(Trevant *slicer, const QString &path, QString *error, QString *writtenPath = nullptr);

    static int baseNoteFromSettings();
};
