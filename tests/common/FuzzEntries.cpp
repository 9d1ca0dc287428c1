#include "FuzzEntries.h"

#include "AudioDecoder.h"
#include "AudioFile.h"
#include "BankSampler.h"
#include "FfmpegPcmReader.h"
#include "ProjectFile.h"
#include "Settings.h"
#include "SliceTemplate.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QMap>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// Enough to pass every block boundary of the readers many times over, few enough that a
// header promising two billion samples does not turn each input into minutes of work.
constexpr int kMaxSamplesRead = 1 << 18;
constexpr unsigned kBlock = 4096;

// The readers open files by name: the input goes to a file of this process's own,
// on a memory file system when there is one.
QString inputFile(const uint8_t *data, size_t size, const char *suffix) {
    static const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                            : QDir::tempPath();
    const QString path = QStringLiteral("%1/quillory-fuzz-%2.%3")
                             .arg(folder)
                             .arg(qint64(::getpid()))
                             .arg(QLatin1String(suffix));
    std::FILE *f = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (!f)
        return QString();
    if (size > 0)
        std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

// Reads the way the cache and the seeks of playback do: a stretch from the start, a
// stretch from the middle, and the start again.
void readThrough(AudioFile &reader) {
    std::vector<float> buffer(kBlock);
    const int length = reader.length();
    int total = 0;
    while (total < kMaxSamplesRead) {
        const int got = reader.read(buffer.data(), kBlock);
        total += std::max(got, 0);
        if (got < int(kBlock))
            break;
    }
    if (length > 0) {
        reader.seek(unsigned(length / 2) & ~1u);
        reader.read(buffer.data(), kBlock);
        reader.seek(0);
        reader.read(buffer.data(), kBlock);
    }
}

QByteArray bytes(const uint8_t *data, size_t size) {
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
}

} // namespace

namespace FuzzEntries {

// Both go through the reader choice the program makes: the one the name calls for, and
// the one the content calls for (an ID3 tag skipped) when that one cannot open it.
void soundFile(const uint8_t *data, size_t size) {
    const QString path = inputFile(data, size, "wav");
    if (path.isEmpty())
        return;
    readThrough(*AudioFile::createForPath(path));
}

void flacFile(const uint8_t *data, size_t size) {
    const QString path = inputFile(data, size, "flac");
    if (path.isEmpty())
        return;
    readThrough(*AudioFile::createForPath(path));
}

void compressedAudio(const uint8_t *data, size_t size) {
    AudioDecoder decoder("fuzz input", std::make_unique<FfmpegPcmReader>(data, size));
    if (decoder.open() != 0)
        return;
    std::vector<float> buffer(kBlock);
    int total = 0;
    while (total < kMaxSamplesRead) {
        const int got = decoder.read(int(kBlock), buffer.data());
        total += std::max(got, 0);
        if (got < int(kBlock))
            break;
    }
    const int length = decoder.numSamples();
    if (length > 0) {
        decoder.seek(length / 2);
        decoder.read(int(kBlock), buffer.data());
        decoder.seek(0);
        decoder.read(int(kBlock), buffer.data());
    }
}

void projectFile(const uint8_t *data, size_t size) {
    QVector<ProjectFile::Step> steps;
    QString error;
    // A folder that does not exist: the samples a project names are never opened.
    if (!ProjectFile::fromBytes(bytes(data, size), QStringLiteral("/nonexistent-quillory-fuzz/p.qlx"), &steps,
                                &error))
        return;
    // Every value goes on into the bank, and with it to the stretcher. A stored absolute
    // path would be opened as it is: each pad is pointed at a file that is not there, so
    // that nothing outside the input decides what a run does.
    static BankSampler bank(44100);
    for (ProjectFile::Step &step : steps) {
        if (step.kind == ProjectFile::Step::Tempo) {
            bank.setBankTempo(step.bpm);
            continue;
        }
        for (ProjectFile::Pad &pad : step.pads)
            pad.fileName = QStringLiteral("/nonexistent-quillory-fuzz/pad.wav");
        ProjectFile::applyBank(&bank, step.pads, nullptr);
    }
}

void sliceTemplate(const uint8_t *data, size_t size) {
    SliceTemplate t;
    QString error;
    if (!SliceTemplate::fromBytes(bytes(data, size), QStringLiteral("fuzz.qlst"), &t, &error))
        return;
    t.fit(0, 441000, 441000);
    t.fit(t.sourceTrimStart(), t.sourceTrimEnd(), t.sourceLength());
    t.fit(1000, 1001, 2000);
}

void settingsFile(const uint8_t *data, size_t size) {
    QMap<QString, QString> values;
    Settings::parse(bytes(data, size), &values);
}

void silenceLogging() {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
}

QStringList targetNames() {
    return {QStringLiteral("sndfile"), QStringLiteral("flac"),     QStringLiteral("ffmpeg"),
            QStringLiteral("project"), QStringLiteral("template"), QStringLiteral("settings")};
}

bool run(const QString &target, const uint8_t *data, size_t size) {
    using Entry = void (*)(const uint8_t *, size_t);
    static const QMap<QString, Entry> entries{
        {QStringLiteral("sndfile"), soundFile},   {QStringLiteral("flac"), flacFile},
        {QStringLiteral("ffmpeg"), compressedAudio}, {QStringLiteral("project"), projectFile},
        {QStringLiteral("template"), sliceTemplate}, {QStringLiteral("settings"), settingsFile},
    };
    const Entry entry = entries.value(target, nullptr);
    if (!entry)
        return false;
    entry(data, size);
    return true;
}

} // namespace FuzzEntries
