#include "ExportTest.h"

#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "EditableAudioCache.h"
#include "KitExporter.h"
#include "PersistFixtures.h"
#include "Settings.h"
#include "SliceExporter.h"
#include "Trevant.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QtTest>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sndfile.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace PersistFixtures;

namespace {
constexpr int kRate = 44100;
constexpr long long kFrames = 30000;

ExportFormat format(int bits, int rate = 0) {
    ExportFormat f;
    f.bitDepth = bits;
    f.sampleRate = rate;
    return f;
}

QString freshFolder(QTemporaryDir &dir, const QString &name) {
    const QString folder = dir.filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    return folder;
}
} // namespace

void ExportTest::initTestCase() {
    ::umask(022);
    QVERIFY(m_dir.isValid());
    m_staircase = writeStaircase(m_dir.filePath("stairs.wav"), kRate, kFrames);
    QVERIFY(!m_staircase.isEmpty());
}

void ExportTest::init() {
    Settings::instance().set("WaveExportBitDepth", "");
    Settings::instance().set("WaveExportSampleRate", "");
    Settings::instance().set("fade_in_out_slices", "0");
}

void ExportTest::slicesFollowTrimAndPoints() {
    // Points outside the trim region and duplicates give no slice; the trim points bound
    // the first and the last.
    const auto r = SliceExporter::sliceRanges({50, 100, 100, 400, 900, 1200}, 80, 1000);
    QCOMPARE(r.size(), 4);
    QCOMPARE(r[0].start, 80);
    QCOMPARE(r[0].end, 100);
    QCOMPARE(r[1].start, 100);
    QCOMPARE(r[1].end, 400);
    QCOMPARE(r[2].end, 900);
    QCOMPARE(r[3].start, 900);
    QCOMPARE(r[3].end, 1000);
    QCOMPARE(SliceExporter::sliceRanges({}, 0, 500).size(), 1);
    QVERIFY(SliceExporter::sliceRanges({10, 20}, 500, 500).isEmpty());

    auto slicer = loadedSlicer(m_staircase);
    slicer->setSlicePoints({20000, 40000});
    slicer->setTrimStart(10000);
    const auto fromSlicer = SliceExporter::sliceRanges(slicer.get());
    QCOMPARE(fromSlicer.size(), 3);
    QCOMPARE(fromSlicer.first().start, 10000);
    QCOMPARE(fromSlicer.last().end, int(2 * kFrames));
    QCOMPARE(SliceExporter::sliceAt(slicer.get(), 20000).start, 20000);
    QCOMPARE(SliceExporter::sliceAt(slicer.get(), 39998).end, 40000);
    QCOMPARE(SliceExporter::sliceAt(slicer.get(), 5000).end, 0); // before the trim start
}

void ExportTest::fileNamesSortInSliceOrder() {
    QCOMPARE(SliceExporter::sliceFileName("break", 1, 8), QString("break_01.wav"));
    QCOMPARE(SliceExporter::sliceFileName("break", 64, 64), QString("break_64.wav"));
    QCOMPARE(SliceExporter::sliceFileName("break", 7, 120), QString("break_007.wav"));
    // A name that looks like a format placeholder is kept as written.
    QCOMPARE(SliceExporter::sliceFileName("50%2 off", 3, 8, "flac"), QString("50%2 off_03.flac"));
    QCOMPARE(SliceExporter::quickExportFolder(m_dir.filePath("loop.wav")), m_dir.filePath("loop slices"));

    auto slicer = loadedSlicer(m_staircase);
    slicer->setSlicePoints({30000});
    std::unique_ptr<SliceExporter> bare(SliceExporter::forPrefix(slicer.get(), "snare"));
    QCOMPARE(bare->jobs().last().path, m_dir.filePath("snare_02.wav"));
    std::unique_ptr<SliceExporter> placed(SliceExporter::forPrefix(slicer.get(), m_dir.filePath("kits/hat")));
    QCOMPARE(placed->jobs().first().path, m_dir.filePath("kits/hat_01.wav"));
    QCOMPARE(placed->jobs().size(), 2);
}

