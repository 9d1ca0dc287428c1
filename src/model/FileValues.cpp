#include "FileValues.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QHash>
#include <QXmlStreamReader>
#include <cmath>

namespace {
double parse(const QString &text, bool *ok) {
    // Whole numbers first, so that large integers keep every digit.
    const qlonglong whole = text.trimmed().toLongLong(ok, 10);
    if (*ok)
        return double(whole);
    const double value = text.trimmed().toDouble(ok);
    // Infinities are no more a value than NaN: neither says which end of a range was meant.
    *ok = *ok && std::isfinite(value);
    return value;
}

double clamp(double value, FileValues::Range range) {
    return std::min(std::max(value, range.min), range.max);
}

// The settings that hold numbers, with the range of the control that sets each.
const QHash<QString, FileValues::Range> &numericSettings() {
    static const QHash<QString, FileValues::Range> ranges{
        {QStringLiteral("AudioDeviceBufferSize"), {32, 4096}},
        {QStringLiteral("AudioDeviceSampleRate"), {8000, 768000}},
        {QStringLiteral("MidiDeviceBaseNote"), {0, 127}},
        {QStringLiteral("snap_to_zero_crossings"), {0, 1}},
        {QStringLiteral("fade_in_out_slices"), {0, 1}},
        {QStringLiteral("AdvancedSlicingInterval"), {0.25, 1000}},
        {QStringLiteral("AdvancedSlicingTimeSigNumer"), {1, 99}},
        {QStringLiteral("AdvancedSlicingTimeSigDenom"), {1, 99}},
        {QStringLiteral("AdvancedSlicingSliceByBeats"), {0, 1}},
    };
    return ranges;
}
} // namespace

int FileValues::toInt(const QString &text, Range range, int fallback) {
    bool ok = false;
    const double value = parse(text, &ok);
    return ok ? int(std::llround(clamp(value, range))) : fallback;
}

double FileValues::toDouble(const QString &text, Range range, double fallback) {
    bool ok = false;
    const double value = parse(text, &ok);
    return ok ? clamp(value, range) : fallback;
}

QString FileValues::setting(const QString &key, const QString &value) {
    const auto it = numericSettings().constFind(key);
    if (it == numericSettings().constEnd())
        return value;
    bool ok = false;
    const double number = parse(value, &ok);
    if (!ok)
        return value;
    const double clamped = clamp(number, *it);
    if (clamped == number && value.trimmed() == value)
        return value;
    return QString::number(clamped, 'g', 17);
}

bool FileValues::parseXml(const QByteArray &bytes, QDomDocument *doc, QString *message, int *line,
                          int *column) {
    QXmlStreamReader reader(bytes);
    int depth = 0;
    const auto refuse = [&](const QString &why) {
        if (message)
            *message = why;
        if (line)
            *line = int(reader.lineNumber());
        if (column)
            *column = int(reader.columnNumber());
        return false;
    };
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kMaxXmlDepth)
            return refuse(QCoreApplication::translate("FileValues", "elements nested too deeply"));
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    // What the streaming pass could not read is refused too: the document parser must
    // never see a nesting this pass has not counted.
    if (reader.hasError())
        return refuse(reader.errorString());
    QDomDocument parsed;
    if (!parsed.setContent(bytes, message, line, column))
        return false;
    if (doc)
        *doc = parsed;
    return true;
}
