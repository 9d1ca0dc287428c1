#include "AudioCache.h"
#include "AudioDecoder.h"
#include "AudioFileAudioDecoder.h"
#include "AudioFixtures.h"
#include "DecoderFixtures.h"
#include "FakePcmSource.h"
#include "FfmpegPcmReader.h"
#include "TestAudio.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

using DecoderFixtures::decodeAll;
using DecoderFixtures::encodeChirp;
using DecoderFixtures::ffmpegDecode;

namespace {

std::unique_ptr<AudioDecoder> fakeDecoder(FakePcmSource **fake) {
    auto source = std::make_unique<FakePcmSource>();
    *fake = source.get();
    return std::make_unique<AudioDecoder>("fake", std::move(source));
}

float expectedFloat(long long sampleIndex) {
    return FakePcmSource::valueAt(sampleIndex) / 32768.0f;
}

// Index of the first sample where the decoder's output and ffmpeg's differ, -1 when none.
long long firstMismatch(const std::vector<float> &decoded, const std::vector<int16_t> &reference) {
    const size_t n = std::min(decoded.size(), reference.size());
    for (size_t i = 0; i < n; ++i)
        if (decoded[i] != reference[i] / 32768.0f)
            return (long long)i;
    return -1;
}

} // namespace

class DecoderTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    // ---- The decoding logic, over a scripted source ----

    void leftoverFramesStartTheNextRead() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        std::vector<float> buf(30000);
        // 2048 frames come from two 1152-frame buffers; 256 frames are left over.
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        QCOMPARE(fake->buffersDelivered, 2);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(i));
        // Odd request sizes, and one longer than a single pass, continue seamlessly.
        long long pos = 4096;
        for (int size : {512, 1000, 2, 20000, 4096}) {
            QCOMPARE(decoder->read(size, buf.data()), size);
            for (int i = 0; i < size; ++i)
                QCOMPARE(buf[i], expectedFloat(pos + i));
            pos += size;
            QCOMPARE(decoder->positionInSamples(), int(pos));
        }
        // An odd count never reports a sample it did not write.
        QCOMPARE(decoder->read(5, buf.data()), 4);
    }

    void sixteenBitSamplesBecomeFloat() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        std::vector<float> buf(30000);
        QCOMPARE(decoder->read(30000, buf.data()), 30000);
        QCOMPARE(buf[0], -15000.0f / 32768.0f);
        QCOMPARE(buf[15000], 0.0f);
        QCOMPARE(buf[15001], 1.0f / 32768.0f);
        QCOMPARE(buf[29999], 14999.0f / 32768.0f);
    }

    void numSamplesFromTheDuration() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        fake->totalFrames = 7938000; // three minutes at 44.1 kHz
        QCOMPARE(decoder->open(), 0);
        QCOMPARE(decoder->numSamples(), 15876000);
        QVERIFY(std::fabs(decoder->duration() - 180.0f) < 0.001f);

        // A duration truncated to the tick gives an odd count; it is rounded up to whole frames.
        auto truncated = fakeDecoder(&fake);
        fake->totalFrames = 1001;
        fake->durationTicks = 1001LL * 10000000 / 44100; // truncated, not rounded up
        QCOMPARE(truncated->open(), 0);
        QCOMPARE(truncated->numSamples(), 2002);

        // A header claiming ages does not overflow.
        auto huge = fakeDecoder(&fake);
        fake->durationTicks = 10000000LL * 3600 * 24 * 365;
        QCOMPARE(huge->open(), 0);
        QVERIFY(huge->numSamples() > 0);
        QCOMPARE(huge->numSamples() % 2, 0);
    }

    void seekThatLandsLateIsPaddedWithSilence() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        fake->landingOffset = 100;
        QCOMPARE(decoder->seek(88200), 88200);
        std::vector<float> buf(4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(buf[i], 0.0f);
        // Then frame 44200 onwards, as the source delivered it.
        for (int i = 200; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(88200 + i));
        QCOMPARE(decoder->positionInSamples(), 88200 + 4096);
        // Reading on continues the source's stream without a gap.
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(88200 + 4096 + i));
    }

    void seekThatLandsEarlyDropsTheFramesBefore() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        fake->landingOffset = -3000; // more than two whole buffers before the target
        QCOMPARE(decoder->seek(100002), 100002);
        std::vector<float> buf(4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(100002 + i));
    }

    void seekOffshootTooDrasticTakesTheBufferAsItIs() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        fake->landingOffset = 5000; // more than the 2048 frames the read asks for
        decoder->seek(88200);
        std::vector<float> buf(4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat((44100 + 5000) * 2 + i));
    }

    void seekBackToTheLeftoverPositionDoesNotRepeatAudio() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        std::vector<float> buf(4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096); // leaves 256 frames from frame 2048
        QCOMPARE(decoder->seek(4096), 4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(4096 + i));
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], expectedFloat(8192 + i));
    }

    void endOfStreamGivesAShortRead() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        fake->totalFrames = 3000;
        QCOMPARE(decoder->open(), 0);
        QCOMPARE(decoder->numSamples(), 6000);
        std::vector<float> buf(4096);
        QCOMPARE(decoder->read(4096, buf.data()), 4096);
        QCOMPARE(decoder->read(4096, buf.data()), 1904);
        QCOMPARE(buf[1903], expectedFloat(5999));
        QCOMPARE(decoder->read(4096, buf.data()), 0);
        // Seeking back works after the end.
        QCOMPARE(decoder->seek(10), 10);
        QCOMPARE(decoder->read(2, buf.data()), 2);
        QCOMPARE(buf[0], expectedFloat(10));
    }

    void errorKillsTheDecoder() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        QCOMPARE(decoder->open(), 0);
        fake->errorAfterBuffers = 3;
        std::vector<float> buf(8192);
        QCOMPARE(decoder->read(8192, buf.data()), 3 * 1152 * 2);
        for (int i = 0; i < 3 * 1152 * 2; ++i)
            QCOMPARE(buf[i], expectedFloat(i));
        const int calls = fake->setPositionCalls;
        QCOMPARE(decoder->read(4096, buf.data()), 0);
        QCOMPARE(decoder->seek(0), 3 * 1152 * 2);
        QCOMPARE(fake->setPositionCalls, calls);
    }

    void failedOpenReportsNothing() {
        FakePcmSource *fake;
        auto decoder = fakeDecoder(&fake);
        fake->failOpen = true;
        QCOMPARE(decoder->open(), -1);
        QCOMPARE(decoder->numSamples(), 0);
        std::vector<float> buf(4096, 7.0f);
        QCOMPARE(decoder->read(4096, buf.data()), 0);
        QCOMPARE(buf[0], 7.0f);
        QCOMPARE(decoder->seek(100), 0);
    }

    // ---- Real files through FFmpeg ----

    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void formats_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QStringList>("outputArgs");
        QTest::addColumn<int>("lengthToleranceFrames"); // 0: exactly what ffmpeg decodes

        const auto row = [](const char *tag, const QString &name, int channels, int rate,
                            const QStringList &args, int tolerance) {
            QTest::newRow(tag) << name << channels << rate << args << tolerance;
        };
        row("mp3 cbr stereo 44.1k", "a.mp3", 2, 44100, {"-c:a", "libmp3lame", "-b:a", "192k"}, 0);
        row("mp3 vbr without header mono 22.05k", "b.mp3", 1, 22050,
            {"-c:a", "libmp3lame", "-q:a", "4", "-write_xing", "0"}, 0);
        row("mp3 vbr 48k", "c.mp3", 2, 48000, {"-c:a", "libmp3lame", "-q:a", "2"}, 0);
        // The MP4 edit list gives the source's exact length; ffmpeg also decodes the padding.
        row("m4a aac 48k", "a.m4a", 2, 48000, {"-c:a", "aac"}, 1024);
        row("m4a alac 24-bit 96k", "b.m4a", 2, 96000, {"-c:a", "alac", "-sample_fmt", "s32p"}, 0);
        row("m4a alac 16-bit mono 22.05k", "c.m4a", 1, 22050, {"-c:a", "alac"}, 0);
        row("raw aac adts", "a.aac", 2, 44100, {"-c:a", "aac"}, 0);
        // ASF's durations count a preroll and padding, its packets' millisecond times fall
        // short: the length is what the decoder delivers.
        row("wma mono 22.05k", "a.wma", 1, 22050, {"-c:a", "wmav2"}, 0);
        row("wma stereo 44.1k", "b.wma", 2, 44100, {"-c:a", "wmav2", "-b:a", "128k"}, 0);
        row("wma stereo 48k", "c.wma", 2, 48000, {"-c:a", "wmav2", "-b:a", "128k"}, 0);
        row("ogg vorbis", "a.ogg", 2, 44100, {"-c:a", "libvorbis"}, 0);
        row("oga vorbis mono", "a.oga", 1, 32000, {"-c:a", "libvorbis"}, 0);
        row("opus", "a.opus", 2, 48000, {"-c:a", "libopus"}, 0);
        row("webm opus", "a.webm", 2, 48000, {"-c:a", "libopus"}, 960);
        row("mka vorbis", "a.mka", 2, 44100, {"-c:a", "libvorbis"}, 2048);
        row("ac3", "a.ac3", 2, 48000, {"-c:a", "ac3"}, 0);
        row("caf alac", "a.caf", 2, 44100, {"-c:a", "alac"}, 4096);
        row("wav", "a.wav", 2, 44100, {"-c:a", "pcm_s16le"}, 0);
        row("aif", "a.aif", 1, 22050, {"-c:a", "pcm_s16be", "-f", "aiff"}, 0);
        row("aiff 24-bit", "a.aiff", 2, 88200, {"-c:a", "pcm_s24be"}, 0);
        row("flac", "a.flac", 2, 44100, {"-c:a", "flac"}, 0);
    }

    void formats() {
        QFETCH(QString, name);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QStringList, outputArgs);
        QFETCH(int, lengthToleranceFrames);
        const QString file = path(name);
        QVERIFY(encodeChirp(file, rate, 1.5, channels, outputArgs));
        const std::vector<int16_t> reference = ffmpegDecode(file, channels);
        QVERIFY(!reference.empty());

        AudioDecoder decoder(file.toStdString());
        QCOMPARE(decoder.open(), 0);
        QCOMPARE(decoder.channels(), channels);
        QCOMPARE(decoder.sampleRate(), rate);
        QVERIFY2(
            std::abs(decoder.numSamples() - int(reference.size())) <= lengthToleranceFrames * channels,
            qPrintable(
                QString("numSamples %1, ffmpeg decodes %2").arg(decoder.numSamples()).arg(reference.size())));
        const std::vector<float> decoded = decodeAll(decoder);
        // Sample-accurate against ffmpeg: same delay and padding trimming, same conversion.
        QCOMPARE(decoded.size(), reference.size());
        QCOMPARE(firstMismatch(decoded, reference), -1LL);
        // At full level whatever the source's depth (24-bit sources are not 256 times too
        // quiet); lossy codecs overshoot the 0.4 of the signal somewhat.
        float peak = 0;
        for (float v : decoded)
            peak = std::max(peak, std::fabs(v));
        QVERIFY2(peak > 0.35f && peak < 0.8f, qPrintable(QString::number(peak)));
    }

    void everyListedExtensionIsCovered() {
        const std::vector<std::string> extensions = AudioDecoder::supportedFileExtensions();
        QVERIFY(AudioDecoderBase::supportedFileExtensions().empty());
        QSet<QString> listed;
        for (const std::string &e : extensions)
            listed.insert(QString::fromStdString(e));
        for (const char *needed : {"mp3", "m4a", "mp4", "wma", "ogg", "opus"})
            QVERIFY2(listed.contains(needed), needed);
        // Every extension the decoder claims is one the formats test decodes.
        QSet<QString> tested{"mp3", "m4a", "aac", "wma", "ogg", "oga",  "opus", "webm",
                             "mka", "ac3", "caf", "wav", "aif", "aiff", "flac", "mp4"};
        for (const QString &e : listed)
            QVERIFY2(tested.contains(e), qPrintable(e));
    }

    void threeMinuteMp3IsSampleAccurate() {
        const QString file = path("three-minutes.mp3");
        QVERIFY(encodeChirp(file, 44100, 180, 2, {"-c:a", "libmp3lame", "-b:a", "128k"}));
        AudioDecoder decoder(file.toStdString());
        QCOMPARE(decoder.open(), 0);
        QVERIFY2(std::abs(decoder.numSamples() - 15876000) <= 1152 * 2,
                 qPrintable(QString::number(decoder.numSamples())));
        const std::vector<float> decoded = decodeAll(decoder);
        const std::vector<int16_t> reference = ffmpegDecode(file, 2);
        QCOMPARE(int(decoded.size()), decoder.numSamples());
        QCOMPARE(decoded.size(), reference.size());
        QCOMPARE(firstMismatch(decoded, reference), -1LL);
    }

    void firstAudioStreamBesideCoverArtAndVideo() {
        // Cover art in an MP3 and a video stream ahead of the audio in an MP4.
        const QString plain = path("plain.mp3");
        const QString cover = path("cover.mp3");
        const QString video = path("video-first.mp4");
        QVERIFY(encodeChirp(plain, 44100, 2, 2, {"-c:a", "libmp3lame"}));
        QVERIFY(TestAudio::runFfmpeg({"-i", plain, "-f", "lavfi", "-i", "testsrc=d=1:s=64x64", "-map", "0:a",
                                      "-map", "1:v", "-c:a", "copy", "-c:v", "mjpeg", "-frames:v", "1",
                                      "-disposition:v", "attached_pic", cover}));
        QVERIFY(TestAudio::runFfmpeg(DecoderFixtures::chirpInput(44100, 2, 2) +
                                     QStringList{"-f", "lavfi", "-i", "testsrc=d=2:s=64x64", "-map", "1:v",
                                                 "-map", "0:a", "-c:v", "mpeg4", "-c:a", "aac", video}));
        for (const QString &file : {cover, video}) {
            AudioDecoder decoder(file.toStdString());
            QCOMPARE(decoder.open(), 0);
            QCOMPARE(decoder.channels(), 2);
            QVERIFY(std::abs(decoder.numSamples() - 2 * 88200) <= 2 * 1024);
            const std::vector<float> decoded = decodeAll(decoder);
            const std::vector<int16_t> reference = ffmpegDecode(file, 2);
            QVERIFY(decoded.size() >= size_t(decoder.numSamples()) - 2 * 1024);
            QCOMPARE(firstMismatch(decoded, reference), -1LL);
        }
    }

    void seekThenReadEqualsContinuousRead_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("outputArgs");
        QTest::addColumn<float>("tolerance");
        QTest::newRow("mp3") << "seek.mp3" << QStringList{"-c:a", "libmp3lame", "-q:a", "3"} << 0.0f;
        QTest::newRow("ogg") << "seek.ogg" << QStringList{"-c:a", "libvorbis"} << 0.0f;
        QTest::newRow("flac") << "seek.flac" << QStringList{"-c:a", "flac"} << 0.0f;
        // AAC and Opus decoders restart from a flushed state: the values differ in the
        // last bits, the timing does not.
        QTest::newRow("m4a") << "seek.m4a" << QStringList{"-c:a", "aac"} << 0.003f;
        QTest::newRow("opus") << "seek.opus" << QStringList{"-c:a", "libopus"} << 0.02f;
    }

    void seekThenReadEqualsContinuousRead() {
        QFETCH(QString, name);
        QFETCH(QStringList, outputArgs);
        QFETCH(float, tolerance);
        const QString file = path(name);
        QVERIFY(encodeChirp(file, 44100, 6, 2, outputArgs + QStringList{"-ar", "48000"}));
        AudioDecoder continuous(file.toStdString());
        QCOMPARE(continuous.open(), 0);
        const std::vector<float> all = decodeAll(continuous);
        QVERIFY(all.size() > 500000);

        AudioDecoder decoder(file.toStdString());
        QCOMPARE(decoder.open(), 0);
        std::vector<float> buf(4096);
        for (int target : {96000, 100002, 2, 411600, 250000, 0, 96000}) {
            QCOMPARE(decoder.seek(target), target);
            QCOMPARE(decoder.read(4096, buf.data()), 4096);
            QCOMPARE(decoder.positionInSamples(), target + 4096);
            float worst = 0;
            for (int i = 0; i < 4096; ++i)
                worst = std::max(worst, std::fabs(buf[i] - all[size_t(target + i)]));
            QVERIFY2(worst <= tolerance, qPrintable(QString("seek %1: off by %2").arg(target).arg(worst)));
        }
        // Seeking to the start gives the start exactly, encoder delay trimmed as before.
        decoder.seek(0);
        QCOMPARE(decoder.read(4096, buf.data()), 4096);
        for (int i = 0; i < 4096; ++i)
            QCOMPARE(buf[i], all[size_t(i)]);
    }

    void bytesInMemoryDecodeLikeTheFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("outputArgs");
        QTest::newRow("mp3") << "memory.mp3" << QStringList{"-c:a", "libmp3lame"};
        QTest::newRow("m4a") << "memory.m4a" << QStringList{"-c:a", "aac"};
    }

    void bytesInMemoryDecodeLikeTheFile() {
        QFETCH(QString, name);
        QFETCH(QStringList, outputArgs);
        const QString file = path(name);
        QVERIFY(encodeChirp(file, 44100, 3, 2, outputArgs));
        AudioDecoder fromFile(file.toStdString());
        QCOMPARE(fromFile.open(), 0);
        const std::vector<float> expected = decodeAll(fromFile);

        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const auto *data = reinterpret_cast<const uint8_t *>(bytes.constData());
        AudioDecoder fromMemory("memory", std::make_unique<FfmpegPcmReader>(data, size_t(bytes.size())));
        QCOMPARE(fromMemory.open(), 0);
        QCOMPARE(fromMemory.numSamples(), fromFile.numSamples());
        QVERIFY(decodeAll(fromMemory) == expected);
        // Rewinding reopens the same bytes.
        std::vector<float> buf(4096);
        QCOMPARE(fromMemory.seek(0), 0);
        QCOMPARE(fromMemory.read(4096, buf.data()), 4096);
        QVERIFY(std::equal(buf.begin(), buf.end(), expected.begin()));

        // Damaged bytes in memory are refused as a damaged file is.
        const QByteArray junk(4096, '\x5a');
        AudioDecoder bad("junk", std::make_unique<FfmpegPcmReader>(
                                     reinterpret_cast<const uint8_t *>(junk.constData()), size_t(junk.size())));
        QCOMPARE(bad.open(), -1);
        QCOMPARE(bad.numSamples(), 0);
    }

    void moreThanTwoChannelsDecodeInterleaved() {
        const QString file = path("six.m4a");
        QVERIFY(encodeChirp(file, 48000, 1, 6, {"-c:a", "aac"}));
        AudioDecoder decoder(file.toStdString());
        QCOMPARE(decoder.open(), 0);
        QCOMPARE(decoder.channels(), 6);
        QVERIFY(std::abs(decoder.numSamples() - 48000 * 6) <= 1024 * 6);
        const std::vector<float> decoded = decodeAll(decoder, 4092);
        const std::vector<int16_t> reference = ffmpegDecode(file, 6);
        QVERIFY(decoded.size() >= size_t(decoder.numSamples()) - 1024 * 6);
        QCOMPARE(firstMismatch(decoded, reference), -1LL);
    }

    void formatChangeEndsDecoding() {
        // Two MP3 streams back to back, the second at another rate.
        const QString first = path("first.mp3");
        const QString second = path("second.mp3");
        QVERIFY(encodeChirp(first, 44100, 2, 2, {"-c:a", "libmp3lame"}));
        QVERIFY(encodeChirp(second, 48000, 2, 2, {"-c:a", "libmp3lame"}));
        QFile a(first), b(second);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QString joined = path("joined.mp3");
        QVERIFY(TestAudio::writeBytes(joined, a.readAll() + b.readAll()));

        AudioDecoder decoder(joined.toStdString());
        QCOMPARE(decoder.open(), 0);
        QCOMPARE(decoder.sampleRate(), 44100);
        const std::vector<float> decoded = decodeAll(decoder);
        // Everything up to the change, nothing of the other rate's stream.
        QVERIFY2(std::abs(int(decoded.size()) - 176400) <= 1152 * 2 * 2,
                 qPrintable(QString::number(decoded.size())));
        QVERIFY(int(decoded.size()) <= decoder.numSamples());
        const std::vector<int16_t> reference = ffmpegDecode(first, 2);
        QCOMPARE(firstMismatch(decoded, reference), -1LL);
        std::vector<float> buf(4096);
        QCOMPARE(decoder.read(4096, buf.data()), 0);
    }

    void badInput_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("opens");
        QTest::newRow("truncated mp3") << "truncated.mp3" << true;
        QTest::newRow("mp3 with garbage in the middle") << "garbage.mp3" << true;
        QTest::newRow("video only") << "video-only.mp4" << false;
        QTest::newRow("zero length") << "empty.mp3" << false;
        QTest::newRow("text named mp3") << "text.mp3" << false;
        QTest::newRow("matroska named m4a") << "matroska.m4a" << true;
        QTest::newRow("m4a with a wrong duration in its header") << "wrong-duration.m4a" << true;
        QTest::newRow("truncated m4a") << "truncated.m4a" << true;
        QTest::newRow("missing file") << "missing.mp3" << false;
        QTest::newRow("folder") << "folder.mp3" << false;
    }

    void badInput() {
        QFETCH(QString, name);
        QFETCH(bool, opens);
        static bool made = false;
        if (!made) {
            made = true;
            QVERIFY(makeBadFiles());
        }
        const QString file = path(name);
        AudioDecoder decoder(file.toStdString());
        QCOMPARE(decoder.open() == 0, opens);
        std::vector<float> buf(4096, 3.0f);
        if (!opens) {
            QCOMPARE(decoder.numSamples(), 0);
            QCOMPARE(decoder.read(4096, buf.data()), 0);
            QCOMPARE(buf[0], 3.0f);
            return;
        }
        // The length is what the file really holds (never the header's claim), and
        // decoding ends where the decodable audio ends, matching ffmpeg's.
        QVERIFY(decoder.numSamples() > 0);
        QVERIFY2(decoder.numSamples() <= 2 * 44100 * 4, qPrintable(QString::number(decoder.numSamples())));
        const std::vector<float> decoded = decodeAll(decoder);
        QVERIFY(!decoded.empty());
        QVERIFY2(int(decoded.size()) <= decoder.numSamples() + 2 * 1152,
                 qPrintable(QString("%1 of %2").arg(decoded.size()).arg(decoder.numSamples())));
        const std::vector<int16_t> reference = ffmpegDecode(file, decoder.channels());
        QCOMPARE(firstMismatch(decoded, reference), -1LL);
        QCOMPARE(decoder.read(4096, buf.data()), 0);
    }

    // ---- Through the reader factory and the cache, as a loop loads a file ----

    void readerDeliversTheDecodedStereoStream_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("outputArgs");
        QTest::newRow("stereo mp3") << "reader.mp3" << 2 << QStringList{"-c:a", "libmp3lame", "-q:a", "2"};
        QTest::newRow("mono m4a") << "reader-mono.m4a" << 1 << QStringList{"-c:a", "aac"};
        QTest::newRow("six-channel m4a") << "reader-six.m4a" << 6 << QStringList{"-c:a", "aac"};
    }

    void readerDeliversTheDecodedStereoStream() {
        QFETCH(QString, name);
        QFETCH(int, channels);
        QFETCH(QStringList, outputArgs);
        const QString file = path(name);
        QVERIFY(encodeChirp(file, 44100, 2, channels, outputArgs));
        const AudioFilePtr reader = AudioFile::createForPath(file);
        QVERIFY(dynamic_cast<AudioFileAudioDecoder *>(reader.data()));
        QCOMPARE(reader->sampleRate(), 44100);
        // Two samples per frame whatever the channel count.
        QVERIFY2(std::abs(reader->length() - 2 * 88200) <= 2 * 1024,
                 qPrintable(QString::number(reader->length())));

        if (channels > 2) {
            // Not mixed down: every read delivers nothing and zeroes the request.
            std::vector<float> block(4096, 9.0f);
            QCOMPARE(reader->read(block.data(), 4096), 0);
            for (float v : block)
                QCOMPARE(v, 0.0f);
            return;
        }
        AudioCachePtr cache(new AudioCache(reader));
        cache->preallocate();
        cache->fillSynchronously();
        const int n = cache->length();
        QCOMPARE(n, reader->length());
        std::vector<float> all(size_t(n), -9.0f);
        QCOMPARE(cache->readSamples(all.data(), unsigned(n), 0), unsigned(n));

        const std::vector<int16_t> reference = ffmpegDecode(file, channels);
        const long long frames = std::min<long long>(n / 2, (long long)reference.size() / channels);
        for (long long f = 0; f < frames; ++f) {
            // Mono is duplicated to both channels.
            const float left = reference[size_t(f * channels)] / 32768.0f;
            const float right = reference[size_t(f * channels + channels - 1)] / 32768.0f;
            if (all[size_t(2 * f)] != left || all[size_t(2 * f + 1)] != right)
                QFAIL(qPrintable(QString("frame %1 differs").arg(f)));
        }
        // Seeking the reader counts stereo samples, mono files included.
        QCOMPARE(reader->seek(20000), 20000);
        QCOMPARE(reader->position(), 20000);
        std::vector<float> block(4096);
        QCOMPARE(reader->read(block.data(), 4096), 4096);
        for (int i = 0; i < 4096; ++i)
            QVERIFY(std::fabs(block[size_t(i)] - all[size_t(20000 + i)]) < 0.003f);
    }

    void nonAsciiPathOpens() {
        const QString file = path(QString::fromUtf8("Bre\u00e4k \u65e5\u672c #1 (120 BPM).mp3"));
        QVERIFY(encodeChirp(file, 44100, 1, 2, {"-c:a", "libmp3lame"}));
        const AudioFilePtr reader = AudioFile::createForPath(file);
        QVERIFY(std::abs(reader->length() - 88200) <= 2 * 1152);
    }

    void namesThatLookLikeUrlsAreFiles() {
        const QString file = path("data:take 1.mp3");
        QVERIFY(encodeChirp(file, 44100, 1, 2, {"-c:a", "libmp3lame"}));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        AudioDecoder decoder("data:take 1.mp3");
        const int opened = decoder.open();
        QDir::setCurrent(previous);
        QCOMPARE(opened, 0);
        QVERIFY(std::abs(decoder.numSamples() - 88200) <= 2 * 1152);
    }

    void readerOfAnUndecodableFileIsEmpty() {
        const QString file = path("notes.mp3");
        QVERIFY(TestAudio::writeBytes(file, QByteArray("not audio\n").repeated(100)));
        const AudioFilePtr reader = AudioFile::createForPath(file);
        QCOMPARE(reader->length(), 0);
        float buf[4] = {5, 5, 5, 5};
        QCOMPARE(reader->read(buf, 4), 0);
        QCOMPARE(buf[0], 5.0f);
    }

    // A program that is stopping (the command line's first Ctrl+C) does not wait for a
    // length count that reads a whole file: a WMA decoded through, a FLAC without its
    // frame count, an MP3 whose packets are scanned. Those readers open empty, and open
    // as before once the stop is lifted.
    void stoppedProgramSkipsWholeFileLengthCounts() {
        const QString wma = path("counted.wma");
        const QString flac = path("uncounted.flac");
        const QString mp3 = path("scanned.mp3");
        QVERIFY(encodeChirp(wma, 44100, 2, 2, {"-c:a", "wmav2"}));
        QVERIFY(AudioFixtures::writeFlac(flac, 2, 44100, 30000));
        QVERIFY(AudioFixtures::patchFlacTotalSamples(flac, 0));
        QVERIFY(encodeChirp(mp3, 44100, 2, 2, {"-c:a", "libmp3lame"}));
        QMap<QString, int> lengths;
        for (const QString &file : {wma, flac, mp3}) {
            lengths[file] = AudioFile::createForPath(file)->length();
            QVERIFY2(lengths[file] > 0, qPrintable(file));
        }
        QCOMPARE(lengths[flac], 60000);

        AudioFile::setOpeningStopped(true);
        // Lifted even when a check fails, so that the tests after this one open files.
        const auto lift = qScopeGuard([] { AudioFile::setOpeningStopped(false); });
        for (const QString &file : {wma, flac, mp3}) {
            const AudioFilePtr stopped = AudioFile::createForPath(file);
            QVERIFY2(stopped->length() == 0, qPrintable(file));
            float buf[4] = {5, 5, 5, 5};
            QCOMPARE(stopped->read(buf, 4), 0);
        }
        AudioFile::setOpeningStopped(false);
        for (const QString &file : {wma, flac, mp3})
            QCOMPARE(AudioFile::createForPath(file)->length(), lengths[file]);
    }

