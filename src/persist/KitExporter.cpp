#include "KitExporter.h"

#include "BankSampler.h"
#include "FileNameFit.h"
#include "KitArchiveWriter.h"
#include "MidiSliceWriter.h"
#include "PendingFile.h"
#include "Trevant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {
// Hydrogen's own default for the ADSR release of an instrument, in frames.
constexpr int kHydrogenRelease = 1000;

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

bool pathExists(const QString &path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Moves from onto to, refusing to replace anything at to unless told to.
bool renameOnto(const QString &from, const QString &to, bool replace, int *err) {
    const QByteArray a = QFile::encodeName(from);
    const QByteArray b = QFile::encodeName(to);
    if (!replace) {
        if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno != EINVAL && errno != ENOSYS) {
            *err = errno;
            return false;
        }
        // File systems without the flag: check, then move (a small window remains).
        if (pathExists(to)) {
            *err = EEXIST;
            return false;
        }
    }
    if (::rename(a.constData(), b.constData()) == 0)
        return true;
    *err = errno;
    return false;
}

bool saveText(const QString &path, const QByteArray &bytes, QString &error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = KitExporter::tr("%1 could not be written: %2")
                    .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

// Note names with middle C (60) as C3, the way drum machines and most samplers count.
QString noteName(int note) {
    static const char *names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromLatin1(names[note % 12]) + QString::number(note / 12 - 2);
}

QString tempoText(double bpm) {
    return bpm > 0.0 ? QString::number(bpm, 'f', 2) + QStringLiteral(" BPM") : QStringLiteral("unknown");
}
} // namespace

KitExporter::KitExporter(SlicePtr loop, const QList<int> &points, int trimStart, int trimEnd,
                         const Options &options, QObject *parent)
    : SliceExporter(loop, parent), m_options(options) {
    m_options.name = cleanName(m_options.name, m_options.kind);
    if (m_options.name.isEmpty() && loop)
        m_options.name = cleanName(loop->baseName(), m_options.kind);
    if (m_options.name.isEmpty())
        m_options.name = QStringLiteral("Kit");
    // Every name made from the kit's must fit the limit on one name; the longest is the
    // staging folder's ("." before, ".kit-<7 letters>.part" after), 18 bytes more, which
    // also covers the kit file's extension with a temporary name's 7 letters.
    m_options.name = FileNameFit::shortened(m_options.name, 18);
    m_options.folder =
        QDir(m_options.folder.isEmpty() ? QDir::currentPath() : m_options.folder).absolutePath();
    m_options.startNote = std::max(0, std::min(m_options.startNote, 127));
    if (loop) {
        m_ranges = sliceRanges(points, std::max(0, trimStart), std::min(trimEnd, loop->length()));
        m_fBpm = loop->bpm();
    }
    for (int i = 0; i < m_ranges.size(); ++i)
        m_sampleFiles.append(sliceFileName(m_options.name, i + 1, m_ranges.size()));
    // A Hydrogen kit's samples go from memory into its archive on a second thread as
    // they are produced; what is left to pack at the end is about the last one.
    setFileProgressShare(0.97f);
    setMemoryTargets(m_options.kind == Kind::Hydrogen);
    setAnnounceFiles(false);
}

KitExporter::~KitExporter() {
    stopRunning();
}

KitExporter *KitExporter::forSlicer(Trevant *slicer, const Options &options, QObject *parent) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop || loop->length() <= 0 || sliceRanges(slicer).isEmpty())
        return nullptr;
    return new KitExporter(loop, slicer->slicePoints(), slicer->trimStart(), slicer->trimEnd(), options,
                           parent);
}

QVector<int> KitExporter::slicePitches(Trevant *slicer, BankSampler *bank) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop)
        return {};
    const QVector<Range> ranges = sliceRanges(slicer->slicePoints(), std::max(0, slicer->trimStart()),
                                              std::min(slicer->trimEnd(), loop->length()));
    QVector<int> pitches(ranges.size(), loop->pitch());
    if (!bank)
        return pitches;
    const QString loopFile = QFileInfo(loop->fileName()).canonicalFilePath();
    if (loopFile.isEmpty())
        return pitches;
    // A region within a frame of the slice counts as the slice: positions are stereo
    // pairs, and a pad's region may have been stored from either end of one.
    const auto near = [](int a, int b) { return std::abs(a - b) <= 2; };
    for (int p = 0; p < BankSampler::kPadCount; ++p) {
        const SlicePtr pad = bank->pad(p);
        if (!pad || QFileInfo(pad->fileName()).canonicalFilePath() != loopFile)
            continue;
        for (int i = 0; i < ranges.size(); ++i)
            if (near(pad->loopStart(), ranges.at(i).start) && near(pad->loopEnd(), ranges.at(i).end))
                pitches[i] = pad->pitch();
    }
    return pitches;
}

