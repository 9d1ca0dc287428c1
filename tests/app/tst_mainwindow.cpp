// The application as a person uses it: a real Quillory object with its real main
// window, engine (on ALSA's file device) and slicer, driven through actions, keys,
// drops and file-open events.
#include "WorkerSafeTest.h"
#include "AudioEdit.h"
#include "AudioEditItem.h"
#include "DarkTheme.h"
#include "ExportKitUI.h"
#include "HitLoopFixture.h"
#include "OnsetAnalysisService.h"
#include "OnsetDetector.h"
#include "ProjectFile.h"
#include "Quillory.h"
#include "SampleRendererEditor.h"
#include "SampleRendererTrevant.h"
#include "AudioCache.h"
#include "AudioFile.h"
#include "EditableAudioCache.h"
#include "CueMarkers.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "SliceExporter.h"
#include "SliceTemplate.h"
#include "Slice.h"
#include "TestAudio.h"
#include "Trevant.h"
#include "TempoAlternativesWidget.h"
#include "TempoDetection.h"
#include "TimeStretchUI.h"
#include "TrevantUI.h"
#include "TransportBar.h"

#include <QDir>
#include <QComboBox>
#include <QFileDialog>
#include <QFileOpenEvent>
#include <QWindow>
#include <QLineEdit>
#include <QMenu>
#include <QSpinBox>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStyleOptionSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <QDesktopServices>
#include <QProcess>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <thread>

namespace {
QTemporaryDir *g_dir = nullptr;
QString g_loopPath;      // 4 s click train at 120 BPM, 44.1 kHz stereo
QString g_secondPath;    // 2 s sine, mono 48 kHz (no tempo)
QString g_hitsPath;      // 2 s of separated hits at known frames
constexpr int kLoopFrames = 4 * 44100;

// A click every half second: unmistakably 120 BPM to the tempo detector.
float click(long long f, int c)
{
    const long long period = 22050;
    const long long k = f % period;
    const float env = k < 400 ? float(std::exp(-double(k) / 80.0)) : 0.0f;
    return (c == 0 ? 0.8f : 0.6f) * env * float(std::sin(double(k) * 0.35));
}

// A drop as the desktop delivers it: the drag enters the window, then drops.
void dropFile(QWidget *target, const QString &path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

// A drag of the slider's handle as the mouse makes it: press on the handle, moves with
// the button held, release where the last move went.
QPoint sliderHandleCentre(QSlider *slider)
{
    QStyleOptionSlider opt;
    opt.initFrom(slider);
    opt.orientation = slider->orientation();
    opt.minimum = slider->minimum();
    opt.maximum = slider->maximum();
    opt.sliderPosition = slider->sliderPosition();
    opt.sliderValue = slider->value();
    opt.subControls = QStyle::SC_SliderHandle;
    return slider->style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, slider).center();
}

void moveWithButton(QWidget *w, QPoint pos)
{
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Closes the next modal message box and hands back its text.
void closeNextMessageBox(QString *text, QString *detail = nullptr)
{
    QTimer::singleShot(50, [text, detail] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            closeNextMessageBox(text, detail);
            return;
        }
        *text = box->text();
        if (detail)
            *detail = box->informativeText();
        box->done(QMessageBox::Ok);
    });
}

// Clicks button in the next modal message box and hands back its text.
void answerNextMessageBox(QMessageBox::StandardButton button, QString *text)
{
    QTimer::singleShot(50, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->button(button)) {
            answerNextMessageBox(button, text);
            return;
        }
        *text = box->text();
        box->button(button)->click();
    });
}

// Types path into the next file dialog and accepts it, as the Save/Choose button does.
void answerNextFileDialog(const QString &path, bool *asked = nullptr)
{
    QTimer::singleShot(50, [=] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerNextFileDialog(path, asked);
            return;
        }
        if (asked)
            *asked = true;
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (name)
            name->setText(path);
        static_cast<QDialog *>(dialog)->accept();
        if (dialog->isVisible())
            dialog->reject();
    });
}

// Types "song" into the open save dialog and accepts it, then answers No to any question
// about replacing a file, reporting the dialog's default suffix and the question.
void answerSaveDialog(QString *suffix, QString *question)
{
    auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
    if (!dialog) {
        QTimer::singleShot(50, [=] { answerSaveDialog(suffix, question); });
        return;
    }
    *suffix = dialog->defaultSuffix();
    auto refuse = std::make_shared<std::function<void(int)>>();
    *refuse = [=](int triesLeft) {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            *question = box->text();
            box->done(QMessageBox::No);
        } else if (triesLeft > 0) {
            QTimer::singleShot(50, [=] { (*refuse)(triesLeft - 1); });
        }
    };
    (*refuse)(40);
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (name) {
        name->clear();
        QTest::keyClicks(name, QStringLiteral("song"));
    }
    static_cast<QDialog *>(dialog)->accept(); // as the Save button does
    if (dialog->isVisible())
        dialog->reject();
}
} // namespace

// The sizes a widget is given, in order.
class ResizeLog : public QObject {
public:
    QList<QSize> sizes;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            sizes << static_cast<QResizeEvent *>(event)->size();
        return false;
    }
};

// Stands in for the desktop's viewer of file: URLs.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class MainWindowTest : public WorkerSafeTest {
    Q_OBJECT
public:
    explicit MainWindowTest(Quillory *app) : m_app(app) {}

private:
    Quillory *m_app;
    TrevantUI *w() const { return m_app->mainWindow(); }
    SlicePtr loop() const { return w()->slicer()->currentSlice(); }

