#include "TimeStretchDialogTest.h"

#include "AudioEditFactory.h"
#include "DialogFixtures.h"
#include "EditableAudioCache.h"
#include "DialogTestUtil.h"
#include "TimeStretchUI.h"
#include "TestAudio.h"
#include "TimeStretcher.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cmath>

using namespace DialogTestUtil;

namespace {

template <typename T> T *child(QWidget *w, const char *name)
{
    T *c = w->findChild<T *>(QString::fromLatin1(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

QRadioButton *radio(QWidget *w, const char *name) { return child<QRadioButton>(w, name); }
QPushButton *saveButton(QWidget *w) { return child<QDialogButtonBox>(w, "buttonBox")->button(QDialogButtonBox::Ok); }
QPushButton *cancelButton(QWidget *w)
{
    return child<QDialogButtonBox>(w, "buttonBox")->button(QDialogButtonBox::Cancel);
}

QStringList renderedWavs() { return QDir(QDir::tempPath()).entryList({QStringLiteral("*.wav")}, QDir::Files); }

// The six rows as the radio buttons show them.
QStringList checkedRows(QWidget *w)
{
    QStringList names;
    for (QRadioButton *r : w->findChildren<QRadioButton *>()) {
        if (r->isChecked() && !r->objectName().contains("QualityPreset") && !r->objectName().contains("TimeStretch"))
            names << r->objectName();
    }
    names.sort();
    return names;
}

} // namespace

void TimeStretchDialogTest::init()
{
    for (const QString &f : renderedWavs())
        QFile::remove(QDir(QDir::tempPath()).filePath(f));
}

void TimeStretchDialogTest::formShowsWhatItShould()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.windowTitle(), QString("Time Stretch and Pitch Adjust"));
    QVERIFY(dlg.windowFlags() & Qt::Tool);
    QCOMPARE(saveButton(&dlg)->text(), QString("Save..."));
    QVERIFY(saveButton(&dlg)->isEnabled());
    auto *tabs = child<QTabWidget>(&dlg, "tabWidget");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QString("Tempo and Pitch"));
    QCOMPARE(tabs->tabText(1), QString("Advanced Settings"));
    QCOMPARE(tabs->tabText(2), QString("BPM Calculator"));
    QCOMPARE(child<QProgressBar>(&dlg, "progressBar")->value(), 0);
    QVERIFY(radio(&dlg, "radioButtonQualityPresetDefault")->isChecked());
    QVERIFY(!radio(&dlg, "radioButtonSmoothingOn")->isEnabled());
    for (int i = 0; i < 3; ++i) {
        tabs->setCurrentIndex(i);
        saveScreenshot(&dlg, QString("timestretch-tab%1").arg(i));
    }
}

