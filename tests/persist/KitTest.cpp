#include "KitTest.h"

#include "BankSampler.h"
#include "CueMarkers.h"
#include "KitExporter.h"
#include "MidiSliceWriter.h"
#include "PendingFile.h"
#include "PersistFixtures.h"
#include "Settings.h"
#include "Trevant.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTextCodec>
#include <QXmlStreamReader>
#include <QtTest>
#include <archive.h>
#include <archive_entry.h>
#include <cmath>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <atomic>
#include <thread>
#include <unistd.h>

using namespace PersistFixtures;

namespace {
constexpr int kRate = 44100;
constexpr double kBpm = 120.0;
// One bar at 120 BPM: eight hits on the eighth notes, so that a drum machine's grid
// (48 steps per quarter in Hydrogen) holds every slice start exactly.
constexpr long long kHitFrames = kRate / 4;
constexpr int kHits = 8;
constexpr long long kFrames = kHits * kHitFrames;

float hitLoop(long long f, int c) {
    const int hit = int(f / kHitFrames);
    const double t = double(f % kHitFrames) / kRate;
    const double freq = 90.0 + 70.0 * ((hit * 5) % kHits);
    return float((0.7 - 0.05 * hit) * std::exp(-t * 14.0) * std::sin(2 * M_PI * freq * t) * (c ? 0.9 : 1.0));
}

QList<int> hitPoints() {
    QList<int> points;
    for (int i = 1; i < kHits; ++i)
        points.append(int(2 * i * kHitFrames));
    return points;
}

QString freshFolder(QTemporaryDir &dir, const QString &name) {
    const QString folder = dir.filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}

// Files and folders, hidden ones too: a staging folder left behind must show.
QStringList allEntries(const QString &folder) {
    QStringList entries =
        QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.sort();
    return entries;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct KitEntry {
    int note = -1;
    QString sample; // relative to the kit
    int pitch = 0;
};

// SFZ: headers in angle brackets, opcodes "name=value"; a value runs to the next opcode,
// so sample paths may hold spaces.
QVector<KitEntry> readSfz(const QString &path) {
    QVector<KitEntry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return entries;
    static const QRegularExpression opcode(QStringLiteral("([a-z_0-9]+)="));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.section(QStringLiteral("//"), 0, 0);
        if (!line.contains(QLatin1String("<region>")))
            continue;
        line = line.section(QLatin1String("<region>"), 1);
        KitEntry e;
        auto it = opcode.globalMatch(line);
        QVector<QRegularExpressionMatch> found;
        while (it.hasNext())
            found.append(it.next());
        for (int i = 0; i < found.size(); ++i) {
            const int from = found[i].capturedEnd();
            const int to = i + 1 < found.size() ? found[i + 1].capturedStart() : line.size();
            const QString value = line.mid(from, to - from).trimmed();
            if (found[i].captured(1) == QLatin1String("key"))
                e.note = value.toInt();
            else if (found[i].captured(1) == QLatin1String("sample"))
                e.sample = value;
            else if (found[i].captured(1) == QLatin1String("transpose"))
                e.pitch = value.toInt();
        }
        entries.append(e);
    }
    return entries;
}

QVector<KitEntry> readDecentSampler(const QString &path) {
    QVector<KitEntry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("sample")) {
            const auto a = xml.attributes();
            KitEntry e;
            e.sample = a.value(QLatin1String("path")).toString();
            e.note = a.value(QLatin1String("rootNote")).toInt();
            if (a.value(QLatin1String("loNote")).toInt() != e.note ||
                a.value(QLatin1String("hiNote")).toInt() != e.note)
                e.note = -1; // a pad is one note
            e.pitch = a.value(QLatin1String("tuning")).toInt();
            entries.append(e);
        }
    }
    return xml.hasError() ? QVector<KitEntry>() : entries;
}