private slots:
    // The window goes while the test logger still lives: its tempo thread, engine and
    // the fills it started all log on their way out.
    void cleanupTestCase()
    {
        m_app->shutDown();
        waitForWorkers();
    }

    void startsWithTheCommandLineFile()
    {
        QVERIFY(w());
        QVERIFY(loop());
        QCOMPARE(loop()->length(), 2 * kLoopFrames);
        QCOMPARE(w()->windowFilePath(), g_loopPath);
        QVERIFY(w()->form().toolBar->isEnabled());
        QVERIFY(w()->form().action8->isEnabled());
        QVERIFY(w()->form().frameQuickControls->isEnabled());
        QVERIFY(w()->form().actionQuickExport->isEnabled());
        QVERIFY(w()->form().actionSaveSlices->isEnabled());
        QVERIFY(w()->form().actionDragExport->isEnabled());
        QVERIFY(w()->form().actionEditMode->isEnabled());
    }

    void formLayoutAndMenus()
    {
        auto &ui = w()->form();
        QCOMPARE(w()->objectName(), QString("QuilloryMainWindow"));
        QStringList menus;
        for (QAction *a : ui.menubar->actions())
            menus << a->text();
        QCOMPARE(menus, (QStringList{"File", "Edit", "Slice", "Help"}));
        // Undo and redo lead the Edit menu, then a separator, then Effects.
        const QList<QAction *> edit = ui.menuEdit->actions();
        QVERIFY(edit.size() > 4);
        QVERIFY(edit.at(0)->text().startsWith("Undo"));
        QVERIFY(edit.at(1)->text().startsWith("Redo"));
        QVERIFY(edit.at(2)->isSeparator());
        QCOMPARE(edit.at(3), ui.menuEffects->menuAction());
        QVERIFY(!edit.contains(ui.actionEditPlaceholder));
        QCOMPARE(ui.toolBar->actions().size(), 11);
        // Slicing at transients sits with the equal slicings, in the tool bar and the menu.
        QCOMPARE(ui.toolBar->actions().indexOf(ui.actionSliceAtTransients),
                 ui.toolBar->actions().indexOf(ui.actionSlice16) + 1);
        QVERIFY(ui.menuSlice->actions().contains(ui.actionSliceAtTransients));
        QVERIFY(!ui.actionSliceAtTransients->icon().isNull());
        for (QAction *a : ui.toolBar->actions())
            QCOMPARE(ui.toolBar->widgetForAction(a)->size(), QSize(88, 76));
        QCOMPARE(ui.actionPlay->shortcut(), QKeySequence("Space"));
        QCOMPARE(ui.actionSliceAtCursor->toolTip(),
                 QString("Create a slice point at the current playback position. (Shortcut Key: S)"));
    }

    void tempoDetectionFeedsTheQuickControls()
    {
        QTRY_COMPARE_WITH_TIMEOUT(w()->form().stackedWidgetBpm->currentIndex(), 0, 30000);
        QVERIFY2(std::fabs(w()->form().doubleSpinBoxBpm->value() - 120.0) < 1.0,
                 qPrintable(QString::number(w()->form().doubleSpinBoxBpm->value())));
        // The detected value was shown without being sent back as a stretch request.
        QVERIFY(!loop()->isStretchEnabled());
    }

    // A finished detection is said in the status bar as well as shown in the tempo box,
    // but never in place of a notice about the file, which would go with the timed message.
    void tempoResultIsAnnouncedWithoutHidingANotice()
    {
        TempoDetection *detector = w()->slicer()->bpmDetector();
        QVERIFY(detector);
        w()->statusBar()->showMessage("Tempo Calculated: 97 BPM", 3000);
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        // Another loop's tempo is not left standing as if it were this one's.
        QCOMPARE(w()->statusBar()->currentMessage(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(w()->statusBar()->currentMessage().startsWith("Tempo Calculated: "), 30000);
        QVERIFY2(std::fabs(loop()->bpm() - 120.0) < 1.0, qPrintable(QString::number(loop()->bpm())));
        QCOMPARE(w()->statusBar()->currentMessage(), QString("Tempo Calculated: %1 BPM").arg(loop()->bpm(), 0, 'g'));
        QCOMPARE(w()->form().doubleSpinBoxBpm->value(), loop()->bpm());

        // The same clicks with their last half second cut off: the notice stays.
        QFile whole(g_loopPath);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const QString cut = g_dir->filePath("cut clicks.wav");
        QVERIFY(TestAudio::writeBytes(cut, bytes.left(bytes.size() - 4 * 2 * 22050)));
        QSignalSpy detected(detector, &TempoDetection::bpmDetected);
        QVERIFY(w()->slotLoadAudioFile(cut));
        QVERIFY(detected.wait(30000));
        QCoreApplication::processEvents();
        QVERIFY(loop()->bpm() > 0.0);
        QVERIFY2(w()->statusBar()->currentMessage().startsWith("cut clicks.wav is cut off"),
                 qPrintable(w()->statusBar()->currentMessage()));

        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QTRY_COMPARE_WITH_TIMEOUT(w()->form().stackedWidgetBpm->currentIndex(), 0, 30000);
    }

    void quickControlsStretchAndResetReallyResets()
    {
        auto &ui = w()->form();
        ui.doubleSpinBoxBpm->setValue(150.0);
        QVERIFY(loop()->isStretchEnabled());
        QVERIFY(std::fabs(loop()->timeStretchRatio() - loop()->bpm() / 150.0) < 1e-9);
        ui.spinBoxPitch->setValue(3);
        QCOMPARE(loop()->pitch(), 3);
        ui.pushButtonResetQuickControls->click();
        QVERIFY(!loop()->isStretchEnabled());
        QCOMPARE(loop()->pitch(), 0);
        QCOMPARE(ui.spinBoxPitch->value(), 0);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), loop()->bpm());
    }

    void tempoAlternativeAndTapsAreUndoSteps()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        auto *tempo = w()->findChild<TempoAlternativesWidget *>();
        QVERIFY(tempo);
        QTRY_VERIFY_WITH_TIMEOUT(tempo->alternativesButton()->isEnabled(), 30000);
        const double detected = loop()->bpm();
        QCOMPARE(loop()->tempoAnalysis().detectedBpm, detected);
        QMenu *menu = tempo->alternativesButton()->menu();
        QVERIFY(!menu->actions().isEmpty() && menu->actions().size() <= 4);
        const double first = menu->actions().first()->data().toDouble();
        QVERIFY(first > 0.0 && std::fabs(first - detected) > 1.0);

        // Chosen from the drop-down as a user does: open it, arrow down, Enter.
        const int steps = stack->count();
        QTimer::singleShot(0, [] {
            QWidget *popup = QApplication::activePopupWidget();
            if (!popup)
                return;
            QTest::keyClick(popup, Qt::Key_Down);
            QTest::keyClick(popup, Qt::Key_Return);
        });
        QTest::mouseClick(tempo->alternativesButton(), Qt::LeftButton);
        QTRY_COMPARE(loop()->bpm(), first);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), first);
        QVERIFY(!loop()->isStretchEnabled()); // a correction of the tempo, not a stretch
        QCOMPARE(stack->count(), steps + 1);
        QCOMPARE(stack->undoText(), QString("set tempo"));
        // The detected tempo is offered back, related to the one now set.
        QVERIFY(menu->actions().first()->text().contains(QString::number(detected, 'f', 2)));
        stack->undo();
        QCOMPARE(loop()->bpm(), detected);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), detected);

        // T in the waveform taps; the clock is the test's. Five taps 400 ms apart: the
        // fourth sets 150 BPM, the fifth keeps it, and the run is one undo step.
        long long now = 100000;
        tempo->setClock([&now] { return now; });
        SampleRendererTrevant *view = w()->slicingView();
        for (int i = 0; i < 3; ++i, now += 400)
            QTest::keyClick(view, Qt::Key_T);
        QCOMPARE(loop()->bpm(), detected);
        QTest::keyClick(view, Qt::Key_T);
        QCOMPARE(loop()->bpm(), 150.0);
        now += 404;
        tempo->tapButton()->click();
        QCOMPARE(loop()->bpm(), std::round(60000.0 * 4 / 1604 * 100.0) / 100.0);
        QCOMPARE(stack->count(), steps + 1);
        // After a pause the next run is a step of its own.
        now += 2500;
        for (int i = 0; i < 4; ++i, now += 500)
            QTest::keyClick(view, Qt::Key_T);
        QCOMPARE(loop()->bpm(), 120.0);
        QCOMPARE(stack->count(), steps + 2);
        stack->undo();
        stack->undo();
        QCOMPARE(loop()->bpm(), detected);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), detected);
    }

    // The Tempo box shows the tempo that plays: a loop stretched to 150 BPM whose own tempo
    // is then corrected (tapped, undone) plays at its new effective tempo, and the box says so.
    void tempoBoxShowsWhatPlaysWhenTheTempoIsCorrectedWhileStretched()
    {
        auto &ui = w()->form();
        auto *tempo = w()->findChild<TempoAlternativesWidget *>();
        QVERIFY(tempo);
        const double detected = loop()->bpm();
        QVERIFY(detected > 0.0);
        ui.doubleSpinBoxBpm->setValue(150.0);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), 150.0);
        const double ratio = loop()->timeStretchRatio();
        long long now = 900000;
        tempo->setClock([&now] { return now; });
        for (int i = 0; i < 4; ++i, now += 1000)
            QTest::keyClick(w()->slicingView(), Qt::Key_T);
        QCOMPARE(loop()->bpm(), 60.0);
        QVERIFY(loop()->isStretchEnabled());
        QCOMPARE(loop()->timeStretchRatio(), ratio);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), std::round(loop()->effectiveBpm() * 100.0) / 100.0);
        w()->undoStack()->undo();
        QCOMPARE(loop()->bpm(), detected);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), 150.0);
        ui.pushButtonResetQuickControls->click();
        QCOMPARE(ui.doubleSpinBoxBpm->value(), detected);
    }

    void slicingThroughTheUndoStack()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        ui.action8->trigger();
        QCOMPARE(w()->slicer()->slicePoints().size(), 7);
        QCOMPARE(stack->undoText(), QString("slice in 8"));
        ui.actionSliceClear->trigger();
        QCOMPARE(w()->slicer()->slicePoints().size(), 0);
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints().size(), 7);
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints().size(), 0);
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints().size(), 7);
    }

    // The sound card here consumes faster than real time, so a slice may have finished
    // by the time it is checked: what was asked for is read from the play region and the
    // playback signal rather than from the moving play position.
    void digitKeysPlaySlices()
    {
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), 7);
        QSignalSpy toggled(loop().data(), SIGNAL(playbackToggled(bool)));
        QTest::keyClick(w(), Qt::Key_3);
        QCOMPARE(loop()->playEnd(), points.at(2));
        QVERIFY(!toggled.isEmpty());
        QCOMPARE(toggled.first().first().toBool(), true);
        // The slice ends on the sound-card thread; the play button hears of it on the GUI
        // thread, through the engine's collection of what that thread did.
        QTRY_VERIFY_WITH_TIMEOUT(!toggled.last().first().toBool(), 10000);
        QVERIFY(!w()->form().actionPlay->isChecked());
        w()->slicer()->togglePlayback(false);
        // Nine slices do not exist: digit 9 plays nothing.
        QCoreApplication::processEvents();
        toggled.clear();
        QTest::keyClick(w(), Qt::Key_9);
        QCoreApplication::processEvents();
        for (const QList<QVariant> &args : toggled)
            QCOMPARE(args.first().toBool(), false);
        QVERIFY(!loop()->isPlaying());
    }

    void clickInTheSlicingViewPlaysThatSlice()
    {
        SampleRendererTrevant *view = w()->slicingView();
        QVERIFY(view->isEnabled());
        const QList<int> points = w()->slicer()->slicePoints();
        // The middle of the sixth slice.
        const int target = (points.at(4) + points.at(5)) / 2;
        const int x = int(view->sampleToPixel(target));
        QSignalSpy toggled(loop().data(), SIGNAL(playbackToggled(bool)));
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(x, view->height() / 2));
        QCOMPARE(loop()->playEnd(), points.at(5));
        QVERIFY(!toggled.isEmpty());
        QCOMPARE(toggled.first().first().toBool(), true);
        w()->slicer()->togglePlayback(false);
    }

    void sliceAtCursorGoesOneBufferBack()
    {
        Settings::instance().set("AudioDeviceBufferSize", "256");
        w()->form().actionSliceClear->trigger();
        // Stopped, so the cursor holds still while it is read: a looped region keeps it at
        // the region's start.
        loop()->setLoop(40000, 60000);
        loop()->setLoopMode(2);
        w()->slicer()->playFrom(40000);
        w()->slicer()->togglePlayback(false);
        const int cursor = loop()->playPosition();
        QCOMPARE(cursor, 40000);
        w()->slotSliceAtCursor();
        QCOMPARE(w()->slicer()->slicePoints(), QList<int>{cursor - 512});
        w()->undoStack()->undo();
        loop()->setLoopMode(0);

        // S tapped on the loop's first beat: a buffer back lies before the trim start, where
        // a point would make an empty first slice (its note silent) that no click can take.
        const int steps = w()->undoStack()->count();
        for (int trimStart : {0, 30000}) {
            w()->slicer()->setTrimStart(trimStart);
            w()->slicer()->playFrom(trimStart + 200);
            w()->slicer()->togglePlayback(false);
            QVERIFY(loop()->playPosition() < trimStart + 512);
            w()->slotSliceAtCursor();
            QVERIFY(w()->slicer()->slicePoints().isEmpty());
            QCOMPARE(w()->undoStack()->count(), steps);
        }
        w()->slicer()->setTrimStart(0);
    }

    void fileOpenEventLoadsTheFile()
    {
        QFileOpenEvent event(g_secondPath);
        QCoreApplication::sendEvent(m_app, &event);
        QCOMPARE(w()->windowFilePath(), g_secondPath);
        QCOMPARE(loop()->length(), 2 * 96000);
        QCOMPARE(w()->undoStack()->count(), 0);
        QCOMPARE(w()->slicer()->slicePoints().size(), 0);
    }

    // One file dropped opens; of several dropped together (a selection from the file
    // manager) the first the window can open is opened, and the status bar says so.
    void dropsOpenOneFile()
    {
        auto *mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(g_loopPath)});
        QDragEnterEvent oneFile(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        oneFile.setAccepted(false);
        QCoreApplication::sendEvent(w(), &oneFile);
        QVERIFY(oneFile.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w(), &drop);
        QTRY_COMPARE(w()->windowFilePath(), g_loopPath);
        QCOMPARE(loop()->length(), 2 * kLoopFrames);
        QVERIFY(!w()->statusBar()->currentMessage().contains("one file"));

        // A folder and a text file come first in the selection: both are passed over.
        const QString notes = g_dir->filePath("notes.txt");
        {
            QFile f(notes);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("take 3 was the one\n");
        }
        mime->setUrls({QUrl::fromLocalFile(g_dir->path()), QUrl::fromLocalFile(notes),
                       QUrl::fromLocalFile(g_secondPath), QUrl::fromLocalFile(g_loopPath)});
        QDragEnterEvent several(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        several.setAccepted(false);
        QCoreApplication::sendEvent(w(), &several);
        QVERIFY(several.isAccepted());
        QDropEvent severalDrop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(w(), &severalDrop);
        QVERIFY(severalDrop.isAccepted());
        QTRY_COMPARE(w()->windowFilePath(), g_secondPath);
        QCOMPARE(loop()->length(), 2 * 96000);
        const QString message = w()->statusBar()->currentMessage();
        QVERIFY2(message.contains("one file is opened at a time") &&
                     message.contains(QFileInfo(g_secondPath).fileName()),
                 qPrintable(message));

        // Nothing local in the drop: refused.
        mime->setUrls({QUrl("https://example.org/a.wav"), QUrl("https://example.org/b.wav")});
        QDragEnterEvent remote(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        remote.setAccepted(false);
        QCoreApplication::sendEvent(w(), &remote);
        QVERIFY(!remote.isAccepted());
        delete mime;
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
    }

    void droppedTemplatesApplyTheirSlicePoints()
    {
        // A template saved from this loop's layout comes back through a drop.
        w()->form().action4->trigger();
        const QList<int> four = w()->slicer()->slicePoints();
        QString error, written;
        QVERIFY(SliceTemplate::saveFrom(w()->slicer(), g_dir->filePath("four"), &error, &written));
        QCOMPARE(QFileInfo(written).suffix(), QString("qlst"));
        SliceTemplate check;
        QVERIFY2(SliceTemplate::load(written, &check, &error), qPrintable(error));
        w()->form().actionSliceClear->trigger();

        dropFile(w(), written);
        QTRY_VERIFY2(w()->slicer()->slicePoints() == four,
                      qPrintable(QString("%1 points, expected %2").arg(w()->slicer()->slicePoints().size()).arg(four.size())));
        QCOMPARE(w()->windowFilePath(), g_loopPath); // not mistaken for audio
        w()->undoStack()->undo();
        QCOMPARE(w()->slicer()->slicePoints().size(), 0);

        // A damaged template is refused with a message and changes nothing.
        const QString bad = g_dir->filePath("bad.qlst");
        QVERIFY(TestAudio::writeBytes(bad, "<sliceTemplate version=\"1\"><point fr"));
        QString text;
        closeNextMessageBox(&text);
        dropFile(w(), bad);
        QTRY_VERIFY(!text.isEmpty());
        QVERIFY(text.contains("bad.qlst"));
        QCOMPARE(w()->slicer()->slicePoints().size(), 0);
        QVERIFY(loop());
    }

    void projectsHandedOverOpenAsProjects()
    {
        // The file manager and the menu entry hand a project over like a loop (a drop, a
        // file-open event, the command line): it opens as a project, never as audio.
        QString error, written;
        w()->engine()->setEngineTempo(133);
        QVERIFY2(ProjectFile::save(w()->engine(), g_dir->filePath("Set.QLX"), &error, &written), qPrintable(error));
        w()->engine()->setEngineTempo(90);
        dropFile(w(), written);
        QTRY_COMPARE(w()->engine()->engineTempo(), 133);
        QCOMPARE(w()->windowFilePath(), g_loopPath);

        w()->engine()->setEngineTempo(90);
        QFileOpenEvent event(written);
        QCoreApplication::sendEvent(m_app, &event);
        QCOMPARE(w()->engine()->engineTempo(), 133);
        QCOMPARE(w()->windowFilePath(), g_loopPath);
    }

    void quickExportWritesEverySlice()
    {
        w()->form().action4->trigger();
        QSignalSpy saved(w(), SIGNAL(exportSuccessful(QString, QString)));
        QVERIFY(w()->form().actionQuickExport->isEnabled());
        w()->form().actionQuickExport->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 4, 30000);
        const QString folder = SliceExporter::quickExportFolder(g_loopPath);
        const QStringList files = QDir(folder).entryList({"*.wav"}, QDir::Files, QDir::Name);
        QCOMPARE(files.size(), 4);
        QTRY_VERIFY(!w()->findChild<QPushButton *>("pushButtonCancelExport")->isVisible());
        // The end names the folder, as a link to it, and how many files went there.
        const QString outcome = w()->exportOutcomeText();
        QVERIFY2(outcome.startsWith("4 files written to"), qPrintable(outcome));
        QVERIFY(outcome.contains(QDir::toNativeSeparators(folder).toHtmlEscaped()));
        QVERIFY(outcome.contains(QString("href=\"%1\"").arg(QUrl::fromLocalFile(folder).toString(QUrl::FullyEncoded))));
        w()->undoStack()->undo();
    }

    // Cancelled at once, a long export stops early and says how many files it left where.
    void cancelledExportSaysWhatIsLeft()
    {
        const QString longLoop = g_dir->filePath("long take.wav");
        QVERIFY(TestAudio::writeWav(longLoop, 2, 44100, 60 * 44100, TestAudio::sine(220, 44100)));
        QVERIFY(w()->slotLoadAudioFile(longLoop));
        w()->form().action64->trigger();
        auto *cancel = w()->findChild<QPushButton *>("pushButtonCancelExport");
        w()->form().actionQuickExport->trigger();
        QVERIFY(cancel->isVisible());
        QTest::mouseClick(cancel, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!cancel->isVisible(), 30000);
        const QString folder = SliceExporter::quickExportFolder(longLoop);
        const int left = QDir(folder).entryList({"*.wav"}, QDir::Files).size();
        QVERIFY(left < 64);
        const QString outcome = w()->exportOutcomeText();
        QVERIFY2(outcome.startsWith("Export cancelled"), qPrintable(outcome));
        if (left == 0)
            QVERIFY(outcome.contains("no file was written"));
        else
            QVERIFY2(outcome.contains(QString(left == 1 ? "1 file already" : "%1 files already").arg(left)) &&
                         outcome.contains(QDir::toNativeSeparators(folder).toHtmlEscaped()),
                     qPrintable(outcome));
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
    }

    // Every slice is written in the background with the export's progress and Cancel;
    // the files serve every drag while the slicing stays as it was.
    void dragExportOfAllSlicesRunsInTheBackground()
    {
        auto &ui = w()->form();
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        ui.action4->trigger();
        ui.actionDragExport->setChecked(true);
        ui.radioButtonDragExportAll->click();
        SampleRendererTrevant *view = w()->slicingView();
        auto *cancel = w()->findChild<QPushButton *>("pushButtonCancelExport");
        QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, QPoint(view->width() / 3, view->height() / 2));
        // The press came back while the files are still being written.
        QVERIFY(cancel->isVisible());
        QVERIFY(view->preparedAllSlices().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!cancel->isVisible(), 30000);
        const QStringList files = view->preparedAllSlices();
        QCOMPARE(files.size(), 4);
        for (const QString &f : files)
            QVERIFY(QFileInfo(f).size() > 44);
        QVERIFY2(w()->statusBar()->currentMessage().contains("ready"), qPrintable(w()->statusBar()->currentMessage()));
        QSignalSpy saved(w(), SIGNAL(exportSuccessful(QString, QString)));
        QCOMPARE(view->writeDragExportFiles(0), files);
        QCOMPARE(saved.count(), 0);
        // New slicing makes them stale; undoing it brings them back.
        ui.action8->trigger();
        QVERIFY(view->preparedAllSlices().isEmpty());
        w()->undoStack()->undo();
        QCOMPARE(view->preparedAllSlices(), files);
        ui.radioButtonDragExportSingle->click();
        ui.actionDragExport->setChecked(false);
    }

    void dragExportWritesTheSliceUnderThePress()
    {
        auto &ui = w()->form();
        ui.action4->trigger();
        ui.actionDragExport->setChecked(true);
        QVERIFY(w()->slicingView()->isDragExportOn());
        QVERIFY(ui.frameDragExport->isVisible());
        QVERIFY(!w()->acceptDrops());
        const QList<int> points = w()->slicer()->slicePoints();
        QSignalSpy saved(w(), SIGNAL(exportSuccessful(QString, QString)));
        // Single mode: the second slice only.
        QStringList files = w()->slicingView()->writeDragExportFiles(points.at(0) + 1000);
        QCOMPARE(files.size(), 1);
        QVERIFY(files.first().endsWith("_2.wav") || files.first().endsWith("_02.wav"));
        QCOMPARE(saved.count(), 1);
        // All slices.
        ui.radioButtonDragExportAll->click();
        QCOMPARE(w()->slicingView()->dragExportMode(), 1);
        files = w()->slicingView()->writeDragExportFiles(points.at(0) + 1000);
        QCOMPARE(files.size(), 4);
        for (const QString &f : files)
            QVERIFY(QFileInfo(f).size() > 44);
        ui.radioButtonDragExportSingle->click();
        ui.actionDragExport->setChecked(false);
        QVERIFY(w()->acceptDrops());
        QVERIFY(!ui.frameDragExport->isVisible());
        w()->undoStack()->undo();
    }

    void editModeMutesARegionWithUndo()
    {
        auto &ui = w()->form();
        QVERIFY(ui.actionEditMode->isEnabled());
        ui.actionEditMode->setChecked(true);
        QVERIFY(w()->editView()->isVisible());
        QVERIFY(!w()->slicingView()->isVisible());
        QVERIFY(!ui.actionSlice4->isEnabled());
        QVERIFY(!ui.actionDragExport->isEnabled());
        QVERIFY(ui.actionSelectAll->isEnabled());
        QVERIFY(!ui.menuEffects->actions().isEmpty());

        // Mute a region holding a click from the Effects menu.
        QAction *mute = nullptr;
        for (QAction *a : ui.menuEffects->actions())
            if (a->text().remove('&').contains("Mute"))
                mute = a;
        QVERIFY(mute);
        const int from = 40000, to = 50000; // holds the click at frame 22050
        // Read as the sound card does: edits apply on this path.
        auto regionIsSilent = [this, from, to] {
            AudioCachePtr cache = loop()->cache();
            if (!cache->tryLock())
                return false;
            bool silent = true;
            for (int i = from; i < to && silent; ++i)
                silent = cache->getSample(i) == 0.0f;
            cache->unlock();
            return silent;
        };
        w()->editView()->setFreeformSelection(from, to);
        QTRY_VERIFY(mute->isEnabled());
        QVERIFY(w()->editView()->editableCache());
        QVERIFY(!regionIsSilent());
        const int steps = w()->undoStack()->index();
        mute->trigger();
        QCOMPARE(w()->undoStack()->index(), steps + 1);
        QVERIFY(w()->undoStack()->undoText().contains("Mute"));
        QTRY_VERIFY(regionIsSilent());
        w()->undoStack()->undo();
        QTRY_VERIFY(!regionIsSilent());

        // Escape in the edit view clears its selection instead of only moving the focus;
        // with nothing selected it resets the focus as everywhere else.
        w()->activateWindow();
        QApplication::setActiveWindow(w());
        QVERIFY(QTest::qWaitForWindowActive(w()));
        w()->editView()->setFreeformSelection(from, to);
        w()->editView()->setFocus();
        QCOMPARE(QApplication::focusWidget(), w()->editView());
        QTest::keyClick(w()->editView(), Qt::Key_Escape);
        QVERIFY(!w()->editView()->hasFreeformSelection());
        QTest::keyClick(w()->editView(), Qt::Key_Escape);
        QVERIFY(QApplication::focusWidget() != w()->editView());

        // A new file keeps edit mode.
        QVERIFY(w()->slotLoadAudioFile(g_secondPath));
        QVERIFY(ui.actionEditMode->isChecked());
        QVERIFY(w()->editView()->isVisible());
        QVERIFY(w()->editView()->editableCache());

        ui.actionEditMode->setChecked(false);
        QVERIFY(w()->slicingView()->isVisible());
        QVERIFY(ui.actionSlice4->isEnabled());
        QVERIFY(!ui.actionSelectAll->isEnabled());
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
    }

    void editActionsReachTheEditViewOnlyInEditMode()
    {
        auto &ui = w()->form();
        SampleRendererEditor *view = w()->editView();
        ui.actionEditMode->setChecked(true);
        const int steps = w()->undoStack()->index();
        view->setFreeformSelection(40000, 50000);
        QVERIFY(ui.actionDelete->isEnabled());
        ui.actionDelete->trigger();
        QCOMPARE(w()->undoStack()->index(), steps + 1);
        QCOMPARE(w()->undoStack()->undoText(), QString("delete region"));
        QVERIFY(!view->hasFreeformSelection());
        ui.actionSelectAll->trigger(); // no edits to select: the whole loop
        QVERIFY(view->hasFreeformSelection());
        QCOMPARE(view->selectionEnd(), loop()->length());
        w()->undoStack()->undo();

        // Hidden in slicing mode, the view is out of reach even of an enabled action.
        ui.actionEditMode->setChecked(false);
        view->setFreeformSelection(40000, 50000);
        ui.actionDelete->setEnabled(true);
        ui.actionDelete->trigger();
        QCOMPARE(w()->undoStack()->index(), steps);
        QVERIFY(view->hasFreeformSelection());
        view->selectNone();
        ui.actionDelete->setEnabled(false);
    }

    // Shrunk from outside (by a window system that does not hold the window to its
    // minimum size), the window returns to a size at which the quick controls, the
    // transport bar and the views all keep their own minimum sizes.
    void windowKeepsItsMinimumSize()
    {
        auto &ui = w()->form();
        const QSize before = w()->size();
        QVERIFY(w()->minimumWidth() > 300 && w()->minimumHeight() > 200);
        ResizeLog log;
        const auto shrunk = [&log, this] {
            return std::any_of(log.sizes.cbegin(), log.sizes.cend(),
                               [this](QSize s) { return s.width() < w()->minimumWidth(); });
        };
        const auto atLeastMinimum = [this] {
            return w()->width() >= w()->minimumWidth() && w()->height() >= w()->minimumHeight();
        };
        w()->installEventFilter(&log);
        // The first narrowing folds the menu bar's and tool bar's overflow away, and the
        // layout's minimum then grows, which enlarges the window by itself. Only a shrink
        // the window saw under an unchanged minimum tells.
        bool told = false;
        for (int attempt = 0; attempt < 5 && !told; ++attempt) {
            const QSize least = w()->minimumSize();
            log.sizes.clear();
            w()->windowHandle()->resize(120 + attempt, 90);
            (void)QTest::qWaitFor([&log] { return !log.sizes.isEmpty(); }, 2000);
            const bool recovered = QTest::qWaitFor(atLeastMinimum, 5000);
            if (!shrunk() || w()->minimumSize() != least)
                continue;
            QVERIFY(recovered);
            told = true;
        }
        QVERIFY(told);
        // Each control inside the window at no less than its own minimum, once laid out.
        const auto laidOut = [&ui, this] {
            if (ui.frameQuickControls->width() < ui.frameQuickControls->minimumSizeHint().width() ||
                w()->slicingView()->height() < w()->slicingView()->minimumSizeHint().height())
                return false;
            for (QWidget *control :
                 {static_cast<QWidget *>(ui.doubleSpinBoxBpm), static_cast<QWidget *>(ui.spinBoxPitch),
                  static_cast<QWidget *>(ui.pushButtonResetQuickControls)}) {
                const QRect r(control->mapTo(w(), QPoint(0, 0)), control->size());
                if (!w()->rect().contains(r) || control->width() < control->minimumSizeHint().width())
                    return false;
            }
            return true;
        };
        QTRY_VERIFY(laidOut());
        w()->removeEventFilter(&log);
        w()->resize(before);
        QTRY_COMPARE(w()->size(), before);
    }

    // Tab walks the quick controls left to right: the tempo alternatives next to the Tempo
    // box come before the Pitch box, not after the waveform.
    void tabWalksTheQuickControlsInOrder()
    {
        auto &ui = w()->form();
        auto *alternatives = w()->findChild<QToolButton *>("toolButtonTempoAlternatives");
        QVERIFY(alternatives);
        QTRY_VERIFY_WITH_TIMEOUT(ui.doubleSpinBoxBpm->isVisible() && alternatives->isEnabled(), 20000);
        w()->activateWindow();
        QApplication::setActiveWindow(w());
        QVERIFY(QTest::qWaitForWindowActive(w()));
        ui.doubleSpinBoxBpm->setFocus();
        QStringList walked;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked.mid(0, 3), (QStringList{"toolButtonTempoAlternatives", "spinBoxPitch",
                                                "pushButtonResetQuickControls"}));
        // And back.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(ui.doubleSpinBoxBpm));
    }

    // Unhide Last and Unhide All are offered only while something is hidden, through
    // hides, unhides, undo and redo, and never in slicing mode.
    void unhideActionsFollowWhatIsHidden()
    {
        auto &ui = w()->form();
        SampleRendererEditor *view = w()->editView();
        ui.actionEditMode->setChecked(true);
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        QVERIFY(!ui.actionUnhide_All->isEnabled());
        const int steps = w()->undoStack()->index();
        view->setFreeformSelection(40000, 50000);
        QAction *gain = nullptr;
        for (QAction *a : ui.menuEffects->actions())
            if (a->text().remove('&') == "Gain")
                gain = a;
        QVERIFY(gain);
        QTRY_VERIFY(gain->isEnabled());
        gain->trigger();
        QCOMPARE(view->items().size(), 1);
        const AudioEditPtr hidden = view->items().first()->edit();
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        view->items().first()->setSelected(true);
        ui.actionHide->setEnabled(true);
        ui.actionHide->trigger();
        QVERIFY(view->items().first()->isHidden());
        QVERIFY(ui.actionUnhide_Last->isEnabled());
        QVERIFY(ui.actionUnhide_All->isEnabled());
        w()->undoStack()->undo();
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        QVERIFY(!ui.actionUnhide_All->isEnabled());
        w()->undoStack()->redo();
        QVERIFY(ui.actionUnhide_Last->isEnabled());
        QVERIFY(ui.actionUnhide_All->isEnabled());
        ui.actionUnhide_All->trigger();
        QVERIFY(!view->items().first()->isHidden());
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        QVERIFY(!ui.actionUnhide_All->isEnabled());
        w()->undoStack()->undo();
        QVERIFY(ui.actionUnhide_All->isEnabled());
        // Slicing mode offers none of the edit view's actions, hidden edits or not.
        ui.actionEditMode->setChecked(false);
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        w()->undoStack()->undo();
        w()->undoStack()->redo();
        QVERIFY(!ui.actionUnhide_All->isEnabled());
        ui.actionEditMode->setChecked(true);
        QVERIFY(ui.actionUnhide_Last->isEnabled());
        // A region deleted over the hidden edit takes it away: nothing left to unhide.
        view->setFreeformSelection(30000, 60000);
        QTRY_VERIFY(!view->editableCache()->isResetting()); // a region waits for the render
        ui.actionDelete->trigger();
        QVERIFY(!view->itemForEdit(hidden));
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        QVERIFY(!ui.actionUnhide_All->isEnabled());
        w()->undoStack()->undo();
        QVERIFY(ui.actionUnhide_Last->isEnabled());
        QVERIFY(ui.actionUnhide_All->isEnabled());
        while (w()->undoStack()->index() > steps)
            w()->undoStack()->undo();
        QVERIFY(!ui.actionUnhide_Last->isEnabled());
        ui.actionEditMode->setChecked(false);
    }

    // A file cut off inside its audio loads as far as it goes, and the status bar says
    // how much is missing until another file is loaded.
    void cutOffFileLoadsAndIsNamed() {
        QFile whole(g_secondPath);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const QString cut = g_dir->filePath("cut tone.wav");
        // A quarter of the frames, and half a sample more, are gone.
        QVERIFY(TestAudio::writeBytes(cut, bytes.left(bytes.size() - 4 * 24000 + 2)));
        QVERIFY(w()->slotLoadAudioFile(cut));
        QCOMPARE(w()->slicer()->currentSlice()->length(), 2 * 72000);
        QTRY_VERIFY_WITH_TIMEOUT(
            w()->statusBar()->currentMessage().startsWith("cut tone.wav is cut off: 0.50 s"), 20000);
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY2(!w()->statusBar()->currentMessage().contains("cut off"),
                 qPrintable(w()->statusBar()->currentMessage()));

        // Three channels load but play as silence, and the musician is told why.
        const QString surround = g_dir->filePath("three.wav");
        QVERIFY(TestAudio::writeWav(surround, 3, 44100, 44100, [](long long f, int) { return f % 100 < 50 ? 0.5f : -0.5f; }));
        QVERIFY(w()->slotLoadAudioFile(surround));
        QCOMPARE(w()->statusBar()->currentMessage(),
                 QString("three.wav has 3 channels: only mono and stereo files are read, so it plays as silence."));
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY(!w()->statusBar()->currentMessage().contains("channels"));
    }

    void escapeClosesTheTimeStretchWindow()
    {
        w()->form().actionTimeStretch->trigger();
        auto *dialog = w()->findChild<TimeStretchUI *>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        dialog->activateWindow();
        QApplication::setActiveWindow(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QWidget *focus = QApplication::focusWidget();
        QVERIFY(focus && focus->window() == dialog);
        // The window's application-wide Escape must not take the key from the dialog.
        QTest::keyClick(focus, Qt::Key_Escape);
        QTRY_VERIFY(!dialog->isVisible());
    }

    void failedLoadShowsMessageAndWindowKeepsWorking_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        const QString notAudio = "not audio the program can open (damaged, truncated or empty).";
        QTest::newRow("missing") << "nothing-here.wav" << "no such file.";
        QTest::newRow("text as wav") << "notes.wav" << notAudio;
        QTest::newRow("empty mp3") << "empty.mp3" << notAudio;
        QTest::newRow("folder") << "loops.wav" << "not a regular file.";
    }
    void failedLoadShowsMessageAndWindowKeepsWorking()
    {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString path = g_dir->filePath(name);
        if (name == "notes.wav")
            QVERIFY(TestAudio::writeBytes(path, "this is not audio\n"));
        if (name == "empty.mp3")
            QVERIFY(TestAudio::writeBytes(path, QByteArray()));
        if (name == "loops.wav")
            QVERIFY(QDir().mkpath(path));
        QString text, detail;
        closeNextMessageBox(&text, &detail);
        QVERIFY(!w()->slotLoadAudioFile(path));
        QCOMPARE(text, QString("%1 could not be loaded, please try another file.").arg(path));
        QCOMPARE(detail, name + ": " + reason);
        QVERIFY(!w()->form().toolBar->isEnabled());
        QVERIFY(!w()->form().action8->isEnabled());
        QVERIFY(w()->windowFilePath().isEmpty());
        // The window still loads a good file afterwards.
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY(w()->form().toolBar->isEnabled());
    }

    // The real sequence: the waveform has the keys, a failed load disables it (the focus
    // moves on to the Tempo box), and the good file loads again.
    void keysReachTheWaveformAfterAnyLoad()
    {
        auto &ui = w()->form();
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QCOMPARE(w()->focusWidget(), w()->slicingView());
        const QString bad = g_dir->filePath("corrupt.wav");
        QVERIFY(TestAudio::writeBytes(bad, QByteArray("RIFF\x10\0\0\0WAVEfmt ", 16)));
        QString text;
        closeNextMessageBox(&text);
        QVERIFY(!w()->slotLoadAudioFile(bad));
        QVERIFY(!text.isEmpty());
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QCOMPARE(w()->focusWidget(), w()->slicingView());
        ui.action4->trigger();
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), 3);
        const double tempo = ui.doubleSpinBoxBpm->value();
        QTest::keyClick(w()->focusWidget(), Qt::Key_3);
        QCOMPARE(loop()->playEnd(), points.at(2));
        w()->slicer()->togglePlayback(false);
        QCOMPARE(ui.doubleSpinBoxBpm->value(), tempo);
        // Reopening the same file keeps its name in the title.
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY2(w()->windowHandle()->title().startsWith(QFileInfo(g_loopPath).fileName()),
                 qPrintable(w()->windowHandle()->title()));
    }

    // A stretched render lives in a temporary file: until it is saved it is an unsaved
    // document. Quitting or replacing it asks, Quick Export asks for a folder once, and
    // Save writes it where the user says before the next file opens.
    void stretchedLoopIsKeptUntilSavedOrDiscarded()
    {
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        w()->form().action4->trigger();
        w()->slotShowTimeStretchWindow();
        auto *stretch = w()->findChild<TimeStretchUI *>();
        QVERIFY(stretch);
        QTRY_VERIFY(loop()->isLoadingComplete());
        stretch->accept();
        QVERIFY(stretch->isRendering());
        QTRY_VERIFY_WITH_TIMEOUT(w()->isWindowModified(), 60000);
        stretch->hide();
        const QString rendered = w()->windowFilePath();
        QVERIFY(rendered != g_loopPath);
        QVERIFY2(w()->windowHandle()->title().endsWith(QLatin1Char('*')), qPrintable(w()->windowHandle()->title()));

        QTemporaryDir out;
        bool asked = false;
        answerNextFileDialog(out.path(), &asked);
        QSignalSpy saved(w(), SIGNAL(exportSuccessful(QString, QString)));
        w()->form().actionQuickExport->trigger();
        QVERIFY(asked);
        QTRY_VERIFY_WITH_TIMEOUT(!w()->findChild<QPushButton *>("pushButtonCancelExport")->isVisible(), 30000);
        const int first = QDir(out.path()).entryList({"*.wav"}, QDir::Files).size();
        QVERIFY(first > 0);
        QCOMPARE(saved.count(), first);
        // The second time it goes to the same folder without asking.
        QTimer::singleShot(0, [] {
            if (qobject_cast<QFileDialog *>(QApplication::activeModalWidget()))
                QApplication::activeModalWidget()->close();
        });
        w()->form().actionQuickExport->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(QDir(out.path()).entryList({"*.wav"}, QDir::Files).size(), 2 * first, 30000);
        QTRY_VERIFY(!w()->findChild<QPushButton *>("pushButtonCancelExport")->isVisible());

        // Quitting and dropping another file, cancelled, keep the render.
        QString text;
        answerNextMessageBox(QMessageBox::Cancel, &text);
        w()->close();
        QCOMPARE(text, QString("Save the stretched loop?"));
        QVERIFY(m_app->mainWindow());
        QVERIFY(w()->isWindowModified());
        text.clear();
        answerNextMessageBox(QMessageBox::Cancel, &text);
        dropFile(w(), g_secondPath);
        QTRY_COMPARE(text, QString("Save the stretched loop?"));
        QCOMPARE(w()->windowFilePath(), rendered);

        // Save: Save As writes it, then the dropped file opens.
        const QString kept = out.filePath("kept.wav");
        answerNextMessageBox(QMessageBox::Save, &text);
        answerNextFileDialog(kept);
        dropFile(w(), g_secondPath);
        QTRY_COMPARE_WITH_TIMEOUT(w()->windowFilePath(), g_secondPath, 30000);
        QVERIFY(!w()->isWindowModified());
        QVERIFY(QFileInfo(kept).size() > 44);
        QVERIFY(!w()->windowHandle()->title().endsWith(QLatin1Char('*')));
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
    }

    void savedMessageShortensLongPaths()
    {
        const QString sep = QDir::separator();
        const QString folder39 = QString(39 - 6, 'a');   // + sep + "x.wav" = 40
        QCOMPARE(TrevantUI::savedMessage(folder39, "x.wav"),
                 folder39 + sep + "x.wav successfully saved.");
        const QString folder = QString(35, 'b');         // 35 + 1 + 5 = 41
        QCOMPARE(TrevantUI::savedMessage(folder, "x.wav"),
                 QString(32, 'b') + ".." + sep + "x.wav successfully saved.");
    }

    void savingUnderABareNameAsksBeforeReplacingTheRealFile()
    {
        // "song" typed into a save dialog becomes song.qlx / song.qlst: the question about
        // replacing must come for that file, and a No leaves it whole.
        const QString folder = g_dir->filePath("bare");
        QDir().mkpath(folder);
        Settings::instance().set("last_load_project_path", folder);
        Settings::instance().set("last_slicetemplate_load_path", folder);
        struct Case {
            QAction *action;
            QString file;
            QString suffix;
        };
        for (const Case &c : {Case{w()->form().actionSaveProject, "song.qlx", "qlx"},
                              Case{w()->form().actionSaveSliceTemplateAs, "song.qlst", "qlst"}}) {
            const QString existing = folder + "/" + c.file;
            QVERIFY(TestAudio::writeBytes(existing, "keep me"));
            QString suffix;
            QString question;
            QTimer::singleShot(50, [&] { answerSaveDialog(&suffix, &question); });
            c.action->trigger();
            QCOMPARE(suffix, c.suffix);
            QVERIFY2(question.contains(c.file), qPrintable(question));
            QFile f(existing);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("keep me"));
        }
    }

    void snapAndFadeTogglesAreStored()
    {
        w()->form().actionSnapToZeroCrossings->setChecked(false);
        QCOMPARE(Settings::instance().value("snap_to_zero_crossings"), QString("0"));
        w()->form().actionSnapToZeroCrossings->setChecked(true);
        QCOMPARE(Settings::instance().value("snap_to_zero_crossings"), QString("1"));
        w()->form().actionFadeInOutSlices->setChecked(false);
        QCOMPARE(Settings::instance().value("fade_in_out_slices"), QString("0"));
        w()->form().actionFadeInOutSlices->setChecked(true);
    }

    // The real action on a loop of known hits: the analysis runs in the background, the
    // slicing lands when it is ready, at or just before every hit, as one undo step; the
    // sensitivity control appears with it and follows undo and redo.
    void sliceAtTransientsCutsAtTheHits()
    {
        auto &ui = w()->form();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
        QCOMPARE(ui.sliderTransientSensitivity->value(), qRound(OnsetDetector::defaultSensitivity));
        QUndoStack *stack = w()->undoStack();
        ui.action4->trigger();
        const QList<int> even = w()->slicer()->slicePoints();
        QCOMPARE(even.size(), 3);

        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 2, 60000);
        QCOMPARE(stack->undoText(), QString("slice at transients"));
        const QList<int> points = w()->slicer()->slicePoints();
        const QVector<long long> hits = HitLoopFixture::hitFrames();
        QCOMPARE(points.size(), hits.size());
        for (int i = 0; i < points.size(); ++i)
            QCOMPARE(HitLoopFixture::hitNear(points[i], HitLoopFixture::rate / 50, HitLoopFixture::rate / 1000), i);
        QVERIFY(ui.widgetTransientSensitivity->isVisible());

        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), even);
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints(), points);
        QVERIFY(ui.widgetTransientSensitivity->isVisible());

        // A second slicing of the same audio needs no new detection and lands at once.
        ui.action8->trigger();
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
        ui.actionSliceAtTransients->trigger();
        QCOMPARE(w()->slicer()->slicePoints(), points);
        QCOMPARE(stack->count(), 4);
    }

    // Dragging the sensitivity moves the markers at every step without an undo entry:
    // raising it only ever adds points. The release is one step; undo brings back both
    // the points and the control's position. A run of arrow keys is one step as well.
    void sensitivityDragIsLiveMonotonicAndOneStep()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        QSlider *slider = ui.sliderTransientSensitivity;
        QTRY_VERIFY(slider->width() > 100);
        const QList<int> atDefault = w()->slicer()->slicePoints();
        const int steps = stack->count();

        QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, sliderHandleCentre(slider));
        QVERIFY(slider->isSliderDown());
        moveWithButton(slider, QPoint(-50, slider->height() / 2));
        QCOMPARE(slider->value(), 0);
        QList<int> previous = w()->slicer()->slicePoints();
        const int fewest = previous.size();
        int lastValue = 0;
        for (int x = 0; x <= slider->width() + 20; x += slider->width() / 25) {
            moveWithButton(slider, QPoint(x, slider->height() / 2));
            const QList<int> now = w()->slicer()->slicePoints();
            QVERIFY(slider->value() >= lastValue);
            for (int p : previous)
                QVERIFY2(now.contains(p), qPrintable(QString("point %1 lost at %2").arg(p).arg(slider->value())));
            previous = now;
            lastValue = slider->value();
        }
        moveWithButton(slider, QPoint(slider->width() + 50, slider->height() / 2));
        QCOMPARE(slider->value(), 100);
        const QList<int> atTop = w()->slicer()->slicePoints();
        QVERIFY(atTop.size() > fewest);
        QCOMPARE(stack->count(), steps);
        QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() + 50, slider->height() / 2));
        QCOMPARE(stack->count(), steps + 1);
        QCOMPARE(stack->undoText(), QString("transient sensitivity"));
        QCOMPARE(w()->slicer()->slicePoints(), atTop);

        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), atDefault);
        QCOMPARE(slider->value(), qRound(OnsetDetector::defaultSensitivity));
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints(), atTop);
        QCOMPARE(slider->value(), 100);

        for (int i = 0; i < 60; ++i)
            QTest::keyClick(slider, Qt::Key_Left);
        QCOMPARE(slider->value(), 40);
        QCOMPARE(stack->count(), steps + 2);
        QVERIFY(w()->slicer()->slicePoints().size() <= atTop.size());
        stack->undo();
        QCOMPARE(slider->value(), 100);
        QCOMPARE(w()->slicer()->slicePoints(), atTop);

        // Slicing some other way puts the control away.
        ui.actionSliceClear->trigger();
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
    }

    void exportKitThroughTheMenuRemembersTheChoices()
    {
        // File > Export Kit: the dialog's choices write the kit in the background, and the
        // next time the dialog opens with them.
        auto &ui = w()->form();
        ui.action8->trigger();
        QAction *action = w()->findChild<QAction *>("actionExportKit");
        QVERIFY(action && action->isEnabled());
        QVERIFY(ui.menuFile->actions().contains(action));
        const QString folder = g_dir->filePath("kits");
        bool shown = false;
        QTimer::singleShot(50, [&] {
            auto *dialog = qobject_cast<ExportKitUI *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown = true;
            auto *format = dialog->findChild<QComboBox *>("comboBoxFormat");
            format->setCurrentIndex(format->findText("DecentSampler"));
            dialog->findChild<QLineEdit *>("lineEditFolder")->setText(folder);
            dialog->findChild<QLineEdit *>("lineEditName")->setText("Clicks");
            dialog->findChild<QSpinBox *>("spinBoxStartNote")->setValue(48);
            dialog->accept();
        });
        action->trigger();
        QVERIFY(shown);
        const QString preset = QDir(folder).filePath("Clicks.dspreset");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(preset), 20000);
        QTRY_VERIFY(!w()->findChild<QPushButton *>("pushButtonCancelExport")->isVisible());
        QCOMPARE(QDir(QDir(folder).filePath("Clicks samples")).entryList(QDir::Files).size(), 8);
        QVERIFY(QFileInfo::exists(QDir(folder).filePath("Clicks.mid")));
        QFile file(preset);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("rootNote=\"48\"") && text.contains("rootNote=\"55\""));

        QString format, shownFolder, name;
        int note = -1, hydrogenNote = -1, sfzNote = -1;
        bool hydrogenNoteEditable = true;
        QTimer::singleShot(50, [&] {
            auto *dialog = qobject_cast<ExportKitUI *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            format = dialog->findChild<QComboBox *>("comboBoxFormat")->currentText();
            shownFolder = dialog->findChild<QLineEdit *>("lineEditFolder")->text();
            name = dialog->findChild<QLineEdit *>("lineEditName")->text();
            note = dialog->findChild<QSpinBox *>("spinBoxStartNote")->value();
            // A Hydrogen kit starts where Hydrogen plays its first instrument; the note
            // chosen for the other kinds is kept for them.
            auto *kind = dialog->findChild<QComboBox *>("comboBoxFormat");
            kind->setCurrentIndex(kind->findText("Hydrogen"));
            hydrogenNote = dialog->options().startNote;
            hydrogenNoteEditable = dialog->findChild<QSpinBox *>("spinBoxStartNote")->isEnabled();
            kind->setCurrentIndex(kind->findText("SFZ"));
            sfzNote = dialog->options().startNote;
            dialog->reject();
        });
        action->trigger();
        QCOMPARE(format, QString("DecentSampler"));
        QCOMPARE(shownFolder, folder);
        QCOMPARE(name, QString("Clicks"));
        QCOMPARE(note, 48);
        QCOMPARE(hydrogenNote, 36);
        QVERIFY(!hydrogenNoteEditable);
        QCOMPARE(sfzNote, 48);
    }

    void openingAFileWithCueMarkersRestoresItsSlicePoints()
    {
        // A loop saved with its slice points opens with them, as one step to undo.
        auto &ui = w()->form();
        ui.action8->trigger();
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), 7);
        const QString saved = g_dir->filePath("with markers.wav");
        std::unique_ptr<SliceExporter> exporter(SliceExporter::forSaveAs(w()->slicer(), saved));
        QVERIFY(exporter);
        QCOMPARE(exporter->run(), SliceExporter::Status::Completed);

        QVERIFY(w()->slotLoadAudioFile(saved));
        QCOMPARE(w()->slicer()->slicePoints(), points);
        QUndoStack *stack = w()->undoStack();
        QCOMPARE(stack->count(), 1);
        QCOMPARE(stack->undoText(), QString("slice markers from file"));
        stack->undo();
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints(), points);

        // A file without markers opens unsliced, with nothing to undo.
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        QCOMPARE(stack->count(), 0);
    }

    void saveAsKeepsSliceMarkersUnlessSwitchedOff()
    {
        // File > Slice Markers in Saved Loops, clicked in the open menu: Save As writes the
        // slice points as cue markers while it is checked and a plain file once it is not;
        // the choice is stored.
        auto &ui = w()->form();
        ui.action8->trigger();
        QCOMPARE(w()->slicer()->slicePoints().size(), 7);
        QAction *option = w()->findChild<QAction *>("actionSliceMarkersInSavedLoops");
        QVERIFY(option && option->isCheckable());
        const QList<QAction *> file = ui.menuFile->actions();
        QCOMPARE(file.indexOf(option), file.indexOf(ui.actionSaveAs) + 1);
        QVERIFY(option->isChecked());

        const auto clickOption = [&] {
            ui.menuFile->popup(w()->mapToGlobal(QPoint(10, 10)));
            QVERIFY(QTest::qWaitForWindowExposed(ui.menuFile));
            QTest::mouseClick(ui.menuFile, Qt::LeftButton, {}, ui.menuFile->actionGeometry(option).center());
            QTRY_VERIFY(!ui.menuFile->isVisible());
        };
        const auto saveAs = [&](const QString &path) {
            bool asked = false;
            answerNextFileDialog(path, &asked);
            ui.actionSaveAs->trigger();
            QVERIFY(asked);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(path), 20000);
            QTRY_VERIFY(!w()->findChild<QPushButton *>("pushButtonCancelExport")->isVisible());
        };

        const QString plain = g_dir->filePath("saved plain.wav");
        clickOption();
        QVERIFY(!option->isChecked());
        QCOMPARE(Settings::instance().value("slice_markers_in_saved_loops"), QString("0"));
        saveAs(plain);
        const CueMarkers::Read without = CueMarkers::read(plain);
        QVERIFY(without.ok);
        QVERIFY(without.frames > 0);
        QVERIFY(without.cues.isEmpty());

        const QString marked = g_dir->filePath("saved marked.wav");
        clickOption();
        QVERIFY(option->isChecked());
        QCOMPARE(Settings::instance().value("slice_markers_in_saved_loops"), QString("1"));
        saveAs(marked);
        const CueMarkers::Read with = CueMarkers::read(marked);
        QVERIFY(with.ok);
        QCOMPARE(with.frames, without.frames);
        QCOMPARE(CueMarkers::slicePoints(with), w()->slicer()->slicePoints());
    }

    void darkThemeColours()
    {
        const QPalette before = QApplication::palette();
        QFrame frame;
        DarkTheme::apply(m_app, &frame);
        QCOMPARE(QApplication::palette().color(QPalette::Window), QColor(45, 45, 45));
        QCOMPARE(QApplication::palette().color(QPalette::Base), QColor(18, 18, 18));
        QCOMPARE(QApplication::palette().color(QPalette::Disabled, QPalette::Text), QColor(127, 127, 127));
        QCOMPARE(QApplication::palette().color(QPalette::Active, QPalette::Text), QColor(Qt::white));
        QVERIFY(frame.styleSheet().contains("toolbargradient_darkmode.png"));
        QVERIFY(DarkTheme::desktopPrefersDark());
        m_app->setStyleSheet(QString());
        QApplication::setPalette(before);
    }

    // Last: closing the window ends the run in order and saves the settings.
    // With no remembered folder, or one that is gone, Open and Save Template As start in
    // the Music folder, or in the home folder when there is none; the name box stays empty.
    void firstDialogsStartInMusicOrHome()
    {
        const QString home = QDir::homePath();
        const QString music = QDir(home).filePath("Music");
        auto startOf = [](QAction *action, QString *name) {
            QString folder;
            QTimer::singleShot(50, [&folder, name] {
                auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                folder = dialog->directory().absolutePath();
                if (auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                    *name = edit->text();
                dialog->reject();
            });
            action->trigger();
            return folder;
        };
        Settings::instance().set("last_load_path", QDir(home).filePath("gone"));
        Settings::instance().set("last_slicetemplate_load_path", QString());
        QDir(music).removeRecursively();
        QString name;
        QCOMPARE(startOf(w()->form().actionOpen, &name), home);
        QVERIFY2(name.isEmpty(), qPrintable(name));
        QCOMPARE(startOf(w()->form().actionSaveSliceTemplateAs, &name), home);

        QVERIFY(QDir(home).mkdir("Music"));
        QCOMPARE(startOf(w()->form().actionOpen, &name), music);
        QVERIFY2(name.isEmpty(), qPrintable(name));
        QCOMPARE(startOf(w()->form().actionSaveSliceTemplateAs, &name), music);
        QCOMPARE(name, loop()->baseName());
        QVERIFY(QDir(music).removeRecursively());
        QVERIFY(loop());
    }

    // Before any file the Tempo box shows no detection bar (a "0%" with nothing to
    // measure); opening a loop shows it while its tempo is detected.
    void tempoBarOnlyWhileALoopIsAnalysed()
    {
        QMainWindow empty;
        Ui_QuilloryMainWindow form;
        form.setupUi(&empty);
        empty.show();
        QVERIFY(QTest::qWaitForWindowExposed(&empty));
        QCOMPARE(form.stackedWidgetBpm->currentIndex(), 1);
        QVERIFY(!form.progressBarBpm->isVisible());

        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QVERIFY(w()->form().stackedWidgetBpm->currentIndex() == 0 || w()->form().progressBarBpm->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(w()->form().stackedWidgetBpm->currentIndex(), 0, 30000);

        // A loop without a tempo (a steady tone, silence) says so, and the next loop's
        // detection shows again.
        const QString silent = g_dir->filePath("silent.wav");
        QVERIFY(TestAudio::writeWav(silent, 2, 44100, 3 * 44100, [](long long, int) { return 0.0f; }));
        for (const QString &path : {g_secondPath, silent}) {
            QVERIFY(w()->slotLoadAudioFile(path));
            QTRY_COMPARE_WITH_TIMEOUT(w()->form().progressBarBpm->text(), QString("No tempo"), 30000);
            QCOMPARE(w()->form().stackedWidgetBpm->currentIndex(), 1);
        }
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QTRY_COMPARE_WITH_TIMEOUT(w()->form().stackedWidgetBpm->currentIndex(), 0, 30000);
        w()->slotShowBpmDetectionProgress(0.5f);
        QCOMPARE(w()->form().progressBarBpm->text(), QString("50%"));
        w()->updateQuickControlsOriginalBpmFromSlice();
        QCOMPARE(w()->form().stackedWidgetBpm->currentIndex(), 0);
    }

    // The 4, 8 and 16 badges are drawn at each size and device pixel ratio, not scaled
    // down from one bitmap (which blurs the digits at ratio 1).
    void sliceCountBadgesAreDrawnAtEachSize()
    {
        for (QAction *a : {w()->form().actionSlice4, w()->form().actionSlice8, w()->form().actionSlice16}) {
            const QIcon icon = a->icon();
            QVERIFY(icon.availableSizes().contains(QSize(32, 32)));
            const QImage one = icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
            const QImage two = icon.pixmap(QSize(64, 64)).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(one.size(), QSize(32, 32));
            QCOMPARE(two.size(), QSize(64, 64));
            const QImage scaled = two.scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            // In the badge corner the digits reach full contrast at ratio 1, and differ
            // from the 2x rendering scaled down.
            int darkest = 255, differing = 0;
            for (int y = 20; y < 32; ++y)
                for (int x = 14; x < 32; ++x) {
                    if (qAlpha(one.pixel(x, y)) > 200)
                        darkest = std::min(darkest, qGray(one.pixel(x, y)));
                    if (std::abs(qGray(one.pixel(x, y)) - qGray(scaled.pixel(x, y))) > 40)
                        ++differing;
                }
            QVERIFY2(darkest < 60, qPrintable(QString::number(darkest)));
            QVERIFY(differing > 0);
        }
    }

    // Help > User Manual: a missing manual is reported with every folder looked in; a
    // manual next to the program is handed to the desktop's viewer.
    void userManualOpensThePdfOrSaysWhereItLooked()
    {
        const QStringList folders = TrevantUI::manualFolders();
        QVERIFY(folders.contains(QCoreApplication::applicationDirPath()));
        QVERIFY(folders.first().endsWith("/share/doc/quillory"));
        for (const QString &folder : folders)
            if (QFileInfo::exists(QDir(folder).filePath(TrevantUI::kManualFileName)))
                QSKIP("a manual is installed on this machine");

        OpenedUrls opened;
        QDesktopServices::setUrlHandler("file", &opened, "open");
        QString text;
        closeNextMessageBox(&text);
        w()->form().actionUserManual->trigger();
        QVERIFY(text.contains(TrevantUI::kManualFileName));
        for (const QString &folder : folders)
            QVERIFY2(text.contains(QDir::toNativeSeparators(folder)), qPrintable(text));
        QVERIFY(opened.urls.isEmpty());

        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(TrevantUI::kManualFileName);
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::WriteOnly));
        pdf.write("%PDF-1.4\n");
        pdf.close();
        w()->form().actionUserManual->trigger();
        QFile::remove(path);
        QDesktopServices::unsetUrlHandler("file");
        QCOMPARE(opened.urls, QList<QUrl>{QUrl::fromLocalFile(path)});
    }

    // A point or trim handle held with the mouse is let go where it was by Escape (the
    // window's own Escape only moves the focus) and by an undo or redo meanwhile; the
    // release then changes nothing and the redo history survives.
    void heldPointIsLetGoByEscapeAndByUndo()
    {
        QVERIFY(w()->slotLoadAudioFile(g_loopPath));
        QUndoStack *stack = w()->undoStack();
        w()->form().action8->trigger();
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), 7);
        SampleRendererTrevant *view = w()->slicingView();
        QApplication::setActiveWindow(w());
        view->setFocus();
        const int y = view->height() / 2;
        const int x = int(view->sampleToPixel(points.at(2)));

        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        moveWithButton(view, QPoint(x + 30, y));
        moveWithButton(view, QPoint(x + 90, y));
        QVERIFY(!view->ghostMarkers().isEmpty());
        QTest::keyClick(view, Qt::Key_Escape);
        QVERIFY(view->ghostMarkers().isEmpty());
        QCOMPARE(view->focusWidget(), view);
        moveWithButton(view, QPoint(x + 120, y));
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(x + 120, y));
        QCOMPARE(w()->slicer()->slicePoints(), points);
        QCOMPARE(stack->count(), 1);

        const int trimEnd = w()->slicer()->trimEnd();
        const int endX = int(view->sampleToPixel(trimEnd));
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(endX - 1, y));
        moveWithButton(view, QPoint(endX - 80, y));
        QTest::keyClick(view, Qt::Key_Escape);
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(endX - 80, y));
        QCOMPARE(w()->slicer()->trimEnd(), trimEnd);
        QCOMPARE(stack->count(), 1);

        // Undo with the point held takes the slicing away; letting go must not push a
        // step for the vanished point, which would discard the slicing's redo.
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
        moveWithButton(view, QPoint(x + 90, y));
        QTest::keyClick(view, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        QVERIFY(view->ghostMarkers().isEmpty());
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(x + 90, y));
        QVERIFY(stack->canRedo());
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints(), points);
    }

    // The hints for a held Shift or Ctrl go when the view loses the keys to a dialog
    // (Ctrl+O, Ctrl+S), which receives the release instead.
    void modifierHintEndsWhenTheViewLosesTheKeys()
    {
        SampleRendererTrevant *view = w()->slicingView();
        QApplication::setActiveWindow(w());
        view->setFocus();
        QVERIFY(view->hasFocus());
        QTest::keyPress(view, Qt::Key_Control);
        QCOMPARE(w()->statusBar()->currentMessage(), QString("Start playing at cursor."));
        w()->form().doubleSpinBoxBpm->setFocus();
        QVERIFY(!view->hasFocus());
        QCOMPARE(w()->statusBar()->currentMessage(), QString());
        view->setFocus();
    }

    // Opening another file while the transients of the last one are still being
    // detected abandons that detection, and its progress message with it.
    void openingAFileEndsTheTransientProgressMessage()
    {
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        w()->form().actionSliceAtTransients->trigger();
        QVERIFY(w()->statusBar()->currentMessage().startsWith("Detecting transients"));
        QVERIFY(w()->slotLoadAudioFile(g_secondPath));
        QVERIFY2(!w()->statusBar()->currentMessage().startsWith("Detecting transients"),
                 qPrintable(w()->statusBar()->currentMessage()));
        QTest::qWait(300);
        QVERIFY2(!w()->statusBar()->currentMessage().startsWith("Detecting transients"),
                 qPrintable(w()->statusBar()->currentMessage()));
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        QCOMPARE(w()->undoStack()->count(), 0);
    }

    // The shortest slice length goes with each slicing at transients: after an undo back to
    // a slicing made with a shorter one, raising the sensitivity still only adds points,
    // whatever Advanced Slicing has been set to since.
    void sensitivityKeepsTheMinimumLengthOfItsSlicing()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        ui.sliderTransientSensitivity->setValue(qRound(OnsetDetector::defaultSensitivity));
        Settings::instance().setTransientMinLengthMs(0.0);
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 1, 60000);
        const QList<int> loose = w()->slicer()->slicePoints();
        QCOMPARE(loose.size(), HitLoopFixture::hitFrames().size());

        Settings::instance().setTransientMinLengthMs(200.0);
        ui.actionSliceAtTransients->trigger();
        QCOMPARE(stack->count(), 2);
        const QList<int> spaced = w()->slicer()->slicePoints();
        QVERIFY(spaced.size() < loose.size());
        for (int i = 1; i < spaced.size(); ++i)
            QVERIFY((spaced[i] - spaced[i - 1]) / 2 >= HitLoopFixture::rate / 5);

        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), loose);
        QSlider *slider = ui.sliderTransientSensitivity;
        QVERIFY(slider->isVisible());
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stack->count(), 2);
        QCOMPARE(stack->undoText(), QString("transient sensitivity"));
        const QList<int> raised = w()->slicer()->slicePoints();
        for (int p : loose)
            QVERIFY2(raised.contains(p), qPrintable(QString("point %1 lost").arg(p)));
        // And the step's own undo brings back the points it started from.
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), loose);
        // A new slicing takes the setting as it is now.
        ui.actionSliceAtTransients->trigger();
        QCOMPARE(w()->slicer()->slicePoints(), spaced);
        Settings::instance().setTransientMinLengthMs(Settings::defaultTransientMinLengthMs);
    }

    // Silence has no transients: the slicing says so rather than "sliced at 0", and the
    // sensitivity control is there to look for softer hits.
    void sliceAtTransientsOfSilenceSaysNoneWereFound()
    {
        auto &ui = w()->form();
        const QString silent = g_dir->filePath("silence.wav");
        QVERIFY(TestAudio::writeWav(silent, 2, 44100, 44100, [](long long, int) { return 0.0f; }));
        QVERIFY(w()->slotLoadAudioFile(silent));
        ui.action4->trigger();
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(w()->undoStack()->count(), 2, 60000);
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        QCOMPARE(w()->statusBar()->currentMessage(), QString("No transients found at this sensitivity."));
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        w()->undoStack()->undo();
        QCOMPARE(w()->slicer()->slicePoints().size(), 3);
    }

    // An edit changes what the detection heard the moment it is made: muting a hit and
    // slicing at transients straight away cuts at the hits that are left, not at the ones
    // the detection found before the edit.
    void sliceAtTransientsRightAfterAnEditHearsTheEdit()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        const QVector<long long> hits = HitLoopFixture::hitFrames();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        ui.sliderTransientSensitivity->setValue(qRound(OnsetDetector::defaultSensitivity));
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 1, 60000);
        QCOMPARE(w()->slicer()->slicePoints().size(), hits.size());
        QVERIFY(w()->onsetAnalysis()->analysis());

        ui.actionEditMode->setChecked(true);
        QAction *mute = nullptr;
        for (QAction *a : ui.menuEffects->actions())
            if (a->text().remove('&').contains("Mute"))
                mute = a;
        QVERIFY(mute);
        w()->editView()->setFreeformSelection(int(2 * (hits[0] - 100)), int(2 * (hits[1] - 200)));
        QTRY_VERIFY(mute->isEnabled());
        mute->trigger();
        ui.actionEditMode->setChecked(false);
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 3, 60000);
        QCOMPARE(stack->undoText(), QString("slice at transients"));
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), hits.size() - 1);
        for (int p : points)
            QVERIFY2(HitLoopFixture::hitNear(p, HitLoopFixture::rate / 50, HitLoopFixture::rate / 1000) > 0,
                     qPrintable(QString("point %1 is not at a hit that is left").arg(p / 2)));
        stack->undo();
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints().size(), hits.size());
    }

    // Slicing some other way while the transients are still being detected is what the
    // musician did last: the detection, when it arrives, does not slice over it, and says
    // no more about its progress. Asked for again, the slicing lands at once.
    void otherSlicingWhileDetectingIsNotOverwritten()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        ui.sliderTransientSensitivity->setValue(qRound(OnsetDetector::defaultSensitivity));
        ui.actionSliceAtTransients->trigger();
        QVERIFY(w()->onsetAnalysis()->isAnalysing());
        ui.action8->trigger();
        const QList<int> eight = w()->slicer()->slicePoints();
        QCOMPARE(eight.size(), 7);
        QVERIFY(!w()->statusBar()->currentMessage().startsWith("Detecting transients"));
        QTRY_VERIFY_WITH_TIMEOUT(!w()->onsetAnalysis()->isAnalysing(), 60000);
        QTest::qWait(100);
        QCOMPARE(w()->slicer()->slicePoints(), eight);
        QCOMPARE(stack->count(), 1);
        QCOMPARE(stack->undoText(), QString("slice in 8"));
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
        QVERIFY(!w()->statusBar()->currentMessage().startsWith("Detecting transients"));

        ui.actionSliceAtTransients->trigger();
        QCOMPARE(stack->count(), 2);
        QCOMPARE(stack->undoText(), QString("slice at transients"));
        QCOMPARE(w()->slicer()->slicePoints().size(), HitLoopFixture::hitFrames().size());
    }

    // A transient slicing keeps the placement it was made with: snapping switched off (or
    // on) afterwards does not shift the points a sensitivity change keeps, before or after
    // an undo. A new slicing takes the setting as it is now.
    void transientRepicksKeepTheSnappingOfTheirSlicing()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        // The hits over a quiet tone that crosses zero every 0.77 ms: a snapped start lands
        // on a crossing just before where the unsnapped one is.
        const QString humming = g_dir->filePath("humming-hits.wav");
        const TestAudio::Generator hits = HitLoopFixture::generator();
        QVERIFY(TestAudio::writeWav(humming, 2, HitLoopFixture::rate, HitLoopFixture::frames, [hits](long long f, int c) {
            return hits(f, c) + 0.05f * float(std::sin(2.0 * M_PI * 650.0 * double(f) / HitLoopFixture::rate + 1.0));
        }));
        QVERIFY(w()->slotLoadAudioFile(humming));
        QSlider *slider = ui.sliderTransientSensitivity;
        slider->setValue(qRound(OnsetDetector::defaultSensitivity));
        ui.actionSnapToZeroCrossings->setChecked(true);
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 1, 60000);
        const QList<int> snapped = w()->slicer()->slicePoints();
        QCOMPARE(snapped.size(), HitLoopFixture::hitFrames().size());
        const OnsetAnalysisPtr analysis = w()->onsetAnalysis()->analysis();
        QVERIFY(analysis);
        const QList<int> unsnapped = OnsetAnalysisService::slicePoints(
            w()->slicer(), *analysis, slider->value(), Settings::instance().transientMinLengthMs(), false);
        QCOMPARE(unsnapped.size(), snapped.size());
        int moved = 0;
        for (int i = 0; i < snapped.size(); ++i)
            moved += snapped[i] < unsnapped[i] ? 1 : 0;
        QVERIFY2(moved >= snapped.size() / 2, "the fixture's snapping should move most points");

        auto keepsAll = [this](const QList<int> &kept) {
            const QList<int> now = w()->slicer()->slicePoints();
            for (int p : kept)
                if (!now.contains(p))
                    return false;
            return true;
        };
        ui.actionSnapToZeroCrossings->setChecked(false);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stack->count(), 2);
        QVERIFY(keepsAll(snapped));
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), snapped);
        QTest::keyClick(slider, Qt::Key_Right);
        QVERIFY(keepsAll(snapped));
        stack->undo();

        // Sliced anew with snapping off, and then snapping switched on: the other way round.
        ui.action8->trigger();
        ui.actionSliceAtTransients->trigger();
        QCOMPARE(w()->slicer()->slicePoints(), unsnapped);
        ui.actionSnapToZeroCrossings->setChecked(true);
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stack->undoText(), QString("transient sensitivity"));
        QVERIFY(keepsAll(unsnapped));
        // Back to the first slicing: its re-picks snap again.
        stack->undo();
        stack->undo();
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), snapped);
        ui.actionSnapToZeroCrossings->setChecked(false);
        QTest::keyClick(slider, Qt::Key_Right);
        QVERIFY(keepsAll(snapped));
        ui.actionSnapToZeroCrossings->setChecked(true);
    }

    // Looping a slice to listen to it leaves its points alone, so the sensitivity control
    // stays at hand: a step of it while the slice loops is one undo step above the loop's,
    // and undoing both brings the control back where it was each time.
    void sensitivityStaysAtHandWhileASliceLoops()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        QSlider *slider = ui.sliderTransientSensitivity;
        slider->setValue(qRound(OnsetDetector::defaultSensitivity));
        ui.actionSliceAtTransients->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 1, 60000);
        const QList<int> picked = w()->slicer()->slicePoints();

        auto *bar = w()->findChild<TransportBar *>();
        QVERIFY(bar);
        QTRY_VERIFY(bar->isVisible() && bar->width() > 100);
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(bar->width() / 2, bar->height() - 3));
        QCOMPARE(stack->count(), 2);
        QCOMPARE(stack->undoText(), QString("toggle loop"));
        QVERIFY(loop()->loopMode() > 0);
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        QCOMPARE(slider->value(), qRound(OnsetDetector::defaultSensitivity));

        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(stack->count(), 3);
        QCOMPARE(stack->undoText(), QString("transient sensitivity"));
        const QList<int> raised = w()->slicer()->slicePoints();
        for (int p : picked)
            QVERIFY2(raised.contains(p), qPrintable(QString("point %1 lost").arg(p)));
        QVERIFY(loop()->loopMode() > 0);

        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), picked);
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        QCOMPARE(slider->value(), qRound(OnsetDetector::defaultSensitivity));
        stack->undo();
        QVERIFY(ui.widgetTransientSensitivity->isVisible());
        stack->redo();
        stack->redo();
        QCOMPARE(w()->slicer()->slicePoints(), raised);
        QCOMPARE(slider->value(), qRound(OnsetDetector::defaultSensitivity) + 1);
        // Slicing another way still puts it away.
        ui.action4->trigger();
        QVERIFY(!ui.widgetTransientSensitivity->isVisible());
    }

    // In edit mode the slicings that work on the edited audio stay at hand (Slice at
    // Transients, Clear Slicing, the Slice menu) while the tool bar's equal slicings and
    // drag export go. Slice at Transients clicked just before a region is deleted still
    // lands when the detection of the edited audio is ready: the deletion carrying the
    // points along with its audio is not the musician slicing another way.
    void transientsInEditModeOutliveADeletedRegion()
    {
        auto &ui = w()->form();
        QUndoStack *stack = w()->undoStack();
        const QVector<long long> hits = HitLoopFixture::hitFrames();
        QVERIFY(w()->slotLoadAudioFile(g_hitsPath));
        ui.sliderTransientSensitivity->setValue(qRound(OnsetDetector::defaultSensitivity));
        ui.actionEditMode->setChecked(true);
        for (QAction *a : {ui.actionSlice4, ui.actionSlice8, ui.actionSlice16, ui.actionDragExport})
            QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        for (QAction *a : {ui.actionSliceAtTransients, ui.actionSliceClear, ui.action4, ui.action8})
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));

        // Points on both sides of the region, so the deletion moves some.
        ui.action4->trigger();
        const QList<int> even = w()->slicer()->slicePoints();
        const long long from = hits[3] - 100;
        const long long to = hits[4] - 200;
        QVERIFY(even.first() / 2 < from && even.last() / 2 > to);
        w()->editView()->setFreeformSelection(int(2 * from), int(2 * to));
        QTRY_VERIFY(ui.actionDelete->isEnabled());
        QVERIFY(!w()->onsetAnalysis()->analysis());
        ui.actionSliceAtTransients->trigger();
        QVERIFY(w()->onsetAnalysis()->isAnalysing());
        ui.actionDelete->trigger();
        QCOMPARE(stack->count(), 2);
        QCOMPARE(stack->undoText(), QString("delete region"));
        QVERIFY(w()->slicer()->slicePoints() != even);
        QTRY_COMPARE_WITH_TIMEOUT(stack->count(), 3, 60000);
        QCOMPARE(stack->undoText(), QString("slice at transients"));
        const QList<int> points = w()->slicer()->slicePoints();
        QCOMPARE(points.size(), hits.size() - 1);
        for (int p : points) {
            // Where the point lies in the audio as it was before the deletion.
            const int original = p / 2 >= from ? p + 2 * int(to - from) : p;
            const int hit = HitLoopFixture::hitNear(original, HitLoopFixture::rate / 50, HitLoopFixture::rate / 1000);
            QVERIFY2(hit >= 0 && hit != 3, qPrintable(QString("point %1 is not at a hit that is left").arg(p / 2)));
        }
        QVERIFY(ui.widgetTransientSensitivity->isVisible());

        ui.actionSliceClear->trigger();
        QVERIFY(w()->slicer()->slicePoints().isEmpty());
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), points);
        stack->undo();
        stack->undo();
        QCOMPARE(w()->slicer()->slicePoints(), even);
        ui.actionEditMode->setChecked(false);
        QVERIFY(ui.actionSlice4->isEnabled());
    }

    // The program ends while a queued call (as the edit worker leaves them) still holds the
    // last reference to a loop's editable cache whose worker is busy: it still exits.
    void exitWithACacheReleasedLateDoesNotHang()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--exit-holding-cache"), g_loopPath});
        QVERIFY(child.waitForStarted());
        const bool exited = child.waitForFinished(60000);
        if (!exited) {
            child.kill();
            child.waitForFinished();
        }
        QVERIFY2(exited, "the program hung on its way out");
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }

    // On a desktop with a dark colour scheme the window starts in the dark theme, and the
    // quick controls' labels stand out from their background.
    void darkDesktopGetsTheDarkTheme()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QTemporaryDir home;
        env.insert("HOME", home.path());
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--dark-desktop"), g_loopPath});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }

    // At twice the scale (a high-density laptop screen) the initial size is more than the
    // screen holds: the window opens inside it, its quick controls' far end on the screen.
    void smallScreenHoldsTheWindow()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QTemporaryDir home;
        env.insert("HOME", home.path());
        env.insert("QT_SCALE_FACTOR", "2");
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scaled"), g_loopPath});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }

    void closingShutsDownInOrderAndSavesSettings()
    {
        QFile::remove(Settings::filePath());
        Settings::instance().set("AdvancedSlicingInterval", "2");
        QPointer<TrevantUI> window = w();
        QSignalSpy closed(window.data(), SIGNAL(closed()));
        window->close();
        QCOMPARE(closed.count(), 1);
        QVERIFY(m_app->mainWindow() == nullptr);
        // A second request finds no window.
        m_app->shutDown();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(window.isNull());
        QFile file(Settings::filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("<AdvancedSlicingInterval>2</AdvancedSlicingInterval>"));
    }
};

