#include "MidiTest.h"

#include "MidiSliceWriter.h"
#include "PersistFixtures.h"
#include "Settings.h"
#include "Trevant.h"

#include <QFile>
#include <QtTest>
#include <cmath>

namespace {
struct Note {
    qint64 on = -1;
    qint64 off = -1;
    int note = 0;
    int velocity = 0;
};

struct ParsedMidi {
    bool ok = false;
    QString error;
    int format = -1;
    int tracks = -1;
    int division = 0;
    quint32 microsPerQuarter = 0;
    QString trackName;
    QList<Note> notes;
    bool endOfTrack = false;
};

quint32 be(const QByteArray &b, int at, int n) {
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | quint8(b[at + i]);
    return v;
}

// A strict reader of what the writer is meant to produce: a format 0 file, one track
// whose length matches its bytes, note events without running status.
ParsedMidi parse(const QByteArray &b) {
    ParsedMidi m;
    const auto fail = [&](const char *why) {
        m.error = why;
        return m;
    };
    if (b.size() < 22 || b.left(4) != "MThd" || be(b, 4, 4) != 6)
        return fail("bad header");
    m.format = int(be(b, 8, 2));
    m.tracks = int(be(b, 10, 2));
    m.division = int(be(b, 12, 2));
    if (b.mid(14, 4) != "MTrk")
        return fail("no track");
    const int end = 22 + int(be(b, 18, 4));
    if (end != b.size())
        return fail("track length does not match the file");
    int pos = 22;
    qint64 tick = 0;
    QMap<int, int> open; // note -> index in notes
    while (pos < end) {
        quint32 delta = 0;
        for (int i = 0;; ++i) {
            if (pos >= end || i > 3)
                return fail("bad delta");
            const quint8 c = quint8(b[pos++]);
            delta = (delta << 7) | (c & 0x7f);
            if (!(c & 0x80))
                break;
        }
        tick += delta;
        const quint8 status = quint8(b[pos++]);
        if (status == 0xff) {
            const quint8 type = quint8(b[pos++]);
            const int len = quint8(b[pos++]);
            if (type == 0x51 && len == 3)
                m.microsPerQuarter = be(b, pos, 3);
            if (type == 0x03)
                m.trackName = QString::fromUtf8(b.mid(pos, len));
            if (type == 0x2f) {
                m.endOfTrack = true;
                if (pos + len != end)
                    return fail("data after end of track");
            }
            pos += len;
        } else if ((status & 0xf0) == 0x90 || (status & 0xf0) == 0x80) {
            const int note = quint8(b[pos++]);
            const int velocity = quint8(b[pos++]);
            if ((status & 0xf0) == 0x90 && velocity > 0) {
                if (open.contains(note))
                    return fail("note started twice");
                Note n;
                n.on = tick;
                n.note = note;
                n.velocity = velocity;
                open[note] = m.notes.size();
                m.notes.append(n);
            } else {
                if (!open.contains(note))
                    return fail("note off without note on");
                m.notes[open.take(note)].off = tick;
            }
        } else {
            return fail("unexpected event");
        }
    }
    if (!open.isEmpty())
        return fail("hanging note");
    m.ok = m.endOfTrack;
    return m;
}
} // namespace

void MidiTest::fileParsesBackWithOneNotePerSlice() {
    // Four slices of a loop at 44.1 kHz and 120 BPM: half a second is one beat.
    const int beat = 44100; // samples of the interleaved stream per half second
    const QVector<SliceExporter::Range> ranges = {{1000, 1000 + beat},
                                                  {1000 + beat, 1000 + 2 * beat},
                                                  {1000 + 2 * beat, 1000 + 3 * beat + beat / 2},
                                                  {1000 + 3 * beat + beat / 2, 1000 + 4 * beat}};
    const QByteArray bytes = MidiSliceWriter::build(ranges, 44100, 120.0, 36, "amen");
    const ParsedMidi m = parse(bytes);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.format, 0);
    QCOMPARE(m.tracks, 1);
    QCOMPARE(m.division, MidiSliceWriter::kTicksPerQuarter);
    QCOMPARE(m.microsPerQuarter, 500000u);
    QCOMPARE(m.trackName, QString("amen"));
    QCOMPARE(m.notes.size(), 4);
    const qint64 q = MidiSliceWriter::kTicksPerQuarter;
    const QList<qint64> on = {0, q, 2 * q, 3 * q + q / 2};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(m.notes[i].note, 36 + i);
        QCOMPARE(m.notes[i].on, on[i]);
        QCOMPARE(m.notes[i].off, i < 3 ? on[i + 1] : 4 * q);
        QVERIFY(m.notes[i].velocity > 0);
    }
}

void MidiTest::notesAboveTheRangeAreLeftOut() {
    QVector<SliceExporter::Range> ranges;
    for (int i = 0; i < 10; ++i)
        ranges.append({i * 2000, (i + 1) * 2000});
    int leftOut = -1;
    const ParsedMidi m = parse(MidiSliceWriter::build(ranges, 48000, 0.0, 120, QString(), &leftOut));
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.notes.size(), 8);
    QCOMPARE(m.notes.last().note, 127);
    QCOMPARE(leftOut, 2);
    QCOMPARE(m.microsPerQuarter, 500000u); // an unknown tempo writes 120 BPM
}

void MidiTest::savingUsesTheLoopTempoAndBaseNote() {
    const QString loopPath = PersistFixtures::writeStaircase(m_dir.filePath("groove.wav"), 48000, 96000);
    auto slicer = PersistFixtures::loadedSlicer(loopPath);
    slicer->currentSlice()->setBpm(90.0);
    slicer->sliceEvenly(16);
    Settings::instance().set("MidiDeviceBaseNote", "48");
    QString written;
    QString error;
    QVERIFY2(MidiSliceWriter::save(slicer.get(), m_dir.filePath("groove"), &error, &written),
             qPrintable(error));
    QCOMPARE(written, m_dir.filePath("groove.mid"));
    QFile f(written);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const ParsedMidi m = parse(f.readAll());
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.notes.size(), 16);
    QCOMPARE(m.notes.first().note, 48);
    QCOMPARE(m.microsPerQuarter, quint32(std::lround(60e6 / 90.0)));
    // Two seconds at 90 BPM are three beats.
    QCOMPARE(m.notes.last().off, qint64(3 * MidiSliceWriter::kTicksPerQuarter));

    Settings::instance().set("MidiDeviceBaseNote", "abc");
    QCOMPARE(MidiSliceWriter::baseNoteFromSettings(), 36);
    Trevant empty;
    QVERIFY(!MidiSliceWriter::save(&empty, m_dir.filePath("none.mid"), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFile::exists(m_dir.filePath("none.mid")));
}
