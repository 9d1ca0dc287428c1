#include "SliceExporter.h"

#include "CueMarkers.h"
#include "ExportResampler.h"
#include "FileNameFit.h"
#include "PendingFile.h"
#include "PersistLogging.h"
#include "Settings.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sndfile.h>
#include <vector>

namespace {
constexpr int kBlockFrames = 16384;
constexpr double kFadeMs = 2.0;
// The largest file a subclass that asked for memory gets in memory; larger ones go to
// disk as usual.
constexpr qint64 kMemoryFileLimit = qint64(64) << 20;
// The most audio bytes a WAV or AIFF file holds, with room left in its 32-bit sizes for
// the header, the markers and their labels.
constexpr qint64 kMostRiffBytes = qint64(0xFFFFFFFF) - (qint64(16) << 20);

// The bytes of PCM audio in a file of that format, without its header; -1 when the
// subtype is compressed or unknown.
qint64 pcmBytes(int format, qint64 frames, int channels) {
    int width;
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        width = 1;
        break;
    case SF_FORMAT_PCM_16:
        width = 2;
        break;
    case SF_FORMAT_PCM_24:
        width = 3;
        break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        width = 4;
        break;
    default:
        return -1;
    }
    return frames * channels * width;
}

// A growing byte array that libsndfile writes a file into through its virtual I/O
// (it seeks back to finish the header when it closes).
struct MemoryFile {
    QByteArray bytes;
    qint64 pos = 0;

    static sf_count_t length(void *self) { return static_cast<MemoryFile *>(self)->bytes.size(); }
    static sf_count_t seek(sf_count_t offset, int whence, void *self) {
        auto *m = static_cast<MemoryFile *>(self);
        const qint64 base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? m->bytes.size() : 0;
        if (base + offset < 0)
            return -1;
        m->pos = base + offset;
        return m->pos;
    }
    static sf_count_t read(void *to, sf_count_t count, void *self) {
        auto *m = static_cast<MemoryFile *>(self);
        const qint64 n = std::max<qint64>(0, std::min<qint64>(count, m->bytes.size() - m->pos));
        if (n > 0)
            std::memcpy(to, m->bytes.constData() + m->pos, size_t(n));
        m->pos += n;
        return n;
    }
    static sf_count_t write(const void *from, sf_count_t count, void *self) {
        auto *m = static_cast<MemoryFile *>(self);
        const qint64 end = m->pos + count;
        if (end > std::numeric_limits<int>::max())
            return 0;
        if (end > m->bytes.size())
            m->bytes.resize(int(end));
        std::memcpy(m->bytes.data() + m->pos, from, size_t(count));
        m->pos = end;
        return count;
    }
    static sf_count_t tell(void *self) { return static_cast<MemoryFile *>(self)->pos; }
};

// Reads one span of the cache as interleaved stereo, with the optional edge fades.
class RangeReader {
public:
    RangeReader(AudioCache *cache, bool reversed, SliceExporter::Range range, int fadeFrames)
        : m_cache(cache), m_bReversed(reversed), m_start(range.start), m_end(range.end), m_pos(range.start),
          m_fadeFrames(fadeFrames) {}

    // Copies up to count samples (whole frames) and returns how many; 0 at the end.
    int read(float *buffer, int count) {
        count = std::min(count & ~1, m_end - m_pos);
        if (count <= 0)
            return 0;
        // A cache shorter than promised reads as silence.
        m_cache->readAsPlayed(buffer, count, m_pos, m_bReversed);
        if (m_fadeFrames > 0)
            applyFades(buffer, count);
        m_pos += count;
        return count;
    }

private:
    void applyFades(float *buffer, int count) {
        const qint64 totalFrames = (m_end - m_start) / 2;
        const qint64 first = (m_pos - m_start) / 2;
        if (first >= m_fadeFrames && first + count / 2 <= totalFrames - m_fadeFrames)
            return; // a block in the middle of the span
        for (int i = 0; i < count / 2; ++i) {
            const qint64 f = first + i;
            const qint64 fromEnd = totalFrames - 1 - f;
            float gain = 1.0f;
            if (f < m_fadeFrames)
                gain = float(f) / float(m_fadeFrames);
            if (fromEnd < m_fadeFrames)
                gain = std::min(gain, float(fromEnd) / float(m_fadeFrames));
            buffer[2 * i] *= gain;
            buffer[2 * i + 1] *= gain;
        }
    }