void TimeStretchDialogTest::presetsAndSingleOptionsReachTheStretcher()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    TimeStretcher *ts = loop.slice->timeStretcher();

    radio(&dlg, "radioButtonQualityPresetHarmonic")->click();
    QCOMPARE(ts->transientsOption(), 0x200);
    QCOMPARE(ts->detectorOption(), 0x0);
    QCOMPARE(ts->windowOption(), 0x200000);
    QCOMPARE(ts->smoothingOption(), 0x0);
    QCOMPARE(ts->formantOption(), 0x1000000);
    QCOMPARE(ts->channelsOption(), 0x0);
    QCOMPARE(checkedRows(&dlg), (QStringList{"radioButtonFormantPreservationYes", "radioButtonSmoothingOff",
                                              "radioButtonStereoProcessingStandard",
                                              "radioButtonTransientDetectorCompound",
                                              "radioButtonTransientsSmooth", "radioButtonWindowSmoother"}));
    QVERIFY(radio(&dlg, "radioButtonQualityPresetHarmonic")->isChecked());

    // A single choice changes the running stretcher without a rebuild and shows Custom.
    const int rebuilds = ts->rebuildCount();
    radio(&dlg, "radioButtonTransientsMixed")->click();
    QCOMPARE(ts->transientsOption(), 0x100);
    QCOMPARE(ts->rebuildCount(), rebuilds);
    QVERIFY(radio(&dlg, "radioButtonQualityPresetCustom")->isChecked());

    // The window size needs a new stretcher.
    radio(&dlg, "radioButtonWindowCrisper")->click();
    QCOMPARE(ts->windowOption(), 0x100000);
    QVERIFY(ts->rebuildCount() > rebuilds);
    radio(&dlg, "radioButtonStereoProcessingEnhancedFocus")->click();
    QCOMPARE(ts->channelsOption(), 0x10000000);
    radio(&dlg, "radioButtonTransientDetectorSoft")->click();
    QCOMPARE(ts->detectorOption(), 0x800);

    // Drums resets all six rows, and stays Drums.
    radio(&dlg, "radioButtonQualityPresetDrums")->click();
    QCOMPARE(checkedRows(&dlg), (QStringList{"radioButtonFormantPreservationNo", "radioButtonSmoothingOff",
                                              "radioButtonStereoProcessingStandard",
                                              "radioButtonTransientDetectorPercussive",
                                              "radioButtonTransientsCrisp", "radioButtonWindowCrisper"}));
    QCOMPARE(ts->transientsOption(), 0x0);
    QCOMPARE(ts->detectorOption(), 0x400);
    QCOMPARE(ts->windowOption(), 0x100000);
    QCOMPARE(ts->formantOption(), 0x0);
    QCOMPARE(ts->channelsOption(), 0x0);
    QVERIFY(radio(&dlg, "radioButtonQualityPresetDrums")->isChecked());
    QCOMPARE(dlg.selectedOptions(), 0x400 | 0x100000);

    // Custom changes nothing.
    radio(&dlg, "radioButtonQualityPresetCustom")->click();
    QCOMPARE(ts->detectorOption(), 0x400);
    QCOMPARE(ts->windowOption(), 0x100000);
}

void TimeStretchDialogTest::tempoAndPitchFollowBothWays()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    QVERIFY(loop.slice->isStretchEnabled());
    auto *original = child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM");
    auto *target = child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM");
    auto *pitch = child<QSpinBox>(&dlg, "spinBoxPitchAdjustSemitones");

    original->setValue(100.0);
    QCOMPARE(loop.slice->bpm(), 100.0);
    QCOMPARE(loop.slice->timeStretchRatio(), 1.0);
    QCOMPARE(target->value(), 100.0);

    target->setValue(50.0);
    QCOMPARE(loop.slice->timeStretchRatio(), 2.0);
    QCOMPARE(loop.slice->effectiveBpm(), 50.0);

    pitch->setValue(12);
    QCOMPARE(loop.slice->pitch(), 12);
    QCOMPARE(loop.slice->timeStretcher()->pitch(), 12);

    // Changes made elsewhere (the quick controls) show up here.
    loop.slice->setPitch(-5);
    QCOMPARE(pitch->value(), -5);
    loop.slice->setTimeStretchRatio(0.5, 200);
    QCOMPARE(target->value(), 200.0);
    loop.slice->setBpm(90.0);
    QCOMPARE(original->value(), 90.0);

    // Restore Defaults: no pitch, no stretch, Default preset.
    radio(&dlg, "radioButtonQualityPresetDrums")->click();
    child<QDialogButtonBox>(&dlg, "buttonBox")->button(QDialogButtonBox::RestoreDefaults)->click();
    QCOMPARE(loop.slice->pitch(), 0);
    QCOMPARE(loop.slice->timeStretchRatio(), 1.0);
    QCOMPARE(target->value(), 90.0);
    QVERIFY(radio(&dlg, "radioButtonQualityPresetDefault")->isChecked());
    QCOMPARE(loop.slice->timeStretcher()->detectorOption(), 0);
}

