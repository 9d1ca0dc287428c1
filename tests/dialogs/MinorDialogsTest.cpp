#include "MinorDialogsTest.h"

#include "AboutUI.h"
#include "AdvancedSlicingUI.h"
#include "DialogFixtures.h"
#include "DialogTestUtil.h"
#include "SamplePropertiesUI.h"
#include "Settings.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextBrowser>
#include <QUndoStack>
#include <QtTest>

namespace {

template <typename T> T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

QString text(QWidget *w, const char *name) { return child<QLabel>(w, name)->text(); }
QPushButton *button(QWidget *w, QDialogButtonBox::StandardButton which)
{
    return child<QDialogButtonBox>(w, "buttonBox")->button(which);
}

const QStringList kSlicingKeys = {"AdvancedSlicingTempo", "AdvancedSlicingInterval", "AdvancedSlicingTimeSigNumer",
                                  "AdvancedSlicingTimeSigDenom", "AdvancedSlicingSliceByBeats"};

} // namespace

void MinorDialogsTest::init()
{
    for (const QString &k : kSlicingKeys)
        Settings::instance().set(k, QString());
}

void MinorDialogsTest::fileNameElision()
{
    const QString forty = "/music/breaks/" + QString(22, 'a') + ".wav";
    QCOMPARE(forty.size(), 40);
    QCOMPARE(SamplePropertiesUI::elidedFileName(forty), forty);
    const QString fortyOne = "/music/breaks/" + QString(23, 'b') + ".wav";
    const QString shown = SamplePropertiesUI::elidedFileName(fortyOne);
    QCOMPARE(shown, fortyOne.left(10) + "..." + fortyOne.right(30));
    QCOMPARE(shown.size(), 43);
}

void MinorDialogsTest::durationFormat()
{
    QCOMPARE(SamplePropertiesUI::formatDuration(61.5), QString("01m:01s:500ms"));
    QCOMPARE(SamplePropertiesUI::formatDuration(0.0), QString("00m:00s:000ms"));
    QCOMPARE(SamplePropertiesUI::formatDuration(0.007), QString("00m:00s:007ms"));
    QCOMPARE(SamplePropertiesUI::formatDuration(59.9996), QString("01m:00s:000ms"));
    QCOMPARE(SamplePropertiesUI::formatDuration(600.25), QString("10m:00s:250ms"));
}

void MinorDialogsTest::samplePropertiesShowsTheLoop()
{
    LoadedLoop loop;
    // A 48 kHz file: the shown rate is the file's own, not the engine's.
    QVERIFY(loop.load(440.0, 61.5, 48000, "a rather long file name for the breakbeat.wav"));
    SamplePropertiesUI dlg(nullptr, loop.slice);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    DialogTestUtil::saveScreenshot(&dlg, "sampleproperties");
    QCOMPARE(dlg.windowTitle(), QString("Sample Properties"));
    QCOMPARE(text(&dlg, "labelFilename"), SamplePropertiesUI::elidedFileName(loop.path));
    QVERIFY(text(&dlg, "labelFilename").contains("..."));
    QCOMPARE(text(&dlg, "labelDuration"), QString("01m:01s:500ms"));
    QCOMPARE(text(&dlg, "labelSampleRate"), QString("48000 Hz"));
    // Samples per channel: 61.5 s at 48 kHz, not the interleaved count of both channels.
    QCOMPARE(text(&dlg, "labelNumSamples"), QString("2952000 samples"));
    QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->value(), loop.slice->bpm());
    // The detection's confidence and fit, as stored with the loop.
    TempoAnalysis analysis;
    analysis.detectedBpm = 125.0;
    analysis.confidence = 0.625;
    analysis.bars = 8;
    analysis.beatsPerBar = 4;
    loop.slice->setTempoAnalysis(analysis);
    SamplePropertiesUI detected(nullptr, loop.slice);
    QCOMPARE(text(&detected, "labelTempoConfidence"),
             QString("Detected 125.00 BPM, confidence 0.63\n8 bars at 125.00 BPM"));

    // A mono file of 1.5 s at 44.1 kHz has 66150 samples and lasts 1.5 s, however the
    // loop holds it.
    LoadedLoop mono;
    QVERIFY(mono.load(440.0, 1.5, 44100, "mono.wav", 1));
    SamplePropertiesUI monoDlg(nullptr, mono.slice);
    QCOMPARE(text(&monoDlg, "labelNumSamples"), QString("66150 samples"));
    QCOMPARE(text(&monoDlg, "labelDuration"), QString("00m:01s:500ms"));
}