    AudioCache *m_cache;
    bool m_bReversed;
    int m_start;
    int m_end;
    int m_pos;
    int m_fadeFrames;
};

QString withCopyNumber(const QString &path, int k) {
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    QString base = info.completeBaseName();
    QString tail = QStringLiteral(" (%1)").arg(k);
    if (!suffix.isEmpty())
        tail += QLatin1Char('.') + suffix;
    // A name too long for the number is shortened before its slice number, which keeps
    // the batch's names apart.
    static const QRegularExpression sliceNumber(QStringLiteral("_\\d+$"));
    const QRegularExpressionMatch match = sliceNumber.match(base);
    if (match.hasMatch()) {
        tail.prepend(match.captured());
        base.chop(match.capturedLength());
    }
    return info.absoluteDir().filePath(FileNameFit::fit(base, tail));
}

bool isWritableFolder(const QString &folder) {
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}
} // namespace

SliceExporter::SliceExporter(SlicePtr loop, QObject *parent) : QObject(parent), m_pLoop(std::move(loop)) {
    if (m_pLoop) {
        m_pLoop->setCancelRequested(false);
        m_pCache = m_pLoop->cache();
        m_bReversed = m_pLoop->isReversed();
        if (m_pLoop->fileSampleRate() > 0)
            m_iFileRate = m_pLoop->fileSampleRate();
    }
    m_format = ExportFormat::fromSettings();
    m_bFadeEdges = Settings::instance().value(QStringLiteral("fade_in_out_slices")).toInt() != 0;
}

SliceExporter::~SliceExporter() {
    stopRunning();
    delete m_pThread;
}

void SliceExporter::stopRunning() {
    if (m_pThread) {
        cancel();
        m_pThread->wait();
    }
}

QVector<SliceExporter::Range> SliceExporter::sliceRanges(const QList<int> &points, int trimStart,
                                                         int trimEnd) {
    QVector<Range> ranges;
    if (trimEnd <= trimStart)
        return ranges;
    QList<int> inside;
    for (int p : points)
        if (p > trimStart && p < trimEnd)
            inside.append(p & ~1);
    std::sort(inside.begin(), inside.end());
    int from = trimStart;
    for (int p : qAsConst(inside)) {
        if (p > from)
            ranges.append({from, p});
        from = std::max(from, p);
    }
    if (trimEnd > from)
        ranges.append({from, trimEnd});
    return ranges;
}

QVector<SliceExporter::Range> SliceExporter::sliceRanges(Trevant *slicer) {
    if (!slicer || !slicer->currentSlice())
        return {};
    return sliceRanges(slicer->slicePoints(), slicer->trimStart(), slicer->trimEnd());
}

SliceExporter::Range SliceExporter::sliceAt(Trevant *slicer, int position) {
    for (const Range &r : sliceRanges(slicer))
        if (r.start <= position && position < r.end)
            return r;
    return Range();
}

QString SliceExporter::sliceFileName(const QString &stem, int n, int count, const QString &extension) {
    const int width = std::max(2, int(QString::number(std::max(1, count)).size()));
    // Concatenated, not chained arg(): a loop name holding "%2" must stay as it is.
    return FileNameFit::fit(stem, QLatin1Char('_') + QStringLiteral("%1").arg(n, width, 10, QLatin1Char('0')) +
                                      QLatin1Char('.') + extension);
}

QString SliceExporter::quickExportFolder(const QString &loopFileName) {
    const QFileInfo loop(loopFileName);
    const QString folderName = FileNameFit::fit(loop.completeBaseName(), QStringLiteral(" slices"));
    if (isWritableFolder(loop.absolutePath()))
        return loop.absoluteDir().filePath(folderName);
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty())
        music = QDir::homePath();
    return QDir(music).filePath(QStringLiteral("Quillory/") + folderName);
}

SliceExporter *SliceExporter::forSlices(Trevant *slicer, const QString &folder, const QString &stem,
                                        QObject *parent) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    const QVector<Range> ranges = sliceRanges(slicer);
    if (!loop || loop->length() <= 0 || ranges.isEmpty())
        return nullptr;
    auto *exporter = new SliceExporter(loop, parent);
    exporter->addSlices(ranges, folder, stem.isEmpty() ? loop->baseName() : stem);
    return exporter;
}

