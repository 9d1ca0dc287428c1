#include "KitArchiveWriter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <vector>

namespace {
constexpr qint64 kBlock = 1 << 18;
// The most bytes of queued entries the packer may lag behind before adding waits.
constexpr qint64 kBacklog = qint64(128) << 20;

QString archiveError(archive *a) {
    const char *text = a ? archive_error_string(a) : nullptr;
    QString message = text ? QString::fromLocal8Bit(text) : QStringLiteral("unknown error");
    // libarchive says only "Write error" when the disk is full or the file too large;
    // the system's reason tells the user which. EINVAL and EILSEQ are libarchive's own
    // codes for its misuse and for bad formats, which its text already names.
    const int code = a ? archive_errno(a) : 0;
    if (code > 0 && code != EINVAL && code != EILSEQ)
        message += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(std::strerror(code)));
    return message;
}
} // namespace

KitArchiveWriter::KitArchiveWriter(std::function<bool()> isCancelled)
    : m_isCancelled(std::move(isCancelled)) {}

KitArchiveWriter::~KitArchiveWriter() {
    abort();
}

bool KitArchiveWriter::open(const QString &path, QString *error) {
    m_pArchive = archive_write_new();
    // Audio hardly compresses, and deflating it costs several times the slice export
    // itself. Level 0 stores the data in deflate's uncompressed blocks: still a gzip
    // stream that Hydrogen (libarchive with every filter, or zlib) and tar unpack.
    // Names go in as plain UTF-8 bytes (GNU tar's headers), not as pax records: Hydrogen
    // converts pax names to its locale, which it keeps at "C", and refuses to install a
    // kit named with any letter outside ASCII.
    if (!m_pArchive || archive_write_add_filter_gzip(m_pArchive) != ARCHIVE_OK ||
        archive_write_set_format_gnutar(m_pArchive) != ARCHIVE_OK ||
        archive_write_set_filter_option(m_pArchive, "gzip", "compression-level", "0") != ARCHIVE_OK ||
        archive_write_open_filename(m_pArchive, QFile::encodeName(path).constData()) != ARCHIVE_OK) {
        if (error)
            *error = archiveError(m_pArchive);
        archive_write_free(m_pArchive);
        m_pArchive = nullptr;
        return false;
    }
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "KitArchive");
        packAll();
    });
    return true;
}

bool KitArchiveWriter::addFolder(const QString &entryName, QString *error) {
    Entry entry;
    entry.name = entryName + QLatin1Char('/');
    return queue(std::move(entry), error);
}

bool KitArchiveWriter::addFile(const QString &entryName, const QString &filePath, QString *error) {
    Entry entry;
    entry.kind = Entry::Kind::File;
    entry.name = entryName;
    entry.filePath = filePath;
    entry.size = QFileInfo(filePath).size();
    return queue(std::move(entry), error);
}

bool KitArchiveWriter::addData(const QString &entryName, const QByteArray &bytes, QString *error) {
    Entry entry;
    entry.kind = Entry::Kind::Data;
    entry.name = entryName;
    entry.data = bytes;
    entry.size = bytes.size();
    return queue(std::move(entry), error);
}

bool KitArchiveWriter::queue(Entry entry, QString *error) {
    std::unique_lock<std::mutex> locker(m_lock);
    if (entry.kind == Entry::Kind::Data)
        while (!m_bDone && m_queuedBytes - m_packedBytes > kBacklog && !m_isCancelled())
            m_changed.wait_for(locker, std::chrono::milliseconds(50));
    // A cancel the packer saw first is the caller's to notice, not a failure.
    if (m_bDone && m_result == Result::Cancelled)
        return true;
    if (m_bDone || !m_thread.joinable()) {
        if (error)
            *error = m_sError.isEmpty() ? QStringLiteral("the archive is not open") : m_sError;
        return false;
    }
    m_queuedBytes += entry.size;
    m_queue.push_back(std::move(entry));
    m_changed.notify_all();
    return true;
}