private:
    bool makeBadFiles() {
        const QString good = path("good.mp3");
        if (!encodeChirp(good, 44100, 3, 2, {"-c:a", "libmp3lame", "-q:a", "4"}))
            return false;
        QFile goodFile(good);
        if (!goodFile.open(QIODevice::ReadOnly))
            return false;
        const QByteArray mp3 = goodFile.readAll();
        QByteArray garbage = mp3;
        quint32 seed = 12345;
        for (int i = garbage.size() / 3; i < garbage.size() / 2; ++i) {
            seed = seed * 1664525u + 1013904223u;
            garbage[i] = char(seed >> 24);
        }
        const QString faststart = path("faststart.m4a");
        if (!encodeChirp(faststart, 44100, 3, 2, {"-c:a", "aac", "-movflags", "+faststart"}))
            return false;
        QFile m4aFile(faststart);
        if (!m4aFile.open(QIODevice::ReadOnly))
            return false;
        const QByteArray m4a = m4aFile.readAll();
        // Claim 2^31 - 1 time units in every duration field of the movie and track headers.
        QByteArray wrong = m4a;
        for (const char *box : {"mvhd", "mdhd"}) {
            const int at = wrong.indexOf(box);
            if (at < 0 || wrong.at(at + 4) != '\0')
                return false;
            const int field = at + 4 + 4 + 4 + 4 + 4; // version/flags, created, modified, time scale
            const char claim[4] = {0x7f, char(0xff), char(0xff), char(0xff)};
            wrong.replace(field, 4, claim, 4);
        }
        return TestAudio::writeBytes(path("truncated.mp3"), mp3.left(mp3.size() / 2)) &&
               TestAudio::writeBytes(path("garbage.mp3"), garbage) &&
               TestAudio::runFfmpeg(
                   {"-f", "lavfi", "-i", "testsrc=d=1:s=64x64", "-c:v", "mpeg4", path("video-only.mp4")}) &&
               TestAudio::writeBytes(path("empty.mp3"), QByteArray()) &&
               TestAudio::writeBytes(path("text.mp3"),
                                     QByteArray("These are the notes for the session.\n").repeated(40)) &&
               encodeChirp(path("matroska.m4a"), 44100, 3, 2, {"-c:a", "libvorbis", "-f", "matroska"}) &&
               TestAudio::writeBytes(path("wrong-duration.m4a"), wrong) &&
               TestAudio::writeBytes(path("truncated.m4a"), m4a.left(m4a.size() * 2 / 3)) &&
               QDir(m_dir.path()).mkdir("folder.mp3");
    }
};

QTEST_GUILESS_MAIN(DecoderTest)
#include "tst_decoder.moc"