void MinorDialogsTest::samplePropertiesTempoButtons()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 1.0));
    SamplePropertiesUI dlg(nullptr, loop.slice);
    auto *tempo = child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo");
    tempo->setValue(200.0);
    child<QPushButton>(&dlg, "pushButtonDouble")->click();
    QCOMPARE(tempo->value(), 300.0);
    tempo->setValue(0.5);
    child<QPushButton>(&dlg, "pushButtonHalve")->click();
    QCOMPARE(tempo->value(), 0.25);
    QCOMPARE(tempo->text(), QLocale().toString(0.25, 'f', 2));
    tempo->setValue(97.0);
    child<QPushButton>(&dlg, "pushButtonHalve")->click();
    QCOMPARE(tempo->value(), 48.5);
}

void MinorDialogsTest::samplePropertiesOkAndCancel()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 1.0));
    loop.slice->setBpm(100.0);
    QSignalSpy changed(loop.slice.data(), &Slice::bpmChanged);
    {
        SamplePropertiesUI dlg(nullptr, loop.slice);
        child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->setValue(87.5);
        button(&dlg, QDialogButtonBox::Cancel)->click();
    }
    QCOMPARE(loop.slice->bpm(), 100.0);
    QCOMPARE(changed.count(), 0);
    {
        SamplePropertiesUI dlg(nullptr, loop.slice);
        child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->setValue(87.5);
        button(&dlg, QDialogButtonBox::Ok)->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }
    QCOMPARE(loop.slice->bpm(), 87.5);
    QCOMPARE(changed.count(), 1);
    {
        // 0 is allowed and means "no tempo"; nothing downstream may divide by it.
        SamplePropertiesUI dlg(nullptr, loop.slice);
        child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->setValue(0.0);
        button(&dlg, QDialogButtonBox::Ok)->click();
    }
    QCOMPARE(loop.slice->bpm(), 0.0);
    {
        // Ok on a box left as it was keeps a tempo finer than its two decimals.
        loop.slice->setBpm(123.4567);
        changed.clear();
        SamplePropertiesUI dlg(nullptr, loop.slice);
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->value(), 123.46);
        button(&dlg, QDialogButtonBox::Ok)->click();
        QCOMPARE(loop.slice->bpm(), 123.4567);
        QCOMPARE(changed.count(), 0);
        loop.slice->setBpm(0.0);
    }
    QUndoStack stack;
    AdvancedSlicingUI slicing(nullptr, loop.slicer.get(), &stack);
    QCOMPARE(child<QDoubleSpinBox>(&slicing, "doubleSpinBoxTempo")->value(), 120.0);
}

void MinorDialogsTest::samplePropertiesWithoutLoop()
{
    SamplePropertiesUI dlg(nullptr, SlicePtr());
    QCOMPARE(text(&dlg, "labelFilename"), QString("Filename"));
    QCOMPARE(text(&dlg, "labelSampleRate"), QString("44100 Hz"));
    dlg.show();
    dlg.accept();
    QVERIFY(dlg.isVisible()); // nothing to store: Ok does nothing
    QVERIFY(!button(&dlg, QDialogButtonBox::Ok)->isEnabled());
    child<QPushButton>(&dlg, "pushButtonOpenLocation")->click(); // not connected, no crash
}

void MinorDialogsTest::advancedSlicingLoadsSettings()
{
    Settings &s = Settings::instance();
    {
        // Nothing stored: interval 4, 4/4, by beats.
        AdvancedSlicingUI dlg(nullptr, nullptr, nullptr);
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->value(), 4.0);
        QCOMPARE(child<QSpinBox>(&dlg, "spinBoxTimeSigNumer")->value(), 4);
        QCOMPARE(child<QSpinBox>(&dlg, "spinBoxTimeSigDenom")->value(), 4);
        QVERIFY(child<QRadioButton>(&dlg, "radioButtonBeats")->isChecked());
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->value(), 120.0);
    }
    // A missing denominator alone loads as 4 while the numerator parses; a bad interval is 4.
    s.set("AdvancedSlicingTimeSigNumer", "3");
    s.set("AdvancedSlicingInterval", "lots");
    s.set("AdvancedSlicingSliceByBeats", "0");
    s.set("AdvancedSlicingTempo", "99"); // never read back
    {
        AdvancedSlicingUI dlg(nullptr, nullptr, nullptr);
        QCOMPARE(child<QSpinBox>(&dlg, "spinBoxTimeSigNumer")->value(), 3);
        QCOMPARE(child<QSpinBox>(&dlg, "spinBoxTimeSigDenom")->value(), 4);
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->value(), 4.0);
        QVERIFY(child<QRadioButton>(&dlg, "radioButtonBars")->isChecked());
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->value(), 120.0);
    }
    // With a loop, the tempo is the loop's effective tempo.
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 1.0));
    loop.slice->setBpm(100.0);
    loop.slice->setTimeStretchRatio(0.8, 125);
    AdvancedSlicingUI dlg(nullptr, loop.slicer.get(), nullptr);
    QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->value(), 125.0);
}