SliceExporter *SliceExporter::forPrefix(Trevant *slicer, const QString &prefix, QObject *parent) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop)
        return nullptr;
    const QString cleaned = QDir::fromNativeSeparators(prefix.trimmed());
    const QFileInfo info(cleaned);
    const bool hasFolder = cleaned.contains(QLatin1Char('/'));
    const QString folder = hasFolder ? info.absolutePath() : QFileInfo(loop->fileName()).absolutePath();
    const QString stem = info.fileName().isEmpty() ? loop->baseName() : info.fileName();
    return forSlices(slicer, folder, stem, parent);
}

SliceExporter *SliceExporter::forQuickExport(Trevant *slicer, QObject *parent) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop)
        return nullptr;
    SliceExporter *exporter = forSlices(slicer, quickExportFolder(loop->fileName()), QString(), parent);
    if (exporter)
        exporter->setCollision(Collision::KeepBoth);
    return exporter;
}

SliceExporter *SliceExporter::forSpan(Trevant *slicer, const QString &path, Range range, QObject *parent) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop || loop->length() <= 0 || range.end <= range.start)
        return nullptr;
    auto *exporter = new SliceExporter(loop, parent);
    exporter->addFile(path, range);
    exporter->setCollision(Collision::Overwrite);
    return exporter;
}

SliceExporter *SliceExporter::forSaveAs(Trevant *slicer, const QString &path, QObject *parent) {
    if (!slicer)
        return nullptr;
    SliceExporter *exporter = forSpan(slicer, path, {slicer->trimStart(), slicer->trimEnd()}, parent);
    if (exporter &&
        Settings::instance().value(QStringLiteral("slice_markers_in_saved_loops")) != QLatin1String("0"))
        exporter->setMarkers(slicer->slicePoints(), exporter->m_pLoop->bpm());
    return exporter;
}

void SliceExporter::addSlices(const QVector<Range> &ranges, const QString &folder, const QString &stem,
                              const QString &extension) {
    const QDir dir(folder);
    for (int i = 0; i < ranges.size(); ++i)
        m_jobs.append({dir.absoluteFilePath(sliceFileName(stem, i + 1, ranges.size(), extension)), ranges.at(i)});
}

void SliceExporter::addFile(const QString &path, Range range) {
    m_jobs.append({QFileInfo(path).absoluteFilePath(), range});
}

void SliceExporter::setMarkers(const QList<int> &points, double bpm) {
    m_markers = points;
    std::sort(m_markers.begin(), m_markers.end());
    m_fMarkerBpm = bpm;
}

bool SliceExporter::prepareBatch(QString &) {
    return true;
}

bool SliceExporter::isCancelRequested() const {
    return m_pLoop && m_pLoop->isCancelRequested();
}

bool SliceExporter::completeBatch(QString &, bool &) {
    return true;
}

bool SliceExporter::jobWritten(const Job &, const QByteArray &, QString &) {
    return true;
}

void SliceExporter::batchEnded(Status) {}

void SliceExporter::reportProgress(float fraction) {
    if (m_pLoop)
        emit m_pLoop->savingProgress(std::max(0.0f, std::min(fraction, 1.0f)));
}

QStringList SliceExporter::existingTargets() const {
    QStringList existing;
    for (const Job &job : m_jobs)
        if (QFileInfo::exists(job.path))
            existing.append(job.path);
    return existing;
}

qint64 SliceExporter::outputFrames(qint64 inputFrames, int inputRate, int outputRate) {
    if (inputRate <= 0 || outputRate <= 0 || inputRate == outputRate)
        return inputFrames;
    return qint64(std::llround(double(inputFrames) * double(outputRate) / double(inputRate)));
}

QVector<SliceExporter::Job> SliceExporter::resolvedJobs(QString &error) const {
    QVector<Job> jobs = m_jobs;
    if (m_collision == Collision::Overwrite)
        return jobs;
    const QStringList existing = existingTargets();
    if (existing.isEmpty())
        return jobs;
    if (m_collision == Collision::Refuse) {
        error = existing.size() == 1
                    ? tr("%1 already exists.").arg(QDir::toNativeSeparators(existing.first()))
                    : tr("%1 files already exist, among them %2.")
                          .arg(existing.size())
                          .arg(QDir::toNativeSeparators(existing.first()));
        return {};
    }
    // Keep both: the whole batch gets one copy number, so its files stay together.
    for (int k = 2; k < 10000; ++k) {
        bool free = true;
        for (const Job &job : m_jobs)
            if (QFileInfo::exists(withCopyNumber(job.path, k))) {
                free = false;
                break;
            }
        if (free) {
            for (Job &job : jobs)
                job.path = withCopyNumber(job.path, k);
            return jobs;
        }
    }
    error = tr("No free file name was found for %1.").arg(QDir::toNativeSeparators(existing.first()));
    return {};
}

