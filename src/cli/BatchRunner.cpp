#include "BatchRunner.h"

#include "AudioFile.h"
#include "ExportFormat.h"
#include "FileNameFit.h"
#include "KitExporter.h"
#include "LoopTask.h"
#include "SliceExporter.h"
#include "TempoAnalysis.h"
#include "Trevant.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
std::atomic<bool> g_stop{false};

void writeOut(FILE *stream, const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

QString bpmText(double bpm) {
    return QString::number(bpm, 'f', 2);
}

QString clock(qint64 seconds) {
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Several warnings about one file share its line.
void addWarning(const QString &text, QString *warning) {
    *warning = warning->isEmpty() ? text : *warning + QStringLiteral("; ") + text;
}

// More than two channels load as silence, as in the window: said, and counted as a bad
// input, so that a script does not take the empty result for the file's.
void addSilentChannelsWarning(int channels, QString *warning) {
    if (channels > 2)
        addWarning(QStringLiteral("%1 channels: only mono and stereo audio is read, so it is silent").arg(channels),
                   warning);
}

// The name a folder input's slices are filed under: its name as given, or for ".", ".."
// and the like the name of the folder they stand for.
QString folderName(const QString &given) {
    const QString name = QFileInfo(QDir::cleanPath(given)).fileName();
    if (!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String(".."))
        return name;
    return QFileInfo(QFileInfo(given).canonicalFilePath()).fileName();
}

// A name taken from the user's files, made fit to be one part of an output path: "."
// and ".." would lead out of their folder and an empty one into it, so they become
// underscores, still recognisable in a listing.
QString safeName(const QString &name) {
    if (name.isEmpty())
        return QStringLiteral("_");
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QString(name.size(), QLatin1Char('_'));
    return QString(name).replace(QLatin1Char('/'), QLatin1Char('_'));
}

// The entries of folder whose names are not valid in the file-name encoding (UTF-8):
// Qt leaves them out of every listing, since no QString names them, so they are read
// here from the system's own listing, with U+FFFD where their bytes do not decode.
struct UndecodableEntry {
    QString name;
    bool isFolder = false;
};
QVector<UndecodableEntry> undecodableEntries(const QString &folder) {
    QVector<UndecodableEntry> out;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return out;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray raw(e->d_name);
        if (raw == "." || raw == ".." || QFile::encodeName(QFile::decodeName(raw)) == raw)
            continue;
        bool isFolder = e->d_type == DT_DIR;
        struct stat st;
        if (e->d_type == DT_UNKNOWN && ::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0)
            isFolder = S_ISDIR(st.st_mode);
        out.append({QFile::decodeName(raw), isFolder});
    }
    ::closedir(dir);
    return out;
}

bool isInside(const QString &path, const QString &folder) {
    return path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}
} // namespace

BatchRunner::BatchRunner(const CliOptions &options) : m_options(options) {}

void BatchRunner::requestStop() {
    g_stop.store(true);
    // A reader counting a long file's length at open (a WMA is decoded through) stops too.
    AudioFile::setOpeningStopped(true);
}