void MinorDialogsTest::advancedSlicingBarsPushesUndoableCommand()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 8.0)); // 4 bars of 4/4 at 120 BPM
    QUndoStack stack;
    AdvancedSlicingUI dlg(nullptr, loop.slicer.get(), &stack);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(dlg.isModal());
    child<QRadioButton>(&dlg, "radioButtonBars")->setChecked(true);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->setValue(120.0);
    child<QSpinBox>(&dlg, "spinBoxTimeSigNumer")->setValue(4);
    child<QSpinBox>(&dlg, "spinBoxTimeSigDenom")->setValue(4);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->setValue(1.0);
    DialogTestUtil::saveScreenshot(&dlg, "advancedslicing");
    QTest::mouseClick(button(&dlg, QDialogButtonBox::Ok), Qt::LeftButton);

    QCOMPARE(stack.count(), 1);
    QCOMPARE(stack.text(0), QString("slice every 1 bars"));
    const QList<int> points = loop.slicer->slicePoints();
    QVERIFY(points.size() >= 3);
    QVERIFY(points.contains(2 * 88200)); // bar 2 starts after 2 s
    stack.undo();
    QVERIFY(loop.slicer->slicePoints().isEmpty());
    stack.redo();
    QCOMPARE(loop.slicer->slicePoints(), points);

    Settings &s = Settings::instance();
    QCOMPARE(s.value("AdvancedSlicingTempo"), QString("120"));
    QCOMPARE(s.value("AdvancedSlicingInterval"), QString("1"));
    QCOMPARE(s.value("AdvancedSlicingTimeSigNumer"), QString("4"));
    QCOMPARE(s.value("AdvancedSlicingTimeSigDenom"), QString("4"));
    QCOMPARE(s.value("AdvancedSlicingSliceByBeats"), QString("0"));
}

void MinorDialogsTest::advancedSlicingBeatsAndActionText()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 4.0));
    QUndoStack stack;
    AdvancedSlicingUI dlg(nullptr, loop.slicer.get(), &stack);
    child<QRadioButton>(&dlg, "radioButtonBeats")->setChecked(true);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->setValue(0.25);
    QCOMPARE(text(&dlg, "labelSlicingAction"), QString("Slicing every 0.25 beats."));
    child<QRadioButton>(&dlg, "radioButtonBars")->setChecked(true);
    QCOMPARE(text(&dlg, "labelSlicingAction"), QString("Slicing every 0.25 bars."));
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->setValue(1.0);
    QCOMPARE(text(&dlg, "labelSlicingAction"), QString("Slicing every bar."));
    child<QRadioButton>(&dlg, "radioButtonBeats")->setChecked(true);
    QCOMPARE(text(&dlg, "labelSlicingAction"), QString("Slicing every beat."));
    child<QRadioButton>(&dlg, "radioButtonBeats")->setChecked(true);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxTempo")->setValue(123.456);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxInterval")->setValue(2.0);
    dlg.accept();
    QCOMPARE(stack.text(0), QString("slice every 2 beats"));
    QVERIFY(!loop.slicer->slicePoints().isEmpty());
    QCOMPARE(Settings::instance().value("AdvancedSlicingTempo"), QString("123.46"));
    QCOMPARE(Settings::instance().value("AdvancedSlicingSliceByBeats"), QString("1"));

    // Cancel pushes nothing and stores nothing.
    Settings::instance().set("AdvancedSlicingInterval", "7");
    AdvancedSlicingUI other(nullptr, loop.slicer.get(), &stack);
    child<QDoubleSpinBox>(&other, "doubleSpinBoxInterval")->setValue(3.0);
    button(&other, QDialogButtonBox::Cancel)->click();
    QCOMPARE(stack.count(), 1);
    QCOMPARE(Settings::instance().value("AdvancedSlicingInterval"), QString("7"));
}

