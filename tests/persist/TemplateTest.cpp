#include "TemplateTest.h"

#include "PersistFixtures.h"
#include "SliceTemplate.h"
#include "Trevant.h"

#include <QFile>
#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>

using namespace PersistFixtures;

namespace {
bool writeFile(const QString &path, const QByteArray &bytes) {
    return TestAudio::writeBytes(path, bytes);
}
} // namespace

void TemplateTest::initTestCase() {
    QVERIFY(m_dir.isValid());
    m_short = writeStaircase(m_dir.filePath("short.wav"), 44100, 40000);
    m_long = writeStaircase(m_dir.filePath("long.wav"), 48000, 123457);
    QVERIFY(!m_short.isEmpty() && !m_long.isEmpty());
}

void TemplateTest::roundTripOntoALoopOfAnotherLength() {
    auto source = loadedSlicer(m_short);
    source->setTrimStart(8000);
    source->setTrimEnd(72000);
    // A quarter, half, and 7/8 of the trimmed region.
    source->setSlicePoints({24000, 40000, 64000});
    const QString path = m_dir.filePath("layout.qlst");
    QString error;
    QVERIFY2(SliceTemplate::saveFrom(source.get(), path, &error), qPrintable(error));

    auto target = loadedSlicer(m_long);
    const int length = target->currentSlice()->length();
    QSignalSpy changed(target.get(), &Trevant::slicePointsChanged);
    QVERIFY2(SliceTemplate::loadInto(target.get(), path, nullptr, &error), qPrintable(error));
    QCOMPARE(changed.count(), 1);
    const QList<int> points = target->slicePoints();
    QCOMPARE(points.size(), 3);
    const double fractions[] = {0.25, 0.5, 0.875};
    for (int i = 0; i < 3; ++i) {
        QVERIFY(points[i] % 2 == 0);
        QVERIFY2(std::abs(points[i] - fractions[i] * length) <= 2, qPrintable(QString::number(points[i])));
    }

    // Onto a trimmed region of the long loop, the layout spans that region.
    target->setTrimStart(20000);
    target->setTrimEnd(220000);
    QVERIFY(SliceTemplate::loadInto(target.get(), path, nullptr, &error));
    QCOMPARE(target->slicePoints(), QList<int>({70000, 120000, 195000}));
}

void TemplateTest::sameLoopGetsItsPointsBackExactly() {
    auto slicer = loadedSlicer(m_long);
    const QList<int> odd = {2, 33334, 99998, 123456, 246912};
    slicer->setSlicePoints(odd);
    const QString path = m_dir.filePath("exact.qlst");
    QString error;
    QVERIFY(SliceTemplate::saveFrom(slicer.get(), path, &error));
    slicer->setSlicePoints({});
    QVERIFY(SliceTemplate::loadInto(slicer.get(), path, nullptr, &error));
    QCOMPARE(slicer->slicePoints(), odd);
}

void TemplateTest::loadingIsOneUndoableStep() {
    auto source = loadedSlicer(m_short);
    source->sliceEvenly(8);
    const QString path = m_dir.filePath("eight.qlst");
    QString error;
    QVERIFY(SliceTemplate::saveFrom(source.get(), path, &error));

    auto slicer = loadedSlicer(m_long);
    slicer->setSlicePoints({1000});
    QUndoStack stack;
    QVERIFY(SliceTemplate::loadInto(slicer.get(), path, &stack, &error));
    QCOMPARE(stack.count(), 1);
    QCOMPARE(slicer->slicePoints().size(), 7);
    stack.undo();
    QCOMPARE(slicer->slicePoints(), QList<int>({1000}));
    stack.redo();
    QCOMPARE(slicer->slicePoints().size(), 7);
}