void BatchRunner::expandInputs() {
    const QStringList suffixes = AudioFile::openableSuffixes();
    const QString outRoot = QDir(m_options.outDir).absolutePath();
    QSet<QString> usedOutDirs;
    const auto add = [&](const QString &path, const QStringList &relativeDir) {
        Input in;
        in.path = path;
        if (m_options.command == CliOptions::Command::Slice) {
            // Each input gets a folder of its own; a name met twice gets a number so
            // that two loops never write into one folder.
            in.stem = safeName(QFileInfo(path).completeBaseName());
            QString parent = outRoot;
            for (const QString &part : relativeDir)
                parent += QLatin1Char('/') + safeName(part);
            parent = QDir::cleanPath(parent) + QLatin1Char('/');
            // The folder's name fits the limit on one name, its number included: two
            // loops whose names differ only beyond it get folders of their own.
            QString dir = parent + FileNameFit::fit(in.stem);
            for (int k = 2; usedOutDirs.contains(dir); ++k)
                dir = parent + FileNameFit::fit(in.stem, QStringLiteral(" (%1)").arg(k));
            usedOutDirs.insert(dir);
            in.outDir = dir;
            if (!isInside(dir, outRoot))
                in.problem = QStringLiteral("its slices would be written outside %1").arg(m_options.outDir);
        }
        m_inputs.append(in);
    };
    // Slices written into an input folder would be sliced themselves by the next run.
    const QString outCanonical = m_options.command == CliOptions::Command::Slice
                                     ? QFileInfo(m_options.outDir).canonicalFilePath()
                                     : QString();
    for (const QString &given : m_options.inputs) {
        const QFileInfo info(given);
        if (!info.isDir()) {
            add(given, QStringList());
            continue;
        }
        Input bad;
        bad.path = given;
        if (!info.isReadable() || !info.isExecutable())
            bad.problem = QStringLiteral("folder cannot be read");
        else if (!outCanonical.isEmpty() && (info.canonicalFilePath() == outCanonical ||
                                             isInside(info.canonicalFilePath(), outCanonical)))
            bad.problem =
                QStringLiteral("lies inside the output folder %1, so the next run would slice its slices")
                    .arg(m_options.outDir);
        if (!bad.problem.isEmpty()) {
            m_inputs.append(bad);
            continue;
        }
        // The audio files below the folder, and its subfolders that cannot be read: an
        // unreadable file or folder is reported, never passed over in silence.
        struct Found {
            QString path;
            QStringList relativeDir;
            QString problem; // set for what is reported rather than worked on
        };
        QVector<Found> found;
        QVector<Found> pending{{given, {}, QString()}};
        while (!pending.isEmpty()) {
            const Found folder = pending.takeLast();
            const QFileInfoList entries =
                QDir(folder.path)
                    .entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
            for (const QFileInfo &entry : entries) {
                if (entry.isDir()) {
                    // Linked folders are not followed: they may lead in a circle.
                    if (entry.isSymLink() ||
                        (!outCanonical.isEmpty() && entry.canonicalFilePath() == outCanonical))
                        continue;
                    const bool readable = entry.isReadable() && entry.isExecutable();
                    const Found sub{entry.filePath(), folder.relativeDir + QStringList(entry.fileName()),
                                    readable ? QString() : QStringLiteral("folder cannot be read")};
                    (readable ? pending : found).append(sub);
                } else if (suffixes.contains(entry.suffix().toLower())) {
                    // Named as audio but not a file that opens (a link to nothing, a
                    // pipe): still an input, whose failure is said.
                    found.append({entry.filePath(), folder.relativeDir, QString()});
                }
            }
            for (const UndecodableEntry &entry : undecodableEntries(folder.path)) {
                if (entry.isFolder || suffixes.contains(QFileInfo(entry.name).suffix().toLower()))
                    found.append(
                        {QDir(folder.path).filePath(entry.name), folder.relativeDir,
                         QStringLiteral("its name is not valid UTF-8, so it cannot be opened; rename it")});
            }
        }
        std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.path < b.path; });
        QString top = folderName(given);
        if (top.isEmpty())
            top = QStringLiteral("input");
        for (const Found &f : qAsConst(found)) {
            if (!f.problem.isEmpty()) {
                Input bad;
                bad.path = f.path;
                bad.problem = f.problem;
                m_inputs.append(bad);
            } else {
                add(f.path, QStringList(top) + f.relativeDir);
            }
        }
        if (found.isEmpty()) {
            Input none;
            none.path = given;
            none.problem = QStringLiteral("holds no audio files");
            m_inputs.append(none);
        }
    }
}

