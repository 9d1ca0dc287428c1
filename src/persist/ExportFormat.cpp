#include "ExportFormat.h"

#include "Settings.h"

#include <QFileInfo>
#include <sndfile.h>

ExportFormat ExportFormat::fromSettings() {
    const Settings &settings = Settings::instance();
    ExportFormat format;
    format.bitDepth = bitDepthFromText(settings.value(QStringLiteral("WaveExportBitDepth")));
    format.sampleRate = sampleRateFromText(settings.value(QStringLiteral("WaveExportSampleRate")));
    return format;
}

int ExportFormat::bitDepthFromText(const QString &text) {
    const QString t = text.trimmed();
    if (t == QLatin1String("8 bit"))
        return 8;
    if (t == QLatin1String("24 bit"))
        return 24;
    if (t == QLatin1String("32 bit"))
        return 32;
    return 16;
}

int ExportFormat::sampleRateFromText(const QString &text) {
    const QString t = text.trimmed();
    if (t == QLatin1String("22500"))
        return 22050;
    for (int rate : {44100, 48000, 96000, 192000})
        if (t == QString::number(rate))
            return rate;
    return 0;
}

int ExportFormat::sndfileFormat(const QString &path) const {
    const QString suffix = QFileInfo(path).suffix().toLower();
    int major = SF_FORMAT_WAV;
    if (suffix == QLatin1String("aif") || suffix == QLatin1String("aiff"))
        major = SF_FORMAT_AIFF;
    else if (suffix == QLatin1String("flac"))
        major = SF_FORMAT_FLAC;

    int subtype;
    switch (bitDepth) {
    case 8:
        // 8-bit WAV is unsigned by definition; AIFF and FLAC store it signed.
        subtype = major == SF_FORMAT_WAV ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_S8;
        break;
    case 24:
        subtype = SF_FORMAT_PCM_24;
        break;
    case 32:
        subtype = major == SF_FORMAT_FLAC ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT;
        break;
    default:
        subtype = SF_FORMAT_PCM_16;
        break;
    }
    return major | subtype;
}
