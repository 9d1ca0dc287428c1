#include "AudioFile.h"

#include "AudioFileAudioDecoder.h"
#include "AudioFileFLAC.h"
#include "AudioFileSndFile.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <climits>

namespace {
std::atomic<bool> g_openingStopped{false};
}

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

namespace {
using ReaderKind = AudioFile::ReaderKind;

ReaderKind kindByName(const QString &path) {
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".wav")) || lower.endsWith(QLatin1String(".aif")) ||
        lower.endsWith(QLatin1String(".aiff")))
        return ReaderKind::SndFile;
    if (lower.endsWith(QLatin1String(".flac")))
        return ReaderKind::Flac;
    // There is no operating-system version that lacks the compressed-audio decoder
    // here, so every other extension goes to it.
    return ReaderKind::Decoder;
}

AudioFilePtr createReader(ReaderKind kind, const QString &path) {
    switch (kind) {
    case ReaderKind::SndFile:
        return AudioFilePtr(new AudioFileSndFile(path));
    case ReaderKind::Flac:
        return AudioFilePtr(new AudioFileFLAC(path));
    case ReaderKind::Decoder:
        break;
    }
    return AudioFilePtr(new AudioFileAudioDecoder(path));
}
} // namespace

AudioFile::ReaderKind AudioFile::readerForContent(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReaderKind::Decoder;
    QByteArray head = file.read(12);
    if (head.size() >= 10 && head.startsWith("ID3")) {
        // ID3v2: a 10-byte header, a size in 7-bit bytes and an optional 10-byte footer.
        const auto *u = reinterpret_cast<const uchar *>(head.constData());
        const qint64 size = qint64(u[6] & 0x7f) << 21 | qint64(u[7] & 0x7f) << 14 | qint64(u[8] & 0x7f) << 7 |
                            qint64(u[9] & 0x7f);
        const qint64 skip = 10 + size + ((u[5] & 0x10) ? 10 : 0);
        if (!file.seek(skip))
            return ReaderKind::Decoder;
        head = file.read(12);
        return head.startsWith("fLaC") ? ReaderKind::Flac : ReaderKind::Decoder;
    }
    if (head.startsWith("fLaC"))
        return ReaderKind::Flac;
    if (head.size() < 12)
        return ReaderKind::Decoder;
    const QByteArray magic = head.left(4);
    const QByteArray form = head.mid(8, 4);
    if ((magic == "RIFF" || magic == "RF64" || magic == "BW64") && form == "WAVE")
        return ReaderKind::SndFile;
    if (magic == "FORM" && (form == "AIFF" || form == "AIFC"))
        return ReaderKind::SndFile;
    return ReaderKind::Decoder;
}

AudioFilePtr AudioFile::createForPath(const QString &path) {
    const ReaderKind named = kindByName(path);
    AudioFilePtr file = createReader(named, path);
    // A path that is no readable regular file is not opened a second time (a pipe would
    // wait for a writer again).
    if (!pathProblem(path).isEmpty())
        return file;
    // Downloads and copies are often misnamed (a WAV called .flac, an MP3 called .wav).
    // A file the reader its name chose cannot open goes to the reader its bytes call
    // for. So does an MP3 or Ogg stream called WAV or AIFF, which libsndfile opens with
    // decoders of its own: they deliver other samples than the decoder does, and an MP3
    // must sound the same whatever it is called.
    if (file->length() > 0) {
        const auto *sndfile = dynamic_cast<const AudioFileSndFile *>(file.data());
        if (!sndfile || !sndfile->isCompressedStream())
            return file;
    }
    const ReaderKind content = readerForContent(path);
    AudioFilePtr other;
    if (content != named) {
        other = createReader(content, path);
        if (other->length() > 0)
            return other;
    }
    // libFLAC stops at some FLAC files FFmpeg reads whole: an ID3v2 tag with a footer
    // before the stream hides its header from libFLAC. A FLAC whose header libFLAC did
    // read and refused (impossible, damaged) stays refused.
    if (named != ReaderKind::Decoder && content == ReaderKind::Flac) {
        const auto *flac =
            dynamic_cast<const AudioFileFLAC *>((named == ReaderKind::Flac ? file : other).data());
        if (flac && !flac->streamInfoFound()) {
            AudioFilePtr decoded = createReader(ReaderKind::Decoder, path);
            if (decoded->length() > 0)
                return decoded;
        }
    }
    return file;
}

bool AudioFile::isLoadable(long long samples, long long rate) {
    return samples > 0 && samples <= INT_MAX && rate > 0 && rate <= maxSampleRate;
}

void AudioFile::setOpeningStopped(bool stopped) {
    g_openingStopped.store(stopped);
}

bool AudioFile::openingStopped() {
    return g_openingStopped.load();
}
