// The slicer: boundaries, slicing operations, snapping, playback requests, MIDI and undo.
#include "WorkerSafeTest.h"
#include "AddSlicePointCommand.h"
#include "AutoSliceCommand.h"
#include "BpmDetector.h"
#include "ClearSlicingCommand.h"
#include "ExpandSliceLoopCommand.h"
#include "ModelFixtures.h"
#include "MoveSlicePointCommand.h"
#include "RemoveSlicePointCommand.h"
#include "SetTrimEndCommand.h"
#include "SetTrimStartCommand.h"
#include "SliceByBarsCommand.h"
#include "SliceByBeatsCommand.h"
#include "ToggleSliceLoopCommand.h"
#include "Trevant.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QUndoStack>
#include <QtTest>
#include <algorithm>
#include <chrono>
#include <future>
#include <set>

using namespace ModelFixtures;

class SlicerTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_small;  // 4000 samples
    QString m_medium; // 400002 samples

    void load(Trevant &t, const QString &path) {
        QVERIFY(t.slotLoadLoop(path));
        SlicePtr s = t.currentSlice();
        for (int i = 0; i < 2000 && !s->isLoadingComplete(); ++i)
            QTest::qWait(5);
    }

private slots:
    void initTestCase() {
        setSetting("snap_to_zero_crossings", "0");
        setSetting("fade_in_out_slices", "0");
        m_small = writeStaircase(m_dir, "small.wav", 44100, 4000);
        m_medium = writeSine(m_dir, "medium.wav", 44100, 200001, 441.0);
        QVERIFY(!m_small.isEmpty() && !m_medium.isEmpty());
    }
    void cleanup() { setSetting("snap_to_zero_crossings", "0"); }

    void boundaries() {
        Trevant t;
        load(t, m_small);
        t.setTrimEnd(8000);
        QCOMPARE(t.sliceStartAt(500, 0), 0);
        QCOMPARE(t.sliceEndAt(500), 8000);
        t.setSlicePoints({1000, 3000});
        QCOMPARE(t.sliceStartAt(2000, 0), 1000);
        QCOMPARE(t.sliceEndAt(2000), 3000);
        QCOMPARE(t.sliceStartAt(3000, 0), 3000);
        QCOMPARE(t.sliceEndAt(3000), 8000);
        QCOMPARE(t.sliceStartAt(500, 0), 0);
        QCOMPARE(t.sliceStartAt(1011, 10), 0);
        QCOMPARE(t.sliceStartAt(1010, 10), 1000);
    }

    void addRemoveMovePoints() {
        Trevant t;
        load(t, m_small);
        QSignalSpy changed(&t, &Trevant::slicePointsChanged);
        t.addSlicePoint(1001);
        t.addSlicePoint(1000);
        QCOMPARE(t.slicePoints(), QList<int>({1000}));
        QCOMPARE(changed.count(), 2);
        t.moveSlicePoint(42, 50); // absent: nothing, no signal
        QCOMPARE(changed.count(), 2);
        t.addSlicePoint(3000);
        t.addSlicePoint(2000);
        // Removing the loop's end point moves it to the previous boundary, or to the next
        // when the previous is the loop start.
        SlicePtr s = t.currentSlice();
        s->setLoop(1000, 3000);
        t.removeSlicePoint(3000);
        QCOMPARE(s->loopEnd(), 2000);
        t.removeSlicePoint(2000);
        QCOMPARE(s->loopStart(), 1000);
        QCOMPARE(s->loopEnd(), 8000);
    }

    void sliceEvenlyArithmetic() {
        Trevant t;
        load(t, m_medium);
        t.setTrimEnd(400000);
        t.sliceEvenly(4);
        QCOMPARE(t.slicePoints(), QList<int>({100000, 200000, 300000}));
        t.setTrimEnd(400002);
        t.sliceEvenly(4);
        QCOMPARE(t.slicePoints(), QList<int>({100000, 200000, 300000}));
        t.sliceEvenly(1);
        QVERIFY(t.slicePoints().isEmpty());
        // Inside a loop only the region is divided and the other points stay.
        t.setSlicePoints({1000});
        SlicePtr s = t.currentSlice();
        s->setLoop(200000, 300000);
        s->setLoopMode(2);
        t.sliceEvenly(2);
        QCOMPARE(t.slicePoints(), QList<int>({1000, 250000}));
    }

    void sliceEveryBeatsAndBars() {
        Trevant t;
        load(t, m_medium);
        QSignalSpy changed(&t, &Trevant::slicePointsChanged);
        t.sliceEveryBeats(120, 1);
        QList<int> expected;
        for (int p = 44100; p < 400002; p += 44100)
            expected << p;
        QCOMPARE(t.slicePoints(), expected);
        QCOMPARE(changed.count(), 1);
        t.clearSlicing();
        t.sliceEveryBars(120, 4, 4, 1);
        const QList<int> fourFour = t.slicePoints();
        t.clearSlicing();
        t.sliceEveryBars(120, 4, 8, 1);
        QCOMPARE(t.slicePoints(), fourFour);
        QCOMPARE(fourFour, QList<int>({176400, 352800}));
        // A step that truncates to nothing, or no tempo, does nothing (and ends).
        t.clearSlicing();
        t.sliceEveryBeats(120, 1e-9);
        t.sliceEveryBeats(0, 1);
        QVERIFY(t.slicePoints().isEmpty());
    }

    void snapping() {
        Trevant t;
        load(t, m_medium); // 441 Hz sine at 44.1 kHz: a crossing every 50 frames
        setSetting("snap_to_zero_crossings", "1");
        QCOMPARE(t.snapToZeroCrossing(15), 14);
        QCOMPARE(t.snapToZeroCrossing(400002 - 10), 400002 - 10);
        const int snapped = t.snapToZeroCrossing(2 * 130 + 1);
        // The crossing at frame 150 (sin at 3π): the pair 149/150 or 150/151 depending on
        // the sign the file's rounding gave the sample on the crossing itself.
        QVERIFY2(snapped == 298 || snapped == 300, qPrintable(QString::number(snapped)));
        // Slicing evenly snaps each point as snapToZeroCrossing does and hands the whole
        // list over at once.
        QSignalSpy changed(&t, &Trevant::slicePointsChanged);
        t.sliceEvenly(8);
        QList<int> expected;
        int moved = 0;
        const qint64 length = t.currentSlice()->length();
        for (qint64 k = 1; k < 8; ++k) {
            expected << t.snapToZeroCrossing(int(k * length / 8));
            moved += expected.last() != (int(k * length / 8) & ~1) ? 1 : 0;
        }
        QCOMPARE(t.slicePoints(), expected);
        QVERIFY(moved > 0);
        QCOMPARE(changed.count(), 1);
        // A signal with a DC offset has no crossing: the point stays where it was.
        const QString dc = writeSine(m_dir, "dc.wav", 44100, 50000, 441.0, 0.2f, 0.5f);
        load(t, dc);
        QCOMPARE(t.snapToZeroCrossing(50001), 50000);
        t.sliceEvenly(4);
        QCOMPARE(t.slicePoints(), QList<int>({25000, 50000, 75000}));
    }

    // A 40 Hz bass crosses zero every 12.5 ms: a point anywhere on it finds the nearest
    // crossing, on whichever side it lies.
    void snappingReachesDeepBassCrossings() {
        const QString bass = writeSine(m_dir, "bass40.wav", 44100, 44100, 40.0, 0.8f);
        Trevant t;
        load(t, bass);
        setSetting("snap_to_zero_crossings", "1");
        SlicePtr s = t.currentSlice();
        auto mono = [&s](int i) { return (s->sampleAt(i) + s->sampleAt(i + 1)) * 0.5f; };
        // Crossings lie at frames 551.25 × k.
        const struct {
            int frame;
            int crossingFrame;
        } cases[] = {
            {2205 + 265, 2205}, // 6 ms after a crossing, 6.5 ms before the next
            {2756 - 265, 2756}, // 6 ms before a crossing
            {2756 - 132, 2756}, // 3 ms before
            {4410 + 200, 4410}, // 4.5 ms after
        };
        for (const auto &c : cases) {
            const int snapped = t.snapToZeroCrossing(2 * c.frame);
            QVERIFY2(mono(snapped) * mono(snapped + 2) <= 0.0f &&
                         std::abs(snapped / 2 - c.crossingFrame) <= 1,
                     qPrintable(QString("frame %1 snapped to frame %2").arg(c.frame).arg(snapped / 2)));
        }
    }

    // Equal slices far finer than a 20 Hz sine's crossings: the points that find the same
    // crossing become one. A 16-bit sample that is exactly zero is a crossing from either
    // side, and the points on each side of it used to land one frame apart, leaving slices
    // one frame long; the first points found the crossing at the file's start, an empty slice.
    void snappedEqualSlicesNeverLandOnNeighbouringFrames() {
        const QString path = m_dir.filePath("sine20.wav");
        QVERIFY(TestAudio::writeWav(path, 2, 44100, 44100, TestAudio::sine(20.0, 44100, 0.5f), false));
        Trevant t;
        load(t, path);
        QTRY_VERIFY_WITH_TIMEOUT(t.currentSlice()->isLoadingComplete(), 60000);
        setSetting("snap_to_zero_crossings", "1");
        t.sliceEvenly(1000);
        const QList<int> points = t.slicePoints();
        SlicePtr s = t.currentSlice();
        auto mono = [&s](int i) { return (s->sampleAt(i) + s->sampleAt(i + 1)) * 0.5f; };
        // 39 crossings lie inside the second (every 1102.5 frames); each is found once.
        QCOMPARE(points.size(), 39);
        QVERIFY(points.first() > 0);
        for (int i = 0; i < points.size(); ++i) {
            QVERIFY2(mono(points[i]) * mono(points[i] + 2) <= 0.0f,
                     qPrintable(QString("point %1 is no crossing").arg(points[i])));
            if (i > 0)
                QVERIFY2(points[i] - points[i - 1] > 2000,
                         qPrintable(QString("points %1 and %2").arg(points[i - 1]).arg(points[i])));
        }
        // Where a sample is exactly zero, the point is on it.
        QVERIFY(points.contains(2 * 2205));
        QCOMPARE(mono(2 * 2205), 0.0f);
    }

    void clearSlicingInsideLoop() {
        Trevant t;
        load(t, m_medium);
        t.setSlicePoints({1000, 2000, 3000, 4000, 6000});
        SlicePtr s = t.currentSlice();
        s->setLoop(2000, 5000); // loop end is not a boundary
        s->setLoopMode(2);
        t.clearSlicing();
        QCOMPARE(t.slicePoints(), QList<int>({1000, 2000, 6000}));
        s->setLoopMode(0);
        t.clearSlicing();
        QVERIFY(t.slicePoints().isEmpty());
    }

    void playbackRequestsAndLoops() {
        Trevant t;
        load(t, m_medium);
        SlicePtr s = t.currentSlice();
        t.setSlicePoints({100000, 200000});
        t.playFrom(150001);
        QCOMPARE(s->playPosition(), 150000);
        QCOMPARE(s->playEnd(), 200000);
        t.toggleLoopAt(150000);
        QCOMPARE(s->loopMode(), 2);
        QCOMPARE(s->loopStart(), 100000);
        QCOMPARE(s->loopEnd(), 200000);
        t.expandLoopTo(250000);
        QCOMPARE(s->loopEnd(), 400002);
        t.expandLoopTo(50000);
        QCOMPARE(s->loopStart(), 0);
        t.toggleLoopAt(150000); // a different region than the loop: loops that slice again
        QCOMPARE(s->loopStart(), 100000);
        t.toggleLoopAt(150000);
        QCOMPARE(s->loopMode(), 0);
        QVERIFY(!s->isPlaying());
        t.togglePlayback(true);
        QVERIFY(s->isPlaying());
        QCOMPARE(s->loopStart(), 0);
        QCOMPARE(s->loopEnd(), 400002);
        t.togglePlayback(false);
        QVERIFY(!s->isPlaying());
    }

    void trimPointsMoveLoopWithThem() {
        Trevant t;
        load(t, m_medium);
        SlicePtr s = t.currentSlice();
        s->setLoop(0, 400002);
        QSignalSpy trim(&t, &Trevant::trimPointsChanged);
        t.setTrimStart(1001);
        QCOMPARE(t.trimStart(), 1000);
        QCOMPARE(s->loopStart(), 1000);
        t.setTrimEnd(300000);
        QCOMPARE(s->loopEnd(), 300000);
        t.setTrimEnd(99999999);
        QCOMPARE(t.trimEnd(), 400002);
        QCOMPARE(trim.count(), 3);
    }

    // The window's slots for the loop's playback and region signals run while the sound-card
    // thread keeps rendering: none of them is sent under the slicer or loop lock that
    // render takes.
    void transportSignalsLeaveTheSlicerLockFree() {
        Trevant t;
        load(t, m_medium);
        SlicePtr s = t.currentSlice();
        t.setSlicePoints({100000, 200000});
        int heard = 0, blocked = 0;
        // Kept outside the slot: a render that waits for a held lock can only finish once
        // the slot has returned, so it is joined at the end, not in the slot.
        std::vector<std::future<void>> renders;
        const auto renderMeanwhile = [&] {
            ++heard;
            renders.push_back(std::async(std::launch::async, [&t] {
                std::vector<float> buffer(256, 0.0f);
                t.render(buffer.data(), 256);
            }));
            if (renders.back().wait_for(std::chrono::seconds(5)) != std::future_status::ready)
                ++blocked;
        };
        connect(s.data(), &Slice::playbackToggled, this, renderMeanwhile);
        connect(s.data(), &Slice::loopChanged, this, renderMeanwhile);
        t.togglePlayback(true);
        t.playFrom(150000);
        t.toggleLoopAt(150000);
        t.moveSlicePoint(200000, 210000);
        t.removeSlicePoint(100000);
        t.expandLoopTo(250000);
        t.setTrimStart(s->loopStart());
        t.setTrimEnd(300000);
        t.togglePlayback(false);
        disconnect(s.data(), nullptr, this, nullptr);
        renders.clear();
        QVERIFY(heard >= 8);
        QCOMPARE(blocked, 0);
    }

    void midiNotesPlaySlices() {
        Trevant t;
        load(t, m_medium);
        SlicePtr s = t.currentSlice();
        t.setSlicePoints({100000, 200000});
        int base = 36;
        auto note = [&](int n, int vel) { t.processMidiMessage(MidiProcessor::message(0x93, n, vel), base); };
        // A note arrives on the sound-card thread, which may not emit: the loop's signals
        // wait for the GUI thread to collect them, once however many notes came.
        QSignalSpy toggled(s.data(), &Slice::playbackToggled);
        note(36, 100);
        QCOMPARE(s->playPosition(), 0);
        QCOMPARE(s->playEnd(), 100000);
        QCOMPARE(toggled.count(), 0);
        s->deliverSoundCardNews();
        s->deliverSoundCardNews();
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.first().first().toBool(), true);
        note(37, 100);
        QCOMPARE(s->playPosition(), 100000);
        QCOMPARE(s->playEnd(), 200000);
        note(38, 100);
        QCOMPARE(s->playEnd(), 400002);
        note(39, 100);
        QCOMPARE(s->playPosition(), 0);
        s->play(true, 300000, 0);
        note(35, 100);
        note(37, 0);
        t.processMidiMessage(MidiProcessor::message(0x80, 37, 100), base);
        QCOMPARE(s->playPosition(), 300000);
    }

    void emptyOrFailedLoop() {
        Trevant t;
        int base = 0;
        std::vector<float> buf(512, 0.0f);
        t.render(buf.data(), 512);
        t.togglePlayback(true);
        t.sliceEvenly(8);
        QCOMPARE(t.loopStart(), 0);
        QVERIFY(!t.isInsideLoop(0));
        QCOMPARE(t.sampleRate(), 44100);
        load(t, m_small);
        t.addSlicePoint(1000);
        QSignalSpy loaded(&t, &Trevant::sliceLoaded);
        QVERIFY(!t.slotLoadLoop(m_dir.filePath("nothing-here.wav")));
        QCOMPARE(loaded.count(), 0);
        QVERIFY(t.slicePoints().isEmpty());
        QCOMPARE(t.trimEnd(), 0);
        t.sliceEvenly(8);
        t.sliceEveryBeats(120, 1);
        QVERIFY(t.slicePoints().isEmpty());
        t.playFrom(0);
        t.toggleLoopAt(0);
        t.processMidiMessage(MidiProcessor::message(0x90, 60, 100), base);
        t.render(buf.data(), 512);
        for (float v : buf)
            QCOMPARE(v, 0.0f);
    }

    void outOfRangePointsNeverReadOutside() {
        Trevant t;
        load(t, m_small);
        t.setSlicePoints({-500, 100, 100, 7999, 99999});
        int base = 0;
        std::vector<float> buf(4096, 0.0f);
        for (int n = 0; n < 6; ++n) {
            t.processMidiMessage(MidiProcessor::message(0x90, n, 1), base);
            t.render(buf.data(), 4096);
        }
        SlicePtr s = t.currentSlice();
        s->setLoop(-100, 99999);
        s->setLoopMode(2);
        s->play(true, -40, 123456);
        t.render(buf.data(), 4096);
        QVERIFY(s->playPosition() >= 0 && s->playPosition() <= s->length());
    }

    void undoCommands() {
        Trevant t;
        load(t, m_medium);
        QUndoStack stack;
        SlicePtr s = t.currentSlice();

        stack.push(new AddSlicePointCommand(&t, 1000));
        QCOMPARE(stack.text(0), QString("add slice point"));
        QCOMPARE(t.slicePoints(), QList<int>({1000}));
        stack.undo();
        QVERIFY(t.slicePoints().isEmpty());
        stack.redo();

        s->setLoop(0, 1000);
        stack.push(new RemoveSlicePointCommand(&t, 1000));
        QCOMPARE(stack.undoText(), QString("remove slice point"));
        QVERIFY(t.slicePoints().isEmpty());
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({1000}));
        QCOMPARE(s->loopEnd(), 1000);

        auto *move = new MoveSlicePointCommand(&t, 1000, 2000);
        QCOMPARE(move->id(), 2);
        stack.push(move);
        stack.push(new MoveSlicePointCommand(&t, 2000, 3000));
        QCOMPARE(stack.count(), 3); // add, then two moves as two steps: no merging
        QCOMPARE(t.slicePoints(), QList<int>({3000}));
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({2000}));
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({1000}));

        stack.push(new AutoSliceCommand(&t, 4));
        QCOMPARE(stack.undoText(), QString("slice in 4"));
        QCOMPARE(t.slicePoints().size(), 3);
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({1000}));

        stack.push(new SliceByBeatsCommand(&t, 120, 0.25));
        QCOMPARE(stack.undoText(), QString("slice every 0.25 beats"));
        QVERIFY(t.slicePoints().size() > 30);
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({1000}));
        stack.push(new SliceByBarsCommand(&t, 120, 4, 4, 16));
        QCOMPARE(stack.undoText(), QString("slice every 16 bars"));
        stack.undo();

        stack.push(new ClearSlicingCommand(&t));
        QCOMPARE(stack.undoText(), QString("clear slicing"));
        QVERIFY(t.slicePoints().isEmpty());
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({1000}));

        stack.push(new SetTrimStartCommand(&t, 500));
        QCOMPARE(stack.undoText(), QString("move trim start point"));
        QCOMPARE(t.trimStart(), 500);
        stack.undo();
        QCOMPARE(t.trimStart(), 0);
        stack.push(new SetTrimEndCommand(&t, 300000));
        QCOMPARE(stack.undoText(), QString("move trim end point"));
        QCOMPARE(t.trimEnd(), 300000);
        stack.undo();
        QCOMPARE(t.trimEnd(), 400002);

        t.setSlicePoints({100000, 200000});
        s->setLoop(0, 400002);
        auto *toggle = new ToggleSliceLoopCommand(&t, 150000);
        QCOMPARE(toggle->id(), 4);
        stack.push(toggle);
        QCOMPARE(stack.undoText(), QString("toggle loop"));
        QCOMPARE(s->loopMode(), 2);
        QCOMPARE(s->loopStart(), 100000);
        auto *expand = new ExpandSliceLoopCommand(&t, 300000);
        QCOMPARE(expand->id(), 5);
        stack.push(expand);
        QCOMPARE(stack.undoText(), QString("expand loop"));
        QCOMPARE(s->loopEnd(), 400002);
        stack.push(new ExpandSliceLoopCommand(&t, 350000));
        QCOMPARE(stack.index(), stack.count());
        stack.undo();
        stack.undo();
        QCOMPARE(s->loopEnd(), 200000);
        stack.undo();
        QCOMPARE(s->loopMode(), 0);
        QCOMPARE(s->loopStart(), 0);
        QCOMPARE(s->loopEnd(), 400002);
    }

    // Each command takes back exactly what it did: a repeated add, a move onto another
    // point and a delete of the merged point all undo to the list the user saw before, and
    // a redo of equal slicing gives back the points it made even after the snap setting
    // changed.
    void slicingUndoIsExact() {
        Trevant t;
        load(t, m_medium);
        QUndoStack stack;

        stack.push(new AddSlicePointCommand(&t, 50000));
        stack.push(new AddSlicePointCommand(&t, 50001)); // the same frame: nothing to do
        QCOMPARE(t.slicePoints(), QList<int>({50000}));
        stack.undo();
        QCOMPARE(t.slicePoints().isEmpty(), stack.index() == 0);
        QCOMPARE(stack.count(), 1);
        stack.redo();

        stack.push(new AddSlicePointCommand(&t, 80000));
        stack.push(new MoveSlicePointCommand(&t, 50000, 80000));
        QCOMPARE(t.slicePoints(), QList<int>({80000}));
        stack.push(new RemoveSlicePointCommand(&t, 80000));
        QVERIFY(t.slicePoints().isEmpty());
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({80000}));
        stack.undo();
        QCOMPARE(t.slicePoints(), QList<int>({50000, 80000}));
        stack.redo();
        QCOMPARE(t.slicePoints(), QList<int>({80000}));
        stack.undo();

        // A point that is also the loop end: moving it onto its neighbour and back leaves
        // the loop where it was.
        SlicePtr s = t.currentSlice();
        s->setLoop(0, 80000);
        stack.push(new MoveSlicePointCommand(&t, 80000, 50000));
        QCOMPARE(s->loopEnd(), 50000);
        stack.undo();
        QCOMPARE(s->loopEnd(), 80000);
        QCOMPARE(t.slicePoints(), QList<int>({50000, 80000}));

        // 400002 / 3 is no zero crossing of the 441 Hz sine, so snapping would move it.
        stack.push(new AutoSliceCommand(&t, 3));
        const QList<int> sliced = t.slicePoints();
        QCOMPARE(sliced, QList<int>({133334, 266668}));
        stack.undo();
        setSetting("snap_to_zero_crossings", "1");
        QVERIFY(t.snapToZeroCrossing(133334) != 133334);
        stack.redo();
        QCOMPARE(t.slicePoints(), sliced);
    }

    // A long random session of slicing commands, undone and redone at random, checked after
    // every step against a plain record of what the list and the trim points must be.
    void randomUndoRedoGivesBackEveryState() {
        Trevant t;
        load(t, m_medium);
        QUndoStack stack;
        QRandomGenerator rng(0x51ce);
        struct State {
            QList<int> points;
            int trimStart;
            int trimEnd;
            bool operator==(const State &o) const {
                return points == o.points && trimStart == o.trimStart && trimEnd == o.trimEnd;
            }
        };
        auto current = [&t]() { return State{t.slicePoints(), t.trimStart(), t.trimEnd()}; };
        auto describe = [](const State &s) {
            QStringList texts;
            for (int p : s.points)
                texts << QString::number(p);
            return QString("[%1] trim %2..%3").arg(texts.join(' ')).arg(s.trimStart).arg(s.trimEnd);
        };
        // history[i] is the state after the first i commands of the stack.
        std::vector<State> history{current()};
        // Few distinct positions, so that adds, moves and deletes often meet existing points.
        auto position = [&rng]() { return 2000 * int(rng.bounded(1, 120)) + int(rng.bounded(2)); };
        auto anyPoint = [&](const QList<int> &points) {
            return points.isEmpty() || rng.bounded(4) == 0 ? position()
                                                           : points.at(int(rng.bounded(points.size())));
        };

        for (int step = 0; step < 600; ++step) {
            // The snap setting changes now and then: redo must not depend on it.
            if (rng.bounded(10) == 0)
                setSetting("snap_to_zero_crossings", rng.bounded(2) ? "1" : "0");
            const int action = int(rng.bounded(100));
            QString what;
            if (action < 30 && stack.canUndo()) {
                stack.undo();
                what = "undo";
            } else if (action < 60 && stack.canRedo()) {
                stack.redo();
                what = "redo";
            } else {
                State expected = current();
                std::set<int> plain(expected.points.cbegin(), expected.points.cend());
                bool predictable = true;
                const int kind = int(rng.bounded(10));
                if (kind <= 2) {
                    const int p = position();
                    what = QString("add %1").arg(p);
                    stack.push(new AddSlicePointCommand(&t, p));
                    plain.insert(p & ~1);
                } else if (kind == 3) {
                    const int p = anyPoint(expected.points);
                    what = QString("remove %1").arg(p);
                    stack.push(new RemoveSlicePointCommand(&t, p));
                    plain.erase(p & ~1);
                } else if (kind == 4) {
                    const int from = anyPoint(expected.points);
                    const int to = anyPoint(expected.points);
                    what = QString("move %1 to %2").arg(from).arg(to);
                    stack.push(new MoveSlicePointCommand(&t, from, to));
                    if (plain.count(from) && from != to) {
                        plain.erase(from);
                        plain.insert(to);
                    }
                } else if (kind == 5) {
                    const int p = 2 * int(rng.bounded(0, 50000));
                    what = QString("trim start %1").arg(p);
                    stack.push(new SetTrimStartCommand(&t, p));
                    expected.trimStart = p;
                } else if (kind == 6) {
                    const int p = 300000 + 2 * int(rng.bounded(0, 50002));
                    what = QString("trim end %1").arg(p);
                    stack.push(new SetTrimEndCommand(&t, p));
                    expected.trimEnd = p;
                } else if (kind == 7) {
                    const int n = int(rng.bounded(1, 9));
                    what = QString("slice in %1").arg(n);
                    stack.push(new AutoSliceCommand(&t, n));
                    predictable = false;
                } else if (kind == 8) {
                    const double beats = 0.5 * double(rng.bounded(1, 5));
                    if (rng.bounded(2)) {
                        what = QString("every %1 beats").arg(beats);
                        stack.push(new SliceByBeatsCommand(&t, 97.0, beats));
                    } else {
                        what = QString("every %1 bars").arg(beats);
                        stack.push(new SliceByBarsCommand(&t, 131.0, 3, 4, beats));
                    }
                    predictable = false;
                } else {
                    what = "clear";
                    stack.push(new ClearSlicingCommand(&t));
                    plain.clear();
                }
                expected.points = QList<int>(plain.cbegin(), plain.cend());
                const State now = current();
                if (predictable)
                    QVERIFY2(now == expected, qPrintable(QString("step %1 (%2): %3, expected %4")
                                                             .arg(step)
                                                             .arg(what, describe(now), describe(expected))));
                QVERIFY2(std::is_sorted(now.points.cbegin(), now.points.cend()) &&
                             std::adjacent_find(now.points.cbegin(), now.points.cend()) == now.points.cend(),
                         qPrintable(QString("step %1 (%2): %3").arg(step).arg(what, describe(now))));
                // A command that changed nothing may have been left off the stack.
                history.resize(size_t(stack.index()));
                history.push_back(now);
                QCOMPARE(size_t(stack.count()) + 1, history.size());
            }
            const State now = current();
            const State &want = history.at(size_t(stack.index()));
            QVERIFY2(now == want, qPrintable(QString("step %1 (%2): %3, expected %4")
                                                 .arg(step)
                                                 .arg(what, describe(now), describe(want))));
        }
    }

    void tempoDetectionFollowsTheLoopThatFinished() {
        auto clicks = [](double bpm) {
            return [bpm](long long f, int) {
                const long long period = (long long)(44100 * 60.0 / bpm);
                const long long k = f % period;
                return k < 200 ? float(0.8 * std::sin(k * 0.3) * (1.0 - k / 200.0)) : 0.0f;
            };
        };
        const QString a = m_dir.filePath("clicks120.wav");
        const QString b = m_dir.filePath("clicks100.wav");
        QVERIFY(TestAudio::writeWav(a, 2, 44100, 44100 * 10, clicks(120)));
        QVERIFY(TestAudio::writeWav(b, 2, 44100, 44100 * 10, clicks(100)));
        Trevant t;
        t.setTempoDetection(new BpmDetector);
        QSignalSpy started(t.bpmDetector(), &BpmDetector::calculatingBpm);
        QSignalSpy detected(t.bpmDetector(), &BpmDetector::bpmDetected);
        QVERIFY(t.slotLoadLoop(a));
        SlicePtr first = t.currentSlice();
        t.calculateSliceBpm();      // not filled yet: nothing to analyse
        QVERIFY(t.slotLoadLoop(b)); // replaces the first before its fill is reported
        SlicePtr second = t.currentSlice();
        QVERIFY(detected.wait(20000));
        QTest::qWait(200);
        QCOMPARE(started.count(), 1);
        QVERIFY2(std::abs(second->bpm() - 100.0) <= 1.0, qPrintable(QString::number(second->bpm())));
        QCOMPARE(first->bpm(), 0.0);
        // A late completion signal from the replaced loop starts nothing.
        emit first->loadingComplete();
        QTest::qWait(100);
        QCOMPARE(started.count(), 1);
    }
};

int runSlicerTest(int argc, char **argv) {
    SlicerTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_slicer.moc"