SliceExporter::Status SliceExporter::run() {
    {
        QMutexLocker locker(&m_resultLock);
        m_status = Status::Running;
        m_sError.clear();
        m_written.clear();
    }
    if (!m_pLoop || !m_pCache || m_pLoop->length() <= 0) {
        finish(Status::Failed, tr("There is no audio to export."));
        return status();
    }
    // A loop still decoding has zeros where its audio will be: wait for it.
    while (!m_pCache->isFilled()) {
        if (m_pLoop->isCancelRequested()) {
            finish(Status::Cancelled, QString());
            return status();
        }
        if (m_pCache->isFillCancelled()) {
            finish(Status::Failed, tr("The loop could not be read completely."));
            return status();
        }
        QThread::msleep(10);
    }

    QString error;
    if (!prepareBatch(error)) {
        finish(Status::Failed, error);
        return status();
    }
    if (m_jobs.isEmpty()) {
        finish(Status::Failed, tr("There are no slices to export."));
        return status();
    }
    const QVector<Job> jobs = resolvedJobs(error);
    if (jobs.isEmpty()) {
        finish(Status::Failed, error);
        return status();
    }

    qint64 totalFrames = 0;
    for (const Job &job : jobs)
        totalFrames += std::max(0, job.range.end - job.range.start) / 2;
    qint64 framesDone = 0;
    float lastProgress = 0.0f;
    emit m_pLoop->savingProgress(0.0f);

    for (const Job &job : jobs) {
        bool cancelled = false;
        if (!writeOne(job, framesDone, totalFrames, lastProgress, error, cancelled)) {
            finish(cancelled ? Status::Cancelled : Status::Failed, error);
            return status();
        }
    }
    bool cancelled = false;
    if (!completeBatch(error, cancelled)) {
        finish(cancelled ? Status::Cancelled : Status::Failed, error);
        return status();
    }
    finish(Status::Completed, QString());
    return status();
}