void ExportTest::exportedSlicesEqualTheSource_data() {
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("subtype");
    QTest::addColumn<double>("tolerance");
    QTest::newRow("8 bit") << 8 << int(SF_FORMAT_PCM_U8) << 1.0 / 128;
    QTest::newRow("16 bit") << 16 << int(SF_FORMAT_PCM_16) << 1.0 / 32768;
    QTest::newRow("24 bit") << 24 << int(SF_FORMAT_PCM_24) << 1.0 / 8388608;
    QTest::newRow("32 bit") << 32 << int(SF_FORMAT_FLOAT) << 0.0;
}

void ExportTest::exportedSlicesEqualTheSource() {
    QFETCH(int, bits);
    QFETCH(int, subtype);
    QFETCH(double, tolerance);
    auto slicer = loadedSlicer(m_staircase);
    slicer->setSlicePoints({12346, 30000, 45000});
    slicer->setTrimEnd(58000);
    const QString folder = freshFolder(m_dir, QString("depth%1").arg(bits));
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder));
    QVERIFY(exporter);
    exporter->setFormat(format(bits));
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);

    const auto ranges = SliceExporter::sliceRanges(slicer.get());
    QCOMPARE(ranges.size(), 4);
    QCOMPARE(folderEntries(folder),
             QStringList({"stairs_01.wav", "stairs_02.wav", "stairs_03.wav", "stairs_04.wav"}));
    // Like any new file of the user's: readable by others under the usual umask.
    QVERIFY(QFile::permissions(QDir(folder).filePath("stairs_01.wav")) & QFileDevice::ReadOther);
    for (int i = 0; i < ranges.size(); ++i) {
        const Audio a = readAudio(QDir(folder).filePath(SliceExporter::sliceFileName("stairs", i + 1, 4)));
        QCOMPARE(a.rate, kRate);
        QCOMPARE(a.channels, 2);
        QCOMPARE(a.format & SF_FORMAT_SUBMASK, subtype);
        QCOMPARE(int(a.samples.size()), ranges[i].end - ranges[i].start);
        double worst = 0.0;
        for (size_t k = 0; k < a.samples.size(); ++k)
            worst = std::max(worst, std::fabs(double(a.samples[k]) -
                                              TestAudio::staircase(ranges[i].start + (long long)k)));
        QVERIFY2(worst <= tolerance, qPrintable(QString("slice %1 differs by %2").arg(i + 1).arg(worst)));
    }
}

void ExportTest::settingsChooseDepthAndRate() {
    QCOMPARE(ExportFormat::fromSettings().bitDepth, 16);
    QCOMPARE(ExportFormat::fromSettings().sampleRate, 0);
    Settings::instance().set("WaveExportBitDepth", "24 bit");
    Settings::instance().set("WaveExportSampleRate", "96000");
    QCOMPARE(ExportFormat::fromSettings().bitDepth, 24);
    QCOMPARE(ExportFormat::fromSettings().targetRate(44100), 96000);
    Settings::instance().set("WaveExportSampleRate", "22500");
    QCOMPARE(ExportFormat::fromSettings().sampleRate, 22050);
    Settings::instance().set("WaveExportBitDepth", "12 bit");
    Settings::instance().set("WaveExportSampleRate", "Original");
    QCOMPARE(ExportFormat::fromSettings().bitDepth, 16);
    QCOMPARE(ExportFormat::fromSettings().targetRate(48000), 48000);
}

void ExportTest::resampledExportKeepsLengthAndPitch_data() {
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("rate");
    QTest::newRow("up to 48000") << "48000" << 48000;
    QTest::newRow("down to 22050") << "22500" << 22050;
    QTest::newRow("up to 96000") << "96000" << 96000;
}

