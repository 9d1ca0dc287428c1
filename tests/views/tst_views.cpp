#include "WorkerSafeTest.h"
#include "ViewFixture.h"

#include "AddSlicePointCommand.h"
#include "AutoSliceCommand.h"
#include "LoopEditorWidget.h"
#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "SetTrimEndCommand.h"
#include "SetTrimStartCommand.h"
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"
#include "TransportBar.h"
#include "Trevant.h"

#include <QMenu>
#include <thread>

using namespace ViewTest;

namespace {

// A loop that can count the connections made to its signals.
class ProbeSlice : public Slice {
public:
    using Slice::Slice;
    int playPosListeners() const { return receivers(SIGNAL(playPosChanged())); }
    int lengthListeners() const { return receivers(SIGNAL(lengthChanged())); }
};

} // namespace

class ViewsTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_shortLoop; // 2 s at 44.1 kHz: 176400 samples

    static constexpr int kShortLength = 176400;

private slots:
    void initTestCase() {
        Q_INIT_RESOURCE(views);
        QStandardPaths::setTestModeEnabled(true);
        Settings::instance().set("snap_to_zero_crossings", "0");
        Settings::instance().set("fade_in_out_slices", "0");
        QVERIFY(m_dir.isValid());
        m_shortLoop = writeLoop(m_dir, "short.wav", 44100, 2.0);
        QVERIFY(!m_shortLoop.isEmpty());
    }

    void artworkIsCompiledIn() {
        for (const char *name : {":draghere.png", ":dragexporthandle.png", ":transport_loop.png",
                                 ":transportbar.png", ":loopbar.png"}) {
            QPixmap one(name);
            QVERIFY2(!one.isNull(), name);
            const QString twice = QString(name).replace(".png", "@2x.png");
            QPixmap two(twice);
            QVERIFY2(!two.isNull(), qPrintable(twice));
            QCOMPARE(two.size(), one.size() * 2);
        }
    }

    // The window in samples, the conversions and the 100-sample minimum.
    void viewWindowAndConversions() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRenderer *v = rig.view;
        QCOMPARE(v->width(), 800);
        QCOMPARE(v->viewStart(), 0);
        QCOMPARE(v->viewEnd(), kShortLength);
        QCOMPARE(v->pixelToSample(400), kShortLength / 2);
        QCOMPARE(v->sampleToPixel(kShortLength / 4), 200.0);
        QCOMPARE(v->pixelToSample(-3), 0);
        QCOMPARE(v->pixelToSeconds(400), 1.0f);
        QCOMPARE(v->zoomFactor(), 1.0f);
        QCOMPARE(v->samplesPerPixel(), kShortLength / 800.0);

        QSignalSpy changed(v, &SampleRenderer::viewChanged);
        v->setViewStart(1000, true);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.last().at(0).value<long>(), 1000L);
        v->setViewEnd(1100, true); // exactly 100 wide: refused
        QCOMPARE(v->viewEnd(), kShortLength);
        v->setViewEnd(1101, false);
        QCOMPARE(v->viewEnd(), 1101);
        QCOMPARE(changed.count(), 1);
        v->setViewStart(1001, true); // would leave 100: refused
        QCOMPARE(v->viewStart(), 1000);
        QCOMPARE(v->pixelToLoopFraction(0), 1000.0 / kShortLength);

        // setViewPosition trusts its caller (the zoom bar) apart from the loop's bounds.
        v->setViewPosition(-50, kShortLength + 999);
        QCOMPARE(v->viewStart(), 0);
        QCOMPARE(v->viewEnd(), kShortLength);
        v->setViewPosition(500, 520);
        QCOMPARE(v->viewEnd() - v->viewStart(), 20);
        QCOMPARE(changed.count(), 1);
        // Past the loop the sample under a pixel is pulled back inside it.
        v->setViewPosition(kShortLength - 200, kShortLength);
        QVERIFY(v->pixelToSample(5000) <= kShortLength);
    }

    // Each length change shows the whole loop again without adding connections.
    void lengthChangeConnectsOnce() {
        QSharedPointer<ProbeSlice> loop(new ProbeSlice(m_shortLoop, 44100));
        QSignalSpy filled(loop.data(), &Slice::loadingComplete);
        QVERIFY(loop->isLoadingComplete() || filled.wait(10000));
        const int playBefore = loop->playPosListeners();
        const int lengthBefore = loop->lengthListeners();
        SampleRenderer view(nullptr, loop);
        view.resize(400, 100);
        QCOMPARE(loop->playPosListeners(), playBefore + 1);
        QCOMPARE(loop->lengthListeners(), lengthBefore + 1);
        view.setViewPosition(1000, 5000);
        QSignalSpy changed(&view, &SampleRenderer::viewChanged);
        for (int i = 0; i < 5; ++i)
            emit loop->lengthChanged();
        QCOMPARE(view.viewStart(), 0);
        QCOMPARE(view.viewEnd(), kShortLength);
        QVERIFY(changed.count() >= 1);
        QCOMPARE(loop->playPosListeners(), playBefore + 1);
        QCOMPARE(loop->lengthListeners(), lengthBefore + 1);
        // Replacing the loop lets go of the old one.
        view.setSlice(QSharedPointer<Slice>());
        QCOMPARE(loop->playPosListeners(), playBefore);
        QCOMPARE(view.viewEnd(), kShortLength);
        QCOMPARE(view.sampleToPixel(1000), 0.0);
    }

    void wheelZoomAndScroll() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRenderer *v = rig.view;
        QSignalSpy changed(v, &SampleRenderer::viewChanged);

        // One notch in, centred towards the mouse at the right quarter.
        wheel(v, QPoint(600, 50), QPoint(0, 120));
        const int w1 = v->viewEnd() - v->viewStart();
        QVERIFY(std::abs(w1 - int(kShortLength / std::exp(0.25))) < 4);
        QVERIFY(v->viewStart() > 0);
        QVERIFY(v->viewEnd() < kShortLength);
        QVERIFY(changed.count() >= 1);
        QCOMPARE(rig.zoombar->barStart(), v->viewStart());
        QCOMPARE(rig.zoombar->barEnd(), v->viewEnd());

        // Many notches never go below the minimum window.
        for (int i = 0; i < 80; ++i) {
            wheel(v, QPoint(400, 50), QPoint(0, 120));
            QVERIFY(v->viewEnd() - v->viewStart() > 100);
        }
        QVERIFY(v->viewEnd() - v->viewStart() < 200);

        // Scroll right by 15 % of the window per notch, also at the deepest zoom: the
        // window moves and keeps its width.
        for (int notch = 0; notch < 3; ++notch) {
            const int s0 = v->viewStart(), e0 = v->viewEnd();
            wheel(v, QPoint(400, 50), QPoint(-120, 0));
            const int shift = int(0.15f * float(e0 - s0));
            QVERIFY(shift > 0);
            QVERIFY(std::abs(v->viewStart() - (s0 + shift)) <= 1);
            QVERIFY(std::abs(v->viewEnd() - (e0 + shift)) <= 1);
        }
        // Scrolling left at the start of the loop keeps the window where it is.
        v->setViewPosition(0, 20000);
        wheel(v, QPoint(400, 50), QPoint(120, 0));
        QCOMPARE(v->viewStart(), 0);
        QVERIFY(v->viewEnd() - v->viewStart() > 100);

        // Zooming out stops at the loop's bounds.
        for (int i = 0; i < 80; ++i)
            wheel(v, QPoint(100, 50), QPoint(0, -120));
        QCOMPARE(v->viewStart(), 0);
        QCOMPARE(v->viewEnd(), kShortLength);
        QCOMPARE(rig.zoombar->barEnd(), kShortLength);
    }

    // Far in, one column covers less than one sample: the render ends and the slice
    // tolerance stays at least one sample, so a click away from any point plays.
    void deepZoomRendersAndClicksPlay() {
        Rig rig;
        rig.window.resize(1600, 300);
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AddSlicePointCommand(rig.slicer.get(), 5000));
        rig.view->setViewPosition(10000, 10050);
        QVERIFY(rig.view->samplesPerPixel() < 0.125);
        QCOMPARE(rig.view->slicePointTolerance(), 1);
        const QImage image = rig.view->grabFramebuffer();
        QVERIFY(!image.isNull());

        QTest::mouseClick(rig.view, Qt::LeftButton, Qt::NoModifier, QPoint(800, 100));
        QSharedPointer<Slice> loop = rig.loop();
        QVERIFY(loop->isPlaying());
        QCOMPARE(loop->playPosition(), 5000);
        QCOMPARE(rig.stack.count(), 1);
    }

    // The play cursor follows playback through the views' repaint timer: the sound-card
    // thread (a plain thread here) only publishes the position.
    void playCursorFollowsPublishedPosition() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        QSharedPointer<Slice> loop = rig.loop();
        loop->play(true, 20000, 0);
        QTRY_COMPARE(rig.view->paintedPlayPosition(), 20000);
        std::thread callback([&] {
            std::vector<float> buf(2 * 1024);
            for (int i = 0; i < 10; ++i)
                loop->render(buf.data(), int(buf.size()));
        });
        callback.join();
        const int position = loop->shownPlayPosition();
        QVERIFY(position >= 20000 + 2 * 10000);
        QTRY_COMPARE(rig.view->paintedPlayPosition(), position);
        QTRY_COMPARE(rig.zoombar->paintedPlayPosition(), position);
    }

    void clickPlaysSliceUnderMouse() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
        QSharedPointer<Slice> loop = rig.loop();

        QTest::mouseClick(rig.view, Qt::LeftButton, Qt::NoModifier, QPoint(300, 100)); // sample 66150
        QVERIFY(loop->isPlaying());
        QCOMPARE(loop->playPosition(), 44100);
        QCOMPARE(loop->playEnd(), 88200);

        // Ctrl-click plays from the clicked sample to the end of its slice.
        QTest::mouseClick(rig.view, Qt::LeftButton, Qt::ControlModifier, QPoint(500, 100));
        QCOMPARE(loop->playPosition(), rig.view->pixelToSample(500) & ~1);
        QCOMPARE(loop->playEnd(), 132300);
        QCOMPARE(rig.stack.count(), 1);
    }

    void shiftClickAddsAndDragsPoint() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;

        QSignalSpy tips(v, &SampleRendererTrevant::statusTip);
        v->setFocus();
        QTest::keyPress(v, Qt::Key_Shift);
        QTest::keyRelease(v, Qt::Key_Shift);
        QCOMPARE(tips.count(), 2);
        QCOMPARE(tips.at(0).at(0).toString(), QString("Add slice point at cursor."));
        QCOMPARE(tips.at(1).at(0).toString(), QString());

        // Shift-click: one "add slice point" step.
        QTest::mouseClick(v, Qt::LeftButton, Qt::ShiftModifier, QPoint(200, 100));
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{44100});
        QCOMPARE(rig.stack.count(), 1);
        QCOMPARE(rig.stack.text(0), QString("add slice point"));

        // Drag the point: the model only changes on release, as one "move" step.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(203, 100));
        move(v, QPoint(260, 100));
        move(v, QPoint(303, 100));
        QCOMPARE(v->ghostMarkers(), QList<int>{300});
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{44100});
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(303, 100));
        const int moved = (44100 + v->pixelToSample(303) - v->pixelToSample(203)) & ~1;
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{moved});
        QCOMPARE(rig.stack.count(), 2);
        QCOMPARE(rig.stack.text(1), QString("move slice point"));
        QVERIFY(v->ghostMarkers().isEmpty());

        // Shift-press and drag in one gesture: add, then move.
        QTest::mousePress(v, Qt::LeftButton, Qt::ShiftModifier, QPoint(600, 100));
        move(v, QPoint(650, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::ShiftModifier, QPoint(650, 100));
        QCOMPARE(rig.stack.count(), 4);
        QCOMPARE(rig.slicer->slicePoints().size(), 2);
        QCOMPARE(rig.slicer->slicePoints().last(),
                 (132300 + v->pixelToSample(650) - v->pixelToSample(600)) & ~1);

        // Undo walks back through every step; redo replays them.
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{moved, 132300}));
        rig.stack.undo();
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{44100});
        rig.stack.undo();
        QVERIFY(rig.slicer->slicePoints().isEmpty());
        for (int i = 0; i < 4; ++i)
            rig.stack.redo();
        QCOMPARE(rig.slicer->slicePoints().size(), 2);
    }

    // A grab the view never saw released (it was hidden by a switch to edit mode, or a
    // message box took the release) is let go: the next click elsewhere moves nothing.
    void grabLostWhileHiddenMovesNothing() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        const int steps = rig.stack.count();
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        move(v, QPoint(260, 100));
        v->hide();
        v->show();
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(v->ghostMarkers().isEmpty());
        QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, QPoint(500, 100));
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
        QCOMPARE(rig.stack.count(), steps);

        // The release taken by a box that popped up: the next press starts afresh.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        move(v, QPoint(260, 100));
        QMouseEvent again(QEvent::MouseButtonPress, QPointF(500, 100), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(v, &again);
        QMouseEvent up(QEvent::MouseButtonRelease, QPointF(500, 100), Qt::LeftButton, Qt::NoButton,
                       Qt::NoModifier);
        QApplication::sendEvent(v, &up);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
        QCOMPARE(rig.stack.count(), steps);
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(500, 100)); // QTest's own bookkeeping
    }

    void dragPointOutOfViewDeletesIt() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));

        // Released at x = 1 the point moves; at x = 0 it is deleted.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
        move(v, QPoint(1, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(1, 100));
        QCOMPARE(rig.slicer->slicePoints().first(), v->pixelToSample(1) & ~1);
        rig.stack.undo();

        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(400, 100));
        move(v, QPoint(100, 100));
        move(v, QPoint(-40, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(-40, 100));
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 132300}));
        QCOMPARE(rig.stack.text(rig.stack.index() - 1), QString("remove slice point"));
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));

        // Grabbed right of its line and released at x = 1, the point would land on the
        // loop's first sample, where no click could grab it again: it is deleted instead.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(206, 100));
        move(v, QPoint(100, 100));
        move(v, QPoint(1, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(1, 100));
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{88200, 132300}));
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
    }

    void trimHandles() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;

        // Trim start: grabbed within 8 pixels, moved by the drag distance.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(4, 100));
        move(v, QPoint(104, 100));
        QCOMPARE(v->ghostMarkers(), QList<int>{100});
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(104, 100));
        const int expectedStart = (v->pixelToSample(104) - v->pixelToSample(4)) & ~1;
        QCOMPARE(rig.slicer->trimStart(), expectedStart);
        QCOMPARE(rig.stack.text(0), QString("move trim start point"));

        // Trim end, dragged left.
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(797, 100));
        move(v, QPoint(700, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(700, 100));
        const int expectedEnd = (kShortLength + v->pixelToSample(700) - v->pixelToSample(797)) & ~1;
        QCOMPARE(rig.slicer->trimEnd(), expectedEnd);
        QCOMPARE(rig.stack.text(1), QString("move trim end point"));

        // Trim start dragged past trim end stops 512 samples before it, frame-aligned.
        const int startX = int(v->sampleToPixel(expectedStart));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(startX, 100));
        move(v, QPoint(790, 100));
        QVERIFY(v->ghostMarkers().first() <= int(v->sampleToPixel(expectedEnd - 512)));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(790, 100));
        QCOMPARE(rig.slicer->trimStart(), (expectedEnd - 512) & ~1);

        // Trim end dragged out of the view to the right stays inside the loop.
        rig.stack.undo();
        const int endX = int(v->sampleToPixel(expectedEnd));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(endX, 100));
        move(v, QPoint(1200, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(1200, 100));
        QVERIFY(rig.slicer->trimEnd() <= kShortLength);
        QCOMPARE(rig.slicer->trimEnd() % 2, 0);

        rig.stack.undo();
        rig.stack.undo();
        rig.stack.undo();
        QCOMPARE(rig.slicer->trimStart(), 0);
        QCOMPARE(rig.slicer->trimEnd(), kShortLength);
        rig.stack.redo();
        QCOMPARE(rig.slicer->trimStart(), expectedStart);
    }

    // Snapping to a zero crossing never takes a trim point past the 512 samples it keeps
    // from the other: on a deep tone the nearest crossing can lie 25 ms away.
    void snappedTrimPointsKeepTheirDistance() {
        const QString path = m_dir.filePath("deep.wav");
        QVERIFY(TestAudio::writeWav(path, 2, 44100, 88200, TestAudio::sine(21.0, 44100), false));
        Settings::instance().set("snap_to_zero_crossings", "1");
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(path));
        SampleRendererTrevant *v = rig.view;
        const int length = rig.loop()->length();
        // Trim end 100 samples before a crossing of the tone, the one before it 2100 samples
        // back: 512 samples before the trim end the nearest crossing lies after it.
        const int crossing = 2 * int(std::lround(44100 * (3.5 / 21.0)));
        const int end = crossing - 100;
        rig.stack.push(new SetTrimEndCommand(rig.slicer.get(), end));
        QCOMPARE(rig.slicer->trimEnd(), end);

        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(2, 100));
        move(v, QPoint(400, 100));
        move(v, QPoint(790, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(790, 100));
        QVERIFY2(rig.slicer->trimStart() <= rig.slicer->trimEnd() - 512,
                 qPrintable(QString("%1 %2").arg(rig.slicer->trimStart()).arg(rig.slicer->trimEnd())));
        QCOMPARE(rig.slicer->trimStart() % 2, 0);

        rig.stack.undo();
        rig.stack.undo();
        // The mirror image: trim start 100 samples after a crossing, the next 2100 ahead.
        rig.stack.push(
            new SetTrimStartCommand(rig.slicer.get(), 2 * int(std::lround(44100 * (3.0 / 21.0))) + 100));
        const int endX = int(v->sampleToPixel(length));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(endX - 2, 100));
        move(v, QPoint(400, 100));
        move(v, QPoint(2, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(2, 100));
        QVERIFY2(rig.slicer->trimEnd() >= rig.slicer->trimStart() + 512,
                 qPrintable(QString("%1 %2").arg(rig.slicer->trimStart()).arg(rig.slicer->trimEnd())));
        Settings::instance().set("snap_to_zero_crossings", "0");
    }

    void contextMenuActions() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;
        rig.stack.push(new AddSlicePointCommand(rig.slicer.get(), 88200));
        const QList<QAction *> actions = v->contextMenu()->actions();
        QCOMPARE(actions.size(), 4);

        QTest::mouseClick(v, Qt::RightButton, Qt::NoModifier, QPoint(200, 100));
        QTRY_VERIFY(v->contextMenu()->isVisible());
        QVERIFY(actions[0]->isEnabled());  // Slice Here
        QVERIFY(!actions[1]->isEnabled()); // Delete Slice Point
        actions[0]->trigger();
        v->contextMenu()->hide();
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200}));

        QTest::mouseClick(v, Qt::RightButton, Qt::NoModifier, QPoint(402, 100));
        QTRY_VERIFY(v->contextMenu()->isVisible());
        QVERIFY(!actions[0]->isEnabled());
        QVERIFY(actions[1]->isEnabled());
        actions[1]->trigger();
        v->contextMenu()->hide();
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{44100});
        QCOMPARE(rig.stack.count(), 3);

        // Sample 0 is the loop's own start: a point there would be a slice of nothing that
        // no click can take again. Neither the menu nor a Shift-click puts one there.
        rig.stack.push(new SetTrimStartCommand(rig.slicer.get(), 22050));
        const int steps = rig.stack.count();
        QTest::mouseClick(v, Qt::RightButton, Qt::NoModifier, QPoint(0, 100));
        QTRY_VERIFY(v->contextMenu()->isVisible());
        QVERIFY(!actions[0]->isEnabled());
        v->contextMenu()->hide();
        QTest::mouseClick(v, Qt::LeftButton, Qt::ShiftModifier, QPoint(0, 100));
        QCOMPARE(rig.slicer->slicePoints(), QList<int>{44100});
        QCOMPARE(rig.stack.count(), steps);
    }

    void zoombarHandleDrag() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererZoombar *z = rig.zoombar;
        QCOMPARE(z->width(), 800);
        rig.view->setViewStart(44100, true);
        rig.view->setViewEnd(88200, true);
        QCOMPARE(z->barStart(), 44100);
        QCOMPARE(z->handleEnd(), 88200);

        QSignalSpy bar(z, &SampleRendererZoombar::barChanged);
        const int y = z->height() / 2;
        QTest::mousePress(z, Qt::LeftButton, Qt::NoModifier, QPoint(300, y));
        QVERIFY(z->isDragging());
        move(z, QPoint(340, y)); // sideways: scroll by 40/250 of the window
        QCOMPARE(bar.count(), 1);
        const int scroll = int(40 * 44100 / 250.0);
        QCOMPARE(z->barStart(), 44100 + scroll);
        QCOMPARE(z->barEnd(), 88200 + scroll);
        QCOMPARE(rig.view->viewStart(), 44100 + scroll);
        move(z, QPoint(340, y - 10)); // up: zoom in by 10/200 of the window on each side
        QCOMPARE(z->barStart(), 44100 + scroll + 2205);
        QCOMPARE(z->barEnd(), 88200 + scroll - 2205);
        QTest::mouseRelease(z, Qt::LeftButton, Qt::NoModifier, QPoint(340, y - 10));
        QVERIFY(!z->isDragging());
        QCOMPARE(rig.view->viewEnd(), z->barEnd());

        // Dragged sideways into the end of the loop, the window stops there with its width.
        z->setBarPosition(130000, 170000);
        const int centre = int(z->sampleToPixel(150000));
        QTest::mousePress(z, Qt::LeftButton, Qt::NoModifier, QPoint(centre, y));
        move(z, QPoint(centre + 100, y)); // 100 / 250 of the window: past the end
        QTest::mouseRelease(z, Qt::LeftButton, Qt::NoModifier, QPoint(centre + 100, y));
        QCOMPARE(z->barEnd(), kShortLength);
        QCOMPARE(z->barStart(), kShortLength - 40000);

        // A window a few pixels wide gets a 20-pixel handle; dragged narrower than 100
        // samples it keeps its start and becomes exactly 100 wide.
        z->setBarPosition(10000, 10300);
        QCOMPARE(int(z->sampleToPixel(z->handleEnd()) - z->sampleToPixel(z->handleStart()) + 0.5), 20);
        const int cx = int(z->sampleToPixel(10150));
        QTest::ignoreMessage(QtDebugMsg, "Hit minimum size in SampleRendererZoombar");
        QTest::mousePress(z, Qt::LeftButton, Qt::NoModifier, QPoint(cx, y));
        move(z, QPoint(cx, y - 70));
        QCOMPARE(z->barStart(), 10000);
        QCOMPARE(z->barEnd(), 10100);
        QCOMPARE(rig.view->viewEnd() - rig.view->viewStart(), 100);
        QTest::mouseRelease(z, Qt::LeftButton, Qt::NoModifier, QPoint(cx, y));
    }

    void transportRulerClickPlays() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        QCOMPARE(rig.transport->width(), 800);
        QSharedPointer<Slice> loop = rig.loop();
        QTest::mouseClick(rig.transport, Qt::LeftButton, Qt::NoModifier, QPoint(400, 10));
        QVERIFY(loop->isPlaying());
        QCOMPARE(loop->playPosition(), 88200);
        QCOMPARE(loop->playEnd(), 132300);
        // Inside the last slice playback runs to the trim end.
        QTest::mouseClick(rig.transport, Qt::LeftButton, Qt::NoModifier, QPoint(700, 10));
        QCOMPARE(loop->playEnd(), kShortLength);
        QCOMPARE(rig.stack.count(), 1);
    }

    // Narrowing the window, with no mouse near it, leaves the transport bar drawn in the
    // view's new scale: its last paint happens once the view below has its new width.
    void transportBarRepaintsAfterEveryWidthChange() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        QCoreApplication::processEvents();

        struct PaintWatch : QObject {
            QWidget *view = nullptr;
            QList<int> viewWidths; // the view's width at each paint of the bar
            bool eventFilter(QObject *, QEvent *event) override {
                if (event->type() == QEvent::Paint)
                    viewWidths << view->width();
                return false;
            }
        } watch;
        watch.view = rig.view;
        rig.transport->installEventFilter(&watch);
        QCursor::setPos(rig.window.mapToGlobal(QPoint(-200, -200)));
        for (int width : {600, 450, 700}) {
            watch.viewWidths.clear();
            rig.window.resize(width, 300);
            QTRY_COMPARE(rig.view->width(), width);
            QTRY_VERIFY(!watch.viewWidths.isEmpty() && watch.viewWidths.last() == width);
            QCOMPARE(rig.transport->width(), width);
        }
        rig.transport->removeEventFilter(&watch);
    }

    void transportLoopToggleAndDrag() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        QSharedPointer<Slice> loop = rig.loop();
        TransportBar *t = rig.transport;
        const int y = t->height() - 8;

        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(300, y));
        QCOMPARE(loop->loopMode(), 2);
        QCOMPARE(loop->loopStart(), 44100);
        QCOMPARE(loop->loopEnd(), 88200);
        QCOMPARE(rig.stack.text(rig.stack.index() - 1), QString("toggle loop"));

        // Shift-click beyond the region extends it to the end of the clicked slice.
        QTest::mouseClick(t, Qt::LeftButton, Qt::ShiftModifier, QPoint(500, y));
        QCOMPARE(loop->loopEnd(), 132300);
        QCOMPARE(rig.stack.text(rig.stack.index() - 1), QString("expand loop"));

        // A drag of 4 pixels is still a click position, not a move.
        const int before = rig.stack.count();
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(400, y));
        move(t, QPoint(450, y));
        QCOMPARE(t->ghostMarkers().size(), 2);
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(450, y));
        QCOMPARE(rig.stack.count(), before + 1);
        QCOMPARE(rig.stack.text(rig.stack.index() - 1), QString("move slice points"));
        const int shift = int(50 * rig.view->samplesPerPixel());
        QCOMPARE(loop->loopStart(), (44100 + shift) & ~1);
        QCOMPARE(loop->loopEnd(), (132300 + shift) & ~1);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{(44100 + shift) & ~1, 88200, (132300 + shift) & ~1}));

        // One undo step brings both points back.
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
        QCOMPARE(loop->loopStart(), 44100);
        QCOMPARE(loop->loopEnd(), 132300);
        rig.stack.redo();
        QCOMPARE(loop->loopStart(), (44100 + shift) & ~1);
        rig.stack.undo();

        // Dragged far right the region stops at the loop's end, keeping its width.
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(400, y));
        move(t, QPoint(420, y));
        move(t, QPoint(790, y));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(790, y));
        QCOMPARE(loop->loopEnd(), kShortLength);
        QCOMPARE(loop->loopStart(), kShortLength - (132300 - 44100));
        for (int p : rig.slicer->slicePoints()) {
            QVERIFY(p >= 0 && p <= kShortLength);
            QCOMPARE(p % 2, 0);
        }

        // Dragged far left, the region's first point stops a frame short of the loop's start.
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(400, y));
        move(t, QPoint(380, y));
        move(t, QPoint(-300, y));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(-300, y));
        QCOMPARE(loop->loopStart(), 2);
        QCOMPARE(rig.slicer->slicePoints().first(), 2);
        rig.stack.undo();

        // Toggling the looped slice again switches looping off.
        rig.stack.undo();
        rig.stack.undo(); // expand
        QCOMPARE(loop->loopEnd(), 88200);
        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(300, y));
        QCOMPARE(loop->loopMode(), 0);
        rig.stack.undo();
        QCOMPARE(loop->loopMode(), 2);
    }

    // The first slice starts at the trim start and the last ends at the trim end: dragging
    // their loop region moves that trim point with the slice point at the other edge.
    void transportDragsTheEdgeSlicesWhole() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        QSharedPointer<Slice> loop = rig.loop();
        TransportBar *t = rig.transport;
        const int y = t->height() - 8;
        const int shift = int(40 * rig.view->samplesPerPixel()) & ~1;

        // Without looping there is no region to move: a drag changes nothing.
        const int steps = rig.stack.count();
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        move(t, QPoint(140, y));
        QVERIFY(t->ghostMarkers().isEmpty());
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(140, y));
        QCOMPARE(rig.stack.count(), steps);
        QCOMPARE(rig.slicer->trimStart(), 0);

        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        QCOMPARE(loop->loopStart(), 0);
        QCOMPARE(loop->loopEnd(), 44100);
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        move(t, QPoint(140, y));
        QCOMPARE(t->ghostMarkers(), (QList<int>{40, 240}));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(140, y));
        QCOMPARE(loop->loopStart(), shift);
        QCOMPARE(loop->loopEnd(), 44100 + shift);
        QCOMPARE(rig.slicer->trimStart(), shift);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100 + shift, 88200, 132300}));
        // Back to the left it returns to where it was.
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(140, y));
        move(t, QPoint(100, y));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        QCOMPARE(rig.slicer->trimStart(), 0);
        QCOMPARE(loop->loopStart(), 0);
        QCOMPARE(loop->loopEnd(), 44100);
        rig.stack.undo();
        rig.stack.undo();
        QCOMPARE(rig.slicer->trimStart(), 0);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));
        QCOMPARE(loop->loopStart(), 0);
        QCOMPARE(loop->loopEnd(), 44100);
        rig.stack.redo();
        QCOMPARE(rig.slicer->trimStart(), shift);
        QCOMPARE(loop->loopStart(), shift);
        rig.stack.undo();

        // The last slice, dragged left, brings the trim end with it.
        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(700, y));
        QCOMPARE(loop->loopStart(), 132300);
        QCOMPARE(loop->loopEnd(), kShortLength);
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(700, y));
        move(t, QPoint(660, y));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(660, y));
        QCOMPARE(loop->loopStart(), 132300 - shift);
        QCOMPARE(loop->loopEnd(), kShortLength - shift);
        QCOMPARE(rig.slicer->trimEnd(), kShortLength - shift);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300 - shift}));
        rig.stack.undo();
        QCOMPARE(rig.slicer->trimEnd(), kShortLength);
        QCOMPARE(loop->loopEnd(), kShortLength);
        QCOMPARE(rig.slicer->slicePoints(), (QList<int>{44100, 88200, 132300}));

        // The first slice dragged far right stops 512 samples short of the trim end.
        rig.stack.push(new SetTrimEndCommand(rig.slicer.get(), 100000));
        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        QCOMPARE(loop->loopStart(), 0);
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(100, y));
        move(t, QPoint(300, y));
        move(t, QPoint(790, y));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(790, y));
        QCOMPARE(rig.slicer->trimStart(), 100000 - 512);
        QCOMPARE(rig.slicer->trimEnd(), 100000);
    }

    void rulerSpacing() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        // Whole loop: one tick per eighth of the loop.
        QCOMPARE(rig.transport->rulerSpacing(), kShortLength / 8);
        // Zoomed in, the spacing shrinks by factors of 1.5 until more than seven ticks show.
        rig.view->setViewPosition(50000, 54000);
        int expected = kShortLength / 8;
        while (4000 / expected <= 7)
            expected = int(expected / 1.5);
        QCOMPARE(rig.transport->rulerSpacing(), expected);
        QVERIFY(4000 / expected > 7);
        QVERIFY(4000 / int(expected * 1.5) <= 7);
        rig.view->setViewPosition(0, 0);
        QCOMPARE(rig.transport->rulerSpacing(), 0);
    }

    // A slice point next to a trim handle is grabbed before the handle.
    // With 64 slices the grab zones shrink to a third of the gap, so a click between
    // points plays a slice; a point moves only once the pointer passed the drag distance.
    void closePointsLeaveRoomToClickAndIgnoreJitter() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 64));
        const QList<int> points = rig.slicer->slicePoints();
        QCOMPARE(points.size(), 63);
        QSharedPointer<Slice> loop = rig.loop();
        const double gap = v->sampleToPixel(points.at(10)) - v->sampleToPixel(points.at(9));
        QVERIFY(gap / 2 < SampleRendererTrevant::kHitPixels);
        QTest::mouseClick(v, Qt::LeftButton, Qt::NoModifier, QPoint(int(v->sampleToPixel(points.at(9)) + gap / 2), 100));
        QCOMPARE(loop->playEnd(), points.at(10));
        QCOMPARE(rig.stack.count(), 1);
        rig.slicer->togglePlayback(false);

        const int px = qRound(v->sampleToPixel(points.at(20)));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(px, 100));
        move(v, QPoint(px + 2, 101));
        QVERIFY(v->ghostMarkers().isEmpty());
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(px + 2, 101));
        QCOMPARE(rig.slicer->slicePoints(), points);
        QCOMPARE(rig.stack.count(), 1);
        rig.slicer->togglePlayback(false);

        const int far = px + QApplication::startDragDistance() + 1;
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(px, 100));
        move(v, QPoint(far, 100));
        QCOMPARE(v->ghostMarkers().size(), 1);
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(far, 100));
        QCOMPARE(rig.stack.count(), 2);
        QVERIFY(!rig.slicer->slicePoints().contains(points.at(20)));
    }

    void slicePointWinsOverTrimHandle() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        SampleRendererTrevant *v = rig.view;
        const int point = v->pixelToSample(5) & ~1;
        rig.stack.push(new AddSlicePointCommand(rig.slicer.get(), point));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(3, 100));
        move(v, QPoint(60, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(60, 100));
        QCOMPARE(rig.slicer->trimStart(), 0);
        QCOMPARE(rig.slicer->slicePoints(),
                 QList<int>{(point + v->pixelToSample(60) - v->pixelToSample(3)) & ~1});
        QCOMPARE(rig.stack.text(1), QString("move slice point"));
    }

    void dragExportFreezesTransportAndDrawsSlices() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_shortLoop));
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        rig.view->slotToggleDragExport(true);
        rig.transport->setDragExport(true);
        QVERIFY(rig.view->isDragExportOn());
        const int count = rig.stack.count();
        QTest::mouseClick(rig.transport, Qt::LeftButton, Qt::NoModifier,
                          QPoint(300, rig.transport->height() - 8));
        QCOMPARE(rig.loop()->loopMode(), 0);
        // A press starts a real drag carrying the slice's file; Escape ends the drag.
        QSignalSpy written(rig.view, SIGNAL(exportSuccessful(QString, QString)));
        // Escape is repeated until the drag has ended, however long writing the file takes.
        QTimer escape;
        connect(&escape, &QTimer::timeout, rig.view, [&rig] { QTest::keyClick(rig.view, Qt::Key_Escape); });
        escape.start(200);
        QTest::mouseClick(rig.view, Qt::LeftButton, Qt::ShiftModifier, QPoint(300, 100));
        escape.stop();
        QCOMPARE(written.count(), 1);
        QCOMPARE(rig.stack.count(), count);
        // The drag left the view; the pointer comes back over the same slice (sent
        // directly, as the cursor did not move as far as the window system knows).
        QMouseEvent back(QEvent::MouseMove, QPointF(300, 100), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(rig.view, &back);
        const QImage image = rig.view->grabFramebuffer();
        // The hovered slice is lighter than its neighbour at the same height.
        const QColor hovered = image.pixelColor(int(300 * image.width() / 800.0), 5);
        const QColor other = image.pixelColor(int(500 * image.width() / 800.0), 5);
        QVERIFY2(hovered.lightness() > other.lightness(),
                 qPrintable(QString("%1 vs %2").arg(hovered.name(), other.name())));
        rig.view->slotToggleDragExport(false);
    }

    void loopEditorSetsRegion() {
        Trevant slicer;
        QVERIFY(slicer.slotLoadLoop(m_shortLoop));
        QSharedPointer<Slice> loop = slicer.currentSlice();
        QSignalSpy filled(loop.data(), &Slice::loadingComplete);
        LoopEditorWidget editor(nullptr, loop);
        editor.resize(400, 80);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QCOMPARE(editor.toolTip(), QString("Left-click to set the loop starting point"));
        loop->setLoop(0, kShortLength);
        QTest::mousePress(&editor, Qt::LeftButton, Qt::NoModifier, QPoint(100, 40));
        QCOMPARE(loop->loopStart(), editor.pixelToSample(100) & ~1);
        move(&editor, QPoint(120, 40));
        QCOMPARE(loop->loopStart(), editor.pixelToSample(120) & ~1);
        QTest::mouseRelease(&editor, Qt::LeftButton, Qt::NoModifier, QPoint(120, 40));
        QTest::mouseClick(&editor, Qt::RightButton, Qt::NoModifier, QPoint(300, 40));
        QCOMPARE(loop->loopEnd(), editor.pixelToSample(300) & ~1);
        // The end cannot be set before the start.
        QTest::mouseClick(&editor, Qt::RightButton, Qt::NoModifier, QPoint(50, 40));
        QCOMPARE(loop->loopEnd(), editor.pixelToSample(300) & ~1);
        const QImage image = editor.grabFramebuffer();
        // The OpenGL paint engine may place a one-pixel line on either side of its
        // integer coordinate.
        auto lineNear = [&image](int x, const QColor &color) {
            for (int dx = -1; dx <= 1; ++dx)
                if (image.pixelColor(x + dx, 10) == color)
                    return true;
            return false;
        };
        QVERIFY(lineNear(int(editor.sampleToPixel(loop->loopStart())), QColor(200, 0, 0)));
        QVERIFY(lineNear(int(editor.sampleToPixel(loop->loopEnd())), QColor(0, 0, 200)));
        QVERIFY(!lineNear(int(editor.sampleToPixel(loop->loopStart())) + 40, QColor(200, 0, 0)));
    }

    void detachedViewShowsDropHint() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(!rig.slicer->currentSlice());
        // Without a loop the handlers do nothing and nothing is pushed.
        QTest::mouseClick(rig.view, Qt::LeftButton, Qt::ShiftModifier, QPoint(300, 100));
        QTest::mouseClick(rig.transport, Qt::LeftButton, Qt::NoModifier, QPoint(300, 35));
        wheel(rig.view, QPoint(300, 100), QPoint(0, 120));
        QCOMPARE(rig.stack.count(), 0);
        const QImage image = rig.view->grabFramebuffer();
        // The hint's frame sits at a quarter of the width.
        bool frameFound = false;
        const int x = int(image.width() / 4.0);
        for (int y = 0; y < image.height() && !frameFound; ++y)
            frameFound = image.pixelColor(x, y) == QColor(80, 80, 80);
        QVERIFY(frameFound);
    }
};

QObject *longLoopTests();

// Runs both test classes; function names on the command line go to the class that has
// them, so a single function of either can be run on its own.
int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    ViewsTest views;
    std::unique_ptr<QObject> longLoop(longLoopTests());
    int failures = 0;
    for (QObject *test : {static_cast<QObject *>(&views), longLoop.get()}) {
        QStringList args;
        bool named = false, mine = false;
        for (int i = 0; i < argc; ++i) {
            const QString arg = QString::fromLocal8Bit(argv[i]);
            if (i > 0 && !arg.startsWith('-') && !args.last().startsWith("-o") && arg.front().isLetter()) {
                named = true;
                const QString function = arg.section(':', 0, 0);
                if (test->metaObject()->indexOfMethod(
                        QMetaObject::normalizedSignature(qPrintable(function + "()"))) < 0)
                    continue;
                mine = true;
            }
            args << arg;
        }
        if (named && !mine)
            continue;
        failures += QTest::qExec(test, args);
    }
    return failures;
}

#include "tst_views.moc"