// Packing thread.
void KitArchiveWriter::packAll() {
    for (;;) {
        Entry entry;
        {
            std::unique_lock<std::mutex> locker(m_lock);
            m_changed.wait(locker, [this] { return m_bStop || m_bClosing || !m_queue.empty(); });
            if (m_bStop || (m_queue.empty() && m_bClosing)) {
                m_bDone = true;
                m_changed.notify_all();
                return;
            }
            entry = std::move(m_queue.front());
            m_queue.pop_front();
        }
        QString error;
        const bool ok = pack(entry, error);
        std::lock_guard<std::mutex> locker(m_lock);
        if (!ok) {
            m_result = m_isCancelled() ? Result::Cancelled : Result::Failed;
            m_sError = error;
            m_bDone = true;
            m_changed.notify_all();
            return;
        }
        m_packedBytes += entry.size;
        m_changed.notify_all();
    }
}

// Packing thread.
bool KitArchiveWriter::pack(const Entry &entry, QString &error) {
    QFile in(entry.filePath);
    qint64 size = entry.kind == Entry::Kind::Data ? entry.data.size() : 0;
    if (entry.kind == Entry::Kind::File) {
        if (!in.open(QIODevice::ReadOnly)) {
            error = in.errorString();
            return false;
        }
        size = in.size();
    }
    const bool isFolder = entry.kind == Entry::Kind::Folder;
    archive_entry *header = archive_entry_new();
    // The bytes themselves, which the GNU format writes as they are: a name handed over
    // as UTF-8 would be converted through the locale, and the "C" locale has no letters
    // beyond ASCII.
    archive_entry_set_pathname(header, entry.name.toUtf8().constData());
    archive_entry_set_filetype(header, isFolder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(header, isFolder ? 0755 : 0644);
    archive_entry_set_size(header, size);
    archive_entry_set_mtime(header, time_t(QDateTime::currentSecsSinceEpoch()), 0);
    const int r = archive_write_header(m_pArchive, header);
    archive_entry_free(header);
    if (r != ARCHIVE_OK) {
        error = archiveError(m_pArchive);
        return false;
    }
    std::vector<char> block(entry.kind == Entry::Kind::File ? static_cast<size_t>(kBlock) : 0);
    for (qint64 done = 0; done < size;) {
        if (m_isCancelled()) {
            error.clear();
            return false;
        }
        const char *data = entry.data.constData() + done;
        qint64 got = std::min(kBlock, size - done);
        if (entry.kind == Entry::Kind::File) {
            got = in.read(block.data(), got);
            if (got <= 0) {
                error = got < 0 ? in.errorString() : QStringLiteral("%1 ended early").arg(entry.filePath);
                return false;
            }
            data = block.data();
        }
        if (archive_write_data(m_pArchive, data, size_t(got)) != got) {
            error = archiveError(m_pArchive);
            return false;
        }
        done += got;
    }
    if (entry.kind == Entry::Kind::File) {
        in.close();
        // Packed: the loose copy is not part of the result, and dropping it now spares the
        // disk writing it out.
        QFile::remove(entry.filePath);
    }
    return true;
}

KitArchiveWriter::Result KitArchiveWriter::finish(QString *error,
                                                  const std::function<void(double)> &progress) {
    if (!m_thread.joinable()) {
        if (error)
            *error = QStringLiteral("the archive is not open");
        return Result::Failed;
    }
    {
        std::unique_lock<std::mutex> locker(m_lock);
        m_bClosing = true;
        m_changed.notify_all();
        while (!m_bDone) {
            m_changed.wait_for(locker, std::chrono::milliseconds(50));
            if (m_isCancelled()) {
                m_bStop = true;
                m_result = Result::Cancelled;
                m_changed.notify_all();
            }
            if (progress && !m_bDone) {
                const double share = m_queuedBytes > 0 ? double(m_packedBytes) / double(m_queuedBytes) : 1.0;
                locker.unlock();
                progress(share);
                locker.lock();
            }
        }
    }
    m_thread.join();
    Result result = m_result;
    QString why = m_sError;
    if (result == Result::Completed && archive_write_close(m_pArchive) != ARCHIVE_OK) {
        // Closing flushes the compressor; only a clean close makes a whole archive.
        result = Result::Failed;
        why = archiveError(m_pArchive);
    }
    archive_write_free(m_pArchive);
    m_pArchive = nullptr;
    if (error)
        *error = why;
    return result;
}

void KitArchiveWriter::abort() {
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> locker(m_lock);
            m_bStop = true;
            m_changed.notify_all();
        }
        m_thread.join();
    }
    if (m_pArchive) {
        archive_write_free(m_pArchive);
        m_pArchive = nullptr;
    }
}
