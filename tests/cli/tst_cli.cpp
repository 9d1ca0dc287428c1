// quillory-cli against the core library: the built program is run as a process and its
// output compared with what the window's own code paths give for the same file.

#include "BpmDetectorWorker.h"
#include "HitLoopFixture.h"
#include "OnsetAnalysisService.h"
#include "Settings.h"
#include "SliceExporter.h"
#include "TempoAnalysis.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <sndfile.h>
#include <unistd.h>
#include <vector>

namespace {
struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every file under folder, relative to it, sorted.
QStringList filesIn(const QString &folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// Clicks at bpm with a low tone under them, so that tempo detection has something to
// find and zero-crossing snapping has crossings to move to.
TestAudio::Generator drums(double bpm, int rate) {
    return [bpm, rate](long long f, int c) {
        const long long period = (long long)(rate * 60.0 / bpm);
        const long long k = f % period;
        const float click = k < 300 ? float(0.8 * std::sin(k * 0.35) * (1.0 - k / 300.0)) : 0.0f;
        return click + float(0.1 * std::sin(2.0 * M_PI * 55.0 * f / rate + c));
    };
}
} // namespace

class CliTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_loop;

    // A run that outlasts timeoutMs is killed and reads as exit code -1.
    Run cli(const QStringList &args, const QString &workingDir = QString(),
            const QString &program = QStringLiteral(QUILLORY_CLI_PATH), int timeoutMs = 120000) {
        QProcess p;
        p.setProgram(program);
        p.setArguments(args);
        p.setWorkingDirectory(workingDir);
        p.start();
        const bool finished = p.waitForFinished(timeoutMs);
        if (!finished) {
            p.kill();
            p.waitForFinished();
        }
        return {finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

    // The loop loaded as the window loads it, its fill finished.
    std::unique_ptr<Trevant> load(const QString &path) {
        auto slicer = std::make_unique<Trevant>();
        if (!slicer->slotLoadLoop(path))
            return nullptr;
        const AudioCachePtr cache = slicer->currentSlice()->cache();
        if (!QTest::qWaitFor([&] { return cache->isFilled(); }, 20000))
            return nullptr;
        return slicer;
    }

    static QStringList frames(const QList<int> &points) {
        QStringList out;
        for (int p : points)
            out.append(QString::number(p / 2));
        return out;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The program and this test read the same (empty) preferences.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
        QCoreApplication::setApplicationName("Quillory");
        QCoreApplication::setOrganizationName("Brindlemoor");
        m_loop = m_dir.filePath("break 50%2.wav");
        QVERIFY(TestAudio::writeWav(m_loop, 2, 44100, 44100 * 6, drums(120.0, 44100), false));
    }

    void tempoAndPointsEqualTheCore() {
        auto slicer = load(m_loop);
        QVERIFY(slicer);
        BpmDetectorWorker worker;
        worker.detectBpm(slicer->currentSlice());
        const double bpm = slicer->currentSlice()->bpm();
        QVERIFY2(std::abs(bpm - 120.0) <= 1.0, qPrintable(QString::number(bpm)));

        Run r = cli({"tempo", m_loop});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, m_loop + "\t" + QString::number(bpm, 'f', 2) + "\n");
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err)); // no progress and no log when not on a terminal

        slicer->sliceEveryBeats(bpm, 1.0);
        r = cli({"points", m_loop, "--beats", "1"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts), frames(slicer->slicePoints()));