SliceExporter::Status KitExporter::exportKit(SlicePtr loop, const QList<int> &points, int trimStart,
                                             int trimEnd, const Options &options, QString *error,
                                             QStringList *written) {
    KitExporter exporter(std::move(loop), points, trimStart, trimEnd, options);
    const Status status = exporter.run();
    if (error)
        *error = exporter.errorMessage();
    if (written)
        *written = status == Status::Completed ? exporter.targets() : QStringList();
    return status;
}

QString KitExporter::kindName(Kind kind) {
    switch (kind) {
    case Kind::Hydrogen:
        return QStringLiteral("Hydrogen");
    case Kind::DecentSampler:
        return QStringLiteral("DecentSampler");
    case Kind::Sfz:
        break;
    }
    return QStringLiteral("SFZ");
}

QString KitExporter::kindKey(Kind kind) {
    return kindName(kind).toLower();
}

bool KitExporter::kindFromKey(const QString &key, Kind *kind) {
    for (Kind k : {Kind::Sfz, Kind::Hydrogen, Kind::DecentSampler})
        if (key.trimmed().compare(kindKey(k), Qt::CaseInsensitive) == 0) {
            if (kind)
                *kind = k;
            return true;
        }
    return false;
}

QString KitExporter::kitSuffix(Kind kind) {
    switch (kind) {
    case Kind::Hydrogen:
        return QStringLiteral("h2drumkit");
    case Kind::DecentSampler:
        return QStringLiteral("dspreset");
    case Kind::Sfz:
        break;
    }
    return QStringLiteral("sfz");
}

QString KitExporter::cleanName(const QString &name) {
    const QString in = name.trimmed();
    QString out;
    for (int i = 0; i < in.size(); ++i) {
        const QChar c = in.at(i);
        if (c.isHighSurrogate() && i + 1 < in.size() && in.at(i + 1).isLowSurrogate()) {
            out.append(c).append(in.at(++i));
            continue;
        }
        // XML cannot carry U+FFFE, U+FFFF or half a surrogate pair: the kit documents
        // would drop them from the sample paths and name files that do not exist.
        const bool xmlCannotCarry = c.isSurrogate() || c.unicode() == 0xfffe || c.unicode() == 0xffff;
        out.append(c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control ||
                           xmlCannotCarry
                       ? QLatin1Char('_')
                       : c);
    }
    while (out.startsWith(QLatin1Char('.')))
        out.remove(0, 1);
    // Never half a character written as two UTF-16 units.
    const int keep = out.size() > 120 && out.at(119).isHighSurrogate() ? 119 : 120;
    return out.left(keep).trimmed();
}

QString KitExporter::cleanName(const QString &name, Kind kind) {
    QString out = cleanName(name);
    if (kind == Kind::Sfz) {
        for (QChar &c : out)
            if (c == QLatin1Char('=') || c == QLatin1Char('<') || c == QLatin1Char('>'))
                c = QLatin1Char('_');
    }
    return out;
}

QString KitExporter::sampleFolderName() const {
    // Hydrogen's archives hold one folder named after the kit; the other formats keep
    // their samples in a folder beside the kit file.
    return m_options.kind == Kind::Hydrogen ? m_options.name : m_options.name + QLatin1String(" samples");
}

QString KitExporter::kitFile() const {
    return QDir(m_options.folder).filePath(m_options.name + QLatin1Char('.') + kitSuffix(m_options.kind));
}

QStringList KitExporter::targets() const {
    const QDir dir(m_options.folder);
    QStringList list;
    if (m_options.kind != Kind::Hydrogen)
        list.append(dir.filePath(sampleFolderName()));
    list.append(dir.filePath(m_options.name + QLatin1String(".mid")));
    list.append(kitFile()); // last: a kit file never names samples that are not there yet
    return list;
}

QStringList KitExporter::existingKitTargets() const {
    QStringList existing;
    for (const QString &path : targets())
        if (pathExists(path))
            existing.append(path);
    return existing;
}

int KitExporter::slicesWithoutNote() const {
    return std::max(0, m_options.startNote + int(m_ranges.size()) - 128);
}