void ExportTest::resampledExportKeepsLengthAndPitch() {
    QFETCH(QString, setting);
    QFETCH(int, rate);
    Settings::instance().set("WaveExportSampleRate", setting);
    Settings::instance().set("WaveExportBitDepth", "32 bit");
    const QString sine = writeSine(m_dir.filePath("sine.wav"), kRate, 2 * kRate, 1000.0);
    auto slicer = loadedSlicer(sine);
    slicer->setSlicePoints({2 * 30001}); // an odd frame count on each side
    const QString folder = freshFolder(m_dir, "rate" + setting);
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder));
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);

    const auto ranges = SliceExporter::sliceRanges(slicer.get());
    long long totalFrames = 0;
    for (int i = 0; i < ranges.size(); ++i) {
        const Audio a = readAudio(QDir(folder).filePath(SliceExporter::sliceFileName("sine", i + 1, 2)));
        QCOMPARE(a.rate, rate);
        const auto converted = [&](int position) {
            return std::llround(double(position / 2) * rate / kRate);
        };
        QCOMPARE(a.frames(), converted(ranges[i].end) - converted(ranges[i].start));
        totalFrames += a.frames();
        // Away from the edges, the tone is the same 1 kHz at its full level.
        const long long margin = rate / 100;
        const double f = frequency(a.samples, 0, margin, a.frames() - margin, rate);
        QVERIFY2(std::fabs(f - 1000.0) < 1.0, qPrintable(QString::number(f)));
        float peak = 0.0f;
        for (long long k = margin; k < a.frames() - margin; ++k)
            peak = std::max(peak, std::fabs(a.samples[size_t(2 * k)]));
        QVERIFY2(peak > 0.47f && peak < 0.53f, qPrintable(QString::number(peak)));
    }
    // The slices add up to the whole loop at the new rate.
    QCOMPARE(totalFrames, std::llround(2.0 * rate));
    // Aligned, not delayed: the first slice follows the sine's phase from its first
    // frame to its last ones.
    const Audio first = readAudio(QDir(folder).filePath("sine_01.wav"));
    for (long long k : {5LL, 100LL, first.frames() / 2, first.frames() - 60}) {
        const double expected = 0.5 * std::sin(2.0 * M_PI * 1000.0 * double(k) / rate);
        QVERIFY2(std::fabs(first.samples[size_t(2 * k)] - expected) < 0.02,
                 qPrintable(QString("frame %1: %2 instead of %3")
                                .arg(k)
                                .arg(first.samples[size_t(2 * k)])
                                .arg(expected)));
    }
}

void ExportTest::edgeFadesOnlyTouchTheEdges() {
    Settings::instance().set("WaveExportBitDepth", "32 bit");
    Settings::instance().set("fade_in_out_slices", "1");
    const QString dc = m_dir.filePath("dc.wav");
    QVERIFY(TestAudio::writeWav(dc, 2, kRate, kRate / 2, [](long long, int) { return 0.5f; }));
    auto slicer = loadedSlicer(dc);
    const QString folder = freshFolder(m_dir, "fades");
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder));
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);
    const Audio a = readAudio(QDir(folder).filePath("dc_01.wav"));
    QCOMPARE(a.frames(), (long long)(kRate / 2));
    QCOMPARE(a.samples.front(), 0.0f);
    QCOMPARE(a.samples.back(), 0.0f);
    const int fade = kRate * 2 / 1000;
    QVERIFY(a.samples[size_t(fade / 2 * 2)] > 0.2f && a.samples[size_t(fade / 2 * 2)] < 0.3f);
    for (long long f = fade; f < a.frames() - fade; ++f)
        QCOMPARE(a.samples[size_t(2 * f)], 0.5f);
}

void ExportTest::cancelLeavesOnlyWholeFiles() {
    const QString longLoop = writeStaircase(m_dir.filePath("long.wav"), kRate, 20LL * kRate);
    auto slicer = loadedSlicer(longLoop);
    slicer->sliceEvenly(16);
    const QString folder = freshFolder(m_dir, "cancel");
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder));
    const SlicePtr loop = slicer->currentSlice();
    QSignalSpy cancelled(loop.data(), &Slice::savingCancelled);
    QSignalSpy complete(loop.data(), &Slice::savingComplete);
    // Cancel in the middle of the fourth file, the way the window's cancel would arrive.
    connect(
        loop.data(), &Slice::savingProgress, this,
        [&](float progress) {
            if (progress > 3.5f / 16)
                loop->setCancelRequested(true);
        },
        Qt::DirectConnection);
    QCOMPARE(exporter->run(), SliceExporter::Status::Cancelled);
    disconnect(loop.data(), &Slice::savingProgress, this, nullptr);
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(complete.count(), 0);

    const QStringList entries = folderEntries(folder);
    QCOMPARE(entries, QStringList({"long_01.wav", "long_02.wav", "long_03.wav"}));
    QCOMPARE(exporter->writtenFiles().size(), 3);
    const auto ranges = SliceExporter::sliceRanges(slicer.get());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(int(readAudio(QDir(folder).filePath(entries[i])).samples.size()),
                 ranges[i].end - ranges[i].start);

    // A new export of the same loop is not cancelled by the old request.
    std::unique_ptr<SliceExporter> again(SliceExporter::forSlices(slicer.get(), freshFolder(m_dir, "again")));
    QCOMPARE(again->run(), SliceExporter::Status::Completed);
}