        slicer->clearSlicing();
        slicer->sliceEveryBars(100.0, 4, 4, 0.5);
        r = cli({"points", m_loop, "--bars=0.5", "--tempo", "100"});
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts), frames(slicer->slicePoints()));

        // Snapping moves the equal points off the grid, in both the same way.
        Settings::instance().set("snap_to_zero_crossings", "1");
        slicer->sliceEvenly(7);
        Settings::instance().set("snap_to_zero_crossings", "0");
        const QStringList snapped = frames(slicer->slicePoints());
        r = cli({"points", "--equal", "7", "--snap", "--json", m_loop});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QStringList fromJson;
        for (const QJsonValue v : o.value("points").toArray())
            fromJson.append(QString::number(v.toVariant().toLongLong()));
        QCOMPARE(fromJson, snapped);
        QCOMPARE(o.value("file").toString(), m_loop);
        r = cli({"points", "--equal", "7", m_loop});
        QVERIFY(r.out.split('\n', Qt::SkipEmptyParts) != snapped);
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts).size(), 6);
    }

    void tempoAlternativesEqualTheCore() {
        auto slicer = load(m_loop);
        QVERIFY(slicer);
        BpmDetectorWorker worker;
        worker.detectBpm(slicer->currentSlice());
        const double bpm = slicer->currentSlice()->bpm();
        const TempoAnalysis analysis = slicer->currentSlice()->tempoAnalysis();
        QCOMPARE(analysis.detectedBpm, bpm);
        QVERIFY(!analysis.alternatives.isEmpty());

        // The first two fields are the plain tempo line's; then the confidence and every
        // alternative as BPM:RELATION, best first.
        Run r = cli({"tempo", "--alternatives", m_loop});
        QCOMPARE(r.exitCode, 0);
        QStringList expected{m_loop, QString::number(bpm, 'f', 2), QString::number(analysis.confidence, 'f', 2)};
        for (const TempoAlternative &a : analysis.alternatives)
            expected << QString::number(a.bpm, 'f', 2) + ":" +
                            TempoText::relationAscii(double(a.numerator) / a.denominator);
        QCOMPARE(r.out, expected.join('\t') + "\n");

        r = cli({"tempo", "--alternatives", "--json", m_loop});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(o.value("file").toString(), m_loop);
        QCOMPARE(o.value("bpm").toDouble(), bpm);
        QCOMPARE(o.value("confidence").toDouble(), analysis.confidence);
        const QJsonArray alternatives = o.value("alternatives").toArray();
        QCOMPARE(alternatives.size(), analysis.alternatives.size());
        for (int i = 0; i < alternatives.size(); ++i) {
            const QJsonObject a = alternatives.at(i).toObject();
            QCOMPARE(a.value("bpm").toDouble(), analysis.alternatives.at(i).bpm);
            QCOMPARE(a.value("score").toDouble(), analysis.alternatives.at(i).score);
            QCOMPARE(a.value("bars").toInt(), analysis.alternatives.at(i).bars);
        }

        // The plain line and object are as they were; the option belongs to tempo only.
        r = cli({"tempo", "--json", m_loop});
        QCOMPARE(QJsonDocument::fromJson(r.out.toUtf8()).object().keys(), (QStringList{"bpm", "file"}));
        r = cli({"points", "--alternatives", "--equal", "2", m_loop});
        QVERIFY(r.exitCode != 0);
    }

    // tempo and info read the file once without a loop; what they print must still be
    // the loop's detection to the last bit, for a song read once through (not four times
    // like a short loop), a mono file and a compressed one.
    void tempoOfSongsAndCompressedFilesEqualsTheLoops() {
        const QString song = m_dir.filePath("song.wav");
        QVERIFY(TestAudio::writeWav(song, 1, 48000, 48000 * 25, drums(97.0, 48000), false));
        const QString mp3 = m_dir.filePath("song.mp3");
        QVERIFY(TestAudio::runFfmpeg({"-i", song, "-b:a", "192k", mp3}));
        for (const QString &path : {song, mp3}) {
            auto slicer = load(path);
            QVERIFY(slicer);
            const SlicePtr loop = slicer->currentSlice();
            BpmDetectorWorker worker;
            worker.detectBpm(loop);
            const TempoAnalysis analysis = loop->tempoAnalysis();
            QVERIFY2(std::abs(loop->bpm() - 97.0) <= 1.0, qPrintable(QString::number(loop->bpm())));

            Run r = cli({"tempo", "--alternatives", "--json", path});
            QCOMPARE(r.exitCode, 0);
            const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
            QCOMPARE(o.value("bpm").toDouble(), loop->bpm());
            QCOMPARE(o.value("confidence").toDouble(), analysis.confidence);
            const QJsonArray alternatives = o.value("alternatives").toArray();
            QCOMPARE(alternatives.size(), analysis.alternatives.size());
            for (int i = 0; i < alternatives.size(); ++i)
                QCOMPARE(alternatives.at(i).toObject().value("score").toDouble(),
                         analysis.alternatives.at(i).score);

            r = cli({"info", "--json", path});
            QCOMPARE(r.exitCode, 0);
            const QJsonObject info = QJsonDocument::fromJson(r.out.toUtf8()).object();
            QCOMPARE(info.value("frames").toVariant().toLongLong(), qint64(loop->length() / 2));
            QCOMPARE(info.value("bpm").toDouble(), loop->bpm());
        }
    }

    void sliceWritesTheWindowsBytesAndNeverReplaces() {
        // The window's export of the same slicing, into a folder of its own.
        auto slicer = load(m_loop);
        QVERIFY(slicer);
        slicer->sliceEvenly(4);
        const QString mine = m_dir.filePath("window");
        SliceExporter exporter(slicer->currentSlice());
        exporter.addSlices(SliceExporter::sliceRanges(slicer.get()), mine, "break 50%2", "aiff");
        ExportFormat format = exporter.format();
        format.bitDepth = 24;
        format.sampleRate = 48000;
        exporter.setFormat(format);
        QCOMPARE(exporter.run(), SliceExporter::Status::Completed);
        const QStringList written = exporter.writtenFiles();
        QCOMPARE(written.size(), 4);

        // A folder input with a subfolder, next to a file given directly.
        const QString in = m_dir.filePath("in");
        QVERIFY(QDir().mkpath(in + "/kit"));
        QVERIFY(QFile::copy(m_loop, in + "/kit/break 50%2.wav"));
        // Every format the program opens is walked, not only the ones its dialog has always
        // listed; what is not audio by its name is left alone.
        QVERIFY(TestAudio::runFfmpeg({"-i", m_loop, "-c:a", "libopus", in + "/take.opus"}));
        QVERIFY(TestAudio::writeBytes(in + "/notes.txt", "not a loop"));
        const QString out = m_dir.filePath("out");
        const QStringList args{"slice", in, m_loop, "--out", out, "--equal", "4", "--format", "aiff",
                               "--bits", "24", "--rate", "48000", "--jobs", "2"};
        Run r = cli(args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        for (const QString &ours : written) {
            const QString name = QFileInfo(ours).fileName();
            QCOMPARE(fileBytes(out + "/in/kit/break 50%2/" + name), fileBytes(ours));
            QCOMPARE(fileBytes(out + "/break 50%2/" + name), fileBytes(ours));
        }

        // Existing slices are not replaced without --overwrite; the other input still goes.
        const QString guarded = out + "/break 50%2/break 50%2_02.aiff";
        QVERIFY(TestAudio::writeBytes(guarded, "keep me"));
        QVERIFY(QFile::remove(out + "/in/kit/break 50%2/break 50%2_01.aiff"));
        r = cli(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(m_loop) && r.err.contains("already exist"), qPrintable(r.err));
        QCOMPARE(fileBytes(guarded), QByteArray("keep me"));
        QCOMPARE(fileBytes(out + "/in/kit/break 50%2/break 50%2_01.aiff"), QByteArray());
        r = cli(QStringList(args) << "--overwrite");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fileBytes(guarded), fileBytes(mine + "/break 50%2_02.aiff"));
        QCOMPARE(fileBytes(out + "/in/kit/break 50%2/break 50%2_01.aiff"), fileBytes(mine + "/break 50%2_01.aiff"));

        // Only the slice files are left: no temporary file anywhere.
        int count = 0;
        QDirIterator it(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QVERIFY2(it.next().endsWith(".aiff"), qPrintable(it.filePath()));
            ++count;
        }
        QCOMPARE(count, 12);
        QCOMPARE(QDir(out + "/in/take").entryList(QDir::Files).size(), 4);

        // Fewer slices with --overwrite: those left from the run that made more go; files
        // not named as this input's slices in this format stay.
        const QString folder = out + "/break 50%2";
        const QStringList strangers{"break 50%2_5.aiff", "break 50%2_00.aiff", "break 50%2_03.wav",
                                    "break 50%2_03 (2).aiff", "break_03.aiff"};
        for (const QString &name : strangers)
            QVERIFY(TestAudio::writeBytes(folder + "/" + name, "mine"));
        r = cli({"slice", m_loop, "--out", out, "--equal", "2", "--format", "aiff", "--overwrite"});
        QCOMPARE(r.exitCode, 0);
        QStringList left = strangers + QStringList{"break 50%2_01.aiff", "break 50%2_02.aiff"};
        left.sort();
        QCOMPARE(filesIn(folder), left);
    }

    // Under a shrinking limit on open files the run fails at some point; a file it then
    // cannot open is sound, and is not to be called damaged.
    void runningOutOfDescriptorsIsNotCalledDamage() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizer runtimes need descriptors of their own: out of them, their memory
        // checks report faults that are not there.
        QSKIP("the sanitizer runtimes cannot run out of file descriptors");
