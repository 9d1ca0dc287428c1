#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

struct archive;

// Packs files into a gzip-compressed tar on a thread of its own while the files are
// still being produced, so that packing a kit overlaps writing its samples. A file is
// queued once it is complete; finish() waits for the queue and closes the archive.
// The archive is whole only when finish() succeeds; otherwise the caller discards it.
//
// Threads: open(), add(), finish() and abort() on one thread (the owner's). The packing
// thread alone touches the archive handle between open() and the end of finish() or
// abort(); the queue and the outcome are shared under m_lock.
class KitArchiveWriter {
public:
    enum class Result { Completed, Failed, Cancelled };

    // isCancelled is asked between blocks, on both threads.
    explicit KitArchiveWriter(std::function<bool()> isCancelled);
    // Stops packing and closes nothing: the half archive is left for the caller to remove.
    ~KitArchiveWriter();
    KitArchiveWriter(const KitArchiveWriter &) = delete;
    KitArchiveWriter &operator=(const KitArchiveWriter &) = delete;

    // Creates the archive at path and starts the packing thread.
    bool open(const QString &path, QString *error);
    // Queues a folder entry (name ends without the slash).
    bool addFolder(const QString &entryName, QString *error);
    // Queues the complete file at filePath under entryName and removes the file once it
    // is packed. False, with the packing thread's error, when packing failed already;
    // after a cancel the file is dropped and the call succeeds.
    bool addFile(const QString &entryName, const QString &filePath, QString *error);
    // Queues a complete file held in memory under entryName. Waits while the entries not
    // yet packed hold more than a bounded amount of memory.
    bool addData(const QString &entryName, const QByteArray &bytes, QString *error);
    // Waits until every queued entry is packed, calling progress with the packed share of
    // the queued bytes now and then, and closes the archive.
    Result finish(QString *error, const std::function<void(double)> &progress);
    // Stops the packing thread without closing the archive.
    void abort();

private:
    struct Entry {
        enum class Kind { Folder, File, Data } kind = Kind::Folder;
        QString name;
        QString filePath; // Kind::File
        QByteArray data;  // Kind::Data
        qint64 size = 0;
    };
    bool queue(Entry entry, QString *error);
    void packAll();
    bool pack(const Entry &entry, QString &error);

    // Immutable after construction.
    const std::function<bool()> m_isCancelled;
    // Owned by the packing thread while it runs, by the owner's thread otherwise.
    archive *m_pArchive = nullptr;
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<Entry> m_queue;
    bool m_bClosing = false;
    bool m_bStop = false;
    bool m_bDone = false; // the packing thread has returned
    Result m_result = Result::Completed;
    QString m_sError;
    qint64 m_queuedBytes = 0;
    qint64 m_packedBytes = 0;
};