// Unpacks an archive with libarchive; the entry names, in order.
QStringList unpack(const QString &archivePath, const QString &into) {
    QStringList names;
    archive *in = archive_read_new();
    archive_read_support_filter_all(in);
    archive_read_support_format_all(in);
    if (archive_read_open_filename(in, QFile::encodeName(archivePath).constData(), 1 << 16) != ARCHIVE_OK) {
        archive_read_free(in);
        return names;
    }
    archive_entry *entry;
    while (archive_read_next_header(in, &entry) == ARCHIVE_OK) {
        const QString name = QString::fromUtf8(archive_entry_pathname_utf8(entry));
        names.append(name);
        if (archive_entry_filetype(entry) != AE_IFREG)
            continue;
        QDir().mkpath(QFileInfo(QDir(into).filePath(name)).absolutePath());
        QFile out(QDir(into).filePath(name));
        if (!out.open(QIODevice::WriteOnly))
            break;
        char buffer[65536];
        la_ssize_t got;
        while ((got = archive_read_data(in, buffer, sizeof buffer)) > 0)
            out.write(buffer, got);
    }
    archive_read_free(in);
    return names;
}

QVector<KitEntry> readHydrogen(const QString &drumkitXml) {
    QVector<KitEntry> entries;
    QFile file(drumkitXml);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    QXmlStreamReader xml(&file);
    KitEntry e;
    QStringList path;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            path.append(xml.name().toString());
            const QString p = path.join(QLatin1Char('/'));
            if (p.endsWith(QLatin1String("instrumentList/instrument")))
                e = KitEntry();
            else if (p.endsWith(QLatin1String("instrument/midiOutNote")))
                e.note = xml.readElementText().toInt(), path.removeLast();
            else if (p.endsWith(QLatin1String("layer/filename")))
                e.sample = xml.readElementText(), path.removeLast();
            else if (p.endsWith(QLatin1String("layer/pitch")))
                e.pitch = int(xml.readElementText().toDouble()), path.removeLast();
        } else if (xml.isEndElement()) {
            if (path.join(QLatin1Char('/')).endsWith(QLatin1String("instrumentList/instrument")))
                entries.append(e);
            path.removeLast();
        }
    }
    return xml.hasError() ? QVector<KitEntry>() : entries;
}

struct MidiNote {
    qint64 tick;
    int note;
};

// Note-ons of a format 0 file, and its ticks per quarter and tempo.
QVector<MidiNote> readMidi(const QByteArray &bytes, int *division, double *bpm) {
    QVector<MidiNote> notes;
    if (bytes.size() < 22 || !bytes.startsWith("MThd"))
        return notes;
    const auto u8 = [&](int i) { return int(quint8(bytes.at(i))); };
    *division = (u8(12) << 8) | u8(13);
    int pos = 14 + 8;
    qint64 tick = 0;
    int status = 0;
    while (pos < bytes.size()) {
        quint32 delta = 0;
        int b;
        do {
            b = u8(pos++);
            delta = (delta << 7) | quint32(b & 0x7f);
        } while (b & 0x80);
        tick += delta;
        if (u8(pos) == 0xff) {
            const int type = u8(pos + 1);
            const int len = u8(pos + 2);
            if (type == 0x51)
                *bpm = 60'000'000.0 / double((u8(pos + 3) << 16) | (u8(pos + 4) << 8) | u8(pos + 5));
            pos += 3 + len;
            continue;
        }
        if (u8(pos) & 0x80)
            status = u8(pos++);
        if ((status & 0xf0) == 0x90 && u8(pos + 1) > 0)
            notes.append({tick, u8(pos)});
        pos += 2;
    }
    return notes;
}

