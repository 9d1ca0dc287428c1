#include "CueMarkers.h"

#include "AudioFileSndFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {
QString tr(const char *text) {
    return QCoreApplication::translate("CueMarkers", text);
}

// SF_CUES holds a fixed hundred points; a loop may have more slices, so the buffer is
// sized to the count (the library reads the count and copies that many).
std::vector<char> cueBuffer(size_t count) {
    return std::vector<char>(offsetof(SF_CUES, cue_points) +
                             std::max<size_t>(1, count) * sizeof(SF_CUE_POINT));
}

void putLE32(QByteArray &out, quint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    out.append(b, 4);
}

void putLE16(QByteArray &out, quint16 v) {
    char b[2];
    qToLittleEndian(v, b);
    out.append(b, 2);
}

void putChunk(QByteArray &out, const char *id, const QByteArray &body) {
    out.append(id, 4);
    putLE32(out, quint32(body.size()));
    out.append(body);
    if (body.size() % 2)
        out.append('\0');
}
} // namespace

bool CueMarkers::set(SNDFILE *file, const QVector<qint64> &frames, const QStringList &labels) {
    if (!file || frames.isEmpty())
        return true;
    // libsndfile builds a file's header in one buffer of about 64 KiB and, when the
    // markers overflow it, writes a header that cuts off the audio chunk: the file then
    // opens nowhere. Markers that would take more than three quarters of it are left out
    // (a WAV's are 24 bytes each, an AIFF's 6 and its name), so the audio stays readable.
    constexpr qint64 kMaxMarkerBytes = 48 * 1024;
    qint64 aiffBytes = 2;
    for (int i = 0; i < frames.size(); ++i) {
        const qint64 name = i < labels.size() ? std::min(255, int(labels.at(i).toUtf8().size())) : 0;
        aiffBytes += 6 + ((name + 2) & ~1);
    }
    if (4 + 24 * qint64(frames.size()) > kMaxMarkerBytes || aiffBytes > kMaxMarkerBytes)
        return false;
    std::vector<char> buffer = cueBuffer(size_t(frames.size()));
    auto *cues = reinterpret_cast<SF_CUES *>(buffer.data());
    cues->cue_count = quint32(frames.size());
    for (int i = 0; i < frames.size(); ++i) {
        SF_CUE_POINT &point = cues->cue_points[i];
        point.indx = i + 1;
        point.position = quint32(std::max<qint64>(0, std::min<qint64>(frames.at(i), 0xffffffffLL)));
        point.fcc_chunk = 0x61746164; // "data", little-endian
        point.sample_offset = point.position;
        const QByteArray name = i < labels.size() ? labels.at(i).toUtf8().left(255) : QByteArray();
        std::memcpy(point.name, name.constData(), size_t(name.size()));
    }
    return sf_command(file, SFC_SET_CUE, cues, int(buffer.size())) == SF_TRUE;
}