void ExportTest::exportWaitsForALoopStillLoading() {
    const QString path = writeStaircase(m_dir.filePath("fresh.wav"), kRate, 10LL * kRate);
    // Straight after opening, before the background fill has finished.
    const SlicePtr loop = Slice::create(path, kRate);
    SliceExporter exporter(loop);
    exporter.setFormat(format(32));
    const QString folder = freshFolder(m_dir, "fresh");
    exporter.addFile(folder + "/whole.wav", {0, loop->length()});
    QCOMPARE(exporter.run(), SliceExporter::Status::Completed);
    const Audio a = readAudio(folder + "/whole.wav");
    QCOMPARE(a.frames(), 10LL * kRate);
    for (size_t k = 0; k < a.samples.size(); k += 997)
        QCOMPARE(a.samples[k], TestAudio::staircase((long long)k));
}

void ExportTest::existingFilesAreNeverReplacedSilently() {
    auto slicer = loadedSlicer(m_staircase);
    slicer->setSlicePoints({30000});
    const QString folder = freshFolder(m_dir, "collide");
    const QString taken = QDir(folder).filePath("stairs_02.wav");
    {
        QFile f(taken);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }

    std::unique_ptr<SliceExporter> refuse(SliceExporter::forSlices(slicer.get(), folder));
    QCOMPARE(refuse->existingTargets(), QStringList({taken}));
    QCOMPARE(refuse->run(), SliceExporter::Status::Failed);
    QVERIFY(refuse->errorMessage().contains("stairs_02.wav"));
    QCOMPARE(folderEntries(folder), QStringList({"stairs_02.wav"}));

    std::unique_ptr<SliceExporter> keep(SliceExporter::forSlices(slicer.get(), folder));
    keep->setCollision(SliceExporter::Collision::KeepBoth);
    QCOMPARE(keep->run(), SliceExporter::Status::Completed);
    QCOMPARE(folderEntries(folder), QStringList({"stairs_01 (2).wav", "stairs_02 (2).wav", "stairs_02.wav"}));
    QFile kept(taken);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("precious"));
    kept.close();

    std::unique_ptr<SliceExporter> overwrite(SliceExporter::forSlices(slicer.get(), folder));
    overwrite->setCollision(SliceExporter::Collision::Overwrite);
    QCOMPARE(overwrite->run(), SliceExporter::Status::Completed);
    QCOMPARE(readAudio(taken).frames(), kFrames - 15000);

    // Quick export keeps what is there and puts the next batch beside it.
    std::unique_ptr<SliceExporter> quick1(SliceExporter::forQuickExport(slicer.get()));
    QCOMPARE(quick1->run(), SliceExporter::Status::Completed);
    std::unique_ptr<SliceExporter> quick2(SliceExporter::forQuickExport(slicer.get()));
    QCOMPARE(quick2->run(), SliceExporter::Status::Completed);
    QCOMPARE(folderEntries(m_dir.filePath("stairs slices")),
             QStringList({"stairs_01 (2).wav", "stairs_01.wav", "stairs_02 (2).wav", "stairs_02.wav"}));
}