int BatchRunner::run() {
    expandInputs();
    if (m_options.command == CliOptions::Command::Slice) {
        QStringList read{m_options.templatePath};
        for (const Input &in : qAsConst(m_inputs))
            read.append(in.path);
        for (const QString &path : qAsConst(read)) {
            const QFileInfo info(path);
            if (!path.isEmpty() && info.isFile())
                m_readFiles.insert(info.canonicalFilePath());
        }
    }
    m_results = QList<Result>();
    for (int i = 0; i < m_inputs.size(); ++i)
        m_results.append(Result());

    int jobs = m_options.jobs > 0 ? m_options.jobs : std::max(1, QThread::idealThreadCount());
    jobs = std::min(jobs, std::max(1, int(m_inputs.size())));
    std::vector<std::thread> workers;
    for (int i = 0; i < jobs; ++i)
        workers.emplace_back([this] { work(); });

    const bool showProgress = isatty(STDERR_FILENO) != 0;
    // The first failure to write the results (a full disk, a closed file): a script
    // reading them must not take what got through for the whole answer.
    int outputError = 0;
    int printed = 0;
    bool anyFailed = false;
    bool stopping = false;
    for (;;) {
        if (g_stop.load() && !stopping) {
            stopping = true;
            cancelActiveExports();
        }
        QList<Result> ready;
        bool all;
        {
            QMutexLocker locker(&m_lock);
            while (printed + ready.size() < m_results.size() && m_results.at(printed + ready.size()).ready)
                ready.append(m_results.at(printed + ready.size()));
            all = m_done == m_results.size();
        }
        if (!ready.isEmpty() && showProgress)
            writeOut(stderr, QStringLiteral("\r\033[K"));
        for (const Result &r : qAsConst(ready)) {
            if (!r.output.isEmpty()) {
                errno = 0;
                writeOut(stdout, r.output);
                if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && outputError == 0)
                    outputError = errno != 0 ? errno : EIO;
            }
            if (!r.error.isEmpty())
                writeOut(stderr, r.error);
            anyFailed = anyFailed || r.failed;
        }
        printed += ready.size();
        if (all && printed == m_results.size())
            break;
        if (showProgress)
            drawProgress(false);
        // Woken by the next result, so that the last one is printed (and the program
        // ends) at once; the timeout keeps the progress bar and Ctrl+C responsive.
        QMutexLocker locker(&m_lock);
        if (!m_results.at(printed).ready)
            m_resultReady.wait(&m_lock, 50);
    }
    for (std::thread &t : workers)
        t.join();
    if (showProgress)
        drawProgress(true);
    if (outputError != 0)
        writeOut(stderr,
                 QStringLiteral("quillory-cli: the results could not be written to standard output: %1\n")
                     .arg(QString::fromLocal8Bit(std::strerror(outputError))));
    if (stopping) {
        writeOut(stderr, QStringLiteral("quillory-cli: interrupted; only whole files were written\n"));
        return 130;
    }
    return anyFailed || outputError != 0 ? 1 : 0;
}

void BatchRunner::drawProgress(bool final) {
    if (final) {
        writeOut(stderr, QStringLiteral("\r\033[K"));
        return;
    }
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    int done;
    QString current;
    {
        QMutexLocker locker(&m_lock);
        done = m_done;
        current = m_current;
    }
    const int total = std::max(1, int(m_results.size()));
    const int width = 24;
    const int filled = width * done / total;
    QString left = QStringLiteral("--:--");
    if (done > 0)
        left = clock(timer.elapsed() / 1000 * (total - done) / done);
    const QString line = QStringLiteral("\r\033[K[%1%2] %3/%4  %5 left  %6")
                             .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('.')))
                             .arg(done)
                             .arg(total)
                             .arg(left, QFileInfo(current).fileName());
    writeOut(stderr, line);
    std::fflush(stderr);
}

void BatchRunner::work() {
    for (;;) {
        int index;
        {
            QMutexLocker locker(&m_lock);
            if (m_next >= m_inputs.size())
                return;
            index = m_next++;
            m_current = m_inputs.at(index).path;
        }
        Result r;
        if (g_stop.load()) {
            r.failed = true;
        } else {
            r = process(m_inputs.at(index));
        }
        r.ready = true;
        QMutexLocker locker(&m_lock);
        m_results[index] = r;
        ++m_done;
        m_resultReady.wakeAll();
    }
}