// The child of exitWithACacheReleasedLateDoesNotHang. Another thread holds the cache's edit
// lock, so that its worker is still in the middle of a region when the application tears
// down and the cache goes with the queued call; the worker then reports that region.
int exitHoldingCache(char *program, const QString &loopPath)
{
    int appArgc = 1;
    char *appArgv[] = {program, nullptr};
    Quillory::setApplicationNames();
    QCoreApplication::setApplicationName("QuilloryTest");
    std::thread holder;
    {
        Quillory app(appArgc, appArgv, false);
        AudioCachePtr source(new AudioCache(AudioFile::createForPath(loopPath)));
        source->preallocate();
        source->fillSynchronously();
        QSharedPointer<EditableAudioCache> cache(new EditableAudioCache(source));
        if (!QTest::qWaitFor([&cache] { return !cache->isResetting(); }, 30000))
            return 3;
        std::atomic<bool> locked{false};
        QRecursiveMutex *editLock = cache->editLock();
        holder = std::thread([editLock, &locked] {
            editLock->lock();
            locked.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            editLock->unlock();
        });
        while (!locked.load())
            std::this_thread::yield();
        cache->markSamplesAsDirty(0, 1000);
        QMetaObject::invokeMethod(&app, [held = std::move(cache)]() {}, Qt::QueuedConnection);
    }
    holder.join();
    return 0;
}

