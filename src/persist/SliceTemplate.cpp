#include "SliceTemplate.h"

#include "FileValues.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

namespace {
QString tr(const char *text) {
    return QCoreApplication::translate("SliceTemplate", text);
}

QString native(const QString &path) {
    return QDir::toNativeSeparators(path);
}

// An optional position: -1 when absent, negative or not a number.
int optionalPosition(const QDomElement &e, const QString &name) {
    return FileValues::toInt(e.attribute(name), {-1, FileValues::kPosition.max}, -1);
}
} // namespace

SliceTemplate SliceTemplate::fromPoints(const QList<int> &points, int trimStart, int trimEnd, int length,
                                        int sampleRate) {
    SliceTemplate t;
    t.m_iLength = length;
    t.m_iTrimStart = trimStart;
    t.m_iTrimEnd = trimEnd;
    t.m_iSampleRate = sampleRate;
    const double span = double(trimEnd) - double(trimStart);
    if (span <= 0)
        return t;
    QList<int> sorted = points;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (int p : qAsConst(sorted))
        if (p > trimStart && p < trimEnd)
            t.m_points.append({(double(p) - trimStart) / span, p});
    return t;
}

SliceTemplate SliceTemplate::fromSlicer(Trevant *slicer) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop)
        return SliceTemplate();
    return fromPoints(slicer->slicePoints(), slicer->trimStart(), slicer->trimEnd(), loop->length(),
                      loop->fileSampleRate());
}

bool SliceTemplate::save(const QString &path, QString *error) const {
    QDomDocument doc(QStringLiteral("slicetemplate"));
    QDomElement root = doc.createElement(QStringLiteral("slicetemplate"));
    root.setAttribute(QStringLiteral("version"), kVersion);
    root.setAttribute(QStringLiteral("length"), m_iLength);
    root.setAttribute(QStringLiteral("trimstart"), m_iTrimStart);
    root.setAttribute(QStringLiteral("trimend"), m_iTrimEnd);
    root.setAttribute(QStringLiteral("samplerate"), m_iSampleRate);
    doc.appendChild(root);
    for (const Point &p : m_points) {
        QDomElement e = doc.createElement(QStringLiteral("slicepoint"));
        // Seventeen digits bring the double back bit for bit.
        e.setAttribute(QStringLiteral("relative"), QString::number(p.relative, 'g', 17));
        if (p.position >= 0)
            e.setAttribute(QStringLiteral("position"), p.position);
        root.appendChild(e);
    }
    QSaveFile file(path);
    const QByteArray bytes = doc.toByteArray(1);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = tr("%1 could not be written: %2").arg(native(path), file.errorString());
        return false;
    }
    return true;
}

bool SliceTemplate::load(const QString &path, SliceTemplate *out, QString *error) {
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("%1 could not be opened: %2").arg(native(path), file.errorString()));
    if (file.size() > kMaxFileBytes)
        return fail(tr("%1 is too large to be a slice template.").arg(native(path)));
    return fromBytes(file.read(kMaxFileBytes + 1), path, out, error);
}

bool SliceTemplate::fromBytes(const QByteArray &bytes, const QString &path, SliceTemplate *out,
                              QString *error) {
    const auto fail = [&](const QString &message) {
        if (error)
            *error = message;
        return false;
    };
    if (bytes.size() > kMaxFileBytes)
        return fail(tr("%1 is too large to be a slice template.").arg(native(path)));

    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!FileValues::parseXml(bytes, &doc, &message, &line, &column))
        return fail(tr("%1 is not a slice template or is damaged (line %2: %3).")
                        .arg(native(path))
                        .arg(line)
                        .arg(message));
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("slicetemplate"))
        return fail(tr("%1 is not a slice template.").arg(native(path)));
    bool ok = false;
    const int version = root.attribute(QStringLiteral("version"), QStringLiteral("1")).toInt(&ok);
    if (!ok || version < 1)
        return fail(tr("%1 is not a slice template or is damaged.").arg(native(path)));
    if (version > kVersion)
        return fail(tr("%1 was made by a newer version of Quillory.").arg(native(path)));

    SliceTemplate t;
    t.m_iLength = optionalPosition(root, QStringLiteral("length"));
    t.m_iTrimStart = optionalPosition(root, QStringLiteral("trimstart"));
    t.m_iTrimEnd = optionalPosition(root, QStringLiteral("trimend"));
    t.m_iSampleRate = FileValues::toInt(root.attribute(QStringLiteral("samplerate")), FileValues::kSampleRate, 0);
    for (QDomElement e = root.firstChildElement(QStringLiteral("slicepoint")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("slicepoint"))) {
        if (t.m_points.size() >= kMaxPoints)
            return fail(tr("%1 holds too many slice points.").arg(native(path)));
        // Points beyond the region's ends fall on its boundaries and give no slice.
        const double relative = FileValues::toDouble(e.attribute(QStringLiteral("relative")), {0.0, 1.0}, -1.0);
        if (relative < 0.0)
            return fail(tr("%1 is damaged: a slice point has no valid position.").arg(native(path)));
        t.m_points.append({relative, optionalPosition(e, QStringLiteral("position"))});
    }
    if (out)
        *out = t;
    return true;
}

QList<int> SliceTemplate::fit(int trimStart, int trimEnd, int length) const {
    QList<int> result;
    if (trimEnd <= trimStart)
        return result;
    // The very loop the template came from (same length and trim region) gets its
    // points back exactly, without a round trip through fractions.
    const bool sameRegion = m_iLength == length && m_iTrimStart == trimStart && m_iTrimEnd == trimEnd;
    const double span = double(trimEnd) - double(trimStart);
    for (const Point &p : m_points) {
        qint64 position;
        if (sameRegion && p.position >= 0)
            position = p.position;
        else
            position = trimStart + std::llround(p.relative * span);
        position &= ~qint64(1);
        if (position > trimStart && position < trimEnd)
            result.append(int(position));
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

bool SliceTemplate::fittedPoints(Trevant *slicer, const QString &path, QList<int> *points, QString *error) {
    const SlicePtr loop = slicer ? slicer->currentSlice() : SlicePtr();
    if (!loop || loop->length() <= 0) {
        if (error)
            *error = tr("Open a loop before loading a slice template.");
        return false;
    }
    SliceTemplate t;
    if (!load(path, &t, error))
        return false;
    if (points)
        *points = t.fit(slicer->trimStart(), slicer->trimEnd(), loop->length());
    return true;
}

bool SliceTemplate::saveFrom(Trevant *slicer, const QString &chosenPath, QString *error,
                             QString *writtenPath) {
    if (!slicer || !slicer->currentSlice()) {
        if (error)
            *error = tr("There is no loop whose slicing could be saved.");
        return false;
    }
    const QString path = withTemplateSuffix(chosenPath);
    if (!fromSlicer(slicer).save(path, error))
        return false;
    if (writtenPath)
        *writtenPath = path;
    return true;
}

QString SliceTemplate::withTemplateSuffix(const QString &path) {
    if (QFileInfo(path).suffix() == QLatin1String("qlst"))
        return path;
    return path + QLatin1String(".qlst");
}

bool SliceTemplate::isTemplatePath(const QString &path) {
    return QFileInfo(path).suffix() == QLatin1String("qlst");
}
