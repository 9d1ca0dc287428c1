#pragma once

#include <QString>

// A file that is written under a hidden temporary name in its target's folder and
// moved onto its final name only once it is complete, so that a crash or a cancel
// never leaves half a file under the final name. The temporary file is removed when
// the object dies without a commit.
class PendingFile {
public:
    explicit PendingFile(const QString &finalPath);
    ~PendingFile();
    PendingFile(const PendingFile &) = delete;
    PendingFile &operator=(const PendingFile &) = delete;

    // Creates the empty temporary file; false (with a message) when the folder does not
    // exist or is not writable.
    bool create(QString *error);
    QString temporaryPath() const { return m_temporaryPath; }
    // The temporary file, open for reading and writing until the commit or the discard
    // (libsndfile refuses paths longer than 1024 bytes, which deep folders of long names
    // reach; a descriptor has no such limit). -1 before create().
    int descriptor() const { return m_fd; }
    QString finalPath() const { return m_finalPath; }

    // Moves the finished file onto its final name. Without overwrite, an existing file
    // of that name is left alone and the commit fails, also when it appeared only while
    // this file was being written.
    bool commit(bool overwrite, QString *error);
    // Removes the temporary file.
    void discard();

    // Ends every pending file at once, for a program about to exit without finishing its
    // writes (a second Ctrl+C): removes the temporary files and the tracked staging
    // folders still there, and from then on no file is created or committed, so none
    // appears half-written under its final name. Any thread; never returns control of
    // the pending files (the caller exits).
    static void abandonAll();
    // A temporary folder (a kit's staging folder) that abandonAll() removes with what it
    // holds, while tracked.
    static void trackFolder(const QString &folder, bool tracked);
    // Makes the temporary folder (one level) and tracks it in one step, so that no
    // abandonAll() comes between the two and leaves it behind. False with errno's value
    // in *err when it cannot (ECANCELED once abandoned).
    static bool createTrackedFolder(const QString &folder, int *err);

    // Holds abandonAll() back while its owner moves finished files into place one by one
    // (a kit's sample folder, kit file and MIDI file) or back out: a second Ctrl+C then
    // finds the whole set in place or none of it, and never removes the entries being
    // replaced while they are set aside. Nothing may be moved when abandoned() is true.
    class CommitLock {
    public:
        CommitLock();
        ~CommitLock();
        CommitLock(const CommitLock &) = delete;
        CommitLock &operator=(const CommitLock &) = delete;
        bool abandoned() const;
    };

    // Makes folder and the folders above it that are missing. False with the system's
    // reason ("Permission denied", "Not a directory", "File exists") when it cannot.
    static bool createFolder(const QString &folder, QString *reason);

private:
    QString m_finalPath;
    QString m_temporaryPath;
    bool m_committed = false;
    int m_fd = -1;
};
