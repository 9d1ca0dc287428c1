#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>
#include <sndfile.h>

// Slice points kept inside WAV and AIFF files as cue markers, so that they travel with
// the audio into other programs and back.
//
// libsndfile writes and reads the markers themselves (WAV "cue ", AIFF MARK with names)
// and reads WAV labels and the loop tempo, but it writes neither WAV labels nor a tempo.
// Those two go into a WAV as a list of labels and an acid chunk appended to the
// finished file, the chunks other audio programs read them from.
class CueMarkers {
public:
    // Hands the markers (frames from the file's start, at its rate) with their labels
    // to an open file before any audio is written. False when the format holds none.
    static bool set(SNDFILE *file, const QVector<qint64> &frames, const QStringList &labels);

    // Appends the labels of markers 1..n and, when bpm > 0, the tempo over the given
    // number of frames to a closed WAV file. False with a message when it cannot.
    static bool appendWavChunks(const QString &path, const QStringList &labels, double bpm, qint64 frames,
                                int rate, QString *error);

    struct Read {
        bool ok = false;      // the file opened as audio
        int rate = 0;         // its sample rate
        qint64 frames = 0;    // its length
        QVector<qint64> cues; // marker positions in frames, sorted, inside the file
        QStringList labels;   // one per cue, possibly empty
        double bpm = 0.0;     // the tempo it carries, 0 when none
    };
    // The markers of a WAV or AIFF file; an empty result for other files, files without
    // markers and files that cannot be read.
    static Read read(const QString &path);

    // The markers as slice points of the loop the file becomes: interleaved stereo
    // positions, dropping the file's ends and duplicates.
    static QList<int> slicePoints(const Read &markers);

    // True for names libsndfile reads cue markers from (wav, aif, aiff).
    static bool holdsMarkers(const QString &path);
};
