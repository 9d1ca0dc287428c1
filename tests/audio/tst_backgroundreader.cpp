#include "WorkerSafeTest.h"
#include "AudioCache.h"
#include "AudioFixtures.h"
#include "BackgroundReader.h"
#include "FakeReader.h"
#include "ThreadPriority.h"

#include <QLoggingCategory>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

using AudioFixtures::stair;

namespace {

// Counts a cache's signals on the test thread (queued from the reader thread).
class FillWatcher : public QObject {
public:
    explicit FillWatcher(AudioCache *cache) {
        connect(cache, &AudioCache::fillProgress, this, [this] { ++progress; });
        connect(cache, &AudioCache::fillFinished, this, [this] { ++finished; });
    }
    int progress = 0;
    int finished = 0;
};

constexpr int kWait = 30000; // a guard against hanging, not a speed requirement

bool holdsStaircase(AudioCache &cache, int n) {
    for (int i = 0; i < n; ++i)
        if (cache.getSample(i) != stair(i))
            return false;
    return true;
}

} // namespace

class BackgroundReaderTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void cleanup() { QVERIFY(BackgroundReader::instance()->waitForIdle(kWait)); }

    void fillsInTheBackground() {
        const int length = 200 * 4096 + 123;
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(length, length))));
        FillWatcher watcher(cache.data());
        cache->preallocate();
        cache->startBackgroundFill();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.finished, 1, kWait);
        QCOMPARE(watcher.progress, 2);
        QVERIFY(cache->isFilled());
        QVERIFY(holdsStaircase(*cache, length));
    }

    // The fill runs below the priority of the threads that play and draw, so that an
    // audio thread without real-time scheduling still gets the processor in time.
    void fillsAtBackgroundPriority() {
        auto probe = std::make_shared<ReaderProbe>();
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(5000, 5000, probe))));
        FillWatcher watcher(cache.data());
        cache->preallocate();
        cache->startBackgroundFill();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.finished, 1, kWait);
        QVERIFY(probe->reads.load() > 0);
        QCOMPARE(probe->readerNice.load(), ThreadPriority::kBackgroundNice);
        QCOMPARE(getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid))), 0);
    }

    void backToBackCachesBothFill() {
        QList<AudioCachePtr> caches;
        QList<FillWatcher *> watchers;
        for (int i = 0; i < 3; ++i) {
            const int length = 30000 + 1000 * i;
            caches << AudioCachePtr(new AudioCache(AudioFilePtr(new FakeReader(length, length))));
            watchers << new FillWatcher(caches.last().data());
            caches.last()->preallocate();
        }
        for (const AudioCachePtr &c : caches)
            c->startBackgroundFill();
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE_WITH_TIMEOUT(watchers[i]->finished, 1, kWait);
            QVERIFY(holdsStaircase(*caches[i], caches[i]->length()));
        }
        qDeleteAll(watchers);
    }

    void enqueueReturnsWhileAnotherFillRuns() {
        QSemaphore gate;
        auto probe = std::make_shared<ReaderProbe>();
        probe->gate = &gate;
        AudioCachePtr first(new AudioCache(AudioFilePtr(new FakeReader(40960, 40960, probe))));
        FillWatcher firstWatcher(first.data());
        first->preallocate();
        first->startBackgroundFill();
        QVERIFY(probe->started.tryAcquire(1, kWait)); // the first fill is inside a read

        AudioCachePtr second(new AudioCache(AudioFilePtr(new FakeReader(5000, 5000))));
        FillWatcher secondWatcher(second.data());
        second->preallocate();
        std::atomic<bool> returned{false};
        std::thread gui([&] {
            second->startBackgroundFill();
            returned = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), kWait);
        gui.join();
        QCOMPARE(firstWatcher.finished, 0);
        QCOMPARE(BackgroundReader::instance()->queuedCount(), 1);

        gate.release(1000);
        QTRY_COMPARE_WITH_TIMEOUT(secondWatcher.finished, 1, kWait);
        QCOMPARE(firstWatcher.finished, 1);
        QVERIFY(holdsStaircase(*first, 40960));
        QVERIFY(holdsStaircase(*second, 5000));
    }

    void destroyingAQueuedCacheSkipsIt() {
        QSemaphore gate;
        auto blockerProbe = std::make_shared<ReaderProbe>();
        blockerProbe->gate = &gate;
        AudioCachePtr blocker(new AudioCache(AudioFilePtr(new FakeReader(8192, 8192, blockerProbe))));
        blocker->preallocate();
        blocker->startBackgroundFill();
        QVERIFY(blockerProbe->started.tryAcquire(1, kWait));

        auto probe = std::make_shared<ReaderProbe>();
        AudioCachePtr queued(new AudioCache(AudioFilePtr(new FakeReader(8192, 8192, probe))));
        queued->preallocate();
        queued->startBackgroundFill();
        QWeakPointer<AudioCache> weak = queued;
        queued.reset(); // the loop is closed before its fill starts
        QVERIFY(weak.isNull());
        QVERIFY(probe->destroyed);

        gate.release(1000);
        QVERIFY(BackgroundReader::instance()->waitForIdle(kWait));
        QCOMPARE(probe->reads.load(), 0);
        QVERIFY(blocker->isFilled());
    }

    void destroyingAFillingCacheIsSafe_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("cancelled") << true;
        QTest::newRow("just released") << false;
    }
    void destroyingAFillingCacheIsSafe() {
        QFETCH(bool, cancel);
        QSemaphore gate;
        auto probe = std::make_shared<ReaderProbe>();
        probe->gate = &gate;
        const int chunks = 50;
        AudioCachePtr cache(
            new AudioCache(AudioFilePtr(new FakeReader(chunks * 4096, chunks * 4096, probe))));
        auto *watcher = new FillWatcher(cache.data());
        cache->preallocate();
        cache->startBackgroundFill();
        gate.release(3);
        QVERIFY(probe->started.tryAcquire(4, kWait)); // three reads done, the fourth waits

        QWeakPointer<AudioCache> weak = cache;
        if (cancel)
            cache->cancelFill();
        cache.reset(); // returns at once: the reader still holds the cache
        QVERIFY(!probe->destroyed);
        delete watcher;

        gate.release(1000);
        QVERIFY(BackgroundReader::instance()->waitForIdle(kWait));
        QVERIFY(weak.isNull());
        QVERIFY(probe->destroyed);
        if (cancel)
            QCOMPARE(probe->reads.load(), 4); // stopped after the chunk being read
        else
            QCOMPARE(probe->reads.load(), chunks + 1);
    }

    void closingManyLoopsMidFill() {
        // A user flicking through files: each new loop replaces the last one while its
        // fill is queued or running.
        AudioCachePtr current;
        QWeakPointer<AudioCache> last;
        for (int i = 0; i < 40; ++i) {
            if (current)
                current->cancelFill();
            const int length = 100000 + i * 4096;
            current.reset(new AudioCache(AudioFilePtr(new FakeReader(length, length))));
            current->preallocate();
            current->startBackgroundFill();
        }
        QVERIFY(BackgroundReader::instance()->waitForIdle(kWait));
        QVERIFY(current->isFilled());
        QVERIFY(holdsStaircase(*current, current->length()));
    }

    void readersSeeZerosOrTheRightValuesWhileTheCacheFills_data() {
        QTest::addColumn<bool>("preallocated");
        QTest::newRow("preallocated") << true;
        QTest::newRow("chunks appended during the fill") << false;
    }
    void readersSeeZerosOrTheRightValuesWhileTheCacheFills() {
        // The sound-card thread (tryLock, getSample, unlock) and the tempo worker (block
        // reads) read while the background reader writes chunks and, without
        // preallocation, grows the chunk table.
        QFETCH(bool, preallocated);
        const int length = 600 * 4096;
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(length, length))));
        if (preallocated)
            cache->preallocate();
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{-1};
        std::atomic<long long> reads{0};
        auto check = [&](int i, float v) {
            if (v != 0.0f && v != stair(i))
                wrong = i;
        };
        std::thread callback([&] {
            unsigned x = 1;
            while (!stop) {
                if (!cache->tryLock())
                    continue;
                for (int k = 0; k < 256; ++k) {
                    x = x * 1664525u + 1013904223u;
                    const int i = int(x % unsigned(length));
                    check(i, cache->getSample(i));
                }
                cache->unlock();
                ++reads;
                // A real callback comes once per buffer; spinning here would starve the
                // fill of the lock it takes per chunk.
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        std::thread tempo([&] {
            std::vector<float> block(512);
            unsigned x = 7;
            while (!stop) {
                x = x * 1664525u + 1013904223u;
                const int start = int(x % unsigned(length - 512));
                const unsigned n = cache->readSamples(block.data(), 512, unsigned(start));
                for (unsigned k = 0; k < n; ++k)
                    check(start + int(k), block[k]);
                ++reads;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        });
        // Stops and joins the readers however this function returns.
        const std::unique_ptr<void, std::function<void(void *)>> joiner(&stop, [&](void *) {
            stop = true;
            callback.join();
            tempo.join();
            QLoggingCategory::setFilterRules(QString());
        });
        // Without preallocation every chunk logs its warning line; keep the output short.
        if (!preallocated)
            QLoggingCategory::setFilterRules(QStringLiteral("quillory.audio.debug=false"));
        FillWatcher watcher(cache.data());
        cache->startBackgroundFill();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.finished, 1, kWait);
        QCOMPARE(wrong.load(), -1);
        QVERIFY(reads.load() > 0);
        QVERIFY(holdsStaircase(*cache, length));
    }

    void shutDownCancelsAndAReaderRestarts() {
        QSemaphore gate;
        auto probe = std::make_shared<ReaderProbe>();
        probe->gate = &gate;
        AudioCachePtr cache(new AudioCache(AudioFilePtr(new FakeReader(100 * 4096, 100 * 4096, probe))));
        cache->preallocate();
        cache->startBackgroundFill();
        QVERIFY(probe->started.tryAcquire(1, kWait));
        std::thread closer([] { BackgroundReader::instance()->shutDown(); });
        QTRY_VERIFY_WITH_TIMEOUT(cache->isFillCancelled(), kWait);
        gate.release(1000);
        closer.join();
        QVERIFY(!BackgroundReader::instance()->isRunning());
        QVERIFY(!cache->isFilled());
        QCOMPARE(probe->reads.load(), 1);

        AudioCachePtr next(new AudioCache(AudioFilePtr(new FakeReader(9000, 9000))));
        FillWatcher watcher(next.data());
        next->preallocate();
        next->startBackgroundFill();
        QTRY_COMPARE_WITH_TIMEOUT(watcher.finished, 1, kWait);
        QVERIFY(holdsStaircase(*next, 9000));
    }
};

QObject *createBackgroundReaderTest() {
    return new BackgroundReaderTest;
}

#include "tst_backgroundreader.moc"