bool SliceExporter::writeOne(const Job &job, qint64 &framesDone, qint64 totalFrames, float &lastProgress,
                             QString &error, bool &cancelled) {
    const QFileInfo target(job.path);
    QString why;
    if (!PendingFile::createFolder(target.absolutePath(), &why)) {
        error = tr("The folder %1 could not be created: %2.")
                    .arg(QDir::toNativeSeparators(target.absolutePath()), why);
        return false;
    }
    const int start = std::max(0, job.range.start) & ~1;
    const int end = std::min(job.range.end, m_pCache->length()) & ~1;
    const qint64 inFrames = std::max(0, end - start) / 2;
    const int outRate = m_format.targetRate(m_iFileRate);
    // Each boundary is rounded onto the new rate's grid once, so consecutive slices
    // still add up to the converted loop and line up when placed end to end.
    const qint64 outFrames = outputFrames(end / 2, m_iFileRate, outRate) -
                             outputFrames(std::min(start, end) / 2, m_iFileRate, outRate);
    // A span shorter than a frame of the new rate converts to nothing, and libsndfile
    // writes an empty FLAC or AIFF as a file no program opens (a FLAC of 0 bytes): such
    // a slice is refused with the reason rather than written as if it were there.
    if (outFrames <= 0) {
        error = tr("%1 would hold no audio: %2 frames at %3 Hz are less than one at %4 Hz.")
                    .arg(QDir::toNativeSeparators(job.path))
                    .arg(inFrames)
                    .arg(m_iFileRate)
                    .arg(outRate);
        return false;
    }

    SF_INFO info{};
    info.samplerate = outRate;
    info.channels = 2;
    info.format = m_format.sndfileFormat(job.path);
    // WAV and AIFF count their bytes in 32 bits: past 4 GiB the sizes wrap and the file
    // reads as a fraction of itself (a three-hour set in float comes out as 1:27 of it).
    // Such a WAV becomes RF64, the WAV that counts in 64 bits, which keeps the name;
    // AIFF has no such form, so such a slice is refused with the reason.
    const qint64 riffBytes = pcmBytes(info.format, outFrames, info.channels);
    if (riffBytes > kMostRiffBytes) {
        if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
            info.format = SF_FORMAT_RF64 | (info.format & SF_FORMAT_SUBMASK);
        } else if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF) {
            error = tr("%1 would be larger than an AIFF file can hold (4 GB); WAV or FLAC can hold it.")
                        .arg(QDir::toNativeSeparators(job.path));
            return false;
        }
    }
    if (!sf_format_check(&info)) {
        error = tr("%1 cannot be written in this format.").arg(QDir::toNativeSeparators(job.path));
        return false;
    }

    // Markers strictly inside the span, on the written file's own grid; the label
    // counts slices from the file's start, so the first marker starts slice 2.
    QVector<qint64> markerFrames;
    QStringList markerLabels;
    for (int p : qAsConst(m_markers)) {
        if (p <= start || p >= end)
            continue;
        const qint64 frame =
            outputFrames((p & ~1) / 2, m_iFileRate, outRate) - outputFrames(start / 2, m_iFileRate, outRate);
        if (frame <= 0 || frame >= outFrames || (!markerFrames.isEmpty() && markerFrames.last() == frame))
            continue;
        markerFrames.append(frame);
        markerLabels.append(tr("Slice %1").arg(markerFrames.size() + 1));
    }
    const bool isWav = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64 &&
        (!markerFrames.isEmpty() || m_fMarkerBpm > 0.0)) {
        // libsndfile writes no cue chunk into RF64, and the labels and tempo are appended
        // to RIFF sizes only: the audio is what such a file is for.
        qCWarning(lcPersist).noquote()
            << QStringLiteral("%1: over 4 GB, so written as RF64, without its cue markers and tempo")
                   .arg(QDir::toNativeSeparators(job.path));
        markerFrames.clear();
        markerLabels.clear();
    }
    const bool appendsChunks = isWav && (!markerFrames.isEmpty() || m_fMarkerBpm > 0.0);

    // The labels and tempo are appended to a closed file on disk, so a file that gets
    // them is always written there.
    const qint64 audioBytes = pcmBytes(info.format, outFrames, info.channels);
    const bool inMemory =
        m_bMemoryTargets && !appendsChunks && audioBytes >= 0 && audioBytes <= kMemoryFileLimit;
    MemoryFile memory;
    PendingFile pending(job.path);
    SNDFILE *file = nullptr;
    if (inMemory) {
        memory.bytes.reserve(int(audioBytes) + 4096);
        SF_VIRTUAL_IO io{&MemoryFile::length, &MemoryFile::seek, &MemoryFile::read, &MemoryFile::write,
                         &MemoryFile::tell};
        file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    } else {
        if (!pending.create(&error))
            return false;
        // libsndfile gets a descriptor of its own: when it cannot open (a full disk while
        // writing the header) it closes the one it was given whatever it was told, and the
        // pending file's own, closed a second time at the discard, could by then be
        // another thread's file.
        const int own = ::fcntl(pending.descriptor(), F_DUPFD_CLOEXEC, 0);
        if (own < 0) {
            // libsndfile has no error of its own to tell here (it would say "No Error").
            error = tr("%1 could not be written: %2")
                        .arg(QDir::toNativeSeparators(job.path), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        file = sf_open_fd(own, SFM_WRITE, &info, SF_TRUE);
    }
    if (!file) {
        error = tr("%1 could not be written: %2")
                    .arg(QDir::toNativeSeparators(job.path), QString::fromLocal8Bit(sf_strerror(nullptr)));
        return false;
    }
    // Values beyond full scale are clipped, not wrapped round into loud clicks.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (!markerFrames.isEmpty() && !CueMarkers::set(file, markerFrames, markerLabels)) {
        qCWarning(lcPersist).noquote() << QStringLiteral("%1: its %2 cue markers are left out, more than the file's header holds")
                                              .arg(QDir::toNativeSeparators(job.path))
                                              .arg(markerFrames.size());
        // Labels without their markers would name cues the file does not have.
        markerLabels.clear();
    }

    const int fadeFrames =
        m_bFadeEdges ? int(std::min<qint64>(qint64(m_iFileRate * kFadeMs / 1000.0), inFrames / 2)) : 0;
    RangeReader reader(m_pCache.data(), m_bReversed, {start, end}, fadeFrames);
    std::unique_ptr<ExportResampler> resampler;
    if (outRate != m_iFileRate) {
        resampler.reset(new ExportResampler(m_iFileRate, outRate));
        if (!resampler->isValid()) {
            sf_close(file);
            error =
                tr("%1 cannot be converted to %2 Hz.").arg(QDir::toNativeSeparators(job.path)).arg(outRate);
            return false;
        }
    }
    const auto readInput = [&reader](float *buffer, int frames) {
        return reader.read(buffer, 2 * frames) / 2;
    };

    std::vector<float> block(size_t(2 * kBlockFrames));
    qint64 written = 0;
    bool ok = true;
    const auto report = [&](qint64 frames) {
        framesDone += frames;
        const float progress =
            m_fFileShare * (totalFrames > 0 ? float(double(framesDone) / double(totalFrames)) : 1.0f);
        if (progress - lastProgress >= 0.01f || progress >= m_fFileShare) {
            lastProgress = progress;
            emit m_pLoop->savingProgress(std::min(progress, 1.0f));
        }
    };

    qint64 consumed = 0;
    while (written < outFrames) {
        if (m_pLoop->isCancelRequested()) {
            cancelled = true;
            ok = false;
            break;
        }
        const int want = int(std::min<qint64>(kBlockFrames, outFrames - written));
        int got;
        if (resampler) {
            got = resampler->produce(block.data(), want, readInput);
            if (got < want) {
                // The filter's tail may end a frame or two short of the exact length.
                std::fill(block.begin() + 2 * got, block.begin() + 2 * want, 0.0f);
                got = want;
            }
        } else {
            got = reader.read(block.data(), 2 * want) / 2;
            if (got <= 0)
                break;
        }
        if (sf_writef_float(file, block.data(), got) != got) {
            error = tr("%1 could not be written completely: %2")
                        .arg(QDir::toNativeSeparators(job.path), QString::fromLocal8Bit(sf_strerror(file)));
            ok = false;
            break;
        }
        written += got;
        const qint64 nowConsumed =
            resampler ? std::min<qint64>(resampler->framesConsumed(), inFrames) : written;
        report(nowConsumed - consumed);
        consumed = nowConsumed;
    }
    if (ok && consumed < inFrames)
        report(inFrames - consumed);

    const int closeError = sf_close(file);
    if (ok && closeError != 0) {
        error =
            tr("%1 could not be written completely: %2")
                .arg(QDir::toNativeSeparators(job.path), QString::fromLocal8Bit(sf_error_number(closeError)));
        ok = false;
    }
    if (ok && appendsChunks &&
        !CueMarkers::appendWavChunks(pending.temporaryPath(), markerLabels, m_fMarkerBpm, outFrames, outRate,
                                     &error))
        ok = false;
    if (!ok)
        return false; // the pending file removes its temporary file
    if (inMemory)
        return jobWritten(job, memory.bytes, error);
    if (!pending.commit(m_collision == Collision::Overwrite, &error))
        return false;

    {
        QMutexLocker locker(&m_resultLock);
        m_written.append(target.absoluteFilePath());
    }
    if (m_bAnnounceFiles)
        emit fileWritten(QDir::toNativeSeparators(target.absolutePath()), target.fileName());
    return jobWritten(job, QByteArray(), error);
}