void ExportTest::backgroundExportReportsEveryFile() {
    auto slicer = loadedSlicer(m_staircase);
    slicer->sliceEvenly(8);
    const QString folder = freshFolder(m_dir, "background");
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder, "kit"));
    const SlicePtr loop = slicer->currentSlice();
    QSignalSpy progress(loop.data(), &Slice::savingProgress);
    QSignalSpy complete(loop.data(), &Slice::savingComplete);
    QSignalSpy written(exporter.get(), &SliceExporter::fileWritten);
    QSignalSpy finished(exporter.get(), &SliceExporter::finished);
    exporter->start();
    QVERIFY(exporter->isRunning());
    QVERIFY(finished.wait(10000));
    QVERIFY(!exporter->isRunning());
    QCOMPARE(exporter->status(), SliceExporter::Status::Completed);
    QTRY_COMPARE(complete.count(), 1);
    QCOMPARE(written.count(), 8);
    QCOMPARE(written.first().at(0).toString(), QDir::toNativeSeparators(folder));
    QCOMPARE(written.first().at(1).toString(), QString("kit_01.wav"));
    QCOMPARE(written.last().at(1).toString(), QString("kit_08.wav"));
    float last = -1.0f;
    for (const auto &args : qAsConst(progress)) {
        const float p = args.at(0).toFloat();
        QVERIFY(p >= last);
        last = p;
    }
    QCOMPARE(last, 1.0f);
}

void ExportTest::runningOutOfDescriptorsSaysSo() {
    // A batch of many files at once can use up the process's descriptors; the slice
    // whose write then fails must say why, and leave no temporary file behind.
    auto slicer = loadedSlicer(m_staircase);
    const QString folder = m_dir.filePath("descriptors");
    QVERIFY(QDir().mkpath(folder));
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), folder));
    QVERIFY(exporter);

    int highest = 0;
    for (const QString &name : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System))
        highest = std::max(highest, name.toInt());
    rlimit saved{};
    QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(highest + 32);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &tight) == 0);
    // Every descriptor taken but one: the temporary file gets it, nothing more is left.
    QVector<int> held;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        held.append(fd);
    const int openErrno = errno;
    if (!held.isEmpty())
        ::close(held.takeLast());
    const SliceExporter::Status status = exporter->run();
    const QString message = exporter->errorMessage();
    for (int fd : qAsConst(held))
        ::close(fd);
    QVERIFY(::setrlimit(RLIMIT_NOFILE, &saved) == 0);

    QCOMPARE(openErrno, EMFILE);
    QCOMPARE(status, SliceExporter::Status::Failed);
    QVERIFY2(message.contains(QString::fromLocal8Bit(std::strerror(EMFILE))), qPrintable(message));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

void ExportTest::unwritableTargetFailsWithAMessage() {
    auto slicer = loadedSlicer(m_staircase);
    const QString blocker = m_dir.filePath("plainfile");
    {
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), blocker + "/sub"));
    QSignalSpy cancelled(slicer->currentSlice().data(), &Slice::savingCancelled);
    QCOMPARE(exporter->run(), SliceExporter::Status::Failed);
    QVERIFY(!exporter->errorMessage().isEmpty());
    QCOMPARE(cancelled.count(), 1);

    // No loop, nothing to do.
    Trevant empty;
    QVERIFY(!SliceExporter::forSlices(&empty, m_dir.path()));
    QVERIFY(!SliceExporter::forQuickExport(&empty));
}