void TemplateTest::badFilesAreRefusedAndChangeNothing_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("huge");
    const QByteArray good =
        "<!DOCTYPE slicetemplate>\n<slicetemplate version=\"1\">\n"
        " <slicepoint relative=\"0.5\"/>\n <slicepoint relative=\"0.75\"/>\n</slicetemplate>\n";
    QTest::newRow("truncated") << good.left(good.size() / 2) << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfeRIFF\x00\x00", 10) << false;
    QTest::newRow("other root") << QByteArray("<project><Engine bpm=\"120\"/></project>") << false;
    QTest::newRow("not a number") << QByteArray(
                                         "<slicetemplate><slicepoint relative=\"half\"/></slicetemplate>")
                                  << false;
    QTest::newRow("missing position") << QByteArray("<slicetemplate><slicepoint/></slicetemplate>") << false;
    QTest::newRow("infinite") << QByteArray("<slicetemplate><slicepoint relative=\"inf\"/></slicetemplate>")
                              << false;
    QTest::newRow("newer version") << QByteArray("<slicetemplate version=\"7\"/>") << false;
    QTest::newRow("huge") << QByteArray() << true;
    QTest::newRow("deeply nested") << QByteArray("<slicetemplate>") + QByteArray("<a>").repeated(30000) +
                                          QByteArray("</a>").repeated(30000) + QByteArray("</slicetemplate>")
                                   << false;
    QTest::newRow("missing file") << QByteArray() << false;
}

void TemplateTest::badFilesAreRefusedAndChangeNothing() {
    QFETCH(QByteArray, content);
    QFETCH(bool, huge);
    const QString path =
        m_dir.filePath(QStringLiteral("bad_%1.qlst").arg(QTest::currentDataTag()).replace(' ', '_'));
    if (QString(QTest::currentDataTag()) != "missing file") {
        QVERIFY(writeFile(path, content));
        if (huge) {
            QFile f(path);
            QVERIFY(f.resize(SliceTemplate::kMaxFileBytes + 1));
        }
    }
    auto slicer = loadedSlicer(m_short);
    slicer->setSlicePoints({4000, 8000});
    QSignalSpy changed(slicer.get(), &Trevant::slicePointsChanged);
    QUndoStack stack;
    QString error;
    QVERIFY(!SliceTemplate::loadInto(slicer.get(), path, &stack, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(QFileInfo(path).fileName()), qPrintable(error));
    QCOMPARE(slicer->slicePoints(), QList<int>({4000, 8000}));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(stack.count(), 0);
}

void TemplateTest::pointsOutsideTheRegionAreClamped() {
    const QString path = m_dir.filePath("wild.qlst");
    QVERIFY(writeFile(path, "<slicetemplate>"
                            "<slicepoint relative=\"-3\"/><slicepoint relative=\"0.5\"/>"
                            "<slicepoint relative=\"0.5000001\"/><slicepoint relative=\"42\"/>"
                            "<slicepoint relative=\"0.25\" position=\"-7\"/><unknown/>"
                            "</slicetemplate>"));
    SliceTemplate t;
    QString error;
    QVERIFY2(SliceTemplate::load(path, &t, &error), qPrintable(error));
    QCOMPARE(t.points().size(), 5);
    QCOMPARE(t.fit(0, 1000, 1000), QList<int>({250, 500}));
    QVERIFY(t.fit(500, 500, 1000).isEmpty());

    // Without a loop there is nothing to put the layout on.
    Trevant empty;
    QVERIFY(!SliceTemplate::loadInto(&empty, path, nullptr, &error));
    QVERIFY(!error.isEmpty());
}

void TemplateTest::suffixRules() {
    QCOMPARE(SliceTemplate::withTemplateSuffix("/a/kit"), QString("/a/kit.qlst"));
    QCOMPARE(SliceTemplate::withTemplateSuffix("/a/kit.qlst"), QString("/a/kit.qlst"));
    QCOMPARE(SliceTemplate::withTemplateSuffix("/a/kit.QLST"), QString("/a/kit.QLST.qlst"));
    QVERIFY(SliceTemplate::isTemplatePath("/a/kit.qlst"));
    QVERIFY(!SliceTemplate::isTemplatePath("/a/kit.QLST"));
    QVERIFY(!SliceTemplate::isTemplatePath("/a/kit.wav"));
}