void SliceExporter::finish(Status status, const QString &error) {
    batchEnded(status);
    {
        QMutexLocker locker(&m_resultLock);
        m_status = status;
        m_sError = error;
    }
    if (!error.isEmpty())
        qCDebug(lcPersist) << "Export failed:" << error;
    if (!m_pLoop)
        return;
    if (status == Status::Completed) {
        emit m_pLoop->savingProgress(1.0f);
        emit m_pLoop->savingComplete();
    } else {
        // A failure also ends the progress message; the caller shows errorMessage().
        emit m_pLoop->savingCancelled();
    }
}

void SliceExporter::start() {
    if (m_pThread)
        return;
    {
        QMutexLocker locker(&m_resultLock);
        m_status = Status::Running;
    }
    m_pThread = QThread::create([this] { run(); });
    m_pThread->setObjectName(QStringLiteral("SliceExporter"));
    connect(m_pThread, &QThread::finished, this, [this] {
        m_pThread->wait();
        delete m_pThread;
        m_pThread = nullptr;
        emit finished();
    });
    m_pThread->start();
}

bool SliceExporter::isRunning() const {
    return m_pThread != nullptr || status() == Status::Running;
}

void SliceExporter::cancel() {
    if (m_pLoop)
        m_pLoop->setCancelRequested(true);
}

SliceExporter::Status SliceExporter::status() const {
    QMutexLocker locker(&m_resultLock);
    return m_status;
}

QString SliceExporter::errorMessage() const {
    QMutexLocker locker(&m_resultLock);
    return m_sError;
}

QStringList SliceExporter::writtenFiles() const {
    QMutexLocker locker(&m_resultLock);
    return m_written;
}