void TimeStretchDialogTest::bpmCalculatorFromLoopedRegion()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 8.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    auto *calc = child<QPushButton>(&dlg, "pushButtonCalculateBPMFromLoop");
    QVERIFY(!calc->isEnabled());

    // An 8-beat region of exactly 4 seconds.
    const int start = 2 * 44100;
    loop.slice->setLoop(start, start + 4 * 44100 * 2);
    loop.slice->setLoopMode(2);
    QVERIFY(calc->isEnabled());
    QVERIFY(radio(&dlg, "radioButtonTimeStretchCurrentLoop")->isChecked());
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->setValue(100.0);
    child<QSpinBox>(&dlg, "spinBoxLoopLengthBeats")->setValue(8);
    calc->click();
    QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->value(), 120.0);
    QCOMPARE(loop.slice->bpm(), 120.0);
    QCOMPARE(child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM")->value(), 120.0);
    QCOMPARE(loop.slice->timeStretchRatio(), 1.0);

    // Four beats over the same region: 60 BPM.
    child<QSpinBox>(&dlg, "spinBoxLoopLengthBeats")->setValue(4);
    calc->click();
    QCOMPARE(loop.slice->bpm(), 60.0);
    QVERIFY(std::isfinite(loop.slice->timeStretchRatio()) && loop.slice->timeStretchRatio() > 0.0);
}

void TimeStretchDialogTest::loopingOffDisablesRegionChoices()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    loop.slice->setLoop(0, 44100);
    loop.slice->setLoopMode(2);
    QVERIFY(radio(&dlg, "radioButtonTimeStretchCurrentLoop")->isEnabled());
    QVERIFY(child<QSpinBox>(&dlg, "spinBoxLoopLengthBeats")->isEnabled());

    loop.slice->setLoopMode(0);
    loop.slice->setLoop(0, 44100); // loopChanged with looping off
    QVERIFY(!radio(&dlg, "radioButtonTimeStretchCurrentLoop")->isEnabled());
    QVERIFY(!child<QSpinBox>(&dlg, "spinBoxLoopLengthBeats")->isEnabled());
    QVERIFY(!child<QPushButton>(&dlg, "pushButtonCalculateBPMFromLoop")->isEnabled());
    QVERIFY(radio(&dlg, "radioButtonTimeStretchEntireFile")->isChecked());
}

void TimeStretchDialogTest::previewOnlyPreviews()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    auto *preview = child<QPushButton>(&dlg, "pushButtonPreview");

    QTest::mouseClick(preview, Qt::LeftButton);
    QVERIFY(loop.slice->isPlaying());
    QVERIFY(!dlg.isRendering());
    QVERIFY(dlg.isVisible());
    QTest::qWait(50);
    QCOMPARE(rendered.count(), 0);
    QVERIFY(renderedWavs().isEmpty());

    // Playback stopped elsewhere unchecks the button without a command coming back.
    loop.slice->play(false, 0, 0);
    QVERIFY(!preview->isChecked());
    loop.slice->play(true, 0, 0);
    QVERIFY(preview->isChecked());
    QTest::mouseClick(preview, Qt::LeftButton);
    QVERIFY(!loop.slice->isPlaying());
}

void TimeStretchDialogTest::tempoZeroNeverGivesZeroRatioOrNaN()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    auto *original = child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM");
    auto *target = child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM");
    original->setValue(110.0);

    loop.slice->setBpm(0.0); // "no tempo", as the sample properties allow
    QCOMPARE(original->value(), 110.0);
    dlg.refresh();
    dlg.resetToDefaults();
    target->setValue(150.0);
    loop.slice->setTimeStretchRatio(1.25, 0);
    dlg.bpmCalculationFinished();
    for (double v : {original->value(), target->value(), loop.slice->timeStretchRatio(), loop.slice->effectiveBpm()})
        QVERIFY2(std::isfinite(v), qPrintable(QString::number(v)));
    QVERIFY(loop.slice->timeStretchRatio() > 0.0);
    QVERIFY(target->value() >= 30.0);
}