BatchRunner::Result BatchRunner::process(const Input &input) {
    Result r;
    QString error = input.problem;
    QString warning;
    bool badInput = true; // whether a warning counts the file as bad
    if (error.isEmpty()) {
        if (m_options.command == CliOptions::Command::Tempo ||
            m_options.command == CliOptions::Command::Info) {
            FileTempo tempo;
            if (detectFileTempo(input.path, g_stop, &tempo, &error)) {
                r.output = tempoLine(input, tempo);
                if (tempo.missingFrames > 0)
                    warning = truncationWarning(tempo.missingFrames, tempo.sampleRate);
                // info's line describes the file truly, channels included: its 0 BPM
                // is explained, but the file is not counted as bad for it.
                if (m_options.command == CliOptions::Command::Info)
                    badInput = tempo.missingFrames > 0;
                addSilentChannelsWarning(tempo.channels, &warning);
            }
        } else {
            LoopTask task;
            if (task.open(input.path, g_stop, &error)) {
                // Said before the work, so that it stands even when the work fails.
                if (task.missingFrames() > 0)
                    warning = truncationWarning(task.missingFrames(), task.loop()->fileSampleRate());
                addSilentChannelsWarning(task.loop()->fileChannels(), &warning);
                if (m_options.command == CliOptions::Command::Slice) {
                    // Slices of silence would pass for the loop's: none are written.
                    if (task.loop()->fileChannels() <= 2)
                        exportSlices(input, task, &error, &warning);
                } else {
                    r.output = pointsLine(input, task, &error);
                }
            }
        }
    }
    // A cut-off file is still worked on, its result printed or written, but it counts
    // as a bad input.
    if (!warning.isEmpty() && !g_stop.load()) {
        r.failed = badInput;
        r.error = QStringLiteral("quillory-cli: %1: %2\n").arg(input.path, warning);
    }
    if (!error.isEmpty()) {
        r.failed = true;
        r.output.clear();
        if (!g_stop.load())
            r.error += QStringLiteral("quillory-cli: %1: %2\n").arg(input.path, error);
    }
    return r;
}

QString BatchRunner::tempoLine(const Input &input, const FileTempo &tempo) const {
    switch (m_options.command) {
    case CliOptions::Command::Tempo: {
        const double bpm = tempo.bpm;
        // Relations are to the tempo printed, which is the one detection stored.
        const TempoAnalysis analysis = m_options.alternatives ? tempo.analysis : TempoAnalysis();
        if (m_options.json) {
            QJsonObject o{{"file", input.path}, {"bpm", bpm}};
            if (m_options.alternatives) {
                QJsonArray alternatives;
                for (const TempoAlternative &a : analysis.alternatives) {
                    const QString relation = TempoText::relationAscii(double(a.numerator) / a.denominator);
                    alternatives.append(QJsonObject{{"bpm", a.bpm},
                                                    {"relation", relation},
                                                    {"score", a.score},
                                                    {"bars", a.bars},
                                                    {"beatsPerBar", a.beatsPerBar}});
                }
                o.insert("confidence", analysis.confidence);
                o.insert("bars", analysis.bars);
                o.insert("beatsPerBar", analysis.beatsPerBar);
                o.insert("alternatives", alternatives);
            }
            return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        }
        QString line = input.path + QLatin1Char('\t') + bpmText(bpm);
        if (m_options.alternatives) {
            line += QLatin1Char('\t') + QString::number(analysis.confidence, 'f', 2);
            for (const TempoAlternative &a : analysis.alternatives)
                line += QLatin1Char('\t') + bpmText(a.bpm) + QLatin1Char(':') +
                        TempoText::relationAscii(double(a.numerator) / a.denominator);
        }
        return line + QLatin1Char('\n');
    }
    case CliOptions::Command::Info: {
        const StreamDescription d = describeStream(input.path);
        // A reader's stream of more than two channels is silence whose length is not
        // the file's (the FLAC reader's counts every channel): the header says it truly.
        const qint64 frames = d.channels > 2 && d.frames > 0 ? d.frames : tempo.frames;
        const int rate = tempo.sampleRate;
        const double seconds = rate > 0 ? double(frames) / rate : 0.0;
        const double bpm = tempo.bpm;
        const QString format = d.format.isEmpty() ? QStringLiteral("unknown") : d.format;
        if (m_options.json) {
            const QJsonObject o{{"file", input.path}, {"format", format},   {"sampleRate", rate},
                                {"channels", d.channels}, {"frames", frames}, {"seconds", seconds},
                                {"bpm", bpm}};
            return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        }
        // One arg() call: a '%' in the path must not be taken for a placeholder.
        return QStringLiteral("%1\t%2\t%3 Hz\t%4 ch\t%5 frames\t%6 s\t%7 BPM\n")
            .arg(input.path, format, QString::number(rate), QString::number(d.channels), QString::number(frames),
                 QString::number(seconds, 'f', 3), bpmText(bpm));
    }
    case CliOptions::Command::Points:
    case CliOptions::Command::Slice:
    case CliOptions::Command::None:
        break;
    }
    return QString();
}

