#pragma once

#include "ExportFormat.h"
#include "Slice.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class QThread;
class Trevant;

// Writes spans of a loop (its slices, one slice, or the trimmed loop) as audio files
// with libsndfile, at the chosen bit depth and, through the Speex resampler, at the
// chosen rate. Reads the loop's cache as it sounds (edits included when the loop is in
// edit mode, reversed when the loop is), under the cache's lock as playback does. Every file is written under a temporary name and moved onto its final
// name only when complete; existing files are never replaced unless asked to.
//
// Progress reaches the loop's savingProgress, savingComplete and savingCancelled
// signals; the loop's cancel request stops the export between blocks.
//
// Threads: configure on the GUI thread; run() on any thread (start() runs it on a
// thread of its own). Signals emitted by run() reach GUI receivers queued.
class SliceExporter : public QObject {
    Q_OBJECT
public:
    // What to do when a target file already exists.
    enum class Collision {
        Refuse,    // write nothing and say which files exist
        Overwrite, // replace them (the user has confirmed)
        KeepBoth,  // write the whole batch under names with " (2)", " (3)" … added
    };
    enum class Status { NotRun, Running, Completed, Cancelled, Failed };

    // A span of the interleaved stereo stream, [start, end).
    struct Range {
        int start = 0;
        int end = 0;
    };
    struct Job {
        QString path;
        Range range;
    };

    // Clears the loop's cancel request.
    explicit SliceExporter(SlicePtr loop, QObject *parent = nullptr);
    ~SliceExporter() override;
    SliceExporter(const SliceExporter &) = delete;
    SliceExporter &operator=(const SliceExporter &) = delete;

    // The slices: the spans between trim start, the slice points strictly inside the
    // trim region, and trim end. Empty spans are skipped.
    static QVector<Range> sliceRanges(const QList<int> &points, int trimStart, int trimEnd);
    static QVector<Range> sliceRanges(Trevant *slicer);
    // The slice that holds position (the one "Save Slice..." saves); an empty range
    // when position lies outside the trim region or no loop is loaded.
    static Range sliceAt(Trevant *slicer, int position);
    // "<stem>_<n>.<extension>", n counted from 1 and padded with zeros to the width of
    // count (at least two digits), so that the files sort in slice order.
    static QString sliceFileName(const QString &stem, int n, int count,
                                 const QString &extension = QStringLiteral("wav"));
    // Where quick export puts its files: a folder "<base name> slices" next to the loop,
    // or under the user's music folder when the loop's folder is not writable.
    static QString quickExportFolder(const QString &loopFileName);

    // Ready-made exports for the window's actions; null without a loop or slices. The
    // caller owns the exporter (start() it, delete it after finished()).
    // All slices of the slicer's loop into folder, named "<stem>_<n>.wav" (stem: the
    // loop's base name when empty); existing files are refused (ask, then Overwrite).
    static SliceExporter *forSlices(Trevant *slicer, const QString &folder, const QString &stem = QString(),
                                    QObject *parent = nullptr);
    // All slices named "<prefix>_<n>.wav". A prefix with a folder part ("/path/kit")
    // writes into that folder, a bare one next to the loop. Existing files are refused.
    static SliceExporter *forPrefix(Trevant *slicer, const QString &prefix, QObject *parent = nullptr);
    // All slices into quickExportFolder, keeping existing files (KeepBoth).
    static SliceExporter *forQuickExport(Trevant *slicer, QObject *parent = nullptr);
    // One span of the slicer's loop (a slice, or the trimmed loop for "Save As") into
    // path, which a save dialog has confirmed (Overwrite).
    static SliceExporter *forSpan(Trevant *slicer, const QString &path, Range range,
                                  QObject *parent = nullptr);
    // The trimmed loop into path ("Save As"), with its slice points as cue markers and
    // its tempo unless the slice_markers_in_saved_loops preference is "0".
    static SliceExporter *forSaveAs(Trevant *slicer, const QString &path, QObject *parent = nullptr);

    // One file per range, named with sliceFileName in folder; the extension picks the
    // container as for addFile.
    void addSlices(const QVector<Range> &ranges, const QString &folder, const QString &stem,
                   const QString &extension = QStringLiteral("wav"));
    // One file of the given span; the container follows the extension (wav, aif, aiff,
    // flac; anything else is WAV).
    void addFile(const QString &path, Range range);
    QVector<Job> jobs() const { return m_jobs; }

