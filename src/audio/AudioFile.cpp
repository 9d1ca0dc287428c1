#include "AudioFile.h"

#include "AudioFileAudioDecoder.h"
#include "AudioFileFLAC.h"
#include "AudioFileSndFile.h"

#include <QFileInfo>
#include <climits>

AudioFile::~AudioFile() = default;

QStringList AudioFile::openableSuffixes() {
    // Audio containers only: a video's sound track is not a loop a folder walk should find.
    return {QStringLiteral("wav"), QStringLiteral("wave"), QStringLiteral("aif"), QStringLiteral("aiff"),
            QStringLiteral("aifc"), QStringLiteral("flac"), QStringLiteral("mp3"), QStringLiteral("m4a"),
            QStringLiteral("aac"),  QStringLiteral("wma"),  QStringLiteral("ogg"), QStringLiteral("oga"),
            QStringLiteral("opus"), QStringLiteral("mka"),  QStringLiteral("caf"), QStringLiteral("ac3")};
}

QString AudioFile::pathProblem(const QString &path) {
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    if (!info.isReadable())
        return QStringLiteral("permission denied");
    return QString();
}

QString AudioFile::notAudioReason() {
    return QStringLiteral("not audio the program can open (damaged, truncated or empty)");
}

AudioFilePtr AudioFile::createForPath(const QString &path) {
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".wav")) || lower.endsWith(QLatin1String(".aif")) ||
        lower.endsWith(QLatin1String(".aiff")))
        return AudioFilePtr(new AudioFileSndFile(path));
    if (lower.endsWith(QLatin1String(".flac")))
        return AudioFilePtr(new AudioFileFLAC(path));
    // There is no operating-system version that lacks the compressed-audio decoder
    // here, so every other extension goes to it.
    return AudioFilePtr(new AudioFileAudioDecoder(path));
}

bool AudioFile::isLoadable(long long samples, long long rate) {
    return samples > 0 && samples <= INT_MAX && rate > 0 && rate <= maxSampleRate;
}