QString BatchRunner::pointsLine(const Input &input, LoopTask &task, QString *error) {
    if (!task.slice(m_options, g_stop, error))
        return QString();
    const QList<qint64> frames = task.pointFrames();
    if (m_options.json) {
        QJsonArray points;
        for (qint64 f : frames)
            points.append(f);
        const QJsonObject o{
            {"file", input.path}, {"sampleRate", task.loop()->fileSampleRate()}, {"points", points}};
        return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
    }
    QString text;
    for (qint64 f : frames)
        text += QString::number(f) + QLatin1Char('\n');
    return text;
}

bool BatchRunner::exportSlices(const Input &input, LoopTask &task, QString *error, QString *warning) {
    if (!task.slice(m_options, g_stop, error))
        return false;
    const SlicePtr loop = task.loop();
    Trevant *slicer = task.slicer();
    if (!m_options.kit.isEmpty() || m_options.cues) {
        // The kit's MIDI file and the loop's tempo chunk carry the tempo the window shows.
        if (m_options.tempo > 0.0)
            loop->setBpm(m_options.tempo);
        else
            task.detectTempo();
    }
    const SliceExporter::Collision collision =
        m_options.overwrite ? SliceExporter::Collision::Overwrite : SliceExporter::Collision::Refuse;
    const auto configure = [&](SliceExporter &exporter) {
        ExportFormat format = exporter.format();
        if (m_options.bits > 0)
            format.bitDepth = m_options.bits;
        if (m_options.rate > 0)
            format.sampleRate = m_options.rate;
        exporter.setFormat(format);
        exporter.setCollision(collision);
    };

    // The window's exports: their ranges, names, fades and atomic writes. Both are made
    // before the stop flag is read, since making one clears the loop's cancel request.
    std::unique_ptr<SliceExporter> slices;
    KitExporter *kit = nullptr;
    QStringList existing;
    if (!m_options.kit.isEmpty()) {
        KitExporter::Options options;
        KitExporter::kindFromKey(m_options.kit, &options.kind);
        options.folder = input.outDir;
        options.overwrite = m_options.overwrite;
        kit = new KitExporter(loop, slicer->slicePoints(), slicer->trimStart(), slicer->trimEnd(), options);
        slices.reset(kit);
        existing = kit->existingKitTargets();
    } else {
        slices.reset(new SliceExporter(loop));
        slices->addSlices(SliceExporter::sliceRanges(slicer), input.outDir, input.stem, m_options.format);
        existing = slices->existingTargets();
    }
    configure(*slices);
    QStringList targets = kit ? kit->targets() : QStringList();
    for (const SliceExporter::Job &job : slices->jobs())
        targets.append(job.path);
    std::unique_ptr<SliceExporter> whole;
    if (m_options.cues) {
        whole.reset(new SliceExporter(loop));
        const QString suffix = m_options.kit.isEmpty() ? m_options.format : QStringLiteral("wav");
        whole->addFile(QDir(input.outDir).filePath(FileNameFit::fit(input.stem, QLatin1Char('.') + suffix)),
                       {slicer->trimStart(), slicer->trimEnd()});
        whole->setMarkers(slicer->slicePoints(), loop->bpm());
        configure(*whole);
        targets.append(whole->jobs().first().path);
    }
    // Checked whatever --overwrite says: the loop is read, and its file is the user's.
    QString target;
    const QString read = replacedInput(targets, &target);
    if (!read.isEmpty()) {
        *error = QStringLiteral("refused: writing %1 would replace the input %2").arg(target, read);
        return false;
    }
    if (whole) {
        // Refused before anything is written, so that a refusal never leaves half the set.
        const QStringList taken = whole->existingTargets();
        if (!m_options.overwrite && !taken.isEmpty() && existing.isEmpty()) {
            *error = QStringLiteral("%1 already exists").arg(taken.first());
            return false;
        }
    }
    // A folder this input's export makes and then leaves empty, failed or interrupted, is
    // taken away again: a listing of DIR then shows which inputs were done.
    const bool folderExisted = QFileInfo(input.outDir).isDir();
    {
        // Registered before the stop flag is read: a stop that comes later finds it here.
        QMutexLocker locker(&m_lock);
        m_exporting.append(loop);
    }
    SliceExporter *failed = nullptr;
    for (SliceExporter *exporter : {slices.get(), whole.get()}) {
        if (!exporter)
            continue;
        if (g_stop.load() || exporter->run() != SliceExporter::Status::Completed) {
            failed = exporter;
            break;
        }
    }
    {
        QMutexLocker locker(&m_lock);
        m_exporting.removeOne(loop);
    }
    if (!failed) {
        // A sampler given the kit would leave these slices silent: said, as a cut-off
        // file is, so that a script notices.
        if (kit && kit->slicesWithoutNote() > 0)
            addWarning(QStringLiteral("%1 of the kit's slices lie above MIDI note 127: their samples are written but "
                                      "no note plays them")
                           .arg(kit->slicesWithoutNote()),
                       warning);
        return !m_options.overwrite || kit || removeEarlierSlices(input, slices->writtenFiles(), error);
    }
    *error = g_stop.load() || failed->status() == SliceExporter::Status::Cancelled
                 ? QStringLiteral("interrupted")
                 : failed->errorMessage();
    if (!folderExisted)
        QDir().rmdir(input.outDir); // only when empty
    return false;
}

