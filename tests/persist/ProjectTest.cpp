#include "ProjectTest.h"

#include "BankSampler.h"
#include "PersistFixtures.h"
#include "ProjectFile.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QtTest>

using namespace PersistFixtures;

namespace {
struct Rig {
    BankSampler bank{44100};
    int tempo = 120;
    std::function<void(int)> setTempo() {
        return [this](int bpm) {
            tempo = bpm;
            bank.setBankTempo(bpm);
        };
    }
};

QString makeProjectFolder(QTemporaryDir &dir, const QString &name) {
    const QString folder = dir.filePath(name);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + "/sounds");
    writeStaircase(folder + "/kick.wav", 44100, 20000);
    writeStaircase(folder + "/sounds/snare.wav", 44100, 30000);
    writeSine(folder + "/sounds/hat.wav", 48000, 10000, 440.0);
    return folder;
}

QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString writeProject(QTemporaryDir &dir, const QString &name, const QByteArray &xml) {
    const QString path = dir.filePath(name);
    TestAudio::writeBytes(path, xml);
    return path;
}
} // namespace

void ProjectTest::roundTripSurvivesMovingTheFolder() {
    const QString folder = makeProjectFolder(m_dir, "session");
    Rig saved;
    saved.bank.setBankTempo(96);
    saved.bank.loadSample(0, folder + "/kick.wav", 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    saved.bank.loadSample(3, folder + "/sounds/snare.wav", -5, 1.5, 1, 2000, 50000, 0.25f, true, "Other");
    saved.bank.loadSample(15, folder + "/sounds/hat.wav", 7, 0.75, 2, 100, 0, 0.8f, false, "Hi-hats");
    QString error;
    QString written;
    QVERIFY2(ProjectFile::save(&saved.bank, 96, folder + "/song", &error, &written), qPrintable(error));
    QCOMPARE(written, folder + "/song.qlx");

    const QString moved = m_dir.filePath("moved session");
    QDir(moved).removeRecursively();
    QVERIFY(QDir().rename(folder, moved));

    Rig loaded;
    loaded.bank.loadSample(5, moved + "/kick.wav", 0, 1.0, 0, 0, 0, 1.0f, false,
                           "None"); // replaced by the load
    QStringList missing;
    QVERIFY2(ProjectFile::load(&loaded.bank, loaded.setTempo(), moved + "/song.qlx", &error, &missing),
             qPrintable(error));
    QVERIFY(missing.isEmpty());
    QCOMPARE(loaded.tempo, 96);
    QCOMPARE(loaded.bank.bankTempo(), 96);
    for (int i = 0; i < BankSampler::kPadCount; ++i)
        QCOMPARE(bool(loaded.bank.pad(i)), i == 0 || i == 3 || i == 15);

    const SlicePtr snare = loaded.bank.pad(3);
    QCOMPARE(QFileInfo(snare->fileName()).absoluteFilePath(), moved + "/sounds/snare.wav");
    QVERIFY(snare->length() > 0);
    QCOMPARE(snare->pitch(), -5);
    QCOMPARE(snare->timeStretchRatio(), 1.5);
    QCOMPARE(snare->loopMode(), 1);
    QCOMPARE(snare->loopStart(), saved.bank.pad(3)->loopStart());
    QCOMPARE(snare->loopEnd(), saved.bank.pad(3)->loopEnd());
    QCOMPARE(snare->gain(), 0.25f);
    QVERIFY(snare->isReversed());
    QCOMPARE(snare->chokeGroup(), QString("Other"));
    QVERIFY(loaded.bank.chokeGroupsOf(3).contains("Other"));

    const SlicePtr hat = loaded.bank.pad(15);
    QCOMPARE(hat->pitch(), 7);
    QCOMPARE(hat->timeStretchRatio(), 0.75);
    QCOMPARE(hat->loopEnd(), saved.bank.pad(15)->loopEnd());
    QCOMPARE(hat->gain(), 0.8f);
    QVERIFY(!hat->isReversed());
    QCOMPARE(hat->chokeGroup(), QString("Hi-hats"));
}

void ProjectTest::documentHasTheExpectedShape() {
    const QString folder = makeProjectFolder(m_dir, "shape");
    Rig rig;
    rig.bank.loadSample(2, folder + "/sounds/snare.wav", 3, 1.0, 0, 0, 0, 1.0f, false, "None");
    QString error;
    QVERIFY(ProjectFile::save(&rig.bank, 133, folder + "/p.qlx", &error));
    const QByteArray bytes = readAll(folder + "/p.qlx");
    QVERIFY(bytes.startsWith(
        "<!DOCTYPE project>\n<project>\n <Engine bpm=\"133\"/>\n <BankSampler>\n  <Sample "));
    QDomDocument doc;
    QVERIFY(doc.setContent(bytes));
    const QDomElement sample =
        doc.documentElement().firstChildElement("BankSampler").firstChildElement("Sample");
    QCOMPARE(sample.attribute("filename"), QString("sounds/snare.wav"));
    QCOMPARE(sample.attribute("index"), QString("2"));
    QCOMPARE(sample.attribute("semitone"), QString("3"));
    QCOMPARE(sample.attribute("timestretchratio"), QString("1"));
    QCOMPARE(sample.attribute("reversed"), QString("0"));
    QCOMPARE(sample.attribute("chokegroup"), QString("None"));
    QCOMPARE(sample.attribute("loopend"), QString::number(rig.bank.pad(2)->loopEnd()));
    QVERIFY(sample.nextSiblingElement().isNull());
    // No stray temporary files next to the project.
    QCOMPARE(QDir(folder).entryList({"*.qlx*", ".*qlx*"}, QDir::Files | QDir::Hidden),
             QStringList({"p.qlx"}));
}

void ProjectTest::suffixIsAddedUnlessPresentInAnyCase() {
    QCOMPARE(ProjectFile::withProjectSuffix("/x/song"), QString("/x/song.qlx"));
    QCOMPARE(ProjectFile::withProjectSuffix("/x/song.QLX"), QString("/x/song.QLX"));
    QCOMPARE(ProjectFile::withProjectSuffix("/x/song.qlx"), QString("/x/song.qlx"));
    Rig rig;
    QString error;
    QString written;
    QVERIFY(ProjectFile::save(&rig.bank, 120, m_dir.filePath("LOUD.QLX"), &error, &written));
    QCOMPARE(written, m_dir.filePath("LOUD.QLX"));
    QVERIFY(QFile::exists(m_dir.filePath("LOUD.QLX")));
}

void ProjectTest::missingAttributesTakeTheirDefaults() {
    const QString folder = makeProjectFolder(m_dir, "defaults");
    const QString path = folder + "/bare.qlx";
    QVERIFY(TestAudio::writeBytes(path, "<project><Engine/><BankSampler>"
                                        "<Sample filename=\"kick.wav\" index=\"4\"/>"
                                        "<Sample filename=\"sounds/snare.wav\"/>"
                                        "</BankSampler></project>"));
    Rig rig;
    rig.tempo = 0;
    QString error;
    QVERIFY2(ProjectFile::load(&rig.bank, rig.setTempo(), path, &error), qPrintable(error));
    QCOMPARE(rig.tempo, 120);
    const SlicePtr kick = rig.bank.pad(4);
    QVERIFY(kick);
    QCOMPARE(kick->pitch(), 0);
    QCOMPARE(kick->timeStretchRatio(), 1.0);
    QCOMPARE(kick->loopMode(), 0);
    QCOMPARE(kick->loopStart(), 0);
    QCOMPARE(kick->loopEnd(), kick->length());
    QCOMPARE(kick->gain(), 1.0f);
    QVERIFY(!kick->isReversed());
    QCOMPARE(kick->chokeGroup(), QString("None"));
    QVERIFY(rig.bank.pad(0)); // no index reads as 0
}

void ProjectTest::oddValuesAreHandled() {
    const QString folder = makeProjectFolder(m_dir, "odd");
    const QString path = folder + "/odd.qlx";
    QVERIFY(TestAudio::writeBytes(path,
                                  "<anything><Engine bpm=\"fast\"/><Comment/><BankSampler>"
                                  "<Sample filename=\"kick.wav\" index=\"16\"/>"
                                  "<Sample filename=\"kick.wav\" index=\"-1\"/>"
                                  "<Sample filename=\"kick.wav\" index=\"7\" gain=\"nan\" semitone=\"2\"/>"
                                  "<Sample filename=\"sounds/snare.wav\" index=\"7\" semitone=\"-3\"/>"
                                  "<Other/></BankSampler></anything>"));
    Rig rig;
    QString error;
    QVERIFY2(ProjectFile::load(&rig.bank, rig.setTempo(), path, &error), qPrintable(error));
    QCOMPARE(rig.tempo, 120); // a tempo that is no number keeps the default, never 0
    int loaded = 0;
    for (int i = 0; i < BankSampler::kPadCount; ++i)
        loaded += rig.bank.pad(i) ? 1 : 0;
    QCOMPARE(loaded, 1);
    // The later of two samples for one pad wins.
    QCOMPARE(rig.bank.pad(7)->pitch(), -3);
    QVERIFY(rig.bank.pad(7)->fileName().endsWith("snare.wav"));

    QVector<ProjectFile::Step> steps;
    QVERIFY(ProjectFile::read(path, &steps, &error));
    QCOMPARE(steps.size(), 2);
    QCOMPARE(steps[1].pads.size(), 2);
    QCOMPARE(steps[1].pads[0].gain, 1.0f);
}

void ProjectTest::numbersAreClampedToWhatTheWindowAllows() {
    // Values no control can make: once they hung Open Project or made the stretcher
    // allocate gigabytes. Each lands on the nearest value the window offers.
    const QString folder = makeProjectFolder(m_dir, "extreme");
    const QString path = folder + "/extreme.qlx";
    QVERIFY(TestAudio::writeBytes(
        path, "<project><Engine bpm=\"5000\"/><BankSampler>"
              "<Sample filename=\"kick.wav\" index=\"0\" semitone=\"1000\" timestretchratio=\"1e300\"/>"
              "<Sample filename=\"kick.wav\" index=\"1\" semitone=\"2147483647\" timestretchratio=\"1e-300\"/>"
              "<Sample filename=\"kick.wav\" index=\"2\" semitone=\"-240\" timestretchratio=\"1e-6\""
              " loopmode=\"99\" gain=\"inf\" loopstart=\"-7\" loopend=\"99999999999\"/>"
              "<Sample filename=\"kick.wav\" index=\"99999999999\"/>"
              "</BankSampler></project>"));
    Rig rig;
    QString error;
    QVERIFY2(ProjectFile::load(&rig.bank, rig.setTempo(), path, &error), qPrintable(error));
    QCOMPARE(rig.tempo, 300);
    QCOMPARE(rig.bank.pad(0)->pitch(), 24);
    QCOMPARE(rig.bank.pad(0)->timeStretchRatio(), 10.0);
    QCOMPARE(rig.bank.pad(1)->pitch(), 24);
    QCOMPARE(rig.bank.pad(1)->timeStretchRatio(), 0.1);
    QCOMPARE(rig.bank.pad(2)->pitch(), -24);
    QCOMPARE(rig.bank.pad(2)->timeStretchRatio(), 0.1);
    QCOMPARE(rig.bank.pad(2)->loopMode(), 2);
    QCOMPARE(rig.bank.pad(2)->gain(), 1.0f);
    QCOMPARE(rig.bank.pad(2)->loopStart(), 0);
    QCOMPARE(rig.bank.pad(2)->loopEnd(), rig.bank.pad(2)->length());
    QVERIFY(!rig.bank.pad(15)); // an index far past the last pad is skipped, not wrapped

    // The stretched pad renders: a ratio near zero once loaded but never played.
    rig.bank.pad(1)->setStretchEnabled(true);
    rig.bank.pad(1)->play(true, 0, 0);
    std::vector<float> block(4096, 0.0f);
    int rendered = 0;
    for (int i = 0; i < 200 && rendered == 0; ++i)
        rendered = rig.bank.pad(1)->render(block.data(), int(block.size()));
    QVERIFY(rendered > 0);
}

void ProjectTest::missingAudioLeavesAnEmptyPadAndIsReported() {
    const QString folder = makeProjectFolder(m_dir, "missing");
    const QString path = folder + "/m.qlx";
    QVERIFY(TestAudio::writeBytes(path, "<project><BankSampler>"
                                        "<Sample filename=\"gone.wav\" index=\"1\"/>"
                                        "<Sample filename=\"kick.wav\" index=\"2\"/>"
                                        "</BankSampler></project>"));
    Rig rig;
    QStringList missing;
    QString error;
    QVERIFY(ProjectFile::load(&rig.bank, rig.setTempo(), path, &error, &missing));
    QCOMPARE(missing, QStringList({folder + "/gone.wav"}));
    QVERIFY(rig.bank.pad(1));
    QCOMPARE(rig.bank.pad(1)->length(), 0);
    QVERIFY(rig.bank.pad(2)->length() > 0);
}

void ProjectTest::engineOnlyProjectKeepsTheBank() {
    const QString folder = makeProjectFolder(m_dir, "engine");
    Rig rig;
    rig.bank.loadSample(9, folder + "/kick.wav", 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    const QString path = writeProject(m_dir, "tempo.qlx", "<project><Engine bpm=\"174\"/></project>");
    QString error;
    QVERIFY(ProjectFile::load(&rig.bank, rig.setTempo(), path, &error));
    QCOMPARE(rig.tempo, 174);
    QVERIFY(rig.bank.pad(9));
}

void ProjectTest::badFilesLoadNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("hugeBytes");
    const QByteArray good = "<!DOCTYPE project>\n<project>\n <Engine bpm=\"90\"/>\n <BankSampler>\n"
                            "  <Sample filename=\"kick.wav\" index=\"0\"/>\n </BankSampler>\n</project>\n";
    QTest::newRow("truncated") << good.left(good.size() - 20) << 0;
    QTest::newRow("cut after the tempo") << good.left(good.indexOf("<BankSampler>")) << 0;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\x00\x00", 10) << 0;
    QTest::newRow("no project elements")
        << QByteArray("<settings><AudioDeviceAPI>ALSA</AudioDeviceAPI></settings>") << 0;
    QTest::newRow("huge") << QByteArray() << int(ProjectFile::kMaxFileBytes + 1);
    // Deep enough to overflow the stack of a recursive parser.
    QTest::newRow("deeply nested") << QByteArray("<project>") + QByteArray("<a>").repeated(30000) +
                                          QByteArray("</a>").repeated(30000) + QByteArray("</project>")
                                   << 0;
    QTest::newRow("missing file") << QByteArray() << -1;
}

void ProjectTest::badFilesLoadNothing() {
    QFETCH(QByteArray, content);
    QFETCH(int, hugeBytes);
    const QString folder = makeProjectFolder(m_dir, "bad");
    const QString path = folder + "/bad.qlx";
    if (hugeBytes >= 0) {
        QVERIFY(TestAudio::writeBytes(path, content));
        if (hugeBytes > 0) {
            QFile f(path);
            QVERIFY(f.resize(hugeBytes));
        }
    }
    Rig rig;
    rig.tempo = 140;
    rig.bank.loadSample(6, folder + "/kick.wav", 1, 1.0, 0, 0, 0, 1.0f, false, "None");
    QString error;
    QVERIFY(!ProjectFile::load(&rig.bank, rig.setTempo(), path, &error));
    QVERIFY(error.contains("bad.qlx"));
    QCOMPARE(rig.tempo, 140);
    QVERIFY(rig.bank.pad(6));
    QVERIFY(!rig.bank.pad(0));
}

void ProjectTest::unwritablePathFailsWithAMessage() {
    Rig rig;
    QString error;
    QVERIFY(!ProjectFile::save(&rig.bank, 120, m_dir.filePath("no/such/folder/p.qlx"), &error));
    QVERIFY(!error.isEmpty());
}
