#include "PendingFile.h"

#include "FileNameFit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>
#include <QRandomGenerator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The temporary files and folders still pending, for abandonAll(). Creating, committing
// and discarding hold the lock, so an abandon finds every file either not made yet,
// still temporary, or whole under its final name.
// Never destroyed: a second Ctrl+C may come while the program is already exiting.
QMutex &pendingLock() {
    static QMutex *lock = new QMutex;
    return *lock;
}
QSet<QString> &pendingFiles() {
    static QSet<QString> *files = new QSet<QString>;
    return *files;
}
QSet<QString> &pendingFolders() {
    static QSet<QString> *folders = new QSet<QString>;
    return *folders;
}
bool g_abandoned = false; // under pendingLock()

QString tr(const char *text) {
    return QCoreApplication::translate("PendingFile", text);
}

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}
} // namespace

PendingFile::PendingFile(const QString &finalPath) : m_finalPath(QFileInfo(finalPath).absoluteFilePath()) {}

PendingFile::~PendingFile() {
    if (!m_committed)
        discard();
}

bool PendingFile::create(QString *error) {
    const QFileInfo target(m_finalPath);
    // The temporary name adds 14 bytes at most ("." before, ".<7 letters>.part" after):
    // a final name near the limit on one name is shortened in it.
    const QString stem =
        target.absolutePath() + QLatin1String("/.") + FileNameFit::shortened(target.fileName(), 14) + QLatin1Char('.');
    // Created with open(2) and mode 0666, so the finished file gets the permissions the
    // user's umask gives every new file (a QTemporaryFile would be private to the user).
    int err = 0;
    QMutexLocker locker(&pendingLock());
    if (g_abandoned) {
        if (error)
            *error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(m_finalPath), systemError(ECANCELED));
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate =
            stem + QString::number(QRandomGenerator::global()->generate(), 36) + QLatin1String(".part");
        const int fd =
            ::open(QFile::encodeName(candidate).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temporaryPath = candidate;
            pendingFiles().insert(candidate);
            return true;
        }
        err = errno;
        if (err != EEXIST)
            break;
    }
    if (error)
        *error =
            tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(m_finalPath), systemError(err));
    return false;
}

bool PendingFile::commit(bool overwrite, QString *error) {
    if (m_temporaryPath.isEmpty() || m_committed) {
        if (error)
            *error = tr("%1 could not be written.").arg(QDir::toNativeSeparators(m_finalPath));
        return false;
    }
    if (m_fd >= 0) {
        // The last chance to hear of a write that failed (a full disk on a network share).
        const int closed = ::close(m_fd);
        const int err = errno;
        m_fd = -1;
        if (closed != 0 && err != EINTR) {
            if (error)
                *error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(m_finalPath), systemError(err));
            return false;
        }
    }
    QMutexLocker locker(&pendingLock());
    if (g_abandoned) {
        if (error)
            *error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(m_finalPath), systemError(ECANCELED));
        return false;
    }
    const QByteArray from = QFile::encodeName(m_temporaryPath);
    const QByteArray to = QFile::encodeName(m_finalPath);
    if (overwrite) {
        if (::rename(from.constData(), to.constData()) != 0) {
            if (error)
                *error = tr("%1 could not be written: %2")
                             .arg(QDir::toNativeSeparators(m_finalPath), systemError(errno));
            return false;
        }
    } else if (::link(from.constData(), to.constData()) == 0) {
        // A hard link claims the name only if it is free, in one step; the temporary
        // name then goes.
        ::unlink(from.constData());
    } else {
        const int err = errno;
        if (err == EEXIST) {
            if (error)
                *error = tr("%1 already exists.").arg(QDir::toNativeSeparators(m_finalPath));
            return false;
        }
        // File systems without hard links: check, then rename (a small window remains).
        if (QFileInfo::exists(m_finalPath)) {
            if (error)
                *error = tr("%1 already exists.").arg(QDir::toNativeSeparators(m_finalPath));
            return false;
        }
        if (::rename(from.constData(), to.constData()) != 0) {
            if (error)
                *error = tr("%1 could not be written: %2")
                             .arg(QDir::toNativeSeparators(m_finalPath), systemError(errno));
            return false;
        }
    }
    m_committed = true;
    pendingFiles().remove(m_temporaryPath);
    m_temporaryPath.clear();
    return true;
}

void PendingFile::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    QMutexLocker locker(&pendingLock());
    if (!m_temporaryPath.isEmpty() && !g_abandoned) {
        QFile::remove(m_temporaryPath);
        pendingFiles().remove(m_temporaryPath);
    }
    m_temporaryPath.clear();
}

bool PendingFile::createFolder(const QString &folder, QString *reason) {
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (QFileInfo(path).isDir())
        return true;
    // Only what is missing above is made: a file in the way there is reported by the
    // mkdir below it ("Not a directory"), as the system sees it.
    const QString parent = QFileInfo(path).absolutePath();
    struct stat st;
    if (parent != path && ::lstat(QFile::encodeName(parent).constData(), &st) != 0 && errno == ENOENT &&
        !createFolder(parent, reason))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), 0777) == 0)
        return true;
    const int err = errno;
    // Made meanwhile by another export.
    if (err == EEXIST && QFileInfo(path).isDir())
        return true;
    if (reason)
        *reason = systemError(err);
    return false;
}

void PendingFile::abandonAll() {
    // Never unlocked: the caller ends the program, and no write may start or finish
    // after this.
    pendingLock().lock();
    g_abandoned = true;
    for (const QString &file : qAsConst(pendingFiles()))
        ::unlink(QFile::encodeName(file).constData());
    for (const QString &folder : qAsConst(pendingFolders()))
        QDir(folder).removeRecursively();
}

bool PendingFile::createTrackedFolder(const QString &folder, int *err) {
    QMutexLocker locker(&pendingLock());
    if (g_abandoned) {
        *err = ECANCELED;
        return false;
    }
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0) {
        *err = errno;
        return false;
    }
    pendingFolders().insert(folder);
    return true;
}

PendingFile::CommitLock::CommitLock() {
    pendingLock().lock();
}

PendingFile::CommitLock::~CommitLock() {
    pendingLock().unlock();
}

bool PendingFile::CommitLock::abandoned() const {
    return g_abandoned;
}

void PendingFile::trackFolder(const QString &folder, bool tracked) {
    QMutexLocker locker(&pendingLock());
    if (tracked)
        pendingFolders().insert(folder);
    else
        pendingFolders().remove(folder);
}