#endif
        const auto underLimit = [&](int limit) {
            return cli({"-c", "ulimit -n \"$1\" && shift && exec \"$@\"", "sh", QString::number(limit),
                        QStringLiteral(QUILLORY_CLI_PATH), "info", "--jobs", "1", m_loop},
                       QString(), QStringLiteral("/bin/sh"));
        };
        QCOMPARE(underLimit(64).exitCode, 0);
        int failures = 0;
        for (int limit = 32; limit >= 4; --limit) {
            const Run r = underLimit(limit);
            // 127: the dynamic loader could not even start the program.
            if (r.exitCode == 0 || r.exitCode == 127)
                continue;
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(!r.err.contains("damaged") &&
                         r.err.contains(QString::fromLocal8Bit(std::strerror(EMFILE))),
                     qPrintable(QString::number(limit) + ": " + r.err));
            ++failures;
        }
        QVERIFY(failures > 0);
    }

    // Every output lands under --out DIR, in a folder named after its input: a folder
    // given with a trailing slash or as "..", an input whose name is only dots. An output
    // folder inside the input folder is not walked, so that the next run does not slice
    // the slices; an input folder inside the output folder is refused for that reason.
    void sliceOutputStaysUnderItsFolder() {
        const QString root = m_dir.filePath("walk");
        QVERIFY(QDir().mkpath(root + "/breaks/sub"));
        QVERIFY(QFile::copy(m_loop, root + "/breaks/...wav"));
        QVERIFY(QFile::copy(m_loop, root + "/breaks/sub/amen.wav"));
        QStringList expected = filesIn(root);
        expected << "breaks/sliced/breaks/__/___01.wav"
                 << "breaks/sliced/breaks/__/___02.wav"
                 << "breaks/sliced/breaks/sub/amen/amen_01.wav"
                 << "breaks/sliced/breaks/sub/amen/amen_02.wav";
        expected.sort();
        Run r = cli({"slice", "../", "--out", "../sliced", "--equal", "2"}, root + "/breaks/sub");
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        QCOMPARE(filesIn(root), expected);

        // The same folder given as "breaks/" names the same output folders.
        r = cli({"slice", "breaks/", "--out", "breaks/sliced/", "--equal", "2", "--overwrite"}, root);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(filesIn(root), expected);

        r = cli({"slice", "breaks", "--out", ".", "--equal", "2"}, root);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith("quillory-cli: breaks: lies inside the output folder"), qPrintable(r.err));
        QCOMPARE(filesIn(root), expected);

        // A file of the folder that cannot be read is reported as one given directly is;
        // the others are still sliced.
        if (geteuid() == 0)
            QSKIP("root reads a file whatever its permissions");
        const QString locked = root + "/breaks/sub/locked.wav";
        QVERIFY(QFile::copy(m_loop, locked));
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        const QString out = m_dir.filePath("walk-out");
        r = cli({"slice", root + "/breaks/sub", "--out", out, "--equal", "2"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, "quillory-cli: " + locked + ": permission denied\n");
        QCOMPARE(filesIn(out), (QStringList{"sub/amen/amen_01.wav", "sub/amen/amen_02.wav"}));
    }

    // A WAV or FLAC cut off in the middle of its audio data is used as far as it goes,
    // and said to be cut off, with how much is missing: its results are printed and its
    // slices written, the last one ending where the audio ends, and the run ends with 1
    // as for any bad input.
    void truncatedFileIsUsedAndReported_data() {
        QTest::addColumn<QString>("ext");
        QTest::newRow("wav") << "wav";
        QTest::newRow("flac") << "flac";
    }
    void truncatedFileIsUsedAndReported() {
        QFETCH(QString, ext);
        const long long whole = 44100 * 6;
        const QString cut = m_dir.filePath("cut off." + ext);
        long long kept = 0;
        if (ext == "wav") {
            const QByteArray bytes = fileBytes(m_loop);
            // Half a frame more than the frames kept: the cut falls inside a frame.
            QVERIFY(TestAudio::writeBytes(cut, bytes.left(bytes.size() - 4 * 100000 + 2)));
            SF_INFO sf{};
            SNDFILE *f = sf_open(QFile::encodeName(cut).constData(), SFM_READ, &sf);
            QVERIFY(f);
            sf_close(f);
            kept = sf.frames;
            QCOMPARE(kept, whole - 100000);
        } else {
            const QString flac = m_dir.filePath("whole.flac");
            QVERIFY(TestAudio::writeSndFile(flac, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 44100, whole,
                                            drums(120.0, 44100)));
            const QByteArray bytes = fileBytes(flac);
            QVERIFY(TestAudio::writeBytes(cut, bytes.left(bytes.size() / 2)));
            // What the ffmpeg command decodes of it.
            QVERIFY(TestAudio::runFfmpeg({"-i", cut, "-f", "f32le", cut + ".raw"}));
            kept = (long long)TestAudio::readRawFloat(cut + ".raw").size() / 2;
            QVERIFY(kept > 0 && kept < whole);
        }
        const QString warning = QStringLiteral("%1: truncated: %2 frames (%3 s)")
                                    .arg(cut)
                                    .arg(whole - kept)
                                    .arg(QString::number(double(whole - kept) / 44100, 'f', 3));

        const auto reported = [&](const Run &r) {
            return r.exitCode == 1 && r.err.contains(warning) && r.err.count('\n') == 1;
        };
        Run r = cli({"info", cut});
        QVERIFY2(reported(r), qPrintable(r.err));
        QCOMPARE(r.out.section('\t', 4, 4), QString("%1 frames").arg(kept));
        r = cli({"points", cut, "--equal", "2"});
        QVERIFY2(reported(r), qPrintable(r.err));
        QCOMPARE(r.out, QString("%1\n").arg(kept / 2));
        const QString out = m_dir.filePath("cut-out-" + ext);
        r = cli({"slice", cut, "--out", out, "--equal", "2"});
        QVERIFY2(reported(r), qPrintable(r.err));
        const QStringList slices = QDir(out + "/cut off").entryList(QDir::Files, QDir::Name);
        QCOMPARE(slices.size(), 2);
        // The second slice holds the rest of the audio, the low tone to its last frame.
        SF_INFO sf{};
        SNDFILE *last =
            sf_open(QFile::encodeName(out + "/cut off/" + slices.last()).constData(), SFM_READ, &sf);
        QVERIFY(last);
        std::vector<float> tail(2 * 1000);
        const bool read =
            sf_seek(last, sf.frames - 1000, SEEK_SET) >= 0 && sf_readf_float(last, tail.data(), 1000) == 1000;
        sf_close(last);
        QVERIFY(read);
        QCOMPARE(sf.frames, kept - kept / 2);
        QVERIFY(*std::max_element(tail.begin(), tail.end()) > 0.05f);

        // The whole file says nothing.
        r = cli({"info", m_loop});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
    }

    // Ctrl+C in the middle of a folder: exit status 130, and what is in the output folder
    // then is a part of what a whole run writes, every file byte for byte, no temporary
    // file beside them.
    // Ctrl+C, and a terminal closed under a long run, end it the same way; a run started
    // under nohup outlives the terminal and finishes.
    void interruptedSliceLeavesOnlyWholeFiles_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("nohup");
        QTest::addColumn<bool>("twice");
        QTest::newRow("SIGINT") << int(SIGINT) << false << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << false;
        QTest::newRow("SIGHUP under nohup") << int(SIGHUP) << true << false;
        // A second Ctrl+C ends the run at once, still with only whole files and no
        // temporary ones left.
        QTest::newRow("SIGINT twice") << int(SIGINT) << false << true;
    }

    void interruptedSliceLeavesOnlyWholeFiles() {
        QFETCH(int, signal);
        QFETCH(bool, nohup);
        QFETCH(bool, twice);
        const QString in = m_dir.filePath("many");
        const int loops = 40;
        if (!QFileInfo::exists(in)) {
            QVERIFY(QDir().mkpath(in));
            for (int i = 0; i < loops; ++i)
                QVERIFY(TestAudio::writeWav(QString("%1/loop%2.wav").arg(in).arg(i, 2, 10, QLatin1Char('0')),
                                            2, 44100, 44100 * 6, drums(100.0 + i, 44100), false));
        }
        const auto args = [&](const QString &out) {
            return QStringList{"slice", in, "--out", out, "--equal", "16", "--format", "flac", "--jobs", "1"};
        };
        const QString whole = m_dir.filePath("many-whole");
        if (!QFileInfo::exists(whole))
            QCOMPARE(cli(args(whole)).exitCode, 0);

        const QString cut = m_dir.filePath(QStringLiteral("many-cut-%1-%2-%3").arg(signal).arg(nohup).arg(twice));
        QProcess p;
        if (nohup)
            p.start("nohup", QStringList(QStringLiteral(QUILLORY_CLI_PATH)) + args(cut));
        else
            p.start(QStringLiteral(QUILLORY_CLI_PATH), args(cut));
        QVERIFY(p.waitForStarted());
        // Interrupted once the first slice is written, with most of the folder to go: a
        // finished file, not the hidden temporary one it is written under, which the stop
        // may take away again.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const QStringList files = filesIn(cut);
                return std::any_of(files.begin(), files.end(), [](const QString &file) {
                    return !QFileInfo(file).fileName().startsWith(QLatin1Char('.'));
                });
            },
            60000));
        const pid_t pid = pid_t(p.processId());
        if (twice) {
            // Held while both arrive, so that they are two and not one: a signal that
            // comes while the same one is still pending is lost.
            QCOMPARE(::kill(pid, SIGSTOP), 0);
            QCOMPARE(::kill(pid, signal), 0);
            QCOMPARE(::kill(pid, SIGTERM), 0);
            QCOMPARE(::kill(pid, SIGCONT), 0);
        } else {
            QCOMPARE(::kill(pid, signal), 0);
        }
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        if (nohup) {
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(filesIn(cut), filesIn(whole));
            return;
        }
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(err.contains(twice ? "stopped at once" : "interrupted"), qPrintable(err));

        const QStringList written = filesIn(cut);
        // Stopped at once, the file being written may have been the first.
        QVERIFY(twice || !written.isEmpty());
        QVERIFY2(written.size() < filesIn(whole).size(), "the run ended before the signal");
        for (const QString &file : written)
            QVERIFY2(fileBytes(cut + "/" + file) == fileBytes(whole + "/" + file), qPrintable(file));
    }

    // A slice shorter than a frame of the rate it is converted to holds nothing there;
    // libsndfile would write it as a FLAC of 0 bytes or an AIFF without audio, which no
    // program opens. The input fails with the reason and leaves no folder; the same
    // slices at a rate they fit are written whole.
    void sliceThatConvertsToNothingIsRefused() {
        const QString tiny = m_dir.filePath("ten frames.wav");
        QVERIFY(TestAudio::writeWav(tiny, 2, 44100, 10, drums(120.0, 44100), false));
        for (const QString format : {"flac", "aiff", "wav"}) {
            const QString out = m_dir.filePath("tiny-" + format);
            Run r = cli({"slice", tiny, "--out", out, "--equal", "4", "--rate", "1000", "--format", format});
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.startsWith("quillory-cli: " + tiny + ": ") &&
                         r.err.contains("would hold no audio"),
                     qPrintable(r.err));
            QVERIFY2(filesIn(out).isEmpty(), qPrintable(filesIn(out).join(' ')));

            r = cli({"slice", tiny, "--out", out, "--equal", "4", "--rate", "22050", "--format", format});
            QCOMPARE(r.exitCode, 0);
            const QStringList written = filesIn(out);
            QCOMPARE(written.size(), 4);
            for (const QString &file : written) {
                SF_INFO info{};
                SNDFILE *f = sf_open(QFile::encodeName(out + "/" + file).constData(), SFM_READ, &info);
                QVERIFY2(f, qPrintable(file));
                QVERIFY(info.frames > 0);
                sf_close(f);
            }
        }
    }

    // A WMA's length is counted at open by decoding it through, which takes a while for
    // a long recording. A first Ctrl+C then ends the run as it does elsewhere: the count
    // stops, nothing is printed for the file, the run says it was interrupted and exits
    // with 130, without a second Ctrl+C and without calling the file damaged.
    void firstCtrlCStopsTheLengthCountOfALongWma_data() {
        QTest::addColumn<QStringList>("command");
        QTest::newRow("tempo") << QStringList{"tempo"};
        QTest::newRow("points") << QStringList{"points", "--equal", "4"};
    }

    void firstCtrlCStopsTheLengthCountOfALongWma() {
        QFETCH(QStringList, command);
        const QString wma = m_dir.filePath("long recording.wma");
        if (!QFileInfo::exists(wma))
            QVERIFY(TestAudio::runFfmpeg({"-f", "lavfi", "-i",
                                          "sine=frequency=330:sample_rate=22050:duration=5400", "-c:a",
                                          "wmav2", "-b:a", "32k", wma}));
        QProcess p;
        p.start(QStringLiteral(QUILLORY_CLI_PATH), command + QStringList{wma});
        QVERIFY(p.waitForStarted());
        const pid_t pid = pid_t(p.processId());
        // The length is found through a second descriptor beside the reader's own (the
        // packets scanned, then the stream decoded through): the signal comes meanwhile.
        const QString canonical = QFileInfo(wma).canonicalFilePath();
        const auto openCount = [&] {
            int n = 0;
            for (const QFileInfo &fd :
                 QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryInfoList(QDir::Files))
                n += fd.symLinkTarget() == canonical;
            return n;
        };
        QVERIFY2(
            QTest::qWaitFor([&] { return openCount() >= 2 || p.state() == QProcess::NotRunning; }, 60000),
            "the count never began");
        QVERIFY2(p.state() == QProcess::Running, "the run ended before the signal");
        QCOMPARE(::kill(pid, SIGINT), 0);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardError()),
                 QString("quillory-cli: interrupted; only whole files were written\n"));
    }

    // The command line slices at the same points as the window's Slice at Transients
    // (its background analysis, then its placement), at the default and at a chosen
    // sensitivity and minimum length, and those points sit at or just before the hits.
    void transientsAgreeWithTheWindow() {
        const QString hits = m_dir.filePath("hits.wav");
        QVERIFY(HitLoopFixture::write(hits));
        auto slicer = load(hits);
        QVERIFY(slicer);
        OnsetAnalysisService service;
        service.setSlice(slicer->currentSlice());
        QSignalSpy ready(&service, &OnsetAnalysisService::analysisReady);
        service.request();
        QVERIFY(ready.wait(60000));
        const OnsetAnalysisPtr analysis = service.analysis();
        QVERIFY(analysis);

        const QList<int> atDefault =
            OnsetAnalysisService::slicePoints(slicer.get(), *analysis, OnsetDetector::defaultSensitivity,
                                              Settings::defaultTransientMinLengthMs);
        const QVector<long long> hitFrames = HitLoopFixture::hitFrames();
        QCOMPARE(atDefault.size(), hitFrames.size());
        for (int i = 0; i < atDefault.size(); ++i)
            QCOMPARE(HitLoopFixture::hitNear(atDefault[i], HitLoopFixture::rate / 100,
                                             HitLoopFixture::rate / 1000),
                     i);
        Run r = cli({"points", hits, "--transients"});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.split('\n', Qt::SkipEmptyParts), frames(atDefault));

        const QList<int> sparse = OnsetAnalysisService::slicePoints(slicer.get(), *analysis, 5.0, 120.0);
        QVERIFY(sparse.size() < atDefault.size());
        r = cli({"points", "--json", "--transients", "5", "--min-length", "120", hits});
        QCOMPARE(r.exitCode, 0);
        QStringList fromJson;
        for (const QJsonValue v : QJsonDocument::fromJson(r.out.toUtf8()).object().value("points").toArray())
            fromJson.append(QString::number(v.toVariant().toLongLong()));
        QCOMPARE(fromJson, frames(sparse));
    }

    // A kit whose .sfz names samples that exist, one per slice, and beside it the whole
    // loop with the slice points as cue markers; nothing is replaced without --overwrite.
    void sliceWritesKitAndCueMarkers() {
        const QString hits = m_dir.filePath("kit hits.wav");
        QVERIFY(HitLoopFixture::write(hits));
        const QString out = m_dir.filePath("kits");
        const QStringList args{"slice", hits,  "--out",  out,       "--transients",
                               "--kit", "sfz", "--cues", "--tempo", "96"};
        Run r = cli(args);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        r = cli({"points", hits, "--transients"});
        const QStringList points = r.out.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(points.size(), HitLoopFixture::hitFrames().size());

        const QString folder = out + "/kit hits";
        const QByteArray sfz = fileBytes(folder + "/kit hits.sfz");
        QVERIFY(sfz.contains("96.00"));
        const QRegularExpression sample(QStringLiteral("sample=(.+)$"), QRegularExpression::MultilineOption);
        QStringList samples;
        for (auto it = sample.globalMatch(QString::fromUtf8(sfz)); it.hasNext();)
            samples.append(it.next().captured(1).trimmed());
        QCOMPARE(samples.size(), points.size() + 1);
        for (const QString &s : samples) {
            SF_INFO info{};
            SNDFILE *f = sf_open(QFile::encodeName(folder + "/" + s).constData(), SFM_READ, &info);
            QVERIFY2(f, qPrintable(s));
            sf_close(f);
            QVERIFY(info.frames > 0);
        }

        // The loop file read back by libsndfile: every frame, a marker at every point.
        SF_INFO info{};
        SNDFILE *f = sf_open(QFile::encodeName(folder + "/kit hits.wav").constData(), SFM_READ, &info);
        QVERIFY(f);
        SF_CUES cues{};
        const bool hasCues = sf_command(f, SFC_GET_CUE, &cues, sizeof(cues)) == SF_TRUE;
        sf_close(f);
        QVERIFY(hasCues);
        QCOMPARE(info.frames, HitLoopFixture::frames);
        QStringList cueFrames;
        for (uint32_t i = 0; i < cues.cue_count; ++i)
            cueFrames.append(QString::number(cues.cue_points[i].sample_offset));
        QCOMPARE(cueFrames, points);

        const QByteArray loopBytes = fileBytes(folder + "/kit hits.wav");
        QVERIFY(TestAudio::writeBytes(folder + "/kit hits.sfz", "mine"));
        r = cli(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("already exists"), qPrintable(r.err));
        QCOMPARE(fileBytes(folder + "/kit hits.sfz"), QByteArray("mine"));
        r = cli(QStringList(args) << "--overwrite");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(fileBytes(folder + "/kit hits.sfz"), sfz);
        QCOMPARE(fileBytes(folder + "/kit hits.wav"), loopBytes);

        // No input is written over, --overwrite or not: neither the loop file itself when
        // --cues would write it where it lies, nor another input of the same run.
        const QStringList before = filesIn(out);
        const QString input = folder + "/kit hits.wav";
        const QStringList replace{"--out", out, "--equal", "2", "--cues", "--bits", "16", "--overwrite"};
        r = cli(QStringList{"slice", input} + replace);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith("quillory-cli: " + input + ": refused: writing ") && r.err.count('\n') == 1,
                 qPrintable(r.err));
        QCOMPARE(fileBytes(input), loopBytes);
        QCOMPARE(filesIn(out), before);
        r = cli(QStringList{"slice", hits, input} + replace);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith("quillory-cli: " + hits + ": refused: writing ") && r.err.count('\n') == 1,
                 qPrintable(r.err));
        QCOMPARE(fileBytes(input), loopBytes);
        QVERIFY(QFileInfo::exists(out + "/kit hits (2)/kit hits_02.wav"));

        // More slices than notes from 36 up to 127: the kit is written whole, those past
        // note 127 unplayed, and the run says so.
        const QString many = m_dir.filePath("many");
        r = cli({"slice", hits, "--out", many, "--equal", "100", "--kit", "sfz"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, "quillory-cli: " + hits +
                            ": 8 of the kit's slices lie above MIDI note 127: their samples are written but no note plays them\n");
        QCOMPARE(fileBytes(many + "/kit hits/kit hits.sfz").count("<region>"), 92);
        QCOMPARE(QDir(many + "/kit hits/kit hits samples").entryList(QDir::Files).size(), 100);
    }

    // Failures of the system rather than of an input: a file past the file size limit
    // (ulimit -f) fails alone, its temporary file and empty folder taken away, and the
    // rest of the batch is done; results that cannot be written to standard output are
    // a failure, not a success.
    void systemFailuresAreReported() {
        const QString big = m_dir.filePath("limit big.wav");
        const QString small = m_dir.filePath("limit small.wav");
        QVERIFY(TestAudio::writeWav(big, 2, 44100, 44100 * 4, drums(120.0, 44100), false));
        QVERIFY(TestAudio::writeWav(small, 2, 44100, 44100, drums(120.0, 44100), false));
        const QString out = m_dir.filePath("limit-out");
        // Each slice of the big loop takes 353 kB, each of the small one 88 kB.
        QProcess p;
        p.start("prlimit", {"--fsize=200000", QStringLiteral(QUILLORY_CLI_PATH), "slice", big, small, "--out",
                            out, "--equal", "2", "--bits", "16", "--jobs", "1"});
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.startsWith("quillory-cli: " + big + ": ") && err.count('\n') == 1, qPrintable(err));
        QCOMPARE(filesIn(out),
                 QStringList({"limit small/limit small_01.wav", "limit small/limit small_02.wav"}));
        QVERIFY(!QFileInfo::exists(out + "/limit big"));
        // A Hydrogen kit is one archive: the reason it could not be written is given.
        const QString kits = m_dir.filePath("limit-kits");
        p.start("prlimit", {"--fsize=200000", QStringLiteral(QUILLORY_CLI_PATH), "slice", big, "--out", kits,
                            "--equal", "2", "--bits", "16", "--kit", "hydrogen"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        const QString kitErr = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(kitErr.endsWith(QString("(%1)\n").arg(QString::fromLocal8Bit(std::strerror(EFBIG)))),
                 qPrintable(kitErr));
        QCOMPARE(filesIn(kits), QStringList());

        QProcess full;
        full.setStandardOutputFile("/dev/full");
        full.start(QStringLiteral(QUILLORY_CLI_PATH), {"info", m_loop});
        QVERIFY(full.waitForFinished(60000));
        QCOMPARE(full.exitCode(), 1);
        QCOMPARE(
            QString::fromLocal8Bit(full.readAllStandardError()),
            QString("quillory-cli: the results could not be written to standard output: No space left on "
                    "device\n"));
    }

    // What a file is, said truly: a FLAC of six channels is as long as its header says
    // (the reader's silent stream counts every channel), and a file no decoder opens
    // gets its one line on standard error, without the decoder's own diagnostics.
    void unusualFilesAreDescribedTruly() {
        const QString six = m_dir.filePath("surround.flac");
        QVERIFY(TestAudio::writeSndFile(
            six, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 6, 48000, 24000,
            [](long long f, int c) { return f % 4800 < 40 ? 0.1f * (c + 1) : 0.0f; }));
        Run r = cli({"info", six});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out, six + "\tflac-pcm16\t48000 Hz\t6 ch\t24000 frames\t0.500 s\t0.00 BPM\n");

        const QString empty = m_dir.filePath("empty.mp3");
        QVERIFY(TestAudio::writeBytes(empty, QByteArray()));
        for (const char *sub : {"info", "tempo"}) {
            r = cli({sub, empty});
            QCOMPARE(r.exitCode, 1);
            QCOMPARE(r.err, "quillory-cli: " + empty +
                                ": not audio the program can open (damaged, truncated or empty)\n");
        }
    }

    // A file named as another format than it is opens as under its own name, and info
    // says what it is; a file named "http:…" is a local file, not an address.
    void misnamedFilesOpenAndAreDescribedByContent() {
        const QString mp3 = m_dir.filePath("named.mp3");
        const QString ogg = m_dir.filePath("named.ogg");
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", m_loop, "-c:a", "libmp3lame", mp3}), 0);
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-i", m_loop, "-c:a", "libvorbis", ogg}), 0);
        const struct {
            QString source, name, format;
        } cases[] = {{mp3, "mp3 in.wav", "mp3-mp3"},     {ogg, "ogg in.mp3", "ogg-vorbis"},
                     {m_loop, "wav in.flac", "wav-pcm16"}, {ogg, "ogg in.wav", "ogg-vorbis"},
                     {mp3, "http:mp3.flac", "mp3-mp3"}};
        for (const auto &c : cases) {
            const QString misnamed = m_dir.filePath(c.name);
            QFile::remove(misnamed);
            QVERIFY(QFile::copy(c.source, misnamed));
            const Run proper = cli({"points", c.source, "--transients"});
            QCOMPARE(proper.exitCode, 0);
            Run r = cli({"points", misnamed, "--transients"});
            QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(c.name + ": " + r.err));
            QCOMPARE(r.out, proper.out);
            // Relative, as a script in the folder gives it: "http:…" must not be taken
            // for an address.
            r = cli({"info", c.name}, m_dir.path());
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out.section('\t', 0, 1), c.name + "\t" + c.format);
        }
    }

    // A loop in a folder deeper than libsndfile's 1024-byte limit on a path is opened and
    // described as the same loop anywhere else: info named its format as FFmpeg does
    // ("wav-pcm_s16le") because libsndfile was asked by path.
    void deepLoopIsDescribedAsAnywhereElse() {
        QString deep = m_dir.filePath(QString(200, QLatin1Char('d')));
        for (int i = 0; i < 5; ++i)
            deep += QLatin1Char('/') + QString(200, QLatin1Char(char('a' + i)));
        QVERIFY(QDir().mkpath(deep));
        const QString far = deep + "/loop.wav";
        QFile::remove(far);
        QVERIFY(QFile::copy(m_loop, far));
        QVERIFY(QFile::encodeName(far).size() > 1024);
        for (const char *command : {"info", "tempo"}) {
            const Run near = cli({command, m_loop});
            const Run r = cli({command, far});
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.err, QString());
            QCOMPARE(r.out.section('\t', 1), near.out.section('\t', 1));
        }
        QVERIFY(cli({"info", far}).out.section('\t', 1, 1) == "wav-pcm16");
    }

    // A loop named as long as a file name may be gives slices, the whole loop with cues
    // and a kit whose names fit the limit of 255 bytes on one name; a second run with
    // fewer slices still takes the first run's extra ones away.
    void longLoopNameSlicesIntoNamesThatFit() {
        const QString stem = QString(123, QChar(0xDC)) + QString::fromUtf8("\xF0\x9F\xA5\x81");
        const QString in = m_dir.filePath(stem + ".wav");
        QVERIFY(TestAudio::writeWav(in, 2, 44100, 44100 * 2, drums(120.0, 44100), false));
        const QString out = m_dir.filePath("long-names");
        Run r = cli({"slice", in, "--out", out, "--equal", "3", "--cues"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        r = cli({"slice", in, "--out", out, "--equal", "2", "--cues", "--overwrite"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        QStringList files = filesIn(out);
        QCOMPARE(files.size(), 3);
        for (const QString &file : files)
            for (const QString &part : file.split('/'))
                QVERIFY2(part.toUtf8().size() <= 255 && !part.contains(QChar::ReplacementCharacter), qPrintable(part));
        QVERIFY(files.filter(QRegularExpression("_01\\.wav$")).size() == 1 &&
                files.filter(QRegularExpression("_02\\.wav$")).size() == 1);

        r = cli({"slice", in, "--out", m_dir.filePath("long-kit"), "--equal", "2", "--kit", "sfz"});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        files = filesIn(m_dir.filePath("long-kit"));
        QCOMPARE(files.size(), 4); // the kit, its MIDI file and two samples
        for (const QString &file : files)
            for (const QString &part : file.split('/'))
                QVERIFY2(part.toUtf8().size() <= 255, qPrintable(part));
    }

    // A recording longer than the program's sample index holds (about six hours of
    // stereo at 48 kHz) is refused with its length, as a WAV or FLAC one is, rather than
    // loaded as its first six hours and described as such.
    void recordingTooLongIsRefusedNotCut() {
        const QString minute = m_dir.filePath("minute.mp3");
        QVERIFY(TestAudio::runFfmpeg({"-f", "lavfi", "-i", "anullsrc=r=48000:cl=stereo", "-t", "60", "-c:a",
                                      "libmp3lame", "-b:a", "32k", minute}));
        const QString list = m_dir.filePath("seven hours.txt");
        QByteArray lines;
        for (int i = 0; i < 7 * 60 + 1; ++i)
            lines += "file 'minute.mp3'\n";
        QVERIFY(TestAudio::writeBytes(list, lines));
        const QString set = m_dir.filePath("dj set.mp3");
        QVERIFY(TestAudio::runFfmpeg({"-f", "concat", "-safe", "0", "-i", list, "-c", "copy", set}));

        for (const QStringList &args :
             {QStringList{"info", set}, QStringList{"points", set, "--equal", "4"}}) {
            const Run r = cli(args);
            QCOMPARE(r.exitCode, 1);
            QVERIFY(r.out.isEmpty());
            // Each encoded minute is a few frames more than a minute.
            const QRegularExpression said(
                "^quillory-cli: " + QRegularExpression::escape(set) +
                ": too long: 7:01:\\d\\d, more than the 6:12:49 the program opens at "
                "48000 Hz\n$");
            QVERIFY2(said.match(r.err).hasMatch(), qPrintable(r.err));
        }
        QFile::remove(set);
    }

    // A slice past 4 GB (a three-hour set in float) does not fit the 32-bit sizes of
    // WAV and AIFF: the WAV becomes RF64 and reads back whole, the AIFF is refused.
    // Before, both sizes wrapped and the file read as a fraction of itself.
    void sliceBeyondFourGigabytesReadsBackWhole() {
        const qint64 frames = qint64(48000) * (3 * 3600 + 10 * 60);
        const qint64 outBytes = frames * 8; // stereo float
        if (QStorageInfo(m_dir.path()).bytesAvailable() < outBytes + (qint64(2) << 30))
            QSKIP("needs about 6 GB of free disk for one slice of 4.4 GB");
        // The source: a real WAV header over sparse silence, which takes no disk.
        const QString set = m_dir.filePath("set.wav");
        QVERIFY(TestAudio::writeWav(set, 2, 48000, 4800, drums(120.0, 48000), false));
        QFile f(set);
        QVERIFY(f.open(QIODevice::ReadWrite));
        const QByteArray head = f.read(64);
        const int data = head.indexOf("data");
        QVERIFY(data > 0);
        const quint32 dataBytes = quint32(frames * 4);
        const auto putLE32 = [&](qint64 at, quint32 v) {
            char b[4];
            qToLittleEndian(v, b);
            return f.seek(at) && f.write(b, 4) == 4;
        };
        QVERIFY(putLE32(4, dataBytes + quint32(data + 8 - 8)));
        QVERIFY(putLE32(data + 4, dataBytes));
        QVERIFY(f.resize(data + 8 + qint64(dataBytes)));
        f.close();

        const QString out = m_dir.filePath("set-out");
        Run r = cli({"slice", set, "--out", out, "--equal", "1", "--bits", "32f", "--format", "aiff"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("larger than an AIFF file can hold"), qPrintable(r.err));
        QCOMPARE(filesIn(out), QStringList());

        // 4.4 GB through a sanitizer build on a busy machine takes minutes.
        r = cli({"slice", set, "--out", out, "--equal", "1", "--bits", "32f"}, QString(),
                QStringLiteral(QUILLORY_CLI_PATH), 600000);
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        const QString slice = out + "/set/set_01.wav";
        SF_INFO info{};
        SNDFILE *file = sf_open(QFile::encodeName(slice).constData(), SFM_READ, &info);
        QVERIFY(file);
        sf_close(file);
        QFile::remove(slice);
        QCOMPARE(qint64(info.frames), frames);
        QCOMPARE(info.format, SF_FORMAT_RF64 | SF_FORMAT_FLOAT);
    }

    // A folder's walk passes over nothing named as audio: a name that is not UTF-8 (a
    // Latin-1 "café" from an old archive, which no QString names) and a link to nothing
    // are reported beside the loops that are done.
    void folderWalkReportsWhatItCannotOpen() {
        const QString folder = m_dir.filePath("old pack");
        QVERIFY(QDir().mkpath(folder));
        const QString good = folder + "/good.wav";
        QVERIFY(TestAudio::writeWav(good, 2, 44100, 44100, drums(120.0, 44100), false));
        const QByteArray latin1 = QFile::encodeName(folder) + "/caf\xe9.wav";
        FILE *f = std::fopen(latin1.constData(), "wb");
        QVERIFY(f);
        // Qt cannot name it to remove it with the temporary folder.
        const auto removeLatin1 = qScopeGuard([&] { ::unlink(latin1.constData()); });
        const QByteArray wav = fileBytes(good);
        QCOMPARE(std::fwrite(wav.constData(), 1, size_t(wav.size()), f), size_t(wav.size()));
        std::fclose(f);
        QVERIFY(QFile::link("nowhere.wav", folder + "/gone.wav"));

        const QString shown = folder + "/caf" + QChar(QChar::ReplacementCharacter) + ".wav";
        const QString undecodable =
            "quillory-cli: " + shown + ": its name is not valid UTF-8, so it cannot be opened; rename it\n";
        Run r = cli({"tempo", folder});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.startsWith(good + "\t") && r.out.count('\n') == 1, qPrintable(r.out));
        QCOMPARE(r.err, undecodable + "quillory-cli: " + folder + "/gone.wav: no such file\n");

        // Given by name, the file is there: it is its name that cannot be used.
        QProcess p;
        p.start("sh",
                {"-c", "exec \"$0\" info \"$(printf '%s/caf\\351.wav' \"$1\")\"", QUILLORY_CLI_PATH, folder});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(p.readAllStandardError()), undecodable);
    }

    // An SFZ player reads "name=" as an opcode and "<name>" as a header wherever they
    // stand, a sample path included: a kit named after such a loop still maps every
    // slice to its own sample.
    void sfzKitOfAnOddlyNamedLoopLoads() {
        const QString loop = m_dir.filePath("key=9 <take 2>.wav");
        QVERIFY(TestAudio::writeWav(loop, 2, 44100, 44100 * 2, drums(120.0, 44100), false));
        const QString out = m_dir.filePath("odd-kit");
        const Run r = cli({"slice", loop, "--out", out, "--equal", "4", "--kit", "sfz"});
        QCOMPARE(r.exitCode, 0);
        const QString folder = out + "/key=9 <take 2>";
        const QStringList kits = QDir(folder).entryList({"*.sfz"});
        QCOMPARE(kits.size(), 1);
        const QStringList lines = QString::fromUtf8(fileBytes(folder + "/" + kits.first())).split('\n');
        const QRegularExpression opcode(QStringLiteral("(?:^|\\s)([A-Za-z0-9_]+)="));
        int regions = 0;
        for (const QString &line : lines) {
            if (!line.startsWith("<region>"))
                continue;
            ++regions;
            const QString body = line.mid(8);
            QVERIFY2(!body.contains('<'), qPrintable(line));
            QStringList names;
            for (auto it = opcode.globalMatch(body); it.hasNext();)
                names.append(it.next().captured(1));
            QCOMPARE(names, QStringList({"key", "sample"}));
            const QString sample = body.mid(body.indexOf("sample=") + 7);
            QVERIFY2(QFileInfo(folder + "/" + sample).isFile(), qPrintable(sample));
        }
        QCOMPARE(regions, 4);
    }

    // Hydrogen installs the drumkit of a loop whose name has letters beyond ASCII, as
    // the musician named it, whatever the locale the kit was written in.
    void hydrogenInstallsAKitNamedBeyondAscii() {
        const QString h2cli = QStandardPaths::findExecutable("h2cli");
        QVERIFY2(!h2cli.isEmpty(), "h2cli is missing: run scripts/install-deps.sh");
        const QString name = QString::fromUtf8("Café Grüße ドラム");
        const QString loop = m_dir.filePath(name + ".wav");
        QVERIFY(TestAudio::writeWav(loop, 2, 44100, 44100, drums(120.0, 44100), false));
        const QString out = m_dir.filePath("h2-kits");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(QUILLORY_CLI_PATH),
                {"slice", loop, "--out", out, "--equal", "3", "--kit", "hydrogen"});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);

        const QString home = m_dir.filePath("h2-home");
        env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        QProcess h2;
        h2.setProcessEnvironment(env);
        h2.setProcessChannelMode(QProcess::MergedChannels);
        h2.start(h2cli, {"--install", out + "/" + name + "/" + name + ".h2drumkit"});
        QVERIFY(h2.waitForFinished(60000));
        const QString log = QString::fromLocal8Bit(h2.readAll());
        const QString installed = home + "/.hydrogen/data/drumkits/" + name;
        QVERIFY2(QFileInfo(installed + "/drumkit.xml").isFile(), qPrintable(log));
        QCOMPARE(QDir(installed).entryList({"*.wav"}),
                 QStringList({name + "_01.wav", name + "_02.wav", name + "_03.wav"}));
    }

    void badInputsAndExitCodes() {
        const QString text = m_dir.filePath("notes.wav");
        QVERIFY(TestAudio::writeBytes(text, "these are not samples"));
        const QString truncated = m_dir.filePath("cut.wav");
        QVERIFY(TestAudio::writeBytes(truncated, fileBytes(m_loop).left(30)));
        const QString missing = m_dir.filePath("nowhere.wav");

        Run r = cli({"tempo", missing, m_loop, text, truncated});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out.count('\n'), 1); // the good file is still done
        QVERIFY(r.out.startsWith(m_loop + "\t"));
        for (const QString &bad : {missing, text, truncated})
            QVERIFY2(r.err.contains(bad + ": "), qPrintable(r.err));

        // Four channels load as silence: said by every command; counted as bad by those
        // that would otherwise give an empty result as the file's, slice writing nothing;
        // not by info, whose line describes the file as it is.
        const QString quad = m_dir.filePath("quad.wav");
        QVERIFY(TestAudio::writeWav(quad, 4, 44100, 44100, [](long long f, int c) { return f % 4410 < 40 ? 0.5f * (c + 1) / 4 : 0.0f; }, false));
        const QString silent =
            "quillory-cli: " + quad + ": 4 channels: only mono and stereo audio is read, so it is silent\n";
        r = cli({"points", "--equal", "2", quad});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out, QString("22050\n"));
        QCOMPARE(r.err, silent);
        const QString quadOut = m_dir.filePath("quad-out");
        r = cli({"slice", quad, "--out", quadOut, "--equal", "2"});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.err, silent);
        QVERIFY(!QFileInfo::exists(quadOut + "/quad"));
        r = cli({"info", quad});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains("\t4 ch\t"), qPrintable(r.out));
        QCOMPARE(r.err, silent);

        // A --beats or --bars step under one frame, or more slices than --equal allows, is
        // the file's failure, said, with no points: not an empty success.
        for (const QStringList &args : {QStringList{"--beats", "0.00001"}, QStringList{"--bars", "0.00002"}}) {
            r = cli(QStringList{"points", m_loop, "--tempo", "120"} + args);
            QCOMPARE(r.exitCode, 1);
            QVERIFY(r.out.isEmpty());
            QVERIFY2(r.err.startsWith("quillory-cli: " + m_loop + ": " + args[0] + " ") &&
                         r.err.contains(args[1] == "0.00001" ? "shorter than one frame" : "more than 100000"),
                     qPrintable(r.err));
        }
        r = cli({"points", m_loop, "--tempo", "1e308", "--beats", "1"});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("--beats 1 at 1e+308 BPM is shorter than one frame"), qPrintable(r.err));

        r = cli({"info", m_loop});
        QCOMPARE(r.out.section('\t', 0, 4), m_loop + "\twav-pcm16\t44100 Hz\t2 ch\t264600 frames");
        r = cli({"info", "--json", m_loop});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject info = QJsonDocument::fromJson(r.out.toUtf8()).object();
        QCOMPARE(info.value("frames").toInt(), 44100 * 6);
        QCOMPARE(info.value("sampleRate").toInt(), 44100);
        QCOMPARE(info.value("channels").toInt(), 2);
        QCOMPARE(info.value("format").toString(), QString("wav-pcm16"));

        // Usage errors: 2 and a usage text, nothing done.
        const QList<QStringList> usage = {
            {},
            {"shred", m_loop},
            {"tempo"},
            {"tempo", m_loop, "--frobnicate"},
            {"points", m_loop},
            {"points", m_loop, "--equal", "4", "--beats", "1"},
            {"points", m_loop, "--equal", "zero"},
            {"slice", m_loop, "--equal", "4"},
            {"slice", m_loop, "--out", m_dir.filePath("x"), "--equal", "4", "--bits", "12"},
            {"tempo", m_loop, "--out"},
            {"points", m_loop, "--transients", "150"},
            {"points", m_loop, "--transients=loud"},
            {"points", m_loop, "--transients", "--equal", "4"},
            {"points", m_loop, "--equal", "4", "--min-length", "20"},
            {"slice", m_loop, "--out", m_dir.filePath("x"), "--equal", "4", "--kit", "nki"},
            {"slice", m_loop, "--out", m_dir.filePath("x"), "--equal", "4", "--cues", "--format", "flac"}};
        for (const QStringList &args : usage) {
            r = cli(args);
            QVERIFY2(r.exitCode == 2, qPrintable(args.join(' ')));
            QVERIFY2(r.err.contains("Usage: quillory-cli"), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
        // One range for --rate, whichever end is missed.
        for (const QString rate : {"0", "999", "768001"}) {
            r = cli({"slice", m_loop, "--out", m_dir.filePath("x"), "--equal", "4", "--rate", rate});
            QCOMPARE(r.exitCode, 2);
            QVERIFY2(
                r.err.startsWith("quillory-cli: --rate needs a whole number from 1000 to 768000, not \"" +
                                 rate + "\"\n"),
                qPrintable(r.err));
        }
        QVERIFY(!QFileInfo::exists(m_dir.filePath("x")));
        for (const char *sub : {"info", "tempo", "points", "slice"}) {
            r = cli({sub, "--help"});
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(r.out.startsWith(QStringLiteral("Usage: quillory-cli ") + sub), qPrintable(r.out));
        }
    }
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    CliTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_cli.moc"
