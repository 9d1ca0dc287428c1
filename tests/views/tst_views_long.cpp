// A ten-minute 48 kHz stereo loop in the views: screenshots at each stage, the GUI
// thread's responsiveness while the file fills, and the cost of a full waveform render
// into a 1920-pixel view (printed as a fraction of a 16.7 ms frame; never asserted).

#include "WorkerSafeTest.h"
#include "ViewFixture.h"
#include "TestAudio.h"

#include "AudioCache.h"
#include "AutoSliceCommand.h"
#include "SampleRendererTrevant.h"
#include "SampleRendererZoombar.h"
#include "Settings.h"
#include "Slice.h"
#include "ToggleSliceLoopCommand.h"
#include "TransportBar.h"
#include "Trevant.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>

#include <algorithm>

using namespace ViewTest;

namespace {

// A renderer at a chosen device pixel ratio, so both ratios can be measured in one run.
class RatioRenderer : public SampleRenderer {
public:
    RatioRenderer(QSharedPointer<Slice> loop, double ratio) : SampleRenderer(nullptr, loop) {
        m_fDevicePixelRatio = ratio;
    }
    // Drops the pixmap so the next render allocates it as the first paint after a
    // resize does.
    void dropPixmap() {
        delete m_pWaveformPixmap;
        m_pWaveformPixmap = nullptr;
    }
    QPixmap *waveform() const { return m_pWaveformPixmap; }
};

int greenColumns(const QPixmap &pixmap) {
    const QImage image = pixmap.toImage();
    int columns = 0;
    for (int x = 0; x < image.width(); ++x) {
        for (int y = 0; y < image.height(); ++y) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 0 && c.green() > 200 && c.red() < 180) {
                ++columns;
                break;
            }
        }
    }
    return columns;
}

// Columns of a view's framebuffer whose waveform reaches well above the centre line.
int barColumns(const QImage &image) {
    int columns = 0;
    const int y = image.height() / 2 - image.height() / 10;
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        if (c.green() > 200 && c.blue() < 60)
            ++columns;
    }
    return columns;
}

QString shotPath(const QString &name) {
    return QDir::temp().filePath("quillory-views-" + name + ".png");
}

} // namespace

class ViewsLongLoopTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_shortLoop;
    QString m_longLoop;
    static constexpr int kRate = 48000;
    static constexpr int kLongLength = 10 * 60 * kRate * 2;