// A loop named as long as a file name may be: every slice, copy, folder and kit file
// made from it fits the limit of 255 bytes on one name, cut between whole characters,
// and each export's names stay apart.
void ExportTest::longLoopNamesGiveNamesThatFit() {
    // 250 bytes of stem: 123 two-byte letters and a four-byte drum at the end.
    const QString stem = QString(123, QChar(0xDC)) + QString::fromUtf8("\xF0\x9F\xA5\x81");
    QCOMPARE(stem.toUtf8().size(), 250);
    const QString folder = freshFolder(m_dir, "long");
    const QString loopPath = writeStaircase(QDir(folder).filePath(stem + ".wav"), kRate, kFrames);
    QVERIFY(!loopPath.isEmpty());
    auto slicer = loadedSlicer(loopPath);
    QVERIFY(slicer);
    slicer->setSlicePoints({20000});

    // The first name that does not fit or was cut through a character; empty when none.
    const auto badName = [&](const QStringList &names) {
        for (const QString &name : names)
            if (name.toUtf8().size() > 255 || !name.startsWith(QString(118, QChar(0xDC))) ||
                name.contains(QChar::ReplacementCharacter))
                return name;
        return QString();
    };
#define CHECK_NAMES(where, expected)                                                                         \
    do {                                                                                                     \
        QCOMPARE(folderEntries(where).size(), expected);                                                     \
        QVERIFY2(badName(folderEntries(where)).isEmpty(), qPrintable(badName(folderEntries(where))));        \
    } while (false)
    const QString out = freshFolder(m_dir, "long-out");
    std::unique_ptr<SliceExporter> slices(SliceExporter::forSlices(slicer.get(), out));
    QCOMPARE(slices->run(), SliceExporter::Status::Completed);
    QVERIFY2(slices->errorMessage().isEmpty(), qPrintable(slices->errorMessage()));
    CHECK_NAMES(out, 2);
    QCOMPARE(readAudio(slices->writtenFiles().at(1)).frames(), kFrames - 10000);
    // Kept beside them: " (2)" fits too, the slice numbers kept.
    std::unique_ptr<SliceExporter> again(SliceExporter::forSlices(slicer.get(), out));
    again->setCollision(SliceExporter::Collision::KeepBoth);
    QCOMPARE(again->run(), SliceExporter::Status::Completed);
    CHECK_NAMES(out, 4);
    const QStringList both = folderEntries(out);
    QCOMPARE(QSet<QString>(both.begin(), both.end()).size(), 4);
    QCOMPARE(both.filter(QRegularExpression("_01 \\(2\\)\\.wav$")).size(), 1);
    QCOMPARE(both.filter(QRegularExpression("_02 \\(2\\)\\.wav$")).size(), 1);

    // The quick export's folder is named after the loop too.
    std::unique_ptr<SliceExporter> quick(SliceExporter::forQuickExport(slicer.get()));
    QCOMPARE(quick->run(), SliceExporter::Status::Completed);
    const QString quickFolder = QFileInfo(quick->writtenFiles().first()).absolutePath();
    QCOMPARE(QFileInfo(quickFolder).absolutePath(), folder);
    QVERIFY(QFileInfo(quickFolder).fileName().endsWith(" slices"));
    QVERIFY(badName({QFileInfo(quickFolder).fileName()}).isEmpty());
    CHECK_NAMES(quickFolder, 2);

    for (KitExporter::Kind kind : {KitExporter::Kind::Sfz, KitExporter::Kind::Hydrogen}) {
        const QString kits = freshFolder(m_dir, "long-kit");
        KitExporter::Options options;
        options.kind = kind;
        options.folder = kits;
        options.name = stem + stem;
        QString error;
        QCOMPARE(KitExporter::exportKit(slicer->currentSlice(), slicer->slicePoints(), 0,
                                        slicer->currentSlice()->length(), options, &error),
                 SliceExporter::Status::Completed);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        CHECK_NAMES(kits, 2); // the kit and its MIDI file
        if (kind == KitExporter::Kind::Sfz) {
            const QStringList folders = QDir(kits).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QCOMPARE(folders.size(), 1);
            QVERIFY(badName(folders).isEmpty());
            CHECK_NAMES(QDir(kits).filePath(folders.first()), 2);
        }
    }
#undef CHECK_NAMES
}