    void setFormat(const ExportFormat &format) { m_format = format; }
    ExportFormat format() const { return m_format; }
    void setCollision(Collision collision) { m_collision = collision; }
    // Short fades at both ends of every file, as played slices get them. The default
    // follows the fade_in_out_slices preference.
    void setFadeEdges(bool on) { m_bFadeEdges = on; }

    // Slice points (interleaved positions in the loop) written as labelled cue markers
    // into every WAV or AIFF file whose span holds them, with bpm, when above 0, as the
    // file's tempo where the container keeps one (WAV).
    void setMarkers(const QList<int> &points, double bpm);

    // The targets that exist already (for asking the user before an export).
    QStringList existingTargets() const;

    // Runs the whole export on the calling thread and returns when it is over. Waits for
    // a loop that is still loading (the cancel request ends the wait).
    Status run();
    // Runs the export on a thread of its own and emits finished() on this object's
    // thread when it is over. Does nothing while an export runs.
    void start();
    bool isRunning() const;
    // Asks a running export to stop (the loop's cancel request).
    void cancel();

    Status status() const;
    // Why the export failed, for the user; empty otherwise.
    QString errorMessage() const;
    // The files written, full paths, in order.
    QStringList writtenFiles() const;

    // Position on the outputRate grid of frame inputFrames at inputRate; a span's file
    // holds the frames between the converted positions of its ends.
    static qint64 outputFrames(qint64 inputFrames, int inputRate, int outputRate);

signals:
    // One file was written completely, under its final name.
    void fileWritten(QString folder, QString fileName);
    // start() only: the export is over; see status().
    void finished();

protected:
    // Exporting thread, before anything is written: a subclass claims its place and adds
    // its jobs. False (with error) fails the export.
    virtual bool prepareBatch(QString &error);
    // Exporting thread, after every file of the batch is written: a subclass adds what
    // belongs with the files. False (with error, or cancelled) fails the export.
    virtual bool completeBatch(QString &error, bool &cancelled);
    // Exporting thread, each time a job's file is complete, before the next one starts:
    // under its final name, or, when the subclass asked for memory, as inMemory (nothing
    // then exists at job.path). False (with error) fails the export.
    virtual bool jobWritten(const Job &job, const QByteArray &inMemory, QString &error);
    // Exporting thread, once the export is over, before the loop hears of it.
    virtual void batchEnded(Status status);
    // Cancels a run that start() began and waits for it to end. A subclass calls it first
    // thing in its destructor: the run calls its overrides and uses its members.
    void stopRunning();
    SlicePtr loop() const { return m_pLoop; }
    bool isCancelRequested() const;
    int fileRate() const { return m_iFileRate; }
    // The share of the progress bar the audio files fill (the rest is the subclass's).
    void setFileProgressShare(float share) { m_fFileShare = share; }
    void reportProgress(float fraction);
    // Whether fileWritten is emitted for each audio file (not for files that are still
    // in a staging folder).
    void setAnnounceFiles(bool on) { m_bAnnounceFiles = on; }
    // Hand files of uncompressed formats up to a few tens of megabytes to jobWritten in
    // memory instead of writing them (for a subclass that packs them elsewhere). Files
    // that get cue labels or a tempo are still written.
    void setMemoryTargets(bool on) { m_bMemoryTargets = on; }

private:
    bool writeOne(const Job &job, qint64 &framesDone, qint64 totalFrames, float &lastProgress, QString &error,
                  bool &cancelled);
    QVector<Job> resolvedJobs(QString &error) const;
    void finish(Status status, const QString &error);

    // Set on the GUI thread before run(), read-only while it runs.
    SlicePtr m_pLoop;
    AudioCachePtr m_pCache;
    bool m_bReversed = false;
    int m_iFileRate = 44100;
    QVector<Job> m_jobs;
    ExportFormat m_format;
    Collision m_collision = Collision::Refuse;
    bool m_bFadeEdges = false;
    QList<int> m_markers;
    double m_fMarkerBpm = 0.0;
    float m_fFileShare = 1.0f;
    bool m_bAnnounceFiles = true;
    bool m_bMemoryTargets = false;

    // Written by run(), read by anyone.
    mutable QMutex m_resultLock;
    Status m_status = Status::NotRun;
    QString m_sError;
    QStringList m_written;

    QThread *m_pThread = nullptr; // GUI thread only
};