double correlationAt(const std::vector<float> &a, const std::vector<float> &b, long long lag, long long n) {
    double ab = 0, aa = 0, bb = 0;
    for (long long i = 0; i < n; ++i) {
        const long long j = i + lag;
        const double x = a[size_t(i)];
        const double y = j >= 0 && j < (long long)b.size() ? b[size_t(j)] : 0.0;
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

std::vector<float> monoOf(const Audio &audio) {
    std::vector<float> mono(size_t(audio.frames()));
    for (size_t f = 0; f < mono.size(); ++f)
        for (int c = 0; c < audio.channels; ++c)
            mono[f] += audio.samples[f * size_t(audio.channels) + size_t(c)];
    return mono;
}
} // namespace

void KitTest::initTestCase() {
    ::umask(022);
    QVERIFY(m_dir.isValid());
    m_loop = m_dir.filePath("hits.wav");
    QVERIFY(TestAudio::writeWav(m_loop, 2, kRate, kFrames, hitLoop));
}

void KitTest::init() {
    Settings::instance().set("WaveExportBitDepth", "24 bit");
    Settings::instance().set("WaveExportSampleRate", "");
    Settings::instance().set("fade_in_out_slices", "1");
}

void KitTest::kitRoundTrip_data() {
    QTest::addColumn<int>("kind");
    QTest::newRow("sfz") << int(KitExporter::Kind::Sfz);
    QTest::newRow("hydrogen") << int(KitExporter::Kind::Hydrogen);
    QTest::newRow("decentsampler") << int(KitExporter::Kind::DecentSampler);
}

void KitTest::kitRoundTrip() {
    // The kit's samples are the files the slice export writes (same format and fades),
    // each on its note from the start note up, and the MIDI file starts each note where
    // its slice starts.
    QFETCH(int, kind);
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();
    QVERIFY(loop);
    loop->setBpm(kBpm);
    const int trimStart = 2 * 3000; // the kit starts at the trim start, not the file's
    const QList<int> points = hitPoints();

    const QString plain = freshFolder(m_dir, "plain");
    SliceExporter reference(loop);
    const QVector<SliceExporter::Range> ranges =
        SliceExporter::sliceRanges(points, trimStart, loop->length());
    reference.addSlices(ranges, plain, "My Kit");
    QCOMPARE(reference.run(), SliceExporter::Status::Completed);

    const QString folder = freshFolder(m_dir, "kit");
    KitExporter::Options options;
    options.kind = KitExporter::Kind(kind);
    options.folder = folder;
    options.name = "My Kit";
    options.startNote = 40;
    options.slicePitch = {0, 3};
    QString error;
    QStringList written;
    QCOMPARE(KitExporter::exportKit(loop, points, trimStart, loop->length(), options, &error, &written),
             SliceExporter::Status::Completed);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QVector<KitEntry> entries;
    QString sampleRoot = folder;
    if (options.kind == KitExporter::Kind::Sfz) {
        QCOMPARE(allEntries(folder), QStringList({"My Kit samples", "My Kit.mid", "My Kit.sfz"}));
        const QString text = QString::fromUtf8(fileBytes(QDir(folder).filePath("My Kit.sfz")));
        QVERIFY(text.contains("120.00 BPM") && text.contains("Slices: 8"));
        QVERIFY(text.contains("loop_mode=one_shot"));
        entries = readSfz(QDir(folder).filePath("My Kit.sfz"));
    } else if (options.kind == KitExporter::Kind::DecentSampler) {
        QCOMPARE(allEntries(folder), QStringList({"My Kit samples", "My Kit.dspreset", "My Kit.mid"}));
        entries = readDecentSampler(QDir(folder).filePath("My Kit.dspreset"));
    } else {
        QCOMPARE(allEntries(folder), QStringList({"My Kit.h2drumkit", "My Kit.mid"}));
        // A gzip stream, as Hydrogen's own kits are, whatever the level inside.
        QVERIFY(fileBytes(QDir(folder).filePath("My Kit.h2drumkit")).startsWith("\x1f\x8b"));
        const QString unpacked = freshFolder(m_dir, "unpacked");
        const QStringList names = unpack(QDir(folder).filePath("My Kit.h2drumkit"), unpacked);
        QVERIFY(names.contains("My Kit/drumkit.xml"));
        QCOMPARE(names.size(), 2 + ranges.size()); // the folder, drumkit.xml, the samples
        sampleRoot = QDir(unpacked).filePath("My Kit");
        entries = readHydrogen(QDir(sampleRoot).filePath("drumkit.xml"));
    }
    written.sort();
    QCOMPARE(written.size(), options.kind == KitExporter::Kind::Hydrogen ? 2 : 3);

    QCOMPARE(entries.size(), ranges.size());
    for (int i = 0; i < entries.size(); ++i) {
        QCOMPARE(entries[i].note, 40 + i);
        QCOMPARE(entries[i].pitch, i == 1 ? 3 : 0);
        const QString sample = QDir(sampleRoot).filePath(entries[i].sample);
        QVERIFY2(QFileInfo(sample).isFile(), qPrintable(sample));
        const QByteArray expected =
            fileBytes(QDir(plain).filePath(SliceExporter::sliceFileName("My Kit", i + 1, 8)));
        QVERIFY(!expected.isEmpty());
        QVERIFY2(fileBytes(sample) == expected, qPrintable(entries[i].sample));
    }

    int division = 0;
    double bpm = 0;
    const QVector<MidiNote> notes = readMidi(fileBytes(QDir(folder).filePath("My Kit.mid")), &division, &bpm);
    QCOMPARE(notes.size(), ranges.size());
    QCOMPARE(bpm, kBpm);
    for (int i = 0; i < notes.size(); ++i) {
        const double seconds = double(ranges[i].start - trimStart) / 2.0 / kRate;
        const double expectedTick = seconds * kBpm / 60.0 * division;
        QVERIFY2(std::abs(double(notes[i].tick) - expectedTick) <= 1.0, qPrintable(QString::number(i)));
        QCOMPARE(notes[i].note, 40 + i);
    }
}

void KitTest::slicesSoundAtTheLoopsPitchOrTheirPads() {
    // Every slice keeps the loop's pitch setting, except one a pad of the sampler bank
    // plays as its loop region: that one keeps the pad's pitch. Pads holding the whole
    // loop, or the same region of another file, play no slice.
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();
    QVERIFY(loop);
    slicer->setSlicePoints(hitPoints());
    loop->setPitch(2);
    const QVector<SliceExporter::Range> ranges = SliceExporter::sliceRanges(hitPoints(), 0, loop->length());
    QCOMPARE(ranges.size(), kHits);
    const QString copy = m_dir.filePath("hits copy.wav");
    QFile::remove(copy);
    QVERIFY(QFile::copy(m_loop, copy));

    BankSampler bank(kRate);
    bank.loadSample(5, m_loop, -4, 1.0, 1, ranges[3].start, ranges[3].end, 1.0f, false, "None");
    bank.loadSample(6, m_loop, 9, 1.0, 1, 0, 0, 1.0f, false, "None");
    bank.loadSample(7, copy, 11, 1.0, 1, ranges[5].start, ranges[5].end, 1.0f, false, "None");
    QVector<int> expected(kHits, 2);
    expected[3] = -4;
    const QVector<int> pitches = KitExporter::slicePitches(slicer.get(), &bank);
    QCOMPARE(pitches, expected);
    QCOMPARE(KitExporter::slicePitches(slicer.get(), nullptr), QVector<int>(kHits, 2));

    // The kit carries them: SFZ transposes each region by its slice's pitch.
    KitExporter::Options options;
    options.folder = freshFolder(m_dir, "pitched");
    options.name = "Pitched";
    options.slicePitch = pitches;
    std::unique_ptr<KitExporter> exporter(KitExporter::forSlicer(slicer.get(), options));
    QVERIFY(exporter);
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);
    const QVector<KitEntry> entries = readSfz(QDir(options.folder).filePath("Pitched.sfz"));
    QCOMPARE(entries.size(), kHits);
    for (int i = 0; i < kHits; ++i)
        QCOMPARE(entries[i].pitch, expected[i]);
}