bool KitExporter::prepareBatch(QString &error) {
    if (m_ranges.isEmpty())
        return true; // the base class says there is nothing to export
    QString why;
    if (!PendingFile::createFolder(m_options.folder, &why)) {
        error = tr("The folder %1 could not be created: %2.").arg(QDir::toNativeSeparators(m_options.folder), why);
        return false;
    }
    if (!m_options.overwrite) {
        const QStringList existing = existingKitTargets();
        if (!existing.isEmpty()) {
            error = tr("%1 already exists.").arg(QDir::toNativeSeparators(existing.first()));
            return false;
        }
    }
    int err = 0;
    for (int attempt = 0; attempt < 100 && m_staging.isEmpty(); ++attempt) {
        const QString candidate = QDir(m_options.folder)
                                      .filePath(QLatin1Char('.') + m_options.name + QLatin1String(".kit-") +
                                                QString::number(QRandomGenerator::global()->generate(), 36) +
                                                QLatin1String(".part"));
        if (PendingFile::createTrackedFolder(candidate, &err))
            m_staging = candidate;
        else if (err != EEXIST)
            break;
    }
    if (m_staging.isEmpty()) {
        error = tr("The kit cannot be written into %1: %2")
                    .arg(QDir::toNativeSeparators(m_options.folder), systemError(err));
        return false;
    }
    const QDir samples(QDir(m_staging).filePath(sampleFolderName()));
    if (!QDir().mkdir(samples.path())) {
        error = tr("The kit cannot be written into %1.").arg(QDir::toNativeSeparators(m_options.folder));
        return false;
    }
    for (int i = 0; i < m_ranges.size(); ++i)
        addFile(samples.filePath(m_sampleFiles.at(i)), m_ranges.at(i));
    // The documents depend on the slices' names and places only, so they go first: the
    // Hydrogen archive then opens with its drumkit.xml.
    if (!writeDocuments(error))
        return false;
    if (m_options.kind == Kind::Hydrogen) {
        m_pPacker = std::make_unique<KitArchiveWriter>([this] { return isCancelRequested(); });
        QString why;
        if (!m_pPacker->open(QDir(m_staging).filePath(QFileInfo(kitFile()).fileName()), &why) ||
            !m_pPacker->addFolder(sampleFolderName(), &why) ||
            !m_pPacker->addFile(sampleFolderName() + QLatin1String("/drumkit.xml"),
                                samples.filePath(QStringLiteral("drumkit.xml")), &why)) {
            error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(kitFile()), why);
            return false;
        }
    }
    return true;
}

bool KitExporter::jobWritten(const Job &job, const QByteArray &inMemory, QString &error) {
    if (!m_pPacker)
        return true;
    const QString entry = sampleFolderName() + QLatin1Char('/') + QFileInfo(job.path).fileName();
    QString why;
    if (inMemory.isEmpty() ? m_pPacker->addFile(entry, job.path, &why)
                           : m_pPacker->addData(entry, inMemory, &why))
        return true;
    error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(kitFile()), why);
    return false;
}

bool KitExporter::completeBatch(QString &error, bool &cancelled) {
    if (isCancelRequested()) {
        cancelled = true;
        return false;
    }
    if (m_pPacker) {
        QString why;
        const auto result =
            m_pPacker->finish(&why, [this](double share) { reportProgress(0.97f + 0.03f * float(share)); });
        m_pPacker.reset();
        if (result == KitArchiveWriter::Result::Cancelled) {
            cancelled = true;
            return false;
        }
        if (result != KitArchiveWriter::Result::Completed) {
            error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(kitFile()), why);
            return false;
        }
        // The archive carries the kit now; its loose files are not part of the result.
        QDir(QDir(m_staging).filePath(sampleFolderName())).removeRecursively();
    }
    // Past this point the kit is whole; a cancel now would only leave it half moved.
    if (isCancelRequested()) {
        cancelled = true;
        return false;
    }
    if (!moveIntoPlace(error))
        return false;
    const QFileInfo kit(kitFile());
    emit fileWritten(QDir::toNativeSeparators(kit.absolutePath()), kit.fileName());
    return true;
}

void KitExporter::batchEnded(Status) {
    m_pPacker.reset(); // stops packing before its files go
    removeStaging();
}

void KitExporter::removeStaging() {
    if (!m_staging.isEmpty()) {
        QDir(m_staging).removeRecursively();
        PendingFile::trackFolder(m_staging, false);
    }
    m_staging.clear();
}