// The shortest transient slice is chosen in the dialog and kept in the settings; Ok with
// transients ticked asks for slicing at them instead of slicing by the interval.
void MinorDialogsTest::advancedSlicingShortestTransientSlice()
{
    Settings &s = Settings::instance();
    for (const char *bad : {"", "-5", "nan", "lots"}) {
        s.set("transient_min_length_ms", bad);
        QCOMPARE(s.transientMinLengthMs(), Settings::defaultTransientMinLengthMs);
    }
    s.set("transient_min_length_ms", "1e9");
    QCOMPARE(s.transientMinLengthMs(), Settings::maxTransientMinLengthMs);
    s.set("transient_min_length_ms", QString());

    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    QUndoStack stack;
    {
        AdvancedSlicingUI dlg(nullptr, loop.slicer.get(), &stack);
        auto *transients = child<QGroupBox>(&dlg, "groupBoxTransients");
        auto *intervals = child<QGroupBox>(&dlg, "groupBox");
        QVERIFY(intervals->isChecked() && !transients->isChecked());
        QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxMinSliceLength")->value(), 30.0);
        transients->setChecked(true);
        QVERIFY(!intervals->isChecked());
        child<QDoubleSpinBox>(&dlg, "doubleSpinBoxMinSliceLength")->setValue(120.0);
        QCOMPARE(text(&dlg, "labelSlicingAction"), QString("Slicing at transients, no slice shorter than 120 ms."));
        QSignalSpy requested(&dlg, &AdvancedSlicingUI::sliceAtTransientsRequested);
        button(&dlg, QDialogButtonBox::Ok)->click();
        QCOMPARE(requested.count(), 1);
        QCOMPARE(stack.count(), 0);
        QCOMPARE(s.transientMinLengthMs(), 120.0);
    }
    AdvancedSlicingUI again(nullptr, loop.slicer.get(), &stack);
    QCOMPARE(child<QDoubleSpinBox>(&again, "doubleSpinBoxMinSliceLength")->value(), 120.0);
    s.set("transient_min_length_ms", QString());
}

void MinorDialogsTest::aboutBox()
{
    AboutUI dlg(nullptr);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    DialogTestUtil::saveScreenshot(&dlg, "about");
    QCOMPARE(dlg.size(), QSize(320, 338));
    QCOMPARE(dlg.minimumSize(), dlg.maximumSize());
    QVERIFY(!(dlg.windowFlags() & Qt::WindowContextHelpButtonHint));
    QCOMPARE(text(&dlg, "labelVersion"), QString("Version 1.4.0.6"));
    const QString year = QString::number(QDate::currentDate().year());
    QVERIFY(text(&dlg, "label_3").contains(year));
    QVERIFY(year == "2015" || !text(&dlg, "label_3").contains("2015"));
    QVERIFY(child<QLabel>(&dlg, "labelWeb")->openExternalLinks());
    QVERIFY(!child<QLabel>(&dlg, "label")->pixmap(Qt::ReturnByValue).isNull());

    // The credits name every library the program links, and the notices travel with it.
    const QString about = child<QTextBrowser>(&dlg, "textBrowser")->toPlainText();
    const QString notices = AboutUI::licenceNotices();
    for (const char *lib : {"Rubber Band", "Qt", "PortAudio", "PortMidi", "libsndfile", "FFmpeg", "SpeexDSP", "libFLAC"}) {
        QVERIFY2(about.contains(lib), lib);
        QVERIFY2(notices.contains(lib), lib);
    }
    QVERIFY(about.contains("THIRD-PARTY-NOTICES.txt"));
    QVERIFY(!about.contains("SoundTouch")); // not linked

    // The link shows the notices in place, and Back returns.
    auto *browser = child<QTextBrowser>(&dlg, "textBrowser");
    emit browser->anchorClicked(QUrl("#notices"));
    QVERIFY(browser->toPlainText().contains("Permission is hereby granted"));
    emit browser->anchorClicked(QUrl("#credits"));
    QVERIFY(browser->toPlainText().contains("Rubber Band"));

    QSignalSpy finished(&dlg, &QDialog::finished);
    button(&dlg, QDialogButtonBox::Close)->click();
    QCOMPARE(finished.count(), 1);
}