void TimeStretchDialogTest::refreshGivesNewLoopTheShownOptions()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 1.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    radio(&dlg, "radioButtonQualityPresetDrums")->click();

    const QString second = loop.dir.filePath("second.wav");
    QVERIFY(TestAudio::writeWav(second, 2, 44100, 44100, TestAudio::sine(220.0, 44100)));
    QVERIFY(loop.slicer->slotLoadLoop(second));
    const SlicePtr next = loop.slicer->currentSlice();
    QVERIFY(next && next != loop.slice);
    dlg.refresh();
    QVERIFY(next->isStretchEnabled());
    QCOMPARE(next->timeStretcher()->detectorOption(), 0x400);
    QCOMPARE(next->timeStretcher()->windowOption(), 0x100000);
    // The new loop's signals reach the window, the old loop's no longer do.
    next->setPitch(3);
    QCOMPARE(child<QSpinBox>(&dlg, "spinBoxPitchAdjustSemitones")->value(), 3);
    loop.slice->setPitch(-7);
    QCOMPARE(child<QSpinBox>(&dlg, "spinBoxPitchAdjustSemitones")->value(), 3);
}

void TimeStretchDialogTest::saveRendersAndLoadsAsNewLoop()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    const int originalLength = loop.slice->length();
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    connect(&dlg, &TimeStretchUI::temporaryFileRendered, loop.slicer.get(), &Trevant::slotLoadLoop);
    dlg.refresh();
    dlg.show();
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->setValue(120.0);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM")->setValue(80.0); // ratio 1.5
    child<QSpinBox>(&dlg, "spinBoxPitchAdjustSemitones")->setValue(12);
    QCOMPARE(loop.slice->timeStretchRatio(), 1.5);

    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    QSignalSpy complete(loop.slice.data(), &Slice::savingComplete);
    QSignalSpy progress(loop.slice.data(), &Slice::savingProgress);
    QTest::mouseClick(saveButton(&dlg), Qt::LeftButton);
    QVERIFY(dlg.isRendering());
    QVERIFY(!saveButton(&dlg)->isEnabled()); // no second render on top
    QVERIFY(rendered.wait(60000));
    QCOMPARE(complete.count(), 1);
    QVERIFY(progress.count() > 0);
    QVERIFY(!dlg.isVisible());
    QVERIFY(!dlg.isRendering());

    const QString file = rendered.first().first().toString();
    QVERIFY(QFileInfo(file).absolutePath() == QFileInfo(QDir::tempPath()).absoluteFilePath());
    int rate = 0;
    const auto out = readStereo(file, &rate);
    QCOMPARE(rate, 44100);
    const long frames = long(out.size() / 2);
    QVERIFY2(std::abs(frames - std::lround(originalLength / 2 * 1.5)) <= 1024, qPrintable(QString::number(frames)));
    const double f = dominantFrequency(out, rate, 0, size_t(frames / 4), size_t(3 * frames / 4));
    QVERIFY2(std::abs(f - 880.0) < 5.0, qPrintable(QString::number(f)));

    // The main window opens it as the new loop.
    const SlicePtr next = loop.slicer->currentSlice();
    QVERIFY(next && next != loop.slice);
    QCOMPARE(next->fileName(), file);
    QCOMPARE(next->length(), int(out.size()));
    QVERIFY(dlg.renderedFiles().contains(file));
}