void KitTest::hydrogenPlaysTheKitBack() {
    // Hydrogen checks and installs the exported drumkit and renders a song that plays it
    // with the exported MIDI pattern; the result sounds like the loop.
    const QString h2cli = QStandardPaths::findExecutable("h2cli");
    QVERIFY2(!h2cli.isEmpty(), "h2cli is missing: run scripts/install-deps.sh");
    Settings::instance().set("WaveExportBitDepth", "16 bit");
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();
    loop->setBpm(kBpm);
    const QString folder = freshFolder(m_dir, "h2");
    KitExporter::Options options;
    options.kind = KitExporter::Kind::Hydrogen;
    options.folder = folder;
    options.name = "QuilloryHits";
    QString error;
    QCOMPARE(KitExporter::exportKit(loop, hitPoints(), 0, loop->length(), options, &error),
             SliceExporter::Status::Completed);
    const QString kit = QDir(folder).filePath("QuilloryHits.h2drumkit");

    const QString home = freshFolder(m_dir, "h2home");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    const auto runH2 = [&](const QStringList &args, QString *output) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(h2cli, args);
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        *output = QString::fromLocal8Bit(p.readAll());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    QString out;
    QCOMPARE(runH2({"--check", kit}, &out), 0);
    QVERIFY2(!out.contains("ERROR"), qPrintable(out));
    QCOMPARE(runH2({"--install", kit}, &out), 0);
    QVERIFY2(!out.contains("ERROR"), qPrintable(out));
    const QString installed = home + "/.hydrogen/data/drumkits/QuilloryHits";
    QVERIFY2(QFileInfo(installed + "/drumkit.xml").isFile(), qPrintable(out));
    const QVector<KitEntry> instruments = readHydrogen(installed + "/drumkit.xml");
    QCOMPARE(instruments.size(), kHits);

    // The song: the installed kit's instruments and one pattern holding the MIDI file's
    // notes, converted to Hydrogen's 48 ticks per quarter.
    int division = 0;
    double bpm = 0;
    const QVector<MidiNote> notes =
        readMidi(fileBytes(QDir(folder).filePath("QuilloryHits.mid")), &division, &bpm);
    QCOMPARE(notes.size(), kHits);
    QString song;
    QXmlStreamWriter xml(&song);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement("song");
    xml.writeTextElement("version", "1.2.0");
    xml.writeTextElement("bpm", QString::number(bpm));
    xml.writeTextElement("volume", "1");
    xml.writeTextElement("name", "kit check");
    xml.writeTextElement("mode", "song");
    xml.writeTextElement("humanize_time", "0");
    xml.writeTextElement("humanize_velocity", "0");
    xml.writeTextElement("swing_factor", "0");
    xml.writeStartElement("componentList");
    xml.writeStartElement("drumkitComponent");
    xml.writeTextElement("id", "0");
    xml.writeTextElement("name", "Main");
    xml.writeTextElement("volume", "1");
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeStartElement("instrumentList");
    for (int i = 0; i < instruments.size(); ++i) {
        xml.writeStartElement("instrument");
        xml.writeTextElement("id", QString::number(i));
        xml.writeTextElement("name", QFileInfo(instruments[i].sample).completeBaseName());
        xml.writeTextElement("drumkit", "QuilloryHits");
        xml.writeTextElement("drumkitLookup", "1");
        xml.writeTextElement("volume", "1");
        xml.writeTextElement("pan", "0");
        xml.writeTextElement("gain", "1");
        xml.writeTextElement("applyVelocity", "true");
        xml.writeTextElement("Release", "1000");
        xml.writeTextElement("Sustain", "1");
        xml.writeTextElement("muteGroup", "-1");
        xml.writeStartElement("instrumentComponent");
        xml.writeTextElement("component_id", "0");
        xml.writeTextElement("gain", "1");
        xml.writeStartElement("layer");
        xml.writeTextElement("filename", instruments[i].sample);
        xml.writeTextElement("min", "0");
        xml.writeTextElement("max", "1");
        xml.writeTextElement("gain", "1");
        xml.writeTextElement("pitch", "0");
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeStartElement("patternList");
    xml.writeStartElement("pattern");
    xml.writeTextElement("name", "loop");
    xml.writeTextElement("size", "192");
    xml.writeTextElement("denominator", "4");
    xml.writeStartElement("noteList");
    for (const MidiNote &n : notes) {
        xml.writeStartElement("note");
        xml.writeTextElement("position", QString::number(n.tick * 48 / division));
        xml.writeTextElement("leadlag", "0");
        xml.writeTextElement("velocity", "1");
        xml.writeTextElement("pan", "0");
        xml.writeTextElement("pitch", "0");
        xml.writeTextElement("probability", "1");
        xml.writeTextElement("key", "C0");
        xml.writeTextElement("length", "-1");
        xml.writeTextElement("instrument", QString::number(n.note - options.startNote));
        xml.writeTextElement("note_off", "false");
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEmptyElement("virtualPatternList");
    xml.writeStartElement("patternSequence");
    xml.writeStartElement("group");
    xml.writeTextElement("patternID", "loop");
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    const QString songPath = QDir(folder).filePath("check.h2song");
    QVERIFY(TestAudio::writeBytes(songPath, song.toUtf8()));

    const QString rendered = QDir(folder).filePath("rendered.wav");
    const int code = runH2(
        {"--song", songPath, "--outfile", rendered, "--rate", QString::number(kRate), "--bits", "16"}, &out);
    QVERIFY2(code == 0, qPrintable(out));
    const Audio render = readAudio(rendered);
    QVERIFY2(render.rate == kRate && render.frames() >= kFrames - kRate / 10, qPrintable(out));
    const Audio source = readAudio(m_loop);
    const std::vector<float> a = monoOf(source);
    const std::vector<float> b = monoOf(render);
    double best = 0.0;
    for (long long lag = -kRate / 20; lag <= kRate / 20; ++lag)
        best = std::max(best, correlationAt(a, b, lag, kFrames));
    QVERIFY2(best >= 0.9, qPrintable(QString::number(best)));
}

void KitTest::oddNamesGiveKitsThatNameTheirSamples() {
    // A loop named with a double hyphen, markup characters, a character XML cannot carry
    // (U+FFFE) and more than 127 bytes of UTF-8: each kit is a document its reader
    // accepts (the preset well formed, the drumkit valid against Hydrogen's own schema),
    // names samples that exist, and the MIDI file's track name is whole characters.
    const QString xmllint = QStandardPaths::findExecutable("xmllint");
    QVERIFY2(!xmllint.isEmpty(), "xmllint is missing: run scripts/install-deps.sh");
    const QString schema = "/usr/share/hydrogen/data/xsd/drumkit.xsd";
    QVERIFY2(QFileInfo(schema).isFile(), "Hydrogen's drumkit schema is missing: run scripts/install-deps.sh");
    const auto lint = [&](const QStringList &args, QString *out) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(xmllint, QStringList{"--noout"} + args);
        if (!p.waitForFinished(60000))
            return -1;
        *out = QString::fromLocal8Bit(p.readAll());
        return p.exitCode();
    };
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();
    loop->setBpm(kBpm);
    const QString name = QString("Amen -- break <&\"> x") + QString(40, QChar(0x2603)) +
                         QString::fromUtf8("\xF0\x9F\xA5\x81") + QChar(0xfffe) + " end-";

    for (auto kind : {KitExporter::Kind::Sfz, KitExporter::Kind::Hydrogen, KitExporter::Kind::DecentSampler}) {
        const QString folder = freshFolder(m_dir, "odd " + KitExporter::kindKey(kind));
        KitExporter::Options options;
        options.kind = kind;
        options.folder = folder;
        options.name = name;
        KitExporter exporter(loop, hitPoints(), 0, loop->length(), options);
        QCOMPARE(exporter.run(), SliceExporter::Status::Completed);
        const QString kit = exporter.kitFile();
        QVERIFY2(QFileInfo(kit).isFile(), qPrintable(kit));
        const QString kitName = exporter.options().name;
        QVERIFY(kitName.startsWith("Amen -- break "));

        QVector<KitEntry> entries;
        QString sampleRoot = folder;
        QString out;
        if (kind == KitExporter::Kind::Sfz) {
            entries = readSfz(kit);
        } else if (kind == KitExporter::Kind::DecentSampler) {
            QVERIFY2(lint({kit}, &out) == 0, qPrintable(out));
            entries = readDecentSampler(kit);
        } else {
            const QString unpacked = freshFolder(m_dir, "odd unpacked");
            unpack(kit, unpacked);
            sampleRoot = QDir(unpacked).filePath(kitName);
            const QString xml = QDir(sampleRoot).filePath("drumkit.xml");
            QVERIFY2(lint({"--schema", schema, xml}, &out) == 0, qPrintable(out));
            entries = readHydrogen(xml);
        }
        QCOMPARE(entries.size(), kHits);
        for (const KitEntry &e : entries)
            QVERIFY2(QFileInfo(QDir(sampleRoot).filePath(e.sample)).isFile(), qPrintable(e.sample));

        const QByteArray midi = fileBytes(QDir(folder).filePath(kitName + ".mid"));
        const int at = midi.indexOf(QByteArray("\xff\x03", 2));
        QVERIFY(at > 0);
        const QByteArray trackName = midi.mid(at + 3, quint8(midi.at(at + 2)));
        QVERIFY(trackName.size() <= 127);
        QTextCodec::ConverterState state;
        const QString decoded = QTextCodec::codecForName("UTF-8")->toUnicode(trackName.constData(),
                                                                            trackName.size(), &state);
        QCOMPARE(state.invalidChars, 0);
        QCOMPARE(state.remainingChars, 0);
        QVERIFY2(decoded.size() > 20 && kitName.startsWith(decoded), qPrintable(decoded));
    }
}

void KitTest::failedOrCancelledExportLeavesNoHalfKit() {
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();

    // A destination that cannot be a folder (its parent is a file): a clear message and
    // nothing written anywhere.
    const QString parent = freshFolder(m_dir, "blocked");
    QVERIFY(TestAudio::writeBytes(QDir(parent).filePath("file"), "x"));
    KitExporter::Options options;
    options.folder = QDir(parent).filePath("file/kit");
    options.name = "Kit";
    QString error;
    QCOMPARE(KitExporter::exportKit(loop, hitPoints(), 0, loop->length(), options, &error),
             SliceExporter::Status::Failed);
    QVERIFY2(error.contains(QDir::toNativeSeparators(options.folder)), qPrintable(error));
    QCOMPARE(allEntries(parent), QStringList({"file"}));

    // Cancelled halfway through the samples, and refused over an existing kit: the folder
    // holds exactly what it held before.
    for (auto kind : {KitExporter::Kind::Sfz, KitExporter::Kind::Hydrogen}) {
        const QString folder = freshFolder(m_dir, "cancelled");
        options.folder = folder;
        options.kind = kind;
        KitExporter exporter(loop, hitPoints(), 0, loop->length(), options);
        QMetaObject::Connection c = connect(
            loop.data(), &Slice::savingProgress, loop.data(),
            [&](float f) {
                if (f > 0.3f)
                    exporter.cancel();
            },
            Qt::DirectConnection);
        QCOMPARE(exporter.run(), SliceExporter::Status::Cancelled);
        disconnect(c);
        QCOMPARE(allEntries(folder), QStringList());

        QCOMPARE(KitExporter::exportKit(loop, hitPoints(), 0, loop->length(), options, &error),
                 SliceExporter::Status::Completed);
        const QStringList before = allEntries(folder);
        const QByteArray midi = fileBytes(QDir(folder).filePath("Kit.mid"));
        QCOMPARE(KitExporter::exportKit(loop, {}, 0, 2 * 1000, options, &error),
                 SliceExporter::Status::Failed);
        QVERIFY2(error.contains("already exists"), qPrintable(error));
        QCOMPARE(allEntries(folder), before);
        QCOMPARE(fileBytes(QDir(folder).filePath("Kit.mid")), midi);
    }
}

void KitTest::savedLoopCarriesSlicePointsAsCueMarkers_data() {
    QTest::addColumn<QString>("suffix");
    QTest::newRow("wav") << "wav";
    QTest::newRow("aiff") << "aiff";
}

void KitTest::savedLoopCarriesSlicePointsAsCueMarkers() {
    // "Save As" writes the slice points inside the trim region as labelled markers (and
    // the tempo, in a WAV); libsndfile and sox read the file without complaint and the
    // markers come back as the same points.
    QFETCH(QString, suffix);
    auto slicer = loadedSlicer(m_loop);
    SlicePtr loop = slicer->currentSlice();
    loop->setBpm(kBpm);
    slicer->setSlicePoints(hitPoints());
    const int trimStart = 2 * 1000;
    slicer->setTrimStart(trimStart);
    const QString path = m_dir.filePath("saved." + suffix);
    QFile::remove(path);
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSaveAs(slicer.get(), path));
    QVERIFY(exporter);
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);

    const CueMarkers::Read read = CueMarkers::read(path);
    QVERIFY(read.ok);
    QCOMPARE(read.cues.size(), kHits - 1);
    for (int i = 0; i < read.cues.size(); ++i) {
        QCOMPARE(read.cues[i], qint64(hitPoints()[i] - trimStart) / 2);
        QCOMPARE(read.labels[i], QString("Slice %1").arg(i + 2));
    }
    if (suffix == "wav")
        QCOMPARE(read.bpm, kBpm);
    QList<int> expected;
    for (int p : hitPoints())
        expected.append(p - trimStart);
    QCOMPARE(CueMarkers::slicePoints(read), expected);
    // The audio is whole: as long as the trimmed loop.
    QCOMPARE(readAudio(path).frames(), kFrames - trimStart / 2);

    QProcess soxi;
    soxi.start("soxi", {path});
    QVERIFY2(soxi.waitForFinished(30000), "soxi is missing: run scripts/install-deps.sh");
    QCOMPARE(soxi.exitCode(), 0);
    QCOMPARE(QString::fromLocal8Bit(soxi.readAllStandardError()).trimmed(), QString());
    QVERIFY(soxi.readAllStandardOutput().contains(QByteArray::number(kFrames - trimStart / 2) + " samples"));

    // The same loop in a folder deeper than libsndfile's 1024-byte limit on a path keeps
    // its markers and tempo.
    QString deep = m_dir.filePath(QString(200, QLatin1Char('d')));
    for (int i = 0; i < 5; ++i)
        deep += QLatin1Char('/') + QString(200, QLatin1Char(char('a' + i)));
    QVERIFY(QDir().mkpath(deep));
    const QString far = deep + "/far." + suffix;
    QFile::remove(far);
    QVERIFY(QFile::copy(path, far));
    QVERIFY(QFile::encodeName(far).size() > 1024);
    const CueMarkers::Read farRead = CueMarkers::read(far);
    QVERIFY(farRead.ok);
    QCOMPARE(farRead.cues, read.cues);
    QCOMPARE(farRead.labels, read.labels);
    QCOMPARE(farRead.bpm, read.bpm);

    // More markers than libsndfile's header can hold (a slice every few milliseconds):
    // they are left out rather than written over the start of the audio.
    QList<int> dense;
    for (int p = trimStart + 2 * 16; p < 2 * kFrames; p += 2 * 16)
        dense.append(p);
    QVERIFY(dense.size() > 3000);
    slicer->setSlicePoints(dense);
    QFile::remove(path);
    exporter.reset(SliceExporter::forSaveAs(slicer.get(), path));
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);
    QCOMPARE(readAudio(path).frames(), kFrames - trimStart / 2);
    QVERIFY(CueMarkers::read(path).ok);
}