// The input file, canonical path, that writing targets would replace, with the target
// in question: a target itself, or a file inside a target folder (a kit's samples folder
// is replaced whole). Empty when there is none.
QString BatchRunner::replacedInput(const QStringList &targets, QString *target) const {
    for (const QString &path : targets) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty())
            continue;
        for (const QString &read : m_readFiles) {
            if (read == canonical || isInside(read, canonical)) {
                *target = path;
                return read;
            }
        }
    }
    return QString();
}

// With --overwrite, the numbered slices of an earlier run that made more of them would
// pass for this run's: those beyond the ones just written go, once these are in place.
// Only files named exactly as the slices of this input in this format are touched.
bool BatchRunner::removeEarlierSlices(const Input &input, const QStringList &written, QString *error) const {
    const QRegularExpression slice(
        QStringLiteral("_(\\d{2,})\\.%1$").arg(QRegularExpression::escape(m_options.format)));
    QSet<QString> kept;
    for (const QString &path : written)
        kept.insert(QFileInfo(path).fileName());
    const QDir dir(input.outDir);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        const QRegularExpressionMatch match = slice.match(name);
        // Numbers start at 1: "_00" was never a slice.
        if (!match.hasMatch() || match.captured(1).toLongLong() == 0 || kept.contains(name))
            continue;
        // Named exactly as this input's slice of that number, its name shortened as a
        // run with as many digits shortens it.
        const int digits = match.capturedLength(1);
        const int countOfThatWidth = digits <= 2 ? 1 : int(std::min(std::pow(10.0, digits - 1), 1e9));
        if (digits > 9 ||
            name != SliceExporter::sliceFileName(input.stem, int(match.captured(1).toLongLong()), countOfThatWidth,
                                                 m_options.format))
            continue;
        const QString path = dir.filePath(name);
        if (m_readFiles.contains(QFileInfo(path).canonicalFilePath()))
            continue;
        if (!QFile::remove(path)) {
            *error = QStringLiteral("the earlier slice %1 could not be removed").arg(path);
            return false;
        }
    }
    return true;
}

void BatchRunner::cancelActiveExports() {
    QMutexLocker locker(&m_lock);
    for (const SlicePtr &loop : qAsConst(m_exporting))
        loop->setCancelRequested(true);
}