void TimeStretchDialogTest::saveRendersOnlyTheLoopedRegion()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 4.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    loop.slice->setLoop(44100, 44100 + 2 * 44100); // one second
    loop.slice->setLoopMode(2);
    QVERIFY(radio(&dlg, "radioButtonTimeStretchCurrentLoop")->isChecked());
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->setValue(120.0);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM")->setValue(60.0); // ratio 2
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    saveButton(&dlg)->click();
    QVERIFY(rendered.wait(60000));
    const auto out = readStereo(rendered.first().first().toString());
    QVERIFY2(std::abs(long(out.size() / 2) - 2 * 44100) <= 1024, qPrintable(QString::number(out.size() / 2)));

    // Entire File renders the whole four seconds.
    dlg.refresh();
    dlg.show();
    radio(&dlg, "radioButtonTimeStretchEntireFile")->setChecked(true);
    saveButton(&dlg)->click();
    QVERIFY(rendered.wait(60000));
    const auto whole = readStereo(rendered.last().first().toString());
    QVERIFY(std::abs(long(whole.size() / 2) - 8 * 44100) <= 1024);
}

void TimeStretchDialogTest::saveRendersTheLoopAsItPlaysReversed()
{
    // One second of 300 Hz, then one of 600 Hz; reversed, the 600 Hz comes first.
    LoadedLoop loop;
    loop.path = loop.dir.filePath("updown.wav");
    QVERIFY(TestAudio::writeWav(loop.path, 2, 44100, 2 * 44100, [](long long f, int) {
        return float(0.5 * std::sin(2.0 * M_PI * (f < 44100 ? 300.0 : 600.0) * double(f) / 44100.0));
    }));
    loop.slicer = std::make_unique<Trevant>();
    QVERIFY(loop.slicer->slotLoadLoop(loop.path));
    loop.slice = loop.slicer->currentSlice();
    QVERIFY(QTest::qWaitFor([&] { return loop.slice->isLoadingComplete(); }, 20000));
    loop.slice->reverse();
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->setValue(120.0);
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    saveButton(&dlg)->click();
    QVERIFY(rendered.wait(60000));
    const auto out = readStereo(rendered.first().first().toString());
    const size_t n = out.size() / 2;
    QVERIFY(std::abs(long(n) - 2 * 44100) <= 1024);
    QVERIFY(std::abs(dominantFrequency(out, 44100, 0, n / 16, 7 * n / 16) - 600.0) < 5.0);
    QVERIFY(std::abs(dominantFrequency(out, 44100, 1, 9 * n / 16, 15 * n / 16) - 300.0) < 5.0);
}

void TimeStretchDialogTest::saveRendersTheLoopWithItsEdits()
{
    // The second of two seconds muted: the saved file is silent where the loop is.
    EditableAudioCache::installInLoopModel();
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 2.0));
    loop.slice->setEditMode(true);
    const auto editable = loop.slice->cache().objectCast<EditableAudioCache>();
    QVERIFY(editable);
    editable->addEdit(AudioEditFactory::createEdit(TypeMute, -1, 2 * 44100, 4 * 44100, editable));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    saveButton(&dlg)->click();
    QVERIFY(rendered.wait(60000));
    const auto out = readStereo(rendered.first().first().toString());
    const size_t n = out.size() / 2;
    QVERIFY(std::abs(long(n) - 2 * 44100) <= 1024);
    const auto peak = [&](size_t from, size_t to) {
        float p = 0.0f;
        for (size_t i = 2 * from; i < 2 * to; ++i)
            p = std::max(p, std::fabs(out[i]));
        return p;
    };
    QVERIFY(peak(n / 8, 3 * n / 8) > 0.3f);
    QVERIFY2(peak(5 * n / 8, 7 * n / 8) < 0.01f, qPrintable(QString::number(peak(5 * n / 8, 7 * n / 8))));
}