void KitTest::secondCtrlCWaitsForAKitBeingMovedIntoPlace() {
    // Abandoning is for a program about to exit and never lets go of the pending files:
    // it runs in a child process. While a kit's files are being moved into place, its
    // staging folder (which holds what an overwrite sets aside) stays; once they are in
    // place, the folder goes with everything else pending.
#if defined(__SANITIZE_THREAD__)
    QSKIP("ThreadSanitizer cannot start threads in a child forked from a threaded process");
#endif
    const QString staging = m_dir.filePath(".loop.kit-test.part");
    const pid_t pid = ::fork();
    if (pid == 0) {
        int err = 0;
        if (!PendingFile::createTrackedFolder(staging, &err))
            ::_exit(10);
        std::atomic<bool> abandoned{false};
        std::thread second;
        {
            PendingFile::CommitLock moving;
            if (moving.abandoned())
                ::_exit(11);
            second = std::thread([&abandoned] {
                PendingFile::abandonAll();
                abandoned = true;
            });
            ::usleep(200 * 1000);
            if (abandoned || !QFileInfo(staging).isDir())
                ::_exit(12);
        }
        second.join();
        ::_exit(QFileInfo::exists(staging) ? 13 : 0);
    }
    QVERIFY(pid > 0);
    int status = 0;
    QVERIFY(QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 20000) ||
            (::kill(pid, SIGKILL), ::waitpid(pid, &status, 0), false));
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
    QVERIFY(!QFileInfo::exists(staging));
}