// A folder that cannot be made is reported with the system's reason.
void ExportTest::folderThatCannotBeMadeSaysWhy() {
    auto slicer = loadedSlicer(m_staircase);
    const QString blocker = m_dir.filePath("blocking file");
    QVERIFY(TestAudio::writeBytes(blocker, "x"));
    const struct {
        QString folder, reason;
    } cases[] = {{blocker, QString::fromLocal8Bit(std::strerror(EEXIST))},
                 {blocker + "/sub", QString::fromLocal8Bit(std::strerror(ENOTDIR))},
                 {m_dir.filePath(QString(256, 'n')), QString::fromLocal8Bit(std::strerror(ENAMETOOLONG))}};
    for (const auto &c : cases) {
        std::unique_ptr<SliceExporter> exporter(SliceExporter::forSlices(slicer.get(), c.folder));
        QCOMPARE(exporter->run(), SliceExporter::Status::Failed);
        QVERIFY2(exporter->errorMessage().contains("could not be created") &&
                     exporter->errorMessage().endsWith(c.reason + "."),
                 qPrintable(exporter->errorMessage()));
        KitExporter::Options options;
        options.folder = c.folder;
        QString error;
        QCOMPARE(KitExporter::exportKit(slicer->currentSlice(), {20000}, 0, slicer->currentSlice()->length(),
                                        options, &error),
                 SliceExporter::Status::Failed);
        QVERIFY2(error.contains("could not be created") && error.endsWith(c.reason + "."), qPrintable(error));
    }
}

void ExportTest::saveAsWritesTheTrimmedLoopInTheChosenContainer() {
    auto slicer = loadedSlicer(m_staircase);
    slicer->setTrimStart(1000);
    slicer->setTrimEnd(51000);
    const QString path = m_dir.filePath("saved.flac");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly)); // the dialog has confirmed replacing it
    }
    std::unique_ptr<SliceExporter> exporter(
        SliceExporter::forSpan(slicer.get(), path, {slicer->trimStart(), slicer->trimEnd()}));
    exporter->setFormat(format(24));
    QCOMPARE(exporter->run(), SliceExporter::Status::Completed);
    const Audio a = readAudio(path);
    QCOMPARE(a.format & SF_FORMAT_TYPEMASK, int(SF_FORMAT_FLAC));
    QCOMPARE(int(a.samples.size()), 50000);
    QVERIFY(std::fabs(a.samples[0] - TestAudio::staircase(1000)) < 1e-6);
    QVERIFY(std::fabs(a.samples.back() - TestAudio::staircase(50999)) < 1e-6);
}

void ExportTest::exportWritesTheLoopAsItSounds() {
    // A gain edit, then a reversed loop: the exported span holds what playback reads.
    EditableAudioCache::installInLoopModel();
    auto slicer = loadedSlicer(m_staircase);
    const SlicePtr loop = slicer->currentSlice();
    loop->setEditMode(true);
    const auto editable = loop->cache().objectCast<EditableAudioCache>();
    QVERIFY(editable);
    const AudioEditPtr gain = AudioEditFactory::createEdit(TypeGain, -1, 2000, 4000, editable);
    gain.objectCast<AudioEditGain>()->setGain(0.25f);
    editable->addEdit(gain);
    // The edit is rendered by the cache's worker; playback hears it from then on.
    QTRY_COMPARE(editable->getSample(3000), 0.25f * TestAudio::staircase(3000));

    const auto exportSpan = [&](const QString &name) {
        const QString path = m_dir.filePath(name);
        std::unique_ptr<SliceExporter> exporter(SliceExporter::forSpan(slicer.get(), path, {0, 8000}));
        exporter->setFormat(format(32));
        return exporter->run() == SliceExporter::Status::Completed ? readAudio(path) : Audio();
    };
    const auto expected = [&](int i) {
        return loop->isReversed() ? editable->getSample(int(2 * kFrames) - 2 - (i & ~1) + (i & 1))
                                  : editable->getSample(i);
    };

    const Audio edited = exportSpan("edited.wav");
    QCOMPARE(int(edited.samples.size()), 8000);
    for (int i : {0, 1999, 2000, 2001, 3999, 4000, 7999})
        QCOMPARE(edited.samples[size_t(i)], expected(i));
    QCOMPARE(edited.samples[3000], 0.25f * TestAudio::staircase(3000));
    QCOMPARE(edited.samples[5000], TestAudio::staircase(5000));

    loop->reverse();
    const Audio reversed = exportSpan("reversed.wav");
    QCOMPARE(int(reversed.samples.size()), 8000);
    for (int i = 0; i < 8000; i += 997)
        QCOMPARE(reversed.samples[size_t(i)], expected(i));
    QCOMPARE(reversed.samples[0], TestAudio::staircase(int(2 * kFrames) - 2));
}
