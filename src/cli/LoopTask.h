#pragma once

#include "AudioFile.h"
#include "CliOptions.h"
#include "Slice.h"
#include "TempoAnalysis.h"

#include <QList>
#include <QString>
#include <atomic>
#include <memory>

class Trevant;

// One input file opened the way the window opens it: a slicer holding the loop, its
// cache filled. All the work of one file runs on one worker thread.
class LoopTask {
public:
    LoopTask();
    ~LoopTask();
    LoopTask(const LoopTask &) = delete;
    LoopTask &operator=(const LoopTask &) = delete;

    // False with the reason when path is missing, not a regular file or unreadable.
    static bool checkInput(const QString &path, QString *error);

    // Loads path and waits until its audio is read. False with the reason when the file
    // is missing, unreadable or holds no audio the program can open, or when stop is set.
    bool open(const QString &path, const std::atomic<bool> &stop, QString *error);

    Trevant *slicer() const { return m_pSlicer.get(); }
    SlicePtr loop() const { return m_pLoop; }

    // The tempo the window shows for this loop, found by the same detection run; 0 when
    // none can be determined.
    double detectTempo();
    // Sets the slice points the chosen slicing makes in the window. False with the reason
    // when it cannot (no tempo for beats or bars, a refused template) or when stop is set
    // during a transient detection.
    bool slice(const CliOptions &options, const std::atomic<bool> &stop, QString *error);
    // The slice points as frame numbers, ascending, without 0 and the end.
    QList<qint64> pointFrames() const;
    // Frames the file declares but does not hold (see AudioFile::missingFrames), once
    // open() has returned true.
    long long missingFrames() const;

private:
    std::unique_ptr<Trevant> m_pSlicer;
    SlicePtr m_pLoop;
    double m_dTempo = -1.0; // not detected yet
};

// The tempo of one file as the window finds it for the loop, for tempo and info, which
// need no loop: the file is read once and handed to the detection as it is decoded,
// without filling a cache first.
struct FileTempo {
    int sampleRate = 0;
    long long frames = 0;
    double bpm = 0.0; // 0 when none can be determined
    TempoAnalysis analysis;
    long long missingFrames = 0; // see AudioFile::missingFrames
    int channels = 0;            // see AudioFile::channels
};
// False with the reason when the file cannot be read or holds no audio the program can
// open, or when stop is set.
bool detectFileTempo(const QString &path, const std::atomic<bool> &stop, FileTempo *tempo, QString *error);

// What a file's container says about it, for info.
struct StreamDescription {
    QString format; // "wav-pcm16", "flac-pcm24", "mp3-mp3", "m4a-aac" …
    int channels = 0;
    long long frames = 0; // as the WAV, AIFF or FLAC header says; 0 for the others
    int sampleRate = 0;
    double seconds = 0.0; // as the container says, for every format; 0 when unknown
};
StreamDescription describeStream(const QString &path);

// Why a file that is there and readable gives no audio: damage, as a rule, but a whole
// recording longer than the program's sample index holds is told apart.
QString unopenedReason(const QString &path);

// The warning for a file cut off inside its audio data, which is still used as far as it
// goes: how much is missing, in frames and seconds.
QString truncationWarning(long long missingFrames, int sampleRate);