void TimeStretchDialogTest::cancelHalfwayLeavesNothingAndLoopUnchanged()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 30.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    dlg.show();
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxOriginalBPM")->setValue(120.0);
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM")->setValue(100.0);
    child<QSpinBox>(&dlg, "spinBoxPitchAdjustSemitones")->setValue(-3);
    const int length = loop.slice->length();
    const double ratio = loop.slice->timeStretchRatio();
    const double bpm = loop.slice->bpm();
    std::vector<float> before;
    for (int i = 0; i < length; i += 9973)
        before.push_back(loop.slice->sampleAt(i));

    QSignalSpy cancelled(loop.slice.data(), &Slice::savingCancelled);
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    auto *bar = child<QProgressBar>(&dlg, "progressBar");
    saveButton(&dlg)->click();
    QVERIFY(QTest::qWaitFor([&] { return bar->value() >= bar->maximum() / 2; }, 60000));
    QVERIFY(renderedWavs().size() == 1); // the file being written
    QTest::mouseClick(cancelButton(&dlg), Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
    QVERIFY(cancelled.wait(30000));
    QCOMPARE(rendered.count(), 0);
    QVERIFY2(renderedWavs().isEmpty(), qPrintable(renderedWavs().join(",")));

    QCOMPARE(loop.slicer->currentSlice(), loop.slice);
    QCOMPARE(loop.slice->length(), length);
    QCOMPARE(loop.slice->timeStretchRatio(), ratio);
    QCOMPARE(loop.slice->pitch(), -3);
    QCOMPARE(loop.slice->bpm(), bpm);
    QCOMPARE(loop.slice->fileName(), loop.path);
    std::vector<float> after;
    for (int i = 0; i < length; i += 9973)
        after.push_back(loop.slice->sampleAt(i));
    QVERIFY(before == after);
    QVERIFY(!loop.slice->isCancelRequested()); // a later export is not cancelled at once

    // Opened again, the window saves again.
    dlg.refresh();
    QVERIFY(saveButton(&dlg)->isEnabled());
}

void TimeStretchDialogTest::saveFailureIsShownAndRecoverable()
{
    LoadedLoop loop;
    QVERIFY(loop.load(440.0, 1.0));
    TimeStretchUI dlg(nullptr, loop.slicer.get());
    dlg.refresh();
    dlg.show();
    QSignalSpy cancelled(loop.slice.data(), &Slice::savingCancelled);
    QSignalSpy rendered(&dlg, &TimeStretchUI::temporaryFileRendered);
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", "/proc/no-such-folder");
    saveButton(&dlg)->click();
    const bool gotCancelled = cancelled.wait(30000);
    qputenv("TMPDIR", tmp);
    QVERIFY(gotCancelled);
    QCOMPARE(rendered.count(), 0);
    QVERIFY(dlg.isVisible());
    QCOMPARE(child<QLabel>(&dlg, "labelStatus")->text(), QString("Saving failed"));
    QMessageBox *box = dlg.findChild<QMessageBox *>();
    QVERIFY(box && box->isVisible());
    QVERIFY(box->text().contains("could not be saved"));
    saveScreenshot(box, "timestretch-savefailed");
    box->accept();
    QVERIFY(saveButton(&dlg)->isEnabled());
    QCOMPARE(loop.slicer->currentSlice(), loop.slice);
}

void TimeStretchDialogTest::withoutLoopNothingHappens()
{
    Trevant slicer;
    TimeStretchUI dlg(nullptr, &slicer);
    dlg.refresh();
    QVERIFY(!saveButton(&dlg)->isEnabled());
    QVERIFY(!child<QPushButton>(&dlg, "pushButtonCalculateBPMFromLoop")->isEnabled());
    dlg.accept();
    QVERIFY(!dlg.isRendering());
    radio(&dlg, "radioButtonQualityPresetHarmonic")->click();
    radio(&dlg, "radioButtonTransientsMixed")->click();
    QVERIFY(radio(&dlg, "radioButtonQualityPresetCustom")->isChecked());
    child<QDoubleSpinBox>(&dlg, "doubleSpinBoxNewBPM")->setValue(140.0);
    child<QPushButton>(&dlg, "pushButtonPreview")->click();
    dlg.calculateBPMFromLoop();
    QVERIFY(renderedWavs().isEmpty());
}