bool KitExporter::writeDocuments(QString &error) {
    const QDir staging(m_staging);
    const QString name = m_options.name;
    const int count = m_ranges.size();
    const auto pitchOf = [this](int i) {
        return i < m_options.slicePitch.size() ? m_options.slicePitch.at(i) : 0;
    };
    const auto noteOf = [this](int i) { return m_options.startNote + i; };
    const QString samplePath = sampleFolderName() + QLatin1Char('/');

    int leftOut = 0;
    const QByteArray midi =
        MidiSliceWriter::build(m_ranges, fileRate(), m_fBpm, m_options.startNote, name, &leftOut);
    if (!saveText(staging.filePath(name + QLatin1String(".mid")), midi, error))
        return false;

    QByteArray document;
    QString kitPath = staging.filePath(name + QLatin1Char('.') + kitSuffix(m_options.kind));
    switch (m_options.kind) {
    case Kind::Sfz: {
        QString text;
        text += QStringLiteral("// %1, sliced with Quillory\n").arg(name);
        text += QStringLiteral("// Tempo: %1\n// Slices: %2, slice 1 on note %3 (%4)\n")
                    .arg(tempoText(m_fBpm))
                    .arg(count)
                    .arg(m_options.startNote)
                    .arg(noteName(m_options.startNote));
        if (leftOut > 0)
            text +=
                QStringLiteral("// The last %1 slices lie above note 127 and are not mapped.\n").arg(leftOut);
        text += QStringLiteral("// %1.mid plays the loop on these notes.\n\n").arg(name);
        text += QStringLiteral("<global>\nloop_mode=one_shot\namp_veltrack=0\npitch_keytrack=0\n\n");
        for (int i = 0; i < count && noteOf(i) <= 127; ++i) {
            text += QStringLiteral("<region> key=%1").arg(noteOf(i));
            if (pitchOf(i) != 0)
                text += QStringLiteral(" transpose=%1").arg(pitchOf(i));
            // The sample opcode goes last: its value runs to the end of the line, spaces
            // included.
            text += QStringLiteral(" sample=%1%2\n").arg(samplePath, m_sampleFiles.at(i));
        }
        document = text.toUtf8();
        break;
    }
    case Kind::DecentSampler: {
        QXmlStreamWriter xml(&document);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        // A comment cannot hold "--": a loop named "Amen -- break" would leave the
        // preset unreadable.
        QString commentName = name;
        while (commentName.contains(QLatin1String("--")))
            commentName.replace(QLatin1String("--"), QLatin1String("- -"));
        xml.writeComment(
            QStringLiteral(" %1, sliced with Quillory. Tempo: %2. Slices: %3, slice 1 on note %4. ")
                .arg(commentName, tempoText(m_fBpm))
                .arg(count)
                .arg(m_options.startNote));
        xml.writeStartElement(QStringLiteral("DecentSampler"));
        xml.writeAttribute(QStringLiteral("minVersion"), QStringLiteral("1.0.0"));
        xml.writeStartElement(QStringLiteral("groups"));
        xml.writeStartElement(QStringLiteral("group"));
        xml.writeAttribute(QStringLiteral("name"), name);
        xml.writeAttribute(QStringLiteral("ampVelTrack"), QStringLiteral("0"));
        for (int i = 0; i < count && noteOf(i) <= 127; ++i) {
            const QString note = QString::number(noteOf(i));
            xml.writeStartElement(QStringLiteral("sample"));
            xml.writeAttribute(QStringLiteral("name"), QFileInfo(m_sampleFiles.at(i)).completeBaseName());
            xml.writeAttribute(QStringLiteral("path"), samplePath + m_sampleFiles.at(i));
            xml.writeAttribute(QStringLiteral("rootNote"), note);
            xml.writeAttribute(QStringLiteral("loNote"), note);
            xml.writeAttribute(QStringLiteral("hiNote"), note);
            xml.writeAttribute(QStringLiteral("loopEnabled"), QStringLiteral("false"));
            if (pitchOf(i) != 0)
                xml.writeAttribute(QStringLiteral("tuning"), QString::number(pitchOf(i)));
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndDocument();
        break;
    }
    case Kind::Hydrogen: {
        kitPath = staging.filePath(sampleFolderName() + QLatin1String("/drumkit.xml"));
        QXmlStreamWriter xml(&document);
        xml.setAutoFormatting(true);
        xml.writeStartDocument();
        xml.writeStartElement(QStringLiteral("drumkit_info"));
        xml.writeDefaultNamespace(QStringLiteral("http://www.hydrogen-music.org/drumkit"));
        const auto field = [&xml](const char *tag, const QString &value) {
            xml.writeTextElement(QString::fromLatin1(tag), value);
        };
        field("name", name);
        field("author", QString());
        field("info", tr("Sliced with Quillory. Tempo: %1. Slices: %2, slice 1 on note %3.")
                          .arg(tempoText(m_fBpm))
                          .arg(count)
                          .arg(m_options.startNote));
        field("license", QString());
        field("image", QString());
        field("imageLicense", QString());
        xml.writeStartElement(QStringLiteral("componentList"));
        xml.writeStartElement(QStringLiteral("drumkitComponent"));
        field("id", QStringLiteral("0"));
        field("name", QStringLiteral("Main"));
        field("volume", QStringLiteral("1"));
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeStartElement(QStringLiteral("instrumentList"));
        for (int i = 0; i < count; ++i) {
            xml.writeStartElement(QStringLiteral("instrument"));
            field("id", QString::number(i));
            field("name", QFileInfo(m_sampleFiles.at(i)).completeBaseName());
            field("volume", QStringLiteral("1"));
            field("isMuted", QStringLiteral("false"));
            field("isSoloed", QStringLiteral("false"));
            field("pan_L", QStringLiteral("1"));
            field("pan_R", QStringLiteral("1"));
            field("pitchOffset", QStringLiteral("0"));
            field("randomPitchFactor", QStringLiteral("0"));
            field("gain", QStringLiteral("1"));
            field("applyVelocity", QStringLiteral("true"));
            field("filterActive", QStringLiteral("false"));
            field("filterCutoff", QStringLiteral("1"));
            field("filterResonance", QStringLiteral("0"));
            field("Attack", QStringLiteral("0"));
            field("Decay", QStringLiteral("0"));
            field("Sustain", QStringLiteral("1"));
            field("Release", QString::number(kHydrogenRelease));
            field("muteGroup", QStringLiteral("-1"));
            field("midiOutChannel", QStringLiteral("-1"));
            field("midiOutNote", QString::number(std::min(noteOf(i), 127)));
            field("isStopNote", QStringLiteral("false"));
            field("sampleSelectionAlgo", QStringLiteral("VELOCITY"));
            field("isHihat", QStringLiteral("-1"));
            field("lower_cc", QStringLiteral("0"));
            field("higher_cc", QStringLiteral("127"));
            xml.writeStartElement(QStringLiteral("instrumentComponent"));
            field("component_id", QStringLiteral("0"));
            field("gain", QStringLiteral("1"));
            xml.writeStartElement(QStringLiteral("layer"));
            field("filename", m_sampleFiles.at(i));
            field("min", QStringLiteral("0"));
            field("max", QStringLiteral("1"));
            field("gain", QStringLiteral("1"));
            field("pitch", QString::number(pitchOf(i)));
            xml.writeEndElement();
            xml.writeEndElement();
            xml.writeEndElement();
        }
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndDocument();
        break;
    }
    }
    return saveText(kitPath, document, error);
}

bool KitExporter::moveIntoPlace(QString &error) {
    struct Move {
        QString from;
        QString to;
        QString replaced; // where the entry it replaced waits until the kit is in place
        bool done = false;
    };
    PendingFile::CommitLock commitLock;
    if (commitLock.abandoned()) {
        error = tr("%1 could not be written: %2")
                    .arg(QDir::toNativeSeparators(kitFile()), systemError(ECANCELED));
        return false;
    }
    std::vector<Move> moves;
    for (const QString &target : targets())
        moves.push_back({QDir(m_staging).filePath(QFileInfo(target).fileName()), target, QString(), false});

    const auto rollBack = [&] {
        for (auto it = moves.rbegin(); it != moves.rend(); ++it) {
            int ignored = 0;
            if (it->done)
                renameOnto(it->to, it->from, true, &ignored);
            if (!it->replaced.isEmpty())
                renameOnto(it->replaced, it->to, false, &ignored);
        }
    };
    for (size_t i = 0; i < moves.size(); ++i) {
        Move &m = moves[i];
        int err = 0;
        if (pathExists(m.to)) {
            if (!m_options.overwrite) {
                rollBack();
                error = tr("%1 already exists.").arg(QDir::toNativeSeparators(m.to));
                return false;
            }
            const QString aside = QDir(m_staging).filePath(QStringLiteral(".replaced-%1").arg(i));
            if (!renameOnto(m.to, aside, false, &err)) {
                rollBack();
                error =
                    tr("%1 could not be replaced: %2").arg(QDir::toNativeSeparators(m.to), systemError(err));
                return false;
            }
            m.replaced = aside;
        }
        if (!renameOnto(m.from, m.to, false, &err)) {
            rollBack();
            error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(m.to), systemError(err));
            return false;
        }
        m.done = true;
    }
    return true; // what was replaced goes with the staging folder
}
