#include "MidiSliceWriter.h"

#include "Settings.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {
QString tr(const char *text) {
    return QCoreApplication::translate("MidiSliceWriter", text);
}

void put32(QByteArray &out, quint32 v) {
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void putVariableLength(QByteArray &out, quint32 v) {
    char bytes[5];
    int n = 0;
    bytes[n++] = char(v & 0x7f);
    while (v >>= 7)
        bytes[n++] = char(0x80 | (v & 0x7f));
    while (n > 0)
        out.append(bytes[--n]);
}

struct NoteEvent {
    qint64 tick;
    bool on;
    int note;
};
} // namespace

QByteArray MidiSliceWriter::build(const QVector<SliceExporter::Range> &ranges, int fileRate, double bpm,
                                  int baseNote, const QString &trackName, int *notesLeftOut) {
    if (fileRate <= 0)
        fileRate = 44100;
    if (!(bpm > 0.0) || !std::isfinite(bpm))
        bpm = 120.0;
    bpm = std::max(20.0, std::min(bpm, 999.0));
    baseNote = std::max(0, std::min(baseNote, 127));
    const quint32 microsPerQuarter = quint32(std::lround(60'000'000.0 / bpm));
    // Ticks follow the tempo as written, so note times and tempo agree exactly.
    const double ticksPerSample =
        double(kTicksPerQuarter) * 1'000'000.0 / double(microsPerQuarter) / (2.0 * double(fileRate));
    const qint64 origin = ranges.isEmpty() ? 0 : ranges.first().start;
    const auto tickAt = [&](int position) {
        return qint64(std::llround(double(position - origin) * ticksPerSample));
    };

    std::vector<NoteEvent> events;
    int leftOut = 0;
    for (int i = 0; i < ranges.size(); ++i) {
        const int note = baseNote + i;
        if (note > 127) {
            ++leftOut;
            continue;
        }
        const qint64 on = tickAt(ranges.at(i).start);
        const qint64 off = std::max(on + 1, tickAt(ranges.at(i).end));
        events.push_back({on, true, note});
        events.push_back({off, false, note});
    }
    // At one tick, the ending note is released before the next one starts.
    std::stable_sort(events.begin(), events.end(), [](const NoteEvent &a, const NoteEvent &b) {
        if (a.tick != b.tick)
            return a.tick < b.tick;
        return !a.on && b.on;
    });
    if (notesLeftOut)
        *notesLeftOut = leftOut;

    QByteArray track;
    // The length is one byte; cut between characters, never inside one's UTF-8 bytes.
    QString shortName = trackName;
    while (shortName.toUtf8().size() > 127)
        shortName.chop(shortName.size() > 1 && shortName.at(shortName.size() - 1).isLowSurrogate() ? 2 : 1);
    const QByteArray name = shortName.toUtf8();
    track.append('\0').append(char(0xff)).append(char(0x03)).append(char(name.size())).append(name);
    track.append('\0').append(char(0xff)).append(char(0x51)).append(char(0x03));
    track.append(char(microsPerQuarter >> 16))
        .append(char(microsPerQuarter >> 8))
        .append(char(microsPerQuarter));
    // 4/4, 24 clocks per metronome click, 8 thirty-seconds per quarter.
    track.append('\0').append(char(0xff)).append(char(0x58)).append(char(0x04));
    track.append(char(4)).append(char(2)).append(char(24)).append(char(8));
    qint64 now = 0;
    for (const NoteEvent &e : events) {
        putVariableLength(track, quint32(std::min<qint64>(e.tick - now, 0x0fffffff)));
        now = e.tick;
        track.append(char(e.on ? 0x90 : 0x80)).append(char(e.note)).append(char(e.on ? kVelocity : 0));
    }
    track.append('\0').append(char(0xff)).append(char(0x2f)).append('\0');

    QByteArray out("MThd");
    put32(out, 6);
    out.append('\0').append('\0');    // format 0: one track
    out.append('\0').append(char(1)); // one track
    out.append(char(kTicksPerQuarter >> 8)).append(char(kTicksPerQuarter & 0xff));
    out.append("MTrk");
    put32(out, quint32(track.size()));
    out.append(track);
    return out;
}

int MidiSliceWriter::baseNoteFromSettings() {
    bool ok = false;
    const int note = Settings::instance().value(QStringLiteral("MidiDeviceBaseNote")).toInt(&ok, 10);
    return ok && note >= 0 && note <= 127 ? note : 36;
}

bool MidiSliceWriter::save(Trevant *slicer, const QString &path, QString *error, QString *writtenPath) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    const QVector<SliceExporter::Range> ranges = SliceExporter::sliceRanges(slicer);
    if (!loop || ranges.isEmpty()) {
        if (error)
            *error = tr("There are no slices to save.");
        return false;
    }
    QString target = path;
    if (QFileInfo(target).suffix().isEmpty())
        target += QLatin1String(".mid");

    const QByteArray bytes =
        build(ranges, loop->fileSampleRate(), loop->bpm(), baseNoteFromSettings(), loop->baseName());
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error =
                tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(target), file.errorString());
        return false;
    }
    if (writtenPath)
        *writtenPath = target;
    return true;
}