// The child of darkDesktopGetsTheDarkTheme: a desktop whose colour scheme is dark, as a
// KDE session's settings file says. Exit code 0 when the quick controls of the loaded
// loop are legible.
int startOnDarkDesktop(char *program, char *loopPath)
{
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QDir().mkpath(config);
    QFile globals(config + QStringLiteral("/kdeglobals"));
    if (!globals.open(QIODevice::WriteOnly))
        return 2;
    globals.write("[Colors:Window]\nBackgroundNormal=49,54,59\nForegroundNormal=239,240,241\n"
                  "[Colors:Button]\nBackgroundNormal=49,54,59\nForegroundNormal=239,240,241\n"
                  "[Colors:View]\nBackgroundNormal=35,38,41\nForegroundNormal=239,240,241\n");
    globals.close();
    qputenv("XDG_CURRENT_DESKTOP", "KDE");
    qputenv("KDE_SESSION_VERSION", "5");
    int appArgc = 2;
    char *appArgv[] = {program, loopPath, nullptr};
    Quillory::setApplicationNames();
    QCoreApplication::setApplicationName("QuilloryTest");
    Quillory app(appArgc, appArgv, false);
    if (QApplication::palette().color(QPalette::Window).lightness() >= 128)
        return 3; // the desktop's dark colours did not arrive: nothing to tell
    auto &ui = app.mainWindow()->form();
    if (!QTest::qWaitForWindowExposed(app.mainWindow()))
        return 4;
    // The "Tempo:" label's text against what lies behind it (its most common grey).
    const QImage shot = ui.frameQuickControls->grab().toImage();
    const QRect label(ui.label->mapTo(ui.frameQuickControls, QPoint(0, 0)), ui.label->size());
    QVector<int> count(256, 0);
    for (int y = label.top(); y <= label.bottom(); ++y)
        for (int x = label.left(); x <= label.right(); ++x)
            ++count[qGray(shot.pixel(x, y))];
    const int background = int(std::max_element(count.cbegin(), count.cend()) - count.cbegin());
    int contrast = 0;
    for (int grey = 0; grey < 256; ++grey)
        if (count[grey] > 0)
            contrast = std::max(contrast, std::abs(grey - background));
    return contrast > 100 ? 0 : 1;
}

