// Writes the seed corpora of the fuzz targets with the test fixtures: one folder per
// target under the folder given, each holding small valid files of the kinds it reads.
#include "AudioFixtures.h"
#include "BankSampler.h"
#include "DecoderFixtures.h"
#include "FuzzEntries.h"
#include "ProjectFile.h"
#include "Settings.h"
#include "SliceTemplate.h"
#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <sndfile.h>

namespace {
int g_failures = 0;

void check(bool ok, const QString &what) {
    if (!ok) {
        ++g_failures;
        std::fprintf(stderr, "fuzz_seeds: could not write %s\n", qPrintable(what));
    }
}

void soundFiles(const QString &dir) {
    const struct {
        const char *name;
        int format;
        int channels;
    } kinds[] = {
        {"pcm16.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},   {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2},
        {"mono24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1},  {"u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 1},
        {"ima.wav", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 2},  {"ulaw.wav", SF_FORMAT_WAV | SF_FORMAT_ULAW, 1},
        {"pcm16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 2}, {"float.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 1},
        {"pcm24.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_24, 2},   {"six.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 6},
        {"pcm32.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_32, 2},
    };
    for (const auto &k : kinds) {
        const QString path = dir + "/" + k.name;
        check(TestAudio::writeSndFile(path, k.format, k.channels, 22050, 300, AudioFixtures::stairGenerator()), path);
    }
    // Read as a ".wav": a file whose content calls for another reader than its name.
    check(AudioFixtures::writeFlac(dir + "/flac-named.wav", 2, 44100, 300), "flac-named.wav");
}

void flacFiles(const QString &dir) {
    check(AudioFixtures::writeFlac(dir + "/stereo16.flac", 2, 44100, 600), "stereo16.flac");
    check(AudioFixtures::writeFlac(dir + "/mono24.flac", 1, 48000, 600, SF_FORMAT_PCM_24), "mono24.flac");
    check(AudioFixtures::writeFlac(dir + "/eight.flac", 1, 8000, 300, SF_FORMAT_PCM_S8), "eight.flac");
    // Behind an ID3v2 tag (with a footer), which the reader's content check skips.
    QFile plain(dir + "/stereo16.flac");
    QFile tagged(dir + "/id3.flac");
    const QByteArray tag("ID3\x04\x00\x10\x00\x00\x00\x04TAG!", 14);
    check(plain.open(QIODevice::ReadOnly) && tagged.open(QIODevice::WriteOnly) &&
              tagged.write(tag + QByteArray("3DI\x04\x00\x10\x00\x00\x00\x04", 10) + plain.readAll()) > 0,
          "id3.flac");
}

void compressedFiles(const QString &dir) {
    const struct {
        const char *name;
        QStringList args;
    } kinds[] = {
        {"a.mp3", {"-c:a", "libmp3lame", "-b:a", "32k"}}, {"a.m4a", {"-c:a", "aac", "-b:a", "32k"}},
        {"a.ogg", {"-c:a", "libvorbis"}},                 {"a.opus", {"-c:a", "libopus", "-b:a", "16k"}},
        {"a.wma", {"-c:a", "wmav2", "-b:a", "32k"}},      {"a.flac", {"-c:a", "flac"}},
        {"a.mka", {"-c:a", "libmp3lame"}},                {"a.ac3", {"-c:a", "ac3"}},
    };
    for (const auto &k : kinds) {
        const QString path = dir + "/" + k.name;
        check(DecoderFixtures::encodeChirp(path, 22050, 0.15, 2, k.args), path);
    }
}

void projectFiles(const QString &dir, const QString &work) {
    const QString sample = work + "/kick.wav";
    check(TestAudio::writeWav(sample, 2, 22050, 500, AudioFixtures::stairGenerator()), sample);
    BankSampler bank(44100);
    bank.loadSample(0, sample, 3, 1.5, 2, 10, 400, 0.8f, true, QStringLiteral("Hats"));
    bank.loadSample(5, sample, -2, 0.75, 0, 0, 0, 1.0f, false, QStringLiteral("None"));
    QString error;
    check(ProjectFile::save(&bank, 128, dir + "/bank.qlx", &error), "bank.qlx");
    check(ProjectFile::save(nullptr, 90, dir + "/tempo.qlx", &error), "tempo.qlx");
}

void templateFiles(const QString &dir) {
    QString error;
    check(SliceTemplate::fromPoints({11025, 22050, 33076}, 0, 44100, 44100, 44100).save(dir + "/three.qlst", &error),
          "three.qlst");
    check(SliceTemplate::fromPoints({5000}, 1000, 9000, 12000, 48000).save(dir + "/trimmed.qlst", &error),
          "trimmed.qlst");
}

void settingsFiles(const QString &dir) {
    Settings &s = Settings::instance();
    for (const auto &kv : {std::make_pair("AudioDeviceAPI", "ALSA"), std::make_pair("AudioDeviceBufferSize", "1024"),
                           std::make_pair("MidiDeviceBaseNote", "36"), std::make_pair("fade_in_out_slices", "1"),
                           std::make_pair("AdvancedSlicingInterval", "4"), std::make_pair("OutputDevice", "default")})
        s.set(kv.first, kv.second);
    check(s.save() && QFile::copy(Settings::filePath(), dir + "/settings.xml"), "settings.xml");
}
} // namespace

int main(int argc, char **argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (const QString &target : FuzzEntries::targetNames()) {
        QDir(root + "/" + target).removeRecursively();
        QDir().mkpath(root + "/" + target);
    }
    QTemporaryDir work;
    soundFiles(root + "/sndfile");
    flacFiles(root + "/flac");
    compressedFiles(root + "/ffmpeg");
    projectFiles(root + "/project", work.path());
    templateFiles(root + "/template");
    settingsFiles(root + "/settings");
    return g_failures == 0 ? 0 : 1;
}