private slots:
    void initTestCase() {
        Q_INIT_RESOURCE(views);
        QStandardPaths::setTestModeEnabled(true);
        Settings::instance().set("snap_to_zero_crossings", "0");
        QVERIFY(m_dir.isValid());
        m_shortLoop = writeLoop(m_dir, "short.wav", 44100, 2.0);
        m_longLoop = writeLoop(m_dir, "long.wav", kRate, 600.0);
        QVERIFY(!m_shortLoop.isEmpty());
        QVERIFY(!m_longLoop.isEmpty());
    }

    // Screenshots of the three views stacked as in the main window, saved under /tmp for
    // a look; the asserted part is that the waveform, the slice markers and the loop bar
    // are where they belong.
    void screenshots_data() {
        QTest::addColumn<bool>("tenMinutes");
        QTest::newRow("short") << false;
        QTest::newRow("ten-minutes") << true;
    }

    void screenshots() {
        QFETCH(bool, tenMinutes);
        const QString tag = tenMinutes ? "long" : "short";
        Rig rig;
        rig.window.resize(1000, 320);
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        rig.window.grab().save(shotPath(tag + "-empty"));
        QVERIFY(rig.load(tenMinutes ? m_longLoop : m_shortLoop));
        const int length = rig.loop()->length();
        QCOMPARE(length, tenMinutes ? kLongLength : 176400);

        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 8));
        rig.stack.push(new ToggleSliceLoopCommand(rig.slicer.get(), length / 8 * 2 + 10));
        QTest::mouseMove(rig.transport, QPoint(500, 12));
        QTest::qWait(50);
        const QImage whole = rig.window.grab().toImage();
        whole.save(shotPath(tag + "-sliced"));

        // The waveform fills the view's middle; the slice markers are red lines.
        // The grab is in device pixels; geometry is in logical ones.
        const double dpr = whole.devicePixelRatio();
        auto at = [&whole, dpr](int x, int y) { return whole.pixelColor(int(x * dpr), int(y * dpr)); };
        const QRect viewRect = rig.view->geometry();
        int green = 0;
        for (int x = viewRect.left(); x < viewRect.right(); x += 7)
            for (int y = viewRect.top(); y < viewRect.bottom(); y += 3)
                if (at(x, y).green() > 200 && at(x, y).blue() < 60)
                    ++green;
        QVERIFY2(green > 200, qPrintable(QString::number(green)));
        // The loop bar is drawn over the looped slice (amber), not elsewhere.
        const int barY = rig.transport->geometry().bottom() - 8;
        const int loopX = int(rig.view->sampleToPixel(length / 8 * 2 + length / 16));
        const QColor bar = at(loopX, barY);
        QVERIFY2(bar.red() > 180 && bar.blue() < 120, qPrintable(bar.name()));

        // Zoomed in on one slice, and then to the deepest zoom.
        rig.view->setViewStart(length / 8 * 3, true);
        rig.view->setViewEnd(length / 8 * 3 + length / 64, true);
        QTest::qWait(20);
        rig.window.grab().save(shotPath(tag + "-zoomed"));
        rig.view->setViewEnd(length / 8 * 3 + 400, true);
        QTest::qWait(20);
        rig.window.grab().save(shotPath(tag + "-deep"));
        rig.view->slotToggleDragExport(true);
        QTest::mouseMove(rig.view, QPoint(300, 100));
        rig.view->resetView();
        QTest::qWait(20);
        rig.window.grab().save(shotPath(tag + "-dragexport"));
    }

    // Mouse gestures on a ten-minute loop, where samples per pixel times pixels no longer
    // fits a 32-bit product: every move goes the way the mouse went, by the right amount.
    void gesturesOnATenMinuteLoop() {
        Rig rig;
        rig.window.resize(1000, 320);
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QVERIFY(rig.load(m_longLoop));
        const int length = rig.loop()->length();
        QCOMPARE(length, kLongLength);

        // The zoom bar dragged sideways over a window of half the loop.
        SampleRendererZoombar *z = rig.zoombar;
        const int w = length / 2;
        rig.view->setViewStart(0, true);
        rig.view->setViewEnd(w, true);
        QCOMPARE(z->barEnd(), w);
        const int y = z->height() / 2;
        const int cx = int(z->sampleToPixel(w / 2));
        QTest::mousePress(z, Qt::LeftButton, Qt::NoModifier, QPoint(cx, y));
        move(z, QPoint(cx + 100, y));
        const int scroll = int(100.0 * w / 250.0);
        QCOMPARE(z->barStart(), scroll);
        QCOMPARE(z->barEnd(), w + scroll);
        // Down: zoom out by 10/200 of the window on each side.
        move(z, QPoint(cx + 100, y + 10));
        const int zoom = int(double(w) * 10 / 200.0);
        QCOMPARE(z->barStart(), scroll - zoom);
        QCOMPARE(z->barEnd(), w + scroll + zoom);
        QTest::mouseRelease(z, Qt::LeftButton, Qt::NoModifier, QPoint(cx + 100, y + 10));
        QCOMPARE(rig.view->viewStart(), z->barStart());

        // The whole loop in view: a slice point dragged 100 pixels to the right.
        rig.view->resetView();
        QCOMPARE(rig.view->viewEnd(), length);
        rig.stack.push(new AutoSliceCommand(rig.slicer.get(), 4));
        SampleRendererTrevant *v = rig.view;
        const int px = int(v->sampleToPixel(length / 4));
        QTest::mousePress(v, Qt::LeftButton, Qt::NoModifier, QPoint(px, 100));
        move(v, QPoint(px + 50, 100));
        move(v, QPoint(px + 100, 100));
        QTest::mouseRelease(v, Qt::LeftButton, Qt::NoModifier, QPoint(px + 100, 100));
        const int first = rig.slicer->slicePoints().first();
        const double perPixel = double(length) / v->width();
        QVERIFY2(std::abs(first - (length / 4 + 100 * perPixel)) <= 2 * perPixel,
                 qPrintable(QString::number(first)));
        rig.stack.undo();
        QCOMPARE(rig.slicer->slicePoints().first(), length / 4);

        // The loop bar dragged 100 pixels moves the looped slice's bounds as far.
        TransportBar *t = rig.transport;
        const int ty = t->height() - 8;
        const int sx = int(v->sampleToPixel(length / 4 + length / 8));
        QTest::mouseClick(t, Qt::LeftButton, Qt::NoModifier, QPoint(sx, ty));
        QCOMPARE(rig.loop()->loopStart(), length / 4);
        QTest::mousePress(t, Qt::LeftButton, Qt::NoModifier, QPoint(sx, ty));
        move(t, QPoint(sx + 50, ty));
        move(t, QPoint(sx + 100, ty));
        QTest::mouseRelease(t, Qt::LeftButton, Qt::NoModifier, QPoint(sx + 100, ty));
        const int loopStart = rig.loop()->loopStart();
        QVERIFY2(std::abs(loopStart - (length / 4 + 100 * perPixel)) <= 2 * perPixel,
                 qPrintable(QString::number(loopStart)));
        QVERIFY(rig.loop()->loopEnd() > loopStart);

        // Wheel zoom near the end and back out stays inside the loop.
        for (int i = 0; i < 6; ++i)
            wheel(v, QPoint(v->width() - 5, 50), QPoint(0, 120));
        QVERIFY(v->viewStart() > length / 2);
        QVERIFY(v->viewEnd() <= length);
        for (int i = 0; i < 12; ++i)
            wheel(v, QPoint(v->width() - 5, 50), QPoint(0, -120));
        QVERIFY(v->viewStart() >= 0);
        QVERIFY(v->viewEnd() <= length);
        QVERIFY(v->viewEnd() - v->viewStart() > length / 2);
    }

    // The waveform grows while the file fills, and the GUI thread keeps serving a 10 ms
    // timer meanwhile. The longest gap is printed.
    void fillKeepsGuiResponsive() {
        Rig rig;
        rig.window.resize(1000, 320);
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QElapsedTimer clock;
        qint64 last = 0, longest = 0;
        int ticks = 0;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
            ++ticks;
        });
        QVERIFY(rig.slicer->slotLoadLoop(m_longLoop));
        QSharedPointer<Slice> loop = rig.loop();
        QSignalSpy filled(loop.data(), &Slice::loadingComplete);
        QSignalSpy progress(loop->cache().data(), &AudioCache::fillProgress);
        clock.start();
        timer.start();
        rig.view->setSlice(loop);
        rig.zoombar->setSlice(loop);
        bool partialSaved = false;
        QImage partialImage;
        while (filled.isEmpty() && clock.elapsed() < 120000) {
            QTest::qWait(5);
            if (!partialSaved && progress.count() >= 3 && filled.isEmpty()) {
                // The screenshot reads back every framebuffer; its time is not the
                // application's, so the gap is measured from after it.
                // The spy counts on the reader's thread; the view hears of the progress
                // through its queue, so the picture is taken from a fresh render.
                rig.view->setWaveformDirtyAndRepaint();
                partialImage = rig.view->grabFramebuffer();
                partialImage.save(shotPath("long-filling"));
                partialSaved = true;
                last = clock.elapsed();
            }
        }
        timer.stop();
        QCOMPARE(filled.count(), 1);
        QVERIFY(progress.count() > 1);
        // The waveform grew with the fill: part of it was drawn before the end, all of it
        // after, redrawn by the fill's own progress signals.
        QVERIFY(partialSaved);
        QTest::qWait(20);
        const int partial = barColumns(partialImage);
        const int complete = barColumns(rig.view->grabFramebuffer());
        QVERIFY2(partial > 0 && partial < complete,
                 qPrintable(QString("%1 of %2").arg(partial).arg(complete)));
        QVERIFY(complete > partialImage.width() * 9 / 10);
        qInfo().noquote() << QString("fill of a 10-minute loop with the views attached: %1 ms, %2 timer "
                                     "ticks, longest gap between 10 ms ticks %3 ms")
                                 .arg(clock.elapsed())
                                 .arg(ticks)
                                 .arg(longest);
    }

    // Render cost of the whole waveform of the 10-minute loop into a 1920-pixel view.
    // A single full-scale sample in ten minutes of silence shows in every zoom, at both
    // device pixel ratios, in the column that holds it: the waveform shows the extremes of
    // all the samples under a column, not of a subset.
    void spikeShowsAtEveryZoom() {
        const int spikeFrame = 17'000'011;
        const int spike = spikeFrame * 2 + 1; // the right channel
        const QString path = m_dir.filePath("spike.wav");
        QVERIFY(TestAudio::writeWav(
            path, 2, kRate, kLongLength / 2,
            [spikeFrame](long long f, int c) { return f == spikeFrame && c == 1 ? 1.0f : 0.0f; }, false));
        Trevant slicer;
        QVERIFY(slicer.slotLoadLoop(path));
        QSharedPointer<Slice> loop = slicer.currentSlice();
        QSignalSpy filled(loop.data(), &Slice::loadingComplete);
        QVERIFY(loop->isLoadingComplete() || filled.wait(120000));
        QVERIFY(loop->cache()->getSample(spike) > 0.99f);

        const std::pair<int, int> windows[] = {{0, kLongLength},
                                               {spike - 1'000'003, spike + 7'777'777},
                                               {spike - 12'345, spike + 2 * kRate - 12'345},
                                               {spike - 3'999, spike + 1},
                                               {spike - 37, spike + 64},
                                               {spike, spike + 101}};
        for (double ratio : {1.0, 2.0}) {
            RatioRenderer renderer(loop, ratio);
            renderer.resize(1920, 200);
            for (const auto &window : windows) {
                renderer.setViewPosition(window.first, window.second);
                renderer.dropPixmap();
                renderer.renderWaveform();
                QVERIFY(renderer.waveform());
                const QImage image = renderer.waveform()->toImage();
                // Positive values lie below the centre line: full scale reaches the bottom.
                // Columns show whole frames, so zoomed in past one frame per column the
                // spike fills the columns of its frame.
                const int expected = int(renderer.sampleToPixel(spike - 1) * ratio);
                const int expectedEnd = int(renderer.sampleToPixel(spike + 1) * ratio);
                int found = -1;
                for (int x = 0; x < image.width() && found < 0; ++x) {
                    if (qAlpha(image.pixel(x, image.height() - 2)) > 0)
                        found = x;
                }
                QVERIFY2(found >= 0 && found >= expected - 2 && found <= std::max(expected, expectedEnd) + 2,
                         qPrintable(QString("dpr %1, window %2-%3: spike expected at x %4, found at %5")
                                        .arg(ratio)
                                        .arg(window.first)
                                        .arg(window.second)
                                        .arg(expected)
                                        .arg(found)));
            }
        }
    }

    void renderCost() {
        Trevant slicer;
        QVERIFY(slicer.slotLoadLoop(m_longLoop));
        QSharedPointer<Slice> loop = slicer.currentSlice();
        QSignalSpy filled(loop.data(), &Slice::loadingComplete);
        QVERIFY(loop->isLoadingComplete() || filled.wait(120000));

        struct Zoom {
            const char *name;
            int start;
            int end;
        };
        const Zoom zooms[] = {{"whole loop", 0, kLongLength},
                              {"1/64 of the loop", kLongLength / 2, kLongLength / 2 + kLongLength / 64},
                              {"one second", kLongLength / 2, kLongLength / 2 + kRate * 2},
                              {"4000 samples", kLongLength / 2, kLongLength / 2 + 4000},
                              {"minimum window", kLongLength / 2, kLongLength / 2 + 101}};
        const double frameMs = 1000.0 / 60.0;
        for (double ratio : {1.0, 2.0}) {
            RatioRenderer renderer(loop, ratio);
            renderer.resize(1920, 200);
            for (const Zoom &zoom : zooms) {
                renderer.setViewPosition(zoom.start, zoom.end);
                std::vector<double> times;
                for (int i = 0; i < 15; ++i) {
                    renderer.dropPixmap();
                    QElapsedTimer t;
                    t.start();
                    renderer.renderWaveform();
                    times.push_back(t.nsecsElapsed() / 1.0e6);
                }
                std::sort(times.begin(), times.end());
                const double median = times[times.size() / 2];

                // Baseline: the same sample reads without any drawing.
                std::vector<double> readTimes;
                QSharedPointer<AudioCache> cache = loop->cache();
                const double spp = double(zoom.end - zoom.start) / (1920 * ratio);
                const double frameStep = std::max(1.0, spp * 0.5 / 16.0);
                volatile float sink = 0;
                for (int i = 0; i < 15; ++i) {
                    QElapsedTimer t;
                    t.start();
                    float acc = 0;
                    for (int x = 0; x < int(1920 * ratio); ++x) {
                        const double p = zoom.start + x * spp;
                        const double end = std::min(p + std::ceil(spp), double(zoom.end - 1));
                        for (double f = std::floor(p * 0.5); int(f) * 2 < end; f += frameStep)
                            acc = std::max(acc,
                                           cache->getSample(int(f) * 2) + cache->getSample(int(f) * 2 + 1));
                    }
                    sink = acc;
                    readTimes.push_back(t.nsecsElapsed() / 1.0e6);
                }
                Q_UNUSED(sink);
                std::sort(readTimes.begin(), readTimes.end());
                const double readMedian = readTimes[readTimes.size() / 2];
                QVERIFY(renderer.waveform());
                QCOMPARE(renderer.waveform()->width(), int(1920 * ratio));
                // Every column of the pixmap is drawn, zoomed out or in.
                QVERIFY(greenColumns(*renderer.waveform()) > int(1900 * ratio));

                // The steady-state paint: both pixmaps scaled into the widget.
                QImage target(int(1920 * ratio), int(200 * ratio), QImage::Format_ARGB32_Premultiplied);
                target.setDevicePixelRatio(ratio);
                QElapsedTimer p;
                p.start();
                for (int i = 0; i < 10; ++i) {
                    QPainter painter(&target);
                    renderer.paintLayers(&painter);
                }
                const double paintMs = p.nsecsElapsed() / 1.0e6 / 10;
                qInfo().noquote() << QString(
                                         "render dpr %1, %2: %3 ms = %4 of a 16.7 ms frame (%5 x the bare "
                                         "sample reads); paint from pixmaps %6 ms = %7 of a frame")
                                         .arg(ratio)
                                         .arg(zoom.name)
                                         .arg(median, 0, 'f', 2)
                                         .arg(median / frameMs, 0, 'f', 3)
                                         .arg(median / std::max(readMedian, 1e-6), 0, 'f', 1)
                                         .arg(paintMs, 0, 'f', 2)
                                         .arg(paintMs / frameMs, 0, 'f', 3);
            }
        }
    }
};

QObject *longLoopTests() {
    return new ViewsLongLoopTest;
}

#include "tst_views_long.moc"