// The child of smallScreenHoldsTheWindow, started at twice the scale: exit code 0 when the
// window opens inside the screen (or at its minimum size where the screen is smaller).
int startScaled(char *program, char *loopPath)
{
    int appArgc = 2;
    char *appArgv[] = {program, loopPath, nullptr};
    Quillory::setApplicationNames();
    QCoreApplication::setApplicationName("QuilloryTest");
    Quillory app(appArgc, appArgv, false);
    TrevantUI *window = app.mainWindow();
    if (!QTest::qWaitForWindowExposed(window))
        return 4;
    const QSize room = window->screen()->availableGeometry().size().expandedTo(window->minimumSize());
    return window->width() <= room.width() && window->height() <= room.height() ? 0 : 1;
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(quillory);
    Q_INIT_RESOURCE(views);
    Q_INIT_RESOURCE(dialogs);
    registerAudioEditMetaType();
    QStandardPaths::setTestModeEnabled(true);
    if (argc == 3 && QByteArray(argv[1]) == "--exit-holding-cache")
        return exitHoldingCache(argv[0], QString::fromLocal8Bit(argv[2]));
    if (argc == 3 && QByteArray(argv[1]) == "--scaled")
        return startScaled(argv[0], argv[2]);
    if (argc == 3 && QByteArray(argv[1]) == "--dark-desktop")
        return startOnDarkDesktop(argv[0], argv[2]);

    QTemporaryDir dir;
    g_dir = &dir;
    // Sound goes to ALSA's file device in a private home, never to a real card.
    QFile rc(dir.filePath(".asoundrc"));
    if (rc.open(QIODevice::WriteOnly))
        rc.write(QString("pcm.!default { type plug; slave.pcm \"capture\" }\n"
                         "pcm.capture { type file; slave.pcm \"null\"; file \"/dev/null\"; format \"raw\" }\n")
                     .toUtf8());
    rc.close();
    qputenv("HOME", dir.path().toLocal8Bit());

    g_loopPath = dir.filePath("break 120 ünï.wav");
    g_secondPath = dir.filePath("tone.wav");
    g_hitsPath = dir.filePath("hits.wav");
    if (!HitLoopFixture::write(g_hitsPath))
        return 2;
    if (!TestAudio::writeWav(g_loopPath, 2, 44100, kLoopFrames, click) ||
        !TestAudio::writeWav(g_secondPath, 1, 48000, 96000, TestAudio::sine(440, 48000)))
        return 2;

    QByteArray prog(argv[0]);
    QByteArray file = g_loopPath.toLocal8Bit();
    char *appArgv[] = {prog.data(), file.data(), nullptr};
    int appArgc = 2;
    Quillory::setApplicationNames();
    QCoreApplication::setApplicationName("QuilloryTest");
    Quillory app(appArgc, appArgv, false);
    QCoreApplication::setApplicationName("QuilloryTest");

    MainWindowTest test(&app);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const int status = QTest::qExec(&test, args);
    return status;
}

#include "tst_mainwindow.moc"
