// The sound-card thread and the GUI thread on the same slicer and loop at once.
#include "WorkerSafeTest.h"
#include "ModelFixtures.h"
#include "Slice.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QElapsedTimer>
#include <QtTest>
#include <atomic>
#include <thread>

using namespace ModelFixtures;

class ThreadsTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { setSetting("fade_in_out_slices", "1"); }

    void callbackRendersWhileGuiSlicesAndLoads() {
        setSetting("snap_to_zero_crossings", "1");
        const QString a = writeSine(m_dir, "a.wav", 44100, 44100 * 6, 220.0);
        const QString b = writeStaircase(m_dir, "b.wav", 48000, 48000 * 4);
        const QString c = m_dir.filePath("missing.wav");
        Trevant t;
        t.setEngineSampleRate(48000);
        QVERIFY(t.slotLoadLoop(a));

        std::atomic<bool> stop{false};
        std::atomic<long long> blocks{0};
        std::thread callback([&] {
            std::vector<float> buf(2 * 1024);
            int base = 36;
            int note = 0;
            while (!stop.load()) {
                std::fill(buf.begin(), buf.end(), 0.0f);
                t.render(buf.data(), int(buf.size()));
                if ((blocks.fetch_add(1) & 7) == 0)
                    t.processMidiMessage(MidiProcessor::message(0x90, 36 + (note++ % 9), 100), base);
                for (float v : buf)
                    if (!std::isfinite(v) || std::abs(v) > 4.0f)
                        std::abort();
            }
        });

        QElapsedTimer timer;
        timer.start();
        int round = 0;
        // A few seconds of both threads at work; on a slow machine it goes on until both sides
        // have done a fair amount. Only a deadlock or a starved callback keeps the counts low.
        while ((timer.elapsed() < 3000 || blocks.load() < 200 || round < 100) && timer.elapsed() < 60000) {
            switch (round++ % 9) {
            case 0:
                t.sliceEvenly(16);
                break;
            case 1:
                t.toggleLoopAt(20000);
                break;
            case 2:
                t.togglePlayback(true);
                break;
            case 3:
                t.sliceEveryBeats(140, 0.5);
                break;
            case 4:
                t.slotLoadLoop(round % 2 ? b : a);
                break;
            case 5: {
                if (SlicePtr s = t.currentSlice()) {
                    s->setStretchEnabled(round % 4 == 1);
                    s->setTimeStretchRatio(1.3, 120);
                    s->setPitch(3);
                    s->reverse();
                }
                break;
            }
            case 6:
                t.clearSlicing();
                break;
            case 7:
                if (round % 5 == 0)
                    t.slotLoadLoop(c);
                break;
            default:
                t.playFrom(10000);
                break;
            }
            QCoreApplication::processEvents();
        }
        stop = true;
        callback.join();
        QVERIFY(blocks.load() >= 200);
        QVERIFY(round >= 100);
    }

    void replacingAPlayingFillingLoop() {
        const QString big = writeSine(m_dir, "big.wav", 44100, 44100 * 20, 330.0);
        Trevant t;
        std::atomic<bool> stop{false};
        std::thread callback([&] {
            std::vector<float> buf(2 * 512);
            while (!stop.load())
                t.render(buf.data(), int(buf.size()));
        });
        for (int i = 0; i < 6; ++i) {
            QVERIFY(t.slotLoadLoop(big)); // the previous one is still filling and playing
            t.togglePlayback(true);
            QTest::qWait(10);
        }
        stop = true;
        callback.join();
        SlicePtr s = t.currentSlice();
        QCOMPARE(s->length(), 44100 * 40);
    }

    // A worker reads samples without the loop lock while the GUI reverses the loop and the
    // callback plays it: every read is the forward or the reversed sample, never another.
    // (The ThreadSanitizer build reports any unguarded field this touches.)
    void samplesReadWhileTheLoopReverses() {
        const int frames = 20000;
        const QString path = writeStaircase(m_dir, "stairs.wav", 44100, frames);
        SlicePtr s = Slice::create(path, 44100);
        QSignalSpy loaded(s.data(), &Slice::loadingComplete);
        QVERIFY(s->isLoadingComplete() || loaded.wait(10000));
        const int len = 2 * frames;
        QCOMPARE(s->length(), len);

        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        std::atomic<long long> reads{0};
        std::thread reader([&] {
            int i = 0;
            while (!stop.load()) {
                const float v = s->sampleAt(i);
                const int mirrored = len - 2 - (i & ~1) + (i & 1);
                if (v != TestAudio::staircase(i) && v != TestAudio::staircase(mirrored))
                    ++wrong;
                i = (i + 7919) % len;
                ++reads;
            }
        });
        std::thread callback([&] {
            std::vector<float> buf(2 * 256);
            while (!stop.load())
                s->render(buf.data(), int(buf.size()));
        });
        QElapsedTimer timer;
        timer.start();
        int flips = 0;
        while ((flips < 200 || reads.load() < 100000) && timer.elapsed() < 30000) {
            s->reverse();
            s->play(true, 0, 0);
            ++flips;
            QTest::qWait(0);
        }
        stop = true;
        reader.join();
        callback.join();
        QCOMPARE(wrong.load(), 0);
        QVERIFY(reads.load() >= 100000);
    }
};

int runThreadsTest(int argc, char **argv) {
    ThreadsTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_threads.moc"
