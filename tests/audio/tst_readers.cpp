#include "WorkerSafeTest.h"
#include "AudioCache.h"
#include "AudioFileAudioDecoder.h"
#include "AudioFileFLAC.h"
#include "AudioFileSndFile.h"
#include "AudioFixtures.h"
#include "DecoderFixtures.h"
#include "PeakSummary.h"

#include <QDir>
#include <QProcess>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <climits>
#include <limits>
#include <memory>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

using AudioFixtures::stair;

namespace {

// The value the reader must deliver at interleaved index i for a file written with
// AudioFixtures::stairGenerator(): mono files repeat frame f's value stair(2f).
float expected(int channels, int i) {
    return channels == 1 ? stair(i - i % 2) : stair(i);
}

// Reads the whole file through a cache, as the loop does, and checks every sample.
QString checkContent(const AudioFilePtr &file, int channels, float tol) {
    AudioCachePtr cache(new AudioCache(file));
    cache->preallocate();
    cache->fillSynchronously();
    const int n = cache->length();
    std::vector<float> all(size_t(n), -9.0f);
    if (cache->readSamples(all.data(), unsigned(n), 0) != unsigned(n))
        return QStringLiteral("short block read");
    for (int i = 0; i < n; ++i)
        if (std::fabs(all[size_t(i)] - expected(channels, i)) > tol)
            return QStringLiteral("sample %1 is %2, expected %3")
                .arg(i)
                .arg(all[size_t(i)])
                .arg(expected(channels, i));
    return QString();
}

void expectOpenError(const QString &path) {
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression(QStringLiteral("^Error (opening file|initializing FLAC "
                                                           "decoder for file) \"%1\"")
                                                .arg(QRegularExpression::escape(path))));
}

// An empty reader delivers nothing, and a loop over it fills without trouble.
void verifyEmpty(const AudioFilePtr &file) {
    QCOMPARE(file->length(), 0);
    float buf[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    QCOMPARE(file->read(buf, 8), 0);
    QCOMPARE(buf[0], 7.0f);
    AudioCachePtr cache(new AudioCache(file));
    cache->preallocate();
    cache->fill();
    QCOMPARE(cache->length(), 0);
    QCOMPARE(cache->chunkCount(), 1);
    QVERIFY(cache->isFilled());
}

// The whole of a cache filled from its file, read as one block; empty when its length is
// not the expected one or the block comes back short.
std::vector<float> filledBlock(const AudioCachePtr &cache, int samples) {
    if (cache->length() != samples)
        return {};
    cache->preallocate();
    cache->fillSynchronously();
    std::vector<float> block(static_cast<size_t>(samples));
    if (cache->readSamples(block.data(), unsigned(samples), 0) != unsigned(samples))
        return {};
    return block;
}
} // namespace

class ReaderTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void readerChosenByExtension_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reader");
        QTest::newRow("upper-case WAV") << "LOOP.WAV"
                                        << "sndfile";
        QTest::newRow("aif") << "loop.aif"
                             << "sndfile";
        QTest::newRow("AIFF") << "loop.AIFF"
                              << "sndfile";
        QTest::newRow("mixed-case Flac") << "loop.Flac"
                                         << "flac";
        QTest::newRow("ogg") << "loop.ogg"
                             << "decoder";
        QTest::newRow("mp3") << "loop.mp3"
                             << "decoder";
        QTest::newRow("wav inside the name") << "loop.wav.m4a"
                                             << "decoder";
        QTest::newRow("no extension") << "loop"
                                      << "decoder";
    }
    void readerChosenByExtension() {
        QFETCH(QString, name);
        QFETCH(QString, reader);
        const AudioFilePtr file = AudioFile::createForPath(path(name)); // missing: opens empty
        QVERIFY(file);
        QCOMPARE(bool(dynamic_cast<AudioFileSndFile *>(file.data())), reader == "sndfile");
        QCOMPARE(bool(dynamic_cast<AudioFileFLAC *>(file.data())), reader == "flac");
        QCOMPARE(bool(dynamic_cast<AudioFileAudioDecoder *>(file.data())), reader == "decoder");
        QCOMPARE(file->length(), 0);
    }

    void formatsReadAsStereoStaircase_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("subtype");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        struct Row {
            const char *name, *ext;
            int major, subtype, channels, rate;
        };
        const Row rows[] = {
            {"wav u8 stereo", "wav", SF_FORMAT_WAV, SF_FORMAT_PCM_U8, 2, 44100},
            {"wav 16 stereo", "wav", SF_FORMAT_WAV, SF_FORMAT_PCM_16, 2, 44100},
            {"wav 16 mono", "wav", SF_FORMAT_WAV, SF_FORMAT_PCM_16, 1, 44100},
            {"wav 24 stereo", "wav", SF_FORMAT_WAV, SF_FORMAT_PCM_24, 2, 48000},
            {"wav float stereo", "wav", SF_FORMAT_WAV, SF_FORMAT_FLOAT, 2, 44100},
            {"wav float mono", "wav", SF_FORMAT_WAV, SF_FORMAT_FLOAT, 1, 44100},
            {"wav double stereo", "wav", SF_FORMAT_WAV, SF_FORMAT_DOUBLE, 2, 96000},
            {"wav 8 kHz", "wav", SF_FORMAT_WAV, SF_FORMAT_PCM_16, 2, 8000},
            {"wav 192 kHz", "wav", SF_FORMAT_WAV, SF_FORMAT_FLOAT, 2, 192000},
            {"aiff 16 stereo", "aiff", SF_FORMAT_AIFF, SF_FORMAT_PCM_16, 2, 44100},
            {"aif 24 mono", "aif", SF_FORMAT_AIFF, SF_FORMAT_PCM_24, 1, 44100},
            {"flac 16 stereo", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, 2, 44100},
            {"flac 16 mono", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, 1, 44100},
            {"flac 24 stereo", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_24, 2, 48000},
            {"flac 8 bit", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_S8, 2, 22050},
            {"flac 8 kHz", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_16, 2, 8000},
            {"flac 192 kHz", "flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_24, 2, 192000},
        };
        for (const Row &r : rows)
            QTest::newRow(r.name) << QString(r.ext) << r.major << r.subtype << r.channels << r.rate;
    }
    void formatsReadAsStereoStaircase() {
        QFETCH(QString, ext);
        QFETCH(int, major);
        QFETCH(int, subtype);
        QFETCH(int, channels);
        QFETCH(int, rate);
        const long long frames = 10007; // not a whole number of chunks
        const QString p =
            path(QStringLiteral("fmt_%1.%2").arg(QTest::currentDataTag()).arg(ext)).replace(' ', '_');
        QVERIFY(TestAudio::writeSndFile(p, major | subtype, channels, rate, frames,
                                        AudioFixtures::stairGenerator()));

        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), int(2 * frames));
        QCOMPARE(file->sampleRate(), rate);
        const QString error = checkContent(file, channels, AudioFixtures::tolerance(subtype));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    void fullReadsUntilTheShortLastOne_data() {
        QTest::addColumn<QString>("ext");
        QTest::newRow("wav") << "wav";
        QTest::newRow("flac") << "flac";
    }
    void fullReadsUntilTheShortLastOne() {
        QFETCH(QString, ext);
        const QString p = path("short." + ext);
        // 4 chunks and 100 samples.
        QVERIFY(TestAudio::writeSndFile(p, (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16,
                                        2, 44100, 8242, AudioFixtures::stairGenerator()));
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), 16484);
        std::vector<float> buf(4096);
        for (int k = 0; k < 4; ++k) {
            QCOMPARE(file->read(buf.data(), 4096), 4096);
            QCOMPARE(file->position(), 4096 * (k + 1));
            QVERIFY(std::fabs(buf[4095] - stair(4096 * k + 4095)) < 1e-4f);
        }
        std::fill(buf.begin(), buf.end(), 7.0f);
        QCOMPARE(file->read(buf.data(), 4096), 100);
        QVERIFY(std::fabs(buf[99] - stair(16483)) < 1e-4f);
        for (int i = 100; i < 4096; ++i)
            QCOMPARE(buf[size_t(i)], 0.0f);
        std::fill(buf.begin(), buf.end(), 7.0f);
        QCOMPARE(file->read(buf.data(), 4096), 0);
        QCOMPARE(buf[0], 0.0f);
        QCOMPARE(buf[4095], 0.0f);
    }

    void seekThenReadEqualsContinuousRead_data() { fullReadsUntilTheShortLastOne_data(); }
    void seekThenReadEqualsContinuousRead() {
        QFETCH(QString, ext);
        const QString p = path("seek." + ext);
        QVERIFY(TestAudio::writeSndFile(p, (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16,
                                        2, 44100, 30000, AudioFixtures::stairGenerator()));
        const AudioFilePtr file = AudioFile::createForPath(p);
        for (const int start : {40000, 6002, 0, 59000}) {
            QCOMPARE(file->seek(unsigned(start)), ext == "wav" ? start / 2 : start);
            QCOMPARE(file->position(), start);
            std::vector<float> buf(1000);
            QCOMPARE(file->read(buf.data(), 1000), 1000);
            for (int i = 0; i < 1000; ++i)
                QVERIFY(std::fabs(buf[size_t(i)] - stair(start + i)) < 1e-4f);
        }
    }

    void flacFramesSmallerThanTheRequest() {
        const QString wav = path("for1152.wav");
        const QString flac = path("blocks1152.flac");
        QVERIFY(TestAudio::writeWav(wav, 2, 44100, 20000, AudioFixtures::stairGenerator(), false));
        if (!TestAudio::runFfmpeg({"-i", wav, "-c:a", "flac", "-frame_size", "1152", flac}))
            QSKIP("ffmpeg cannot write FLAC with 1152-sample frames here");
        AudioFileFLAC file(flac);
        QCOMPARE(file.length(), 40000);
        std::vector<float> buf(4096);
        int total = 0;
        for (int k = 0; k < 9; ++k) {
            QCOMPARE(file.read(buf.data(), 4096), 4096);
            for (int i = 0; i < 4096; i += 61)
                QVERIFY(std::fabs(buf[size_t(i)] - stair(total + i)) < 1e-4f);
            total += 4096;
        }
        QCOMPARE(file.read(buf.data(), 4096), 40000 - total);
    }

    void flac24BitExtremes() {
        const QString p = path("extremes24.flac");
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        SNDFILE *f = sf_open(QFile::encodeName(p).constData(), SFM_WRITE, &info);
        QVERIFY(f);
        // libsndfile takes 24-bit values in the top bits of an int.
        const int frames[] = {8388607 * 256, INT_MIN, 0, -256};
        QCOMPARE(sf_writef_int(f, frames, 2), sf_count_t(2));
        sf_close(f);

        AudioFileFLAC file(p);
        QCOMPARE(file.bitsPerSample(), 24);
        float buf[4];
        QCOMPARE(file.read(buf, 4), 4);
        QCOMPARE(buf[0], float(8388607.0 / 8388608.0));
        QVERIFY(buf[0] < 1.0f);
        QCOMPARE(buf[1], -1.0f);
        QCOMPARE(buf[2], 0.0f);
        QCOMPARE(buf[3], float(-1.0 / 8388608.0));
    }

    // Integer sources kept as integers come back as exactly the values the file holds,
    // the extremes of the range included; float sources stay floats.
    void integerSourcesReadBackBitExact_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("store");
        const int i16 = int(AudioCache::Store::Int16), i24 = int(AudioCache::Store::Int24);
        QTest::newRow("wav 16") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << i16;
        QTest::newRow("wav 16 mono") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 1 << i16;
        QTest::newRow("wav 24") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_24) << 2 << i24;
        QTest::newRow("wav u8") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_PCM_U8) << 2 << i16;
        QTest::newRow("aiff 24") << "aiff" << (SF_FORMAT_AIFF | SF_FORMAT_PCM_24) << 2 << i24;
        QTest::newRow("flac 16") << "flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << 2 << i16;
        QTest::newRow("flac 24") << "flac" << (SF_FORMAT_FLAC | SF_FORMAT_PCM_24) << 2 << i24;
        QTest::newRow("wav float") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT) << 2
                                   << int(AudioCache::Store::Float32);
        // Through FFmpeg, which delivers 16-bit PCM.
        QTest::newRow("au 16") << "au" << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << 2 << i16;
    }
    void integerSourcesReadBackBitExact() {
        QFETCH(QString, ext);
        QFETCH(int, format);
        QFETCH(int, channels);
        QFETCH(int, store);
        const int frames = 10007;
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
        const QString written = path("exact_" + tag + ".written");
        SF_INFO info{};
        info.samplerate = 48000;
        info.channels = channels;
        info.format = format;
        SNDFILE *f = sf_open(QFile::encodeName(written).constData(), SFM_WRITE, &info);
        QVERIFY(f);
        // Steps that differ from sample to sample, over the whole range of 32-bit ints, with
        // both extremes at the start; libsndfile keeps the top bits the format holds.
        std::vector<int> values(size_t(frames * channels));
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = int(uint32_t(i * 2654435761u));
        values[0] = INT_MIN;
        values[1] = INT_MAX;
        const bool isFloat = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
        std::vector<float> floats(values.size());
        for (size_t i = 0; i < values.size(); ++i)
            floats[i] = float(double(values[i]) / 2147483648.0);
        QCOMPARE(isFloat ? sf_writef_float(f, floats.data(), frames) : sf_writef_int(f, values.data(), frames),
                 sf_count_t(frames));
        sf_close(f);

        // What the file holds, read back as integers (up to 24 significant bits, exact as
        // floats) or as the floats it holds.
        SF_INFO readInfo{};
        f = sf_open(QFile::encodeName(written).constData(), SFM_READ, &readInfo);
        QVERIFY(f);
        std::vector<int> held(values.size());
        std::vector<float> heldFloats(values.size());
        QCOMPARE(isFloat ? sf_readf_float(f, heldFloats.data(), frames) : sf_readf_int(f, held.data(), frames),
                 sf_count_t(frames));
        sf_close(f);
        if (!isFloat)
            for (size_t i = 0; i < held.size(); ++i)
                heldFloats[i] = float(double(held[i]) / 2147483648.0);

        QString p = path("exact_" + tag + "." + ext);
        if (ext == "au")
            QVERIFY(TestAudio::runFfmpeg({"-f", "wav", "-i", written, "-c:a", "pcm_s16be", p}));
        else
            QVERIFY(QFile::rename(written, p));
        AudioCachePtr cache(new AudioCache(AudioFile::createForPath(p)));
        QCOMPARE(int(cache->store()), store);
        const std::vector<float> block = filledBlock(cache, 2 * frames);
        QCOMPARE(int(block.size()), 2 * frames);
        for (int i = 0; i < 2 * frames; ++i) {
            const int source = channels == 1 ? i / 2 : i;
            const float want = heldFloats[size_t(source)];
            if (block[size_t(i)] != want || cache->getSample(i) != want)
                QFAIL(qPrintable(QStringLiteral("sample %1: %2, want %3").arg(i).arg(block[size_t(i)]).arg(want)));
        }
        QCOMPARE(block[0], -1.0f);
        // The fill's summary holds the same extremes as the samples handed out.
        const PeakSummary::SampleReader read = [&](float *dst, int start, int count) {
            std::copy(block.begin() + start, block.begin() + start + count, dst);
        };
        for (const auto &span : {std::make_pair(0, 2 * frames), std::make_pair(1000, 9000)}) {
            PeakSummary::Range range;
            QVERIFY(cache->peakSummary()->query(span.first, span.second, read, range));
            QCOMPARE(range.minimum, *std::min_element(block.begin() + span.first, block.begin() + span.second));
            QCOMPARE(range.maximum, *std::max_element(block.begin() + span.first, block.begin() + span.second));
        }
    }

    // NaN and infinities in a float file (a damaged file, a failed render) read as
    // silence, through libsndfile and through FFmpeg; every other sample as written.
    void nonFiniteSamplesReadAsSilence_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("format");
        QTest::newRow("wav float") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        QTest::newRow("wav double") << "wav" << (SF_FORMAT_WAV | SF_FORMAT_DOUBLE);
        QTest::newRow("aiff float") << "aiff" << (SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
        // Copied by the ffmpeg command into a CAF, which the FFmpeg reader opens.
        QTest::newRow("caf float") << "caf" << (SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    }
    void nonFiniteSamplesReadAsSilence() {
        QFETCH(QString, ext);
        QFETCH(int, format);
        const int frames = 8000;
        const auto bad = [](long long f, int c) {
            return (f >= 1000 && f < 1100) || (f == 3000 && c == 1) || (f == 5000 && c == 0);
        };
        const auto stairs = AudioFixtures::stairGenerator();
        const TestAudio::Generator gen = [&](long long f, int c) {
            if (!bad(f, c))
                return stairs(f, c);
            return f == 3000   ? std::numeric_limits<float>::infinity()
                   : f == 5000 ? -std::numeric_limits<float>::infinity()
                               : std::numeric_limits<float>::quiet_NaN();
        };
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
        QString p = path("nonfinite_" + tag + (ext == "caf" ? ".wav" : "." + ext));
        QVERIFY(TestAudio::writeSndFile(p, format, 2, 44100, frames, gen));
        if (ext == "caf") {
            const QString caf = path("nonfinite_" + tag + ".caf");
            QVERIFY(TestAudio::runFfmpeg({"-i", p, "-c:a", "pcm_f32be", caf}));
            p = caf;
        }
        AudioCachePtr cache(new AudioCache(AudioFile::createForPath(p)));
        const std::vector<float> block = filledBlock(cache, 2 * frames);
        QCOMPARE(int(block.size()), 2 * frames);
        for (int i = 0; i < 2 * frames; ++i) {
            const float want = bad(i / 2, i % 2) ? 0.0f : stair(i);
            if (!(std::fabs(block[size_t(i)] - want) < 1e-4f))
                QFAIL(qPrintable(
                    QStringLiteral("sample %1: %2, want %3").arg(i).arg(block[size_t(i)]).arg(want)));
        }
    }

    void moreThanTwoChannelsReadAsSilence_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("lengthPerFrame");
        QTest::newRow("wav") << "wav" << 2;
        QTest::newRow("flac") << "flac" << 6;
    }
    void moreThanTwoChannelsReadAsSilence() {
        QFETCH(QString, ext);
        QFETCH(int, lengthPerFrame);
        const QString p = path("six." + ext);
        QVERIFY(TestAudio::writeSndFile(p, (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16,
                                        6, 44100, 5000,
                                        [](long long, int c) { return 0.1f * float(c + 1); }));
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), 5000 * lengthPerFrame);
        QCOMPARE(file->sampleRate(), 44100);
        AudioCachePtr cache(new AudioCache(file));
        cache->preallocate();
        cache->fillSynchronously();
        for (int i = 0; i < cache->length(); ++i)
            QCOMPARE(cache->getSample(i), 0.0f);
    }

    void badFilesOpenEmpty_data() {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"missing", "directory", "empty", "text"})
            for (const char *ext : {"wav", "flac", "aiff"})
                QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(kind, ext)))
                    << QStringLiteral("%1.%2").arg(kind, ext);
    }
    void badFilesOpenEmpty() {
        QFETCH(QString, kind);
        const QString p = path("bad/" + kind);
        QDir().mkpath(path("bad"));
        if (kind.startsWith("directory"))
            QVERIFY(QDir().mkpath(p));
        else if (kind.startsWith("empty"))
            QVERIFY(TestAudio::writeBytes(p, QByteArray()));
        else if (kind.startsWith("text"))
            QVERIFY(TestAudio::writeBytes(p, "This is not audio. RIFF WAVE fLaC FORM AIFF\n"));
        expectOpenError(p);
        verifyEmpty(AudioFile::createForPath(p));
    }

    void unreadableFileOpensEmpty() {
        for (const char *ext : {"wav", "flac"}) {
            // Opens, but every read fails with an I/O error (even for root).
            const QString p = path(QStringLiteral("io-error.%1").arg(ext));
            QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), p));
            expectOpenError(p);
            verifyEmpty(AudioFile::createForPath(p));
        }
        if (geteuid() == 0)
            QSKIP("root reads files regardless of their permissions");
        for (const char *ext : {"wav", "flac"}) {
            const QString p = path(QStringLiteral("locked.%1").arg(ext));
            QVERIFY(TestAudio::writeSndFile(
                p, (ext == QLatin1String("wav") ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16, 2,
                44100, 1000, AudioFixtures::stairGenerator()));
            QVERIFY(QFile::setPermissions(p, QFileDevice::Permissions()));
            expectOpenError(p);
            verifyEmpty(AudioFile::createForPath(p));
        }
    }

    // libsndfile closes the descriptor of a file it refuses, whatever it is told. A refused
    // WAV must leave the next file opened alone: when its reader closed that number again
    // on its way out, the loop opened meanwhile read as silence. And a WAV deeper than
    // libsndfile's 1024-byte limit on a path opens.
    void refusedWavLeavesTheNextFileAloneAndDeepPathsOpen() {
        const QString good = path("kept.wav");
        QVERIFY(TestAudio::writeSndFile(good, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 3000,
                                        AudioFixtures::stairGenerator()));
        const QString bad = path("refused.wav");
        QVERIFY(TestAudio::writeBytes(bad, QByteArray("RIFF\x10\0\0\0WAVEjunkjunkjunkjunk", 24)));
        auto refused = std::make_unique<AudioFileSndFile>(bad);
        QCOMPARE(refused->length(), 0);
        const AudioFilePtr kept(new AudioFileSndFile(good));
        refused.reset();
        QCOMPARE(checkContent(kept, 2, 1e-4f), QString());

        QString deep = path(QString(200, QLatin1Char('d')));
        for (int i = 0; i < 5; ++i)
            deep += QLatin1Char('/') + QString(200, QLatin1Char('a' + i));
        QVERIFY(QDir().mkpath(deep));
        const QString far = deep + "/far.wav";
        QVERIFY(QFile::copy(good, far));
        QVERIFY(QFile::encodeName(far).size() > 1024);
        const AudioFilePtr deepFile = AudioFile::createForPath(far);
        QCOMPARE(deepFile->length(), 6000);
        QCOMPARE(checkContent(deepFile, 2, 1e-4f), QString());
    }

    void wavShorterThanItsHeaderClaims() {
        // A header claiming 10 000 frames over 3 000 frames of data (an interrupted copy).
        const QString p = path("truncated.wav");
        QByteArray bytes = AudioFixtures::wavHeader(2, 44100, 16, 10000 * 4);
        for (int i = 0; i < 6000; ++i) {
            const qint16 v = qint16(std::lrint(stair(i) * 32768.0f));
            bytes.append(reinterpret_cast<const char *>(&v), 2);
        }
        QVERIFY(TestAudio::writeBytes(p, bytes));
        const AudioFilePtr file = AudioFile::createForPath(p);
        // libsndfile may trust the header or the file size; either way the samples
        // that exist arrive, and anything beyond them is silence.
        QVERIFY(file->length() == 6000 || file->length() == 20000);
        AudioCachePtr cache(new AudioCache(file));
        cache->preallocate();
        cache->fillSynchronously();
        for (int i = 0; i < 6000; ++i)
            QVERIFY(std::fabs(cache->getSample(i) - stair(i)) < 1e-4f);
        for (int i = 6000; i < cache->length(); ++i)
            QCOMPARE(cache->getSample(i), 0.0f);
        // Whichever it trusted, what is missing is told.
        QCOMPARE(file->missingFrames(), 7000LL);
    }

    // Writers get a WAV's block alignment wrong (half the frame, or a 12-bit stereo frame
    // called 3 bytes wide); libsndfile reads whole bytes per sample for every channel
    // whatever it says. A whole file with such a header is whole, and a cut-off one misses
    // exactly the frames cut off.
    void wavWithAWrongBlockAlignmentIsNotCalledCutOff() {
        for (int bits : {16, 12}) {
            QByteArray bytes = AudioFixtures::wavHeader(2, 44100, 16, 3000 * 4);
            bytes[32] = char(bits == 16 ? 2 : 3); // block alignment
            bytes[34] = char(bits);
            for (int i = 0; i < 6000; ++i) {
                const qint16 v = qint16(std::lrint(stair(i) * 32768.0f));
                bytes.append(reinterpret_cast<const char *>(&v), 2);
            }
            const QString whole = path(QStringLiteral("misaligned%1.wav").arg(bits));
            QVERIFY(TestAudio::writeBytes(whole, bytes));
            const AudioFilePtr file = AudioFile::createForPath(whole);
            QCOMPARE(file->length(), 6000);
            QCOMPARE(file->missingFrames(), 0LL);
            QCOMPARE(checkContent(file, 2, 1e-4f), QString());

            const QString cut = path(QStringLiteral("misaligned%1 cut.wav").arg(bits));
            QVERIFY(TestAudio::writeBytes(cut, bytes.left(bytes.size() - 1000 * 4)));
            const AudioFilePtr cutFile = AudioFile::createForPath(cut);
            QCOMPARE(cutFile->length(), 4000);
            QCOMPARE(cutFile->missingFrames(), 1000LL);
        }
    }

    // A cut-off AIFF is known to be cut off as soon as it is open (its header declares
    // its frames); whole files, read to the end, miss nothing.
    void missingFramesOfCutAndWholeFiles() {
        const QString cut = path("cut.aiff");
        QVERIFY(TestAudio::writeSndFile(cut, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1, 44100, 10000,
                                        AudioFixtures::stairGenerator()));
        QVERIFY(QFile::resize(cut, QFileInfo(cut).size() - 3 * 4000 + 1));
        const AudioFilePtr aiff = AudioFile::createForPath(cut);
        QCOMPARE(aiff->length(), 2 * 6000);
        QCOMPARE(aiff->missingFrames(), 4000LL);

        for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_AIFF | SF_FORMAT_PCM_24,
                                 SF_FORMAT_FLAC | SF_FORMAT_PCM_16}) {
            const QString p = path(QStringLiteral("whole%1.%2")
                                       .arg(format, 0, 16)
                                       .arg((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV    ? "wav"
                                            : (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_AIFF ? "aiff"
                                                                                              : "flac"));
            QVERIFY(TestAudio::writeSndFile(p, format, 2, 44100, 10007, AudioFixtures::stairGenerator()));
            const AudioFilePtr file = AudioFile::createForPath(p);
            std::vector<float> buf(4096);
            while (file->read(buf.data(), 4096) == 4096) {
            }
            QCOMPARE(file->position(), 2 * 10007);
            QCOMPARE(file->missingFrames(), 0LL);
        }

        // MP3 in a WAV: libsndfile only estimates its frame count, and a whole file ending
        // short of the estimate is not cut off.
        const QString source = path("for-mp3.wav");
        const QString mp3InWav = path("mp3-in.wav");
        QVERIFY(TestAudio::writeSndFile(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 100000,
                                        AudioFixtures::stairGenerator()));
        QVERIFY(TestAudio::runFfmpeg({"-i", source, "-c:a", "libmp3lame", "-f", "wav", mp3InWav}));
        const AudioFilePtr mp3 = AudioFile::createForPath(mp3InWav);
        QVERIFY(mp3->length() >= 2 * 100000);
        std::vector<float> buf(4096);
        while (mp3->read(buf.data(), 4096) > 0) {
        }
        QCOMPARE(mp3->missingFrames(), 0LL);
    }

    // A FLAC cut off inside its audio ends where its last whole frame ends, as a cut-off
    // WAV ends where its data does: no silence stands in for what is missing, and how
    // much that is is known once the file is open. The ffmpeg command, decoding the same
    // bytes, says how many frames are there.
    void flacCutOffEndsWhereItsAudioEnds() {
        const long long frames = 50000;
        const QString whole = path("whole-for-cuts.flac");
        QVERIFY(AudioFixtures::writeFlac(whole, 2, 44100, frames));
        const QByteArray bytes = AudioFixtures::readAll(whole);
        // A third, three quarters, and one byte short (the last frame's checksum).
        for (const int keep : {bytes.size() / 3, bytes.size() * 3 / 4, bytes.size() - 1}) {
            checkCutOff(path(QStringLiteral("cut%1.flac").arg(keep)), bytes.left(keep), frames);
            if (QTest::currentTestFailed())
                return;
        }
    }

    // An encoder writing to a pipe cannot go back to fill in the length, and leaves 0
    // ("unknown") in STREAMINFO. Such a file reads, seeks and ends like any other.
    void flacOfUnknownLengthLoadsWhole() {
        for (const int channels : {1, 2}) {
            const QString p = path(QStringLiteral("unknown%1.flac").arg(channels));
            QVERIFY(AudioFixtures::writeFlac(p, channels, 44100, 30011));
            QVERIFY(AudioFixtures::patchFlacTotalSamples(p, 0));
            const AudioFilePtr file = AudioFile::createForPath(p);
            QCOMPARE(file->length(), 2 * 30011);
            const QString error = checkContent(file, channels, 1e-4f);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QCOMPARE(file->missingFrames(), 0LL);
            std::vector<float> buf(1000);
            for (const int start : {40000, 6002, 0, 60000}) {
                QCOMPARE(file->seek(unsigned(start)), start);
                const int expectedCount = std::min(1000, 2 * 30011 - start);
                QCOMPARE(file->read(buf.data(), 1000), expectedCount);
                for (int i = 0; i < expectedCount; ++i)
                    QVERIFY(std::fabs(buf[size_t(i)] - expected(channels, start + i)) < 1e-4f);
            }
        }
    }

    // AIFC and CAF go through FFmpeg. Uncompressed, their headers count the frames as a
    // WAV's do: a whole file misses nothing, and a cut-off one ends where its audio does
    // (the ffmpeg command, decoding the same bytes, says where) and is known to be cut off
    // once it is open.
    void cutOffAifcAndCafAreKnownCutOff_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<QStringList>("encoding");
        QTest::newRow("aifc float") << "aifc" << QStringList{"-c:a", "pcm_f32be", "-f", "aiff"};
        QTest::newRow("caf 24") << "caf" << QStringList{"-c:a", "pcm_s24le"};
    }
    void cutOffAifcAndCafAreKnownCutOff() {
        QFETCH(QString, ext);
        QFETCH(QStringList, encoding);
        const long long frames = 20000;
        const QString wav = path("for-" + ext + ".wav");
        QVERIFY(TestAudio::writeWav(wav, 2, 44100, frames, AudioFixtures::stairGenerator(), false));
        const QString whole = path("whole." + ext);
        QVERIFY(TestAudio::runFfmpeg(QStringList{"-i", wav} + encoding + QStringList{whole}));
        const AudioFilePtr wholeFile = AudioFile::createForPath(whole);
        QCOMPARE(wholeFile->length(), int(2 * frames));
        QCOMPARE(wholeFile->missingFrames(), 0LL);

        const QByteArray bytes = AudioFixtures::readAll(whole);
        // Inside a frame, a little over half way.
        checkCutOff(path("cut." + ext), bytes.left(bytes.size() * 3 / 5 + 1), frames);
    }

    // Writes the first bytes of a whole stereo file of the given frames to p: the reader
    // ends where the ffmpeg command's decode of the same bytes ends, knows once open how
    // much is missing, reads the rest right and, read to its end, has lost nothing more.
    void checkCutOff(const QString &p, const QByteArray &bytes, long long frames) {
        QVERIFY(TestAudio::writeBytes(p, bytes));
        QVERIFY(TestAudio::runFfmpeg({"-i", p, "-f", "f32le", p + ".raw"}));
        const long long decodable = (long long)TestAudio::readRawFloat(p + ".raw").size() / 2;
        QVERIFY(decodable > 0 && decodable < frames);
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), int(2 * decodable));
        QCOMPARE(file->missingFrames(), frames - decodable);
        const QString error = checkContent(file, 2, 1e-4f);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(file->missingFrames(), frames - decodable);
    }

    void fileCutShortWhileLoading_data() {
        QTest::addColumn<QString>("ext");
        QTest::newRow("wav") << "wav";
        QTest::newRow("flac") << "flac";
    }
    void fileCutShortWhileLoading() {
        // The reader has its length from the header, then the file loses its second
        // half (an interrupted copy still being written, a network share going away):
        // the fill ends early and the tail reads as silence, at the reported length.
        QFETCH(QString, ext);
        const QString p = path("shrinking." + ext);
        QVERIFY(TestAudio::writeSndFile(p, (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16,
                                        2, 44100, 50000, AudioFixtures::stairGenerator()));
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), 100000);
        QVERIFY(QFile::resize(p, QFileInfo(p).size() / 2));

        AudioCachePtr cache(new AudioCache(file));
        cache->preallocate();
        cache->fill();
        QVERIFY(cache->isFilled());
        QCOMPARE(cache->length(), 100000);
        int delivered = 0;
        for (int k = 0; k < cache->chunkCount(); ++k) {
            const SampleChunk *chunk = cache->chunkAt(k);
            QVERIFY(chunk);
            if (chunk->count < 4096) {
                delivered = chunk->start + chunk->count;
                break;
            }
        }
        QVERIFY(delivered > 20000 && delivered < 60000);
        for (int i = 0; i < 20000; ++i)
            QVERIFY(std::fabs(cache->getSample(i) - stair(i)) < 1e-4f);
        for (int i = delivered; i < 100000; ++i)
            QCOMPARE(cache->getSample(i), 0.0f);
        QCOMPARE(file->missingFrames(), (long long)(100000 - delivered) / 2);
    }

    void compressedFileCutShortWhileLoading_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("outputArgs");
        QTest::newRow("mp3") << "shrinking.mp3" << QStringList{"-c:a", "libmp3lame", "-b:a", "128k"};
        QTest::newRow("m4a") << "shrinking.m4a" << QStringList{"-c:a", "aac", "-movflags", "+faststart"};
        QTest::newRow("wma") << "shrinking.wma" << QStringList{"-c:a", "wmav2"};
    }
    void compressedFileCutShortWhileLoading() {
        // The decoder's length is counted at the open; another program then cuts the
        // file short. Its tail reads as silence, and is said to be missing, as a cut
        // WAV's is: otherwise slices of silence pass for the loop's.
        QFETCH(QString, name);
        QFETCH(QStringList, outputArgs);
        const QString p = path(name);
        QVERIFY(DecoderFixtures::encodeChirp(p, 44100, 8, 2, outputArgs));
        const auto readToEnd = [](AudioFile &file) {
            std::vector<float> buffer(4096);
            int delivered = 0;
            for (;;) {
                const int got = file.read(buffer.data(), 4096);
                delivered += got;
                if (got < 4096)
                    return delivered;
            }
        };
        {
            // A whole file read to its end has lost nothing.
            const AudioFilePtr whole = AudioFile::createForPath(p);
            QVERIFY(whole->length() > 2 * 7 * 44100);
            QCOMPARE(readToEnd(*whole), whole->length());
            QCOMPARE(whole->missingFrames(), 0LL);
        }
        const AudioFilePtr file = AudioFile::createForPath(p);
        const int length = file->length();
        QVERIFY(QFile::resize(p, QFileInfo(p).size() / 2));
        const int delivered = readToEnd(*file);
        QVERIFY2(delivered > length / 4 && delivered < 3 * length / 4, qPrintable(QString::number(delivered)));
        QCOMPARE(file->missingFrames(), (long long)(length - delivered) / 2);
    }

    void flacWithCorruptFrameKeepsSamplesBeforeIt() {
        const QString p = path("corrupt.flac");
        const long long frames = 5 * 44100;
        QVERIFY(TestAudio::writeSndFile(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, frames,
                                        TestAudio::sine(440.0, 44100.0, 0.5f)));
        // Reference: the intact file.
        std::vector<float> reference(size_t(2 * frames));
        {
            AudioFileFLAC intact(p);
            QCOMPARE(intact.read(reference.data(), unsigned(reference.size())), int(reference.size()));
        }
        const qint64 size = QFileInfo(p).size();
        QVERIFY(AudioFixtures::patchBytes(p, size / 2, QByteArray(300, '\x5a')));

        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), int(2 * frames));
        AudioCachePtr cache(new AudioCache(file));
        cache->preallocate();
        cache->fill();
        QVERIFY(cache->isFilled());
        // The damage sits in the middle of the file: everything in the first 40 % of
        // the loop must be exactly as decoded from the intact file.
        const int intactSamples = int(0.4 * 2 * frames);
        for (int i = 0; i < intactSamples; ++i)
            if (cache->getSample(i) != reference[size_t(i)])
                QFAIL(qPrintable(QStringLiteral("sample %1 differs before the corrupt frame").arg(i)));
        // And something after it was damaged, or the test corrupted nothing.
        bool differs = false;
        for (int i = intactSamples; i < 2 * frames && !differs; ++i)
            differs = cache->getSample(i) != reference[size_t(i)];
        QVERIFY(differs);
    }

    void randomlyDamagedFilesLoadSafely_data() { fullReadsUntilTheShortLastOne_data(); }
    void randomlyDamagedFilesLoadSafely() {
        // Damage anywhere, header included: the loop opens (possibly empty), fills to
        // the end and holds only values a 16-bit file can hold.
        QFETCH(QString, ext);
        const QString original = path("intact16." + ext);
        QVERIFY(TestAudio::writeSndFile(original,
                                        (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16, 2,
                                        44100, 20000, TestAudio::sine(330.0, 44100.0, 0.9f)));
        const QByteArray intact = AudioFixtures::readAll(original);
        QRandomGenerator random(4242);
        QLoggingCategory::setFilterRules(QStringLiteral("quillory.audio.debug=false"));
        for (int variant = 0; variant < 40; ++variant) {
            QByteArray bytes = intact;
            const int damaged = 1 + random.bounded(24);
            // Half the variants hit the first 100 bytes, where the headers are.
            const int span = variant % 2 ? bytes.size() : 100;
            for (int d = 0; d < damaged; ++d)
                bytes[random.bounded(span)] = char(random.bounded(256));
            if (variant % 5 == 4)
                bytes.truncate(random.bounded(bytes.size()));
            const QString p = path(QStringLiteral("damaged%1.%2").arg(variant).arg(ext));
            QVERIFY(TestAudio::writeBytes(p, bytes));

            const AudioFilePtr file = AudioFile::createForPath(p);
            // A damaged STREAMINFO may claim any length; such loops are tested elsewhere
            // and would only make this test allocate gigabytes of silence.
            if (file->length() > 8 * 20000)
                continue;
            AudioCachePtr cache(new AudioCache(file));
            cache->preallocate();
            cache->fill();
            QVERIFY(cache->isFilled());
            for (int i = 0; i < cache->length(); ++i) {
                const float v = cache->getSample(i);
                if (!(v >= -1.0f && v <= 1.0f))
                    QFAIL(
                        qPrintable(QStringLiteral("variant %1: sample %2 is %3").arg(variant).arg(i).arg(v)));
            }
        }
        QLoggingCategory::setFilterRules(QString());
    }

    void flacFrameLargerThanStreamMaximumIsRejected() {
        const QString p = path("bigframe.flac");
        QVERIFY(AudioFixtures::writeFlac(p, 2, 44100, 20000));
        // The encoder writes 4096-sample frames; claim at most 1024.
        QVERIFY(AudioFixtures::patchFlacMaxBlockSize(p, 1024));
        // Not one frame can be delivered: the file holds no audio the reader opens.
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Error: FLAC frame block size exceeds"));
        expectOpenError(p);
        verifyEmpty(AudioFile::createForPath(p));
    }

    // libFLAC cannot find the stream behind an ID3v2.4 tag that carries a footer; FFmpeg
    // reads such a file whole, and reads it cut off as cut off, missing as many frames as
    // libFLAC finds missing in the same cut without the tag. A tag at the end changes
    // nothing for libFLAC.
    void flacBehindATagWithAFooterOpens() {
        const QString bare = path("tagless.flac");
        QVERIFY(AudioFixtures::writeFlac(bare, 2, 44100, 30000));
        QFile bareFile(bare);
        QVERIFY(bareFile.open(QIODevice::ReadOnly));
        const QByteArray flac = bareFile.readAll();
        const auto synchsafe = [](int n) {
            const char bytes[4] = {char((n >> 21) & 0x7f), char((n >> 14) & 0x7f), char((n >> 7) & 0x7f),
                                   char(n & 0x7f)};
            return QByteArray(bytes, 4);
        };
        const QByteArray title = QByteArray("\x03Break 1\0", 9);
        const QByteArray frames = "TIT2" + synchsafe(title.size()) + QByteArray(2, '\0') + title;
        const QByteArray header = QByteArray("ID3\x04\x00\x10", 6) + synchsafe(frames.size());
        const QByteArray footer = QByteArray("3DI\x04\x00\x10", 6) + synchsafe(frames.size());
        const QByteArray tag = header + frames + footer;

        const QString front = path("tagged in front.flac");
        const QString back = path("tagged at the end.flac");
        QVERIFY(TestAudio::writeBytes(front, tag + flac));
        QVERIFY(TestAudio::writeBytes(back, flac + tag));
        for (const QString &p : {front, back}) {
            const AudioFilePtr file = AudioFile::createForPath(p);
            QCOMPARE(file->length(), 60000);
            QCOMPARE(file->channels(), 2);
            QCOMPARE(file->missingFrames(), 0LL);
            QCOMPARE(checkContent(file, 2, 1e-4f), QString());
        }

        const QString cutBare = path("tagless cut.flac");
        const QString cutFront = path("tagged in front cut.flac");
        QVERIFY(TestAudio::writeBytes(cutBare, flac.left(flac.size() / 2)));
        QVERIFY(TestAudio::writeBytes(cutFront, tag + flac.left(flac.size() / 2)));
        const AudioFilePtr byLibFlac = AudioFile::createForPath(cutBare);
        const AudioFilePtr byFfmpeg = AudioFile::createForPath(cutFront);
        QVERIFY(byLibFlac->length() > 0 && byFfmpeg->length() > 0);
        QVERIFY(byFfmpeg->missingFrames() > 0);
        // What arrives is the file's own audio, as far as it goes, then silence.
        AudioCachePtr cache(new AudioCache(byFfmpeg));
        cache->preallocate();
        cache->fillSynchronously();
        for (int i = 0; i < byLibFlac->length(); ++i)
            QVERIFY(std::fabs(cache->getSample(i) - expected(2, i)) < 1e-4f);
        for (int i = byLibFlac->length(); i < cache->length(); ++i)
            QCOMPARE(cache->getSample(i), 0.0f);
        AudioCachePtr bareCache(new AudioCache(byLibFlac));
        bareCache->preallocate();
        bareCache->fillSynchronously();
        QCOMPARE(byFfmpeg->missingFrames(), byLibFlac->missingFrames());
    }

    void lengthBeyondIntIndexIsRefused() {
        // FLAC: total samples per channel in STREAMINFO is a 36-bit field.
        const QString p = path("huge.flac");
        QVERIFY(AudioFixtures::writeFlac(p, 2, 44100, 5000));
        QVERIFY(AudioFixtures::patchFlacTotalSamples(p, (quint64(1) << 36) - 1));
        expectOpenError(p);
        verifyEmpty(AudioFile::createForPath(p));

        // Just past the limit: 2^30 stereo frames are 2^31 samples.
        QVERIFY(AudioFixtures::patchFlacTotalSamples(p, quint64(1) << 30));
        expectOpenError(p);
        QCOMPARE(AudioFile::createForPath(p)->length(), 0);
        // Just inside it: not refused, but known to be cut off after its 5000 frames.
        QVERIFY(AudioFixtures::patchFlacTotalSamples(p, (quint64(1) << 30) - 1));
        const AudioFilePtr inside = AudioFile::createForPath(p);
        QCOMPARE(inside->length(), 10000);
        QCOMPARE(inside->missingFrames(), (1LL << 30) - 1 - 5000);

        // WAV: a 4 GB 8-bit mono file (sparse, so it takes no disk space) holds more
        // frames than an int index can count twice.
        const QString w = path("huge.wav");
        const quint32 dataBytes = 0xFFFFFF00u;
        QVERIFY(TestAudio::writeBytes(w, AudioFixtures::wavHeader(1, 8000, 8, dataBytes)));
        {
            QFile f(w);
            QVERIFY(f.open(QIODevice::ReadWrite));
            if (!f.resize(44 + qint64(dataBytes)))
                QSKIP("no sparse files here");
        }
        expectOpenError(w);
        verifyEmpty(AudioFile::createForPath(w));
        QFile::remove(w);
    }

    void impossibleSampleRateIsRefused_data() {
        QTest::addColumn<QString>("ext");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("loads");
        QTest::newRow("wav 0") << "wav" << 0 << false;
        QTest::newRow("wav 1 MHz") << "wav" << 1000000 << false;
        QTest::newRow("wav 768 kHz") << "wav" << 768000 << true;
        QTest::newRow("flac 0") << "flac" << 0 << false;
        QTest::newRow("flac 800 kHz") << "flac" << 800000 << false;
    }
    void impossibleSampleRateIsRefused() {
        QFETCH(QString, ext);
        QFETCH(int, rate);
        QFETCH(bool, loads);
        const QString p = path(QStringLiteral("rate%1.%2").arg(rate).arg(ext));
        if (ext == "wav") {
            QByteArray bytes = AudioFixtures::wavHeader(2, rate, 16, 4000);
            bytes.append(QByteArray(4000, '\x01'));
            QVERIFY(TestAudio::writeBytes(p, bytes));
        } else {
            QVERIFY(AudioFixtures::writeFlac(p, 2, 44100, 1000));
            QVERIFY(AudioFixtures::patchFlacSampleRate(p, unsigned(rate)));
        }
        if (!loads)
            expectOpenError(p);
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), loads ? 2000 : 0);
        QCOMPARE(file->sampleRate(), loads ? rate : 0);
    }

    // A file whose name says another format than its bytes (a WAV called .flac, an MP3
    // called .wav) reads exactly as it does under its own name.
    void misnamedFilesReadAsUnderTheirOwnName_data() {
        QTest::addColumn<QString>("real");
        QTest::addColumn<QString>("named");
        const char *pairs[][2] = {{"wav", "flac"}, {"flac", "aif"}, {"flac", "wav"}, {"mp3", "wav"},
                                  {"mp3", "flac"}, {"ogg", "mp3"},  {"ogg", "wav"},  {"m4a", "wav"},
                                  {"wav", "mp3"},  {"aiff", "flac"}};
        for (const auto &pair : pairs)
            QTest::newRow(qPrintable(QStringLiteral("%1 named .%2").arg(pair[0], pair[1]))) << pair[0] << pair[1];
    }
    void misnamedFilesReadAsUnderTheirOwnName() {
        QFETCH(QString, real);
        QFETCH(QString, named);
        const QString source = path("misnamed-source.wav");
        if (!QFileInfo::exists(source))
            QVERIFY(TestAudio::writeSndFile(source, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, 44100, 20000,
                                            AudioFixtures::stairGenerator()));
        const QString proper = path("misnamed." + real);
        if (!QFileInfo::exists(proper))
            QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", source, proper}), 0);
        const QString wrong = path(QStringLiteral("%1-as.%2").arg(real, named));
        QFile::remove(wrong);
        QVERIFY(QFile::copy(proper, wrong));

        const AudioFilePtr reference = AudioFile::createForPath(proper);
        QVERIFY(reference->length() > 0);
        const AudioFilePtr file = AudioFile::createForPath(wrong);
        QCOMPARE(file->length(), reference->length());
        QCOMPARE(file->sampleRate(), reference->sampleRate());
        QCOMPARE(file->channels(), 2);
        const std::vector<float> expected = filledBlock(AudioCachePtr(new AudioCache(reference)), reference->length());
        const std::vector<float> got = filledBlock(AudioCachePtr(new AudioCache(file)), reference->length());
        QVERIFY(!expected.empty());

        QVERIFY(got == expected);
    }

    // What no reader opens stays refused, whatever it is called.
    void notAudioUnderAnyNameOpensEmpty_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QByteArray noise(5000, 0);
        QRandomGenerator random(29);
        for (char &c : noise)
            c = char(random.bounded(256));
        for (const char *ext : {"wav", "flac", "mp3", "ogg", "m4a"}) {
            QTest::newRow(qPrintable(QStringLiteral("noise .%1").arg(ext))) << QStringLiteral("noise.%1").arg(ext) << noise;
            QTest::newRow(qPrintable(QStringLiteral("empty .%1").arg(ext))) << QStringLiteral("empty.%1").arg(ext) << QByteArray();
            QTest::newRow(qPrintable(QStringLiteral("text .%1").arg(ext)))
                << QStringLiteral("text.%1").arg(ext) << QByteArray("ID3 fLaC RIFF WAVE OggS ftypM4A not audio\n");
        }
    }
    void notAudioUnderAnyNameOpensEmpty() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString p = path("notaudio/" + name);
        QDir().mkpath(path("notaudio"));
        QVERIFY(TestAudio::writeBytes(p, bytes));
        verifyEmpty(AudioFile::createForPath(p));
    }

    void pathsWithSpacesAndNonAscii_data() { fullReadsUntilTheShortLastOne_data(); }
    void pathsWithSpacesAndNonAscii() {
        QFETCH(QString, ext);
        const QString folder = path(QStringLiteral("Drum Breaks — Ünïcødé 音"));
        QVERIFY(QDir().mkpath(folder));
        const QString p = folder + QStringLiteral("/Amen brother ßæ ✓.") + ext;
        QVERIFY(TestAudio::writeSndFile(p, (ext == "wav" ? SF_FORMAT_WAV : SF_FORMAT_FLAC) | SF_FORMAT_PCM_16,
                                        2, 44100, 3000, AudioFixtures::stairGenerator()));
        const AudioFilePtr file = AudioFile::createForPath(p);
        QCOMPARE(file->length(), 6000);
        const QString error = checkContent(file, 2, 1e-4f);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
};

QObject *createReaderTest() {
    return new ReaderTest;
}

#include "tst_readers.moc"