bool CueMarkers::appendWavChunks(const QString &path, const QStringList &labels, double bpm, qint64 frames,
                                 int rate, QString *error) {
    QByteArray tail;
    if (!labels.isEmpty()) {
        QByteArray list("adtl");
        for (int i = 0; i < labels.size(); ++i) {
            QByteArray body;
            putLE32(body, quint32(i + 1));
            body.append(labels.at(i).toUtf8()).append('\0');
            putChunk(list, "labl", body);
        }
        putChunk(tail, "LIST", list);
    }
    if (bpm > 0.0 && std::isfinite(bpm) && rate > 0) {
        QByteArray acid;
        putLE32(acid, 0);      // a loop, no root note
        putLE16(acid, 60);     // root note
        putLE16(acid, 0x8000); // reserved
        putLE32(acid, 0);      // reserved (float 0)
        putLE32(acid, quint32(std::max<qint64>(1, std::llround(double(frames) / rate * bpm / 60.0))));
        putLE16(acid, 4); // meter denominator
        putLE16(acid, 4); // meter numerator
        const float tempo = float(bpm);
        quint32 bits;
        std::memcpy(&bits, &tempo, sizeof bits);
        putLE32(acid, bits);
        putChunk(tail, "acid", acid);
    }
    if (tail.isEmpty())
        return true;

    QFile file(path);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = tr("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    };
    if (!file.open(QIODevice::ReadWrite))
        return fail(file.errorString());
    char header[12];
    if (file.read(header, 12) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0)
        return true; // RF64 and other containers keep only what the library wrote
    qint64 size = file.size();
    if (size % 2)
        tail.prepend('\0'); // the last chunk's pad byte
    if (size + tail.size() - 8 > qint64(0xffffffffLL))
        return true; // no room left in a RIFF file; the markers themselves are there
    if (!file.seek(size) || file.write(tail) != tail.size())
        return fail(file.errorString());
    size += tail.size();
    char riffSize[4];
    qToLittleEndian(quint32(size - 8), riffSize);
    if (!file.seek(4) || file.write(riffSize, 4) != 4 || !file.flush())
        return fail(file.errorString());
    return true;
}

bool CueMarkers::holdsMarkers(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("wav") || suffix == QLatin1String("aif") ||
           suffix == QLatin1String("aiff");
}

CueMarkers::Read CueMarkers::read(const QString &path) {
    Read result;
    if (!holdsMarkers(path))
        return result;
    SF_INFO info{};
    // As the audio readers open it: a loop in a deep folder keeps its slice points.
    SNDFILE *file = AudioFileSndFile::openForReading(path, &info);
    if (!file)
        return result;
    result.ok = true;
    result.rate = info.samplerate;
    result.frames = info.frames;

    quint32 count = 0;
    if (sf_command(file, SFC_GET_CUE_COUNT, &count, sizeof count) == SF_TRUE && count > 0 && count < 100000) {
        std::vector<char> buffer = cueBuffer(count);
        auto *cues = reinterpret_cast<SF_CUES *>(buffer.data());
        if (sf_command(file, SFC_GET_CUE, cues, int(buffer.size())) == SF_TRUE) {
            const quint32 n = std::min(count, cues->cue_count);
            // Writers disagree on which field carries the position: AIFF markers come
            // with only the offset, some WAV writers fill only the position.
            bool offsetsUsed = false;
            for (quint32 i = 0; i < n; ++i)
                offsetsUsed = offsetsUsed || cues->cue_points[i].sample_offset != 0;
            std::vector<std::pair<qint64, QString>> points;
            for (quint32 i = 0; i < n; ++i) {
                const SF_CUE_POINT &p = cues->cue_points[i];
                const qint64 frame = offsetsUsed ? qint64(p.sample_offset) : qint64(p.position);
                if (frame < 0 || frame > result.frames)
                    continue;
                const size_t len = strnlen(p.name, sizeof p.name);
                points.emplace_back(frame, QString::fromUtf8(p.name, int(len)));
            }
            std::stable_sort(points.begin(), points.end(),
                             [](const auto &a, const auto &b) { return a.first < b.first; });
            for (const auto &p : points) {
                result.cues.append(p.first);
                result.labels.append(p.second);
            }
        }
    }
    SF_LOOP_INFO loop{};
    if (sf_command(file, SFC_GET_LOOP_INFO, &loop, sizeof loop) == SF_TRUE && loop.bpm > 0.0 &&
        std::isfinite(loop.bpm))
        result.bpm = loop.bpm;
    sf_close(file);
    return result;
}

QList<int> CueMarkers::slicePoints(const Read &markers) {
    QList<int> points;
    const qint64 limit = std::min<qint64>(markers.frames, (qint64(INT32_MAX) - 1) / 2);
    for (qint64 frame : markers.cues) {
        if (frame <= 0 || frame >= limit)
            continue;
        const int position = int(2 * frame);
        if (points.isEmpty() || points.last() != position)
            points.append(position);
    }
    return points;
}
