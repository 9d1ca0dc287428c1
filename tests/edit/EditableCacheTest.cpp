#include "EditableCacheTest.h"

#include "AudioEditDelete.h"
#include "AudioEditDuplicate.h"
#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AudioEditMute.h"
#include "AudioEditNormalize.h"
#include "EditFixtures.h"
#include "EditableAudioCacheWorker.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

using namespace EditFixtures;

namespace {
AudioEditPtr makeEdit(int type, int start, int end, const QSharedPointer<EditableAudioCache> &cache,
                      int destination = -1)
{
    return AudioEditFactory::createEdit(type, destination, start, end, cache);
}

AudioEditPtr makeGain(int start, int end, float gain, const QSharedPointer<EditableAudioCache> &cache)
{
    const AudioEditPtr edit = makeEdit(TypeGain, start, end, cache);
    edit.objectCast<AudioEditGain>()->setGain(gain);
    return edit;
}
} // namespace

void EditableCacheTest::readsWithoutEditsEqualSource()
{
    const AudioCachePtr source = makeSource(20000);
    const auto cache = makeEditable(source);
    QCOMPARE(cache->length(), 20000);
    QCOMPARE(cache->renderCache()->length(), 20000);
    // Whether 777 is rendered before the first read depends on how far the worker's peak
    // summary build has got; after a read it must hold the source value either way.
    for (int i = 0; i < 20000; ++i)
        QCOMPARE(cache->getSample(i), ramp(i));
    // Nothing is edited, so nothing is kept: reads went through to the source.
    QCOMPARE(cache->renderCache()->getSample(777), 0.0f);
    QCOMPARE(cache->getSample(777), ramp(777));
}

void EditableCacheTest::editsOverAnIntegerSourceKeepOnlyTheirChunks()
{
    // 16-bit values that differ from their neighbours and are never silence.
    const auto value = [](int i) {
        const int k = (i * 7919) % 65536 - 32768;
        return float(k == 0 ? 1 : k) / 32768.0f;
    };
    const int length = 10 * 4096 + 100;
    AudioCachePtr source(new AudioCache(AudioFilePtr(new MemoryReader(length, value, 16))));
    QCOMPARE(source->store(), AudioCache::Store::Int16);
    source->preallocate();
    source->fillSynchronously();
    const auto cache = makeEditable(source);
    cache->addEdit(makeGain(5000, 6000, 0.5f, cache));
    cache->addEdit(makeEdit(TypeMute, 20000, 20500, cache));
    cache->addEdit(makeEdit(TypeDelete, 12000, 14000, cache)); // source indices
    cache->addEdit(makeGain(30000, 30999, 2.0f, cache));       // edited indices, past the delete
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->length(), length - 2000);

    const auto expected = [&](int i) {
        const float v = value(i < 12000 ? i : i + 2000);
        if (i >= 5000 && i <= 6000)
            return v * 0.5f;
        if (i >= 20000 && i <= 20500)
            return 0.0f;
        if (i >= 30000 && i <= 30999)
            return v * 2.0f;
        return v;
    };
    // The first pass renders the edited chunks, the second reads them back.
    for (int pass = 0; pass < 2; ++pass)
        for (int i = 0; i < cache->length(); ++i)
            if (cache->getSample(i) != expected(i))
                QFAIL(qPrintable(QStringLiteral("pass %1, sample %2: %3, want %4")
                                     .arg(pass).arg(i).arg(cache->getSample(i)).arg(expected(i))));
    // Only the chunks the gains and the mute cover hold rendered values.
    const auto editedChunk = [](int k) { return k == 1 || k == 4 || k == 5 || k == 7; };
    for (int i = 0; i < cache->length(); ++i) {
        const float rendered = cache->renderCache()->getSample(i);
        if (!editedChunk(i / 4096) && rendered != 0.0f)
            QFAIL(qPrintable(QStringLiteral("sample %1 kept outside an edited chunk").arg(i)));
        if (editedChunk(i / 4096) && rendered != expected(i))
            QFAIL(qPrintable(QStringLiteral("sample %1 not kept in an edited chunk").arg(i)));
    }

    // An empty loop has no chunks to mark; edits over it change nothing and read silence.
    const auto empty = makeEditable(makeSource(0));
    empty->addEdit(makeGain(0, 5000, 2.0f, empty));
    QVERIFY(waitForReset(empty.data()));
    QCOMPARE(empty->getSample(0), 0.0f);
    QCOMPARE(empty->getSample(100), 0.0f);
}

void EditableCacheTest::deleteShortensAndShifts()
{
    const AudioCachePtr source = makeSource(20000);
    const auto cache = makeEditable(source);
    QSignalSpy cacheLength(cache.data(), &AudioCache::lengthChanged);
    QSignalSpy sourceLength(source.data(), &AudioCache::lengthChanged);
    QSignalSpy added(cache.data(), &EditableAudioCache::editAdded);
    QCOMPARE(cache->getSample(1500), ramp(1500));

    const AudioEditPtr del = makeEdit(TypeDelete, 1000, 3000, cache);
    cache->addEdit(del);
    QCOMPARE(cache->length(), 18000);
    QCOMPARE(cacheLength.count(), 1);
    QCOMPARE(sourceLength.count(), 1); // heard by everything still listening to the source
    QCOMPARE(added.count(), 1);
    QCOMPARE(cache->toSourceIndex(1500), 3500);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), ramp(3500));
    QCOMPARE(cache->getSample(999), ramp(999));
    QCOMPARE(cache->getSample(17999), ramp(19999));

    QSignalSpy removed(cache.data(), &EditableAudioCache::editRemoved);
    cache->removeEdit(del);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(cache->length(), 20000);
    QCOMPARE(cacheLength.count(), 2);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), ramp(1500));
    QCOMPARE(cache->getSample(19999), ramp(19999));
    cache->removeEdit(del); // not in the list any more: nothing changes
    QCOMPARE(removed.count(), 1);
    QCOMPARE(cache->editCount(), 0);
}

void EditableCacheTest::twoDeletesMapInEitherOrder_data()
{
    QTest::addColumn<bool>("lowFirst");
    QTest::newRow("lower span first") << true;
    QTest::newRow("higher span first") << false;
}

void EditableCacheTest::twoDeletesMapInEitherOrder()
{
    QFETCH(bool, lowFirst);
    const auto cache = makeEditable(makeSource(2000));
    const AudioEditPtr low = makeEdit(TypeDelete, 100, 200, cache);
    const AudioEditPtr high = makeEdit(TypeDelete, 400, 500, cache);
    cache->addEdit(lowFirst ? low : high);
    QVERIFY(waitForReset(cache.data()));
    // Rendered with one span only; the second span must reset these too, even where they lie
    // before its own (source) start.
    for (int i = 0; i < cache->length(); ++i)
        cache->getSample(i);
    cache->addEdit(lowFirst ? high : low);
    QCOMPARE(cache->length(), 1800);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->toSourceIndex(250), 350);
    QCOMPARE(cache->toSourceIndex(350), 550);
    QCOMPARE(cache->getSample(99), ramp(99));
    QCOMPARE(cache->getSample(100), ramp(200));
    QCOMPARE(cache->getSample(250), ramp(350));
    QCOMPARE(cache->getSample(299), ramp(399));
    QCOMPARE(cache->getSample(300), ramp(500));
    QCOMPARE(cache->getSample(350), ramp(550));
    QCOMPARE(cache->getSample(1799), ramp(1999));
}

void EditableCacheTest::deleteAtStartResetsEverythingReachable()
{
    const auto cache = makeEditable(makeSource(50000));
    for (int i = 0; i < 50000; ++i)
        cache->getSample(i);
    cache->addEdit(makeEdit(TypeDelete, 0, 1000, cache));
    QVERIFY(waitForReset(cache.data()));
    for (int i = 0; i < cache->length(); ++i)
        QCOMPARE(cache->getSample(i), ramp(i + 1000));
}

void EditableCacheTest::gainRoundTrip()
{
    const auto cache = makeEditable(makeSource(4000));
    for (int i = 0; i < 4000; ++i)
        cache->getSample(i);
    const AudioEditPtr gain = makeGain(500, 1000, 0.5f, cache);
    cache->addEdit(gain);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(499), ramp(499));
    QCOMPARE(cache->getSample(500), 0.5f * ramp(500));
    QCOMPARE(cache->getSample(1000), 0.5f * ramp(1000)); // the end is included
    QCOMPARE(cache->getSample(1001), ramp(1001));

    // Changing the gain re-renders through the edit's regionModified.
    gain.objectCast<AudioEditGain>()->setGain(0.25f);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(700), 0.25f * ramp(700));

    cache->removeEdit(gain);
    QVERIFY(waitForReset(cache.data()));
    for (int i = 0; i < 4000; ++i)
        QCOMPARE(cache->getSample(i), ramp(i));
    // A removed edit (kept by the undo history) no longer resets anything.
    gain.objectCast<AudioEditGain>()->setGain(0.75f);
    QVERIFY(!cache->isResetting());
    cache->addEdit(gain);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(700), 0.75f * ramp(700));
}

// The edited audio's block extremes agree with the samples read through the edits, after a
// gain and after a delete that shifts everything behind it.
void EditableCacheTest::peakSummaryFollowsEdits()
{
    const int length = 200000;
    const int spike = 150001;
    const auto cache = makeEditable(makeSource(length, [](int i) { return i == spike ? 1.0f : 0.01f * ramp(i); }));
    const PeakSummary *peaks = cache->peakSummary();
    QVERIFY(peaks);
    const auto read = [&cache](float *dst, int start, int count) {
        for (int i = 0; i < count; ++i)
            dst[i] = cache->getSample(start + i);
    };
    const auto agrees = [&](int from, int to) {
        PeakSummary::Range range;
        if (!peaks->query(from, to, read, range))
            return false;
        float lo = cache->getSample(from & ~1), hi = lo;
        for (int i = from & ~1; i < std::min((to + 1) & ~1, cache->length()); ++i) {
            lo = std::min(lo, cache->getSample(i));
            hi = std::max(hi, cache->getSample(i));
        }
        return range.minimum == lo && range.maximum == hi;
    };
    const std::pair<int, int> ranges[] = {{0, 200000}, {1, 150001}, {150001, 150002}, {129999, 130003},
                                          {77, 190000},  {99999, 160001}, {140000, 140130}};
    QVERIFY(waitForReset(cache.data()));
    PeakSummary::Range whole;
    QVERIFY(peaks->query(0, length, read, whole));
    QCOMPARE(whole.maximum, 1.0f);
    for (const auto &r : ranges)
        QVERIFY2(agrees(r.first, r.second), qPrintable(QString("%1-%2").arg(r.first).arg(r.second)));

    cache->addEdit(makeGain(140000, 160000, 0.5f, cache));
    QVERIFY(waitForReset(cache.data()));
    QVERIFY(peaks->query(0, length, read, whole));
    QCOMPARE(whole.maximum, 0.5f);
    for (const auto &r : ranges)
        QVERIFY2(agrees(r.first, r.second), qPrintable(QString("%1-%2").arg(r.first).arg(r.second)));

    cache->addEdit(AudioEditFactory::createEdit(TypeDelete, -1, 100000, 119999, cache));
    QVERIFY(waitForReset(cache.data()));
    // The gain stays on its edited-loop indices while the spike moves out from under it.
    QVERIFY(cache->length() < length);
    QVERIFY(peaks->query(0, cache->length(), read, whole));
    QCOMPARE(whole.maximum, 1.0f);
    for (const auto &r : ranges)
        QVERIFY2(agrees(r.first, std::min(r.second, cache->length())),
                 qPrintable(QString("%1-%2").arg(r.first).arg(r.second)));
}

void EditableCacheTest::movingAnEditRestoresItsOldRegion()
{
    const auto cache = makeEditable(makeSource(10000));
    const AudioEditPtr mute = makeEdit(TypeMute, 1000, 2000, cache);
    cache->addEdit(mute);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), 0.0f);
    cache->setEditRange(mute, 5000, 6000);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), ramp(1500));
    QCOMPARE(cache->getSample(5500), 0.0f);
    cache->setEditStartSample(mute, 4000);
    cache->setEditEndSample(mute, 4500);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(4200), 0.0f);
    QCOMPARE(cache->getSample(5500), ramp(5500));
}

void EditableCacheTest::editListOrderRules()
{
    const auto cache = makeEditable(makeSource(10000));
    QSignalSpy added(cache.data(), &EditableAudioCache::editAdded);

    // Ordinary edits go to the front and are selected; processing runs from the last entry,
    // so they apply in the order in which they were added.
    const AudioEditPtr gain = makeGain(0, 100, 2.0f, cache);
    const AudioEditPtr dup = makeEdit(TypeDuplicate, 500, 600, cache, 0);
    cache->addEdit(gain);
    cache->addEdit(dup);
    QCOMPARE(added.at(1).at(1).toInt(), 0);
    QVERIFY(dup->isSelected());
    QCOMPARE(cache->edits(), (QVector<AudioEditPtr>{dup, gain}));
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(10), ramp(510)); // the Duplicate, added last, has the last word

    cache->raiseEdit(dup);
    QCOMPARE(cache->edits(), (QVector<AudioEditPtr>{gain, dup}));
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(10), 2.0f * ramp(510));
    cache->raiseEdit(dup); // already last
    cache->lowerEdit(dup);
    QCOMPARE(cache->edits(), (QVector<AudioEditPtr>{dup, gain}));
    cache->lowerEdit(dup); // already first
    QCOMPARE(cache->edits(), (QVector<AudioEditPtr>{dup, gain}));

    // A Mute goes to the front like any new edit (processed last) but is not selected; a
    // Delete keeps the deleted spans in order of descending start among themselves. Neither
    // moves the other edits: they keep combining as they did.
    const AudioEditPtr fade = makeEdit(TypeFadeIn, 5000, 5100, cache);
    cache->addEdit(fade);
    const AudioEditPtr mute = makeEdit(TypeMute, 300, 400, cache);
    cache->addEdit(mute);
    QVERIFY(!mute->isSelected());
    QCOMPARE(added.last().at(1).toInt(), 0);
    const AudioEditPtr early = makeEdit(TypeDelete, 100, 200, cache);
    const AudioEditPtr late = makeEdit(TypeDelete, 8000, 8200, cache);
    cache->addEdit(early);
    cache->addEdit(late);
    QCOMPARE(cache->edits(), (QVector<AudioEditPtr>{mute, fade, dup, gain, late, early}));
    QCOMPARE(cache->editCount(), 6);
    cache->removeEdit(late);
    cache->removeEdit(early);
    QCOMPARE(cache->editCount(), 4);

    // The same edit twice is one edit.
    cache->addEdit(mute);
    QCOMPARE(cache->editCount(), 4);
}

void EditableCacheTest::mutedRegionIsRecomputedOnEveryRead()
{
    const auto cache = makeEditable(makeSource(1000));
    const AudioEditPtr mute = makeEdit(TypeMute, 100, 200, cache);
    cache->addEdit(mute);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(150), 0.0f);
    QCOMPARE(cache->renderCache()->getSample(150), 0.0f);
    cache->removeEdit(mute);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(150), ramp(150));
}

void EditableCacheTest::groupMembersChangeTheSound()
{
    const auto cache = makeEditable(makeSource(4000));
    const AudioEditPtr groupEdit(new AudioEditGroup);
    groupEdit->setRange(1000, 2000);
    auto group = groupEdit.objectCast<AudioEditGroup>();
    cache->addEdit(groupEdit);
    QCOMPARE(group->editableCache().toStrongRef().data(), cache.data());
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), ramp(1500));

    const AudioEditPtr gain = makeGain(1000, 2000, 0.5f, cache);
    group->addEdit(gain);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), 0.5f * ramp(1500));
    gain.objectCast<AudioEditGain>()->setGain(0.25f);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), 0.25f * ramp(1500));
    cache->setEditRange(groupEdit, 2000, 3000);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(1500), ramp(1500));
    QCOMPARE(cache->getSample(2500), 0.25f * ramp(2500));
    group->removeEdit(gain);
    QVERIFY(waitForReset(cache.data()));
    QCOMPARE(cache->getSample(2500), ramp(2500));
}

void EditableCacheTest::normalizeAnalysesTheAudioUnderIt()
{
    // Loud audio at the start, deleted: the Normalize at the new start hears the quiet part.
    const auto cache = makeEditable(makeSource(40000, [](int i) { return i < 10000 ? 0.9f : -0.3f; }));
    cache->addEdit(makeEdit(TypeDelete, 0, 10000, cache));
    const AudioEditPtr edit = makeEdit(TypeNormalize, 0, 4000, cache);
    cache->addEdit(edit);
    const auto normalize = edit.objectCast<AudioEditNormalize>();
    QVERIFY(normalize);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(normalize->gain() - float(0.707 / 0.3)) < 1e-4f, 10000);
    // The analysis re-renders the region: what plays is the quiet part brought up to 0.707.
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(cache->getSample(2000) + 0.707f) < 1e-4f && !cache->isResetting(), 10000);
    QVERIFY(qAbs(cache->getSample(2000) + 0.707f) < 1e-4f);
}

// A Normalize brings what reaches it to the target: louder audio duplicated under it does
// not make it clip, and a gain applied before it is not undone.
void EditableCacheTest::normalizeHearsTheEditsBeforeIt()
{
    const auto cache = makeEditable(makeSource(40000, [](int i) { return i < 20000 ? 0.05f : -0.5f; }));
    cache->addEdit(makeEdit(TypeDuplicate, 25000, 30000, cache, 0));
    const auto gain = makeEdit(TypeGain, 32000, 36000, cache).objectCast<AudioEditGain>();
    const auto overCopy = makeEdit(TypeNormalize, 0, 4000, cache).objectCast<AudioEditNormalize>();
    const auto overGain = makeEdit(TypeNormalize, 32000, 36000, cache).objectCast<AudioEditNormalize>();
    QVERIFY(gain && overCopy && overGain);
    gain->setGain(1.5f);
    cache->addEdit(gain);
    cache->addEdit(overCopy);
    cache->addEdit(overGain);
    auto peak = [&cache](int start, int end) {
        float p = 0.0f;
        for (int i = start; i <= end; ++i)
            p = std::max(p, std::fabs(cache->getSample(i)));
        return p;
    };
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(overCopy->gain() - float(0.707 / 0.5)) < 1e-4f, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(overGain->gain() - float(0.707 / 0.75)) < 1e-4f, 10000);
    QVERIFY(waitForReset(cache.data()));
    QVERIFY(std::fabs(peak(0, 4000) - 0.707f) < 1e-4f);
    QVERIFY(std::fabs(peak(32000, 36000) - 0.707f) < 1e-4f);
}

void EditableCacheTest::queuedDirtyRegionsAreMerged()
{
    AudioCachePtr render(new AudioCache(AudioFilePtr(new MemoryReader(5000, [](int) { return 1.0f; }))));
    render->fillSynchronously();
    QRecursiveMutex lock;
    EditableAudioCacheWorker worker(render, &lock);
    // Not running yet: everything stays queued.
    worker.queueRegion(0, 100);
    worker.queueRegion(50, 200);
    worker.queueRegion(300, 400);
    worker.queueRegion(1000, 1100);
    worker.queueRegion(150, 320); // joins the first three into one
    worker.queueRegion(4900, 99999); // clamped to the end
    worker.queueRegion(-50, -10); // nothing left after clamping
    QCOMPARE(worker.queuedRegionCount(), 3);
    QVERIFY(worker.isBusy());

    QThread thread;
    worker.moveToThread(&thread);
    connect(&thread, &QThread::started, &worker, &EditableAudioCacheWorker::markSamplesAsDirty);
    QSignalSpy progress(&worker, &EditableAudioCacheWorker::cacheUpdateProgress);
    thread.start();
    QTRY_VERIFY(!worker.isBusy());
    QCOMPARE(progress.count(), 3);
    for (int i = 0; i < 5000; ++i) {
        const bool reset = i < 400 || (i >= 1000 && i < 1100) || i >= 4900;
        QCOMPARE(render->getSample(i), reset ? 0.0f : 1.0f);
    }
    QSignalSpy finished(&worker, &EditableAudioCacheWorker::finished);
    worker.stop();
    thread.quit();
    QVERIFY(thread.wait(10000));
    QCOMPARE(finished.count(), 1);
}

void EditableCacheTest::readsNeverLeaveTheSource()
{
    const auto cache = makeEditable(makeSource(3000));
    QCOMPARE(cache->getSample(-1), 0.0f);
    QCOMPARE(cache->getSample(std::numeric_limits<int>::min()), 0.0f);
    // Past the end the index wraps around the source (with one warning line).
    QTest::ignoreMessage(QtDebugMsg, "Warning: transformedOffset out of bounds");
    QCOMPARE(cache->getSample(3005), ramp(5));
    QCOMPARE(cache->getSample(std::numeric_limits<int>::max()), ramp(std::numeric_limits<int>::max() % 3000));

    // Edits whose ranges run past the material read silence, never outside the cache.
    const AudioEditPtr dup = makeEdit(TypeDuplicate, 2500, 2999, cache, 2500);
    dup->setRange(100, 2999);
    cache->addEdit(dup);
    const AudioEditPtr rev = makeEdit(TypeReverse, 0, 2999, cache);
    rev->setRange(0, 100000);
    cache->addEdit(rev);
    QVERIFY(waitForReset(cache.data()));
    for (int i = 0; i < 3000; ++i)
        QVERIFY(std::isfinite(cache->getSample(i)));
    QCOMPARE(cache->getSample(99), 0.0f); // reversed from source 2999 + 100000 - 99

    // A source holding NaN (a corrupt float file) never puts it into the rendered audio.
    const auto poisoned = makeEditable(makeSource(100, [](int i) {
        return i == 10 ? std::numeric_limits<float>::quiet_NaN() : 0.5f;
    }));
    QCOMPARE(poisoned->getSample(10), 0.0f);
    QCOMPARE(poisoned->getSample(11), 0.5f);
}

void EditableCacheTest::tryLockNeverKeepsTheEditLockOnFailure()
{
    const AudioCachePtr source = makeSource(1000);
    const auto cache = makeEditable(source);
    QVERIFY(cache->tryLock());
    cache->unlock();

    std::atomic<int> stage{0};
    std::thread holder([&]() {
        source->lock();
        stage = 1;
        while (stage.load() != 2)
            std::this_thread::yield();
        source->unlock();
    });
    while (stage.load() != 1)
        std::this_thread::yield();
    QVERIFY(!cache->tryLock()); // the source is busy: silence for this block
    // The edit lock was given back: the GUI can still change the edit list.
    std::atomic<bool> lockedOnOtherThread{false};
    std::thread gui([&]() {
        if (cache->editLock()->tryLock(5000)) {
            lockedOnOtherThread = true;
            cache->editLock()->unlock();
        }
    });
    gui.join();
    QVERIFY(lockedOnOtherThread.load());
    stage = 2;
    holder.join();
    QVERIFY(cache->tryLock());
    cache->unlock();
}

void EditableCacheTest::destructionJoinsWorkerAndBreaksCycles()
{
    QWeakPointer<EditableAudioCache> watch;
    QWeakPointer<AudioCache> renderWatch;
    AudioEditPtr normalize, dup, rev, group;
    {
        const auto cache = makeEditable(makeSource(4000000));
        watch = cache;
        renderWatch = cache->renderCache();
        normalize = makeEdit(TypeNormalize, 0, 100000, cache);
        dup = makeEdit(TypeDuplicate, 0, 1000, cache, 5000);
        rev = makeEdit(TypeReverse, 0, 1000, cache);
        group = makeEdit(TypeGroup, 0, 1000, cache);
        for (const AudioEditPtr &e : {normalize, dup, rev, group})
            cache->addEdit(e);
        // A long reset still running when the cache goes.
        cache->addEdit(makeEdit(TypeDelete, 0, 10, cache));
    }
    // The edits (kept by undo history or a clipboard) do not keep the cache alive. (A running
    // analysis holds it for a moment and hands it back to this thread to let go.)
    QTRY_VERIFY(watch.isNull());
    QVERIFY(renderWatch.isNull());
    QVERIFY(normalize.objectCast<AudioEditNormalize>() &&
            normalize.objectCast<AudioEditNormalize>()->editableCache().isNull());
    // Edits outliving their cache still render safely.
    QVERIFY(std::isfinite(dup->processSample(5000, 0.1f)));
    group.objectCast<AudioEditGroup>()->addEdit(makeGain(0, 1000, 0.5f, {}));
    const auto analysed = normalize.objectCast<AudioEditNormalize>();
    QVERIFY(analysed);
    QTRY_VERIFY_WITH_TIMEOUT(analysed->gain() != 1.0f, 10000);
}

void EditableCacheTest::blockReadsStayUnedited()
{
    const auto cache = makeEditable(makeSource(10000));
    cache->addEdit(makeEdit(TypeMute, 0, 9999, cache));
    cache->addEdit(makeEdit(TypeDelete, 0, 5000, cache));
    QVERIFY(waitForReset(cache.data()));
    float block[512];
    QCOMPARE(cache->readSamples(block, 512, 8000), 512u);
    for (int k = 0; k < 512; ++k)
        QCOMPARE(block[k], ramp(8000 + k));
}

void EditableCacheTest::readerThreadSurvivesEditsFromGuiThread()
{
    // The sound card's pattern: try-lock, a block of per-sample reads, unlock, again; while the
    // GUI thread adds, moves, groups and removes edits. Every edit here keeps samples inside
    // the source's range (gains at most 1), so nothing may come out beyond [-1, 1].
    const int length = 400000;
    const auto cache = makeEditable(makeSource(length));
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0}, bad{0}, busy{0};
    std::thread reader([&]() {
        int pos = 0;
        while (!stop.load()) {
            if (!cache->tryLock()) {
                ++busy;
                continue;
            }
            const int len = cache->length();
            for (int k = 0; k < 1024; ++k) {
                const float v = cache->getSample((pos + k) % std::max(1, len + 64));
                if (!std::isfinite(v) || v > 1.0f || v < -1.0f)
                    ++bad;
            }
            cache->unlock();
            pos = (pos + 1024) % length;
            ++blocks;
        }
    });

    QRandomGenerator rng(1234);
    QVector<AudioEditPtr> live;
    QVector<AudioEditPtr> groups;
    QElapsedTimer timer;
    timer.start();
    int operations = 0;
    while (timer.elapsed() < 2500) {
        const int choice = rng.bounded(10);
        const int start = rng.bounded(length - 20000) & ~1;
        const int end = start + (rng.bounded(1, 20000) & ~1);
        if (choice < 4 || live.isEmpty()) {
            static const int kinds[] = {TypeFadeIn, TypeFadeOut, TypeMute, TypeReverse, TypeDuplicate,
                                        TypeGain, TypeDelete, TypeGroup, TypeHiddenMute};
            const int type = kinds[rng.bounded(int(sizeof kinds / sizeof *kinds))];
            const AudioEditPtr edit = makeEdit(type, start, end, cache, type == TypeDuplicate ? start : -1);
            if (auto gain = edit.objectCast<AudioEditGain>())
                gain->setGain(float(rng.generateDouble()));
            cache->addEdit(edit);
            live.append(edit);
            if (type == TypeGroup)
                groups.append(edit);
        } else if (choice < 6) {
            const AudioEditPtr edit = live.takeAt(rng.bounded(live.size()));
            groups.removeAll(edit);
            cache->removeEdit(edit);
        } else if (choice < 8) {
            cache->setEditRange(live.at(rng.bounded(live.size())), start, end);
        } else if (!groups.isEmpty()) {
            auto group = groups.at(rng.bounded(groups.size())).objectCast<AudioEditGroup>();
            const QVector<AudioEditPtr> members = group->members();
            if (choice == 8 || members.isEmpty())
                group->addEdit(makeGain(group->startSample(), group->endSample(), 0.5f, cache));
            else
                group->removeEdit(members.at(rng.bounded(members.size())));
        }
        ++operations;
        if (operations % 16 == 0)
            QCoreApplication::processEvents();
        if (live.size() > 60)
            cache->removeEdit(live.takeFirst());
    }
    stop = true;
    reader.join();
    QVERIFY(blocks.load() > 0);
    QCOMPARE(bad.load(), 0);
    QVERIFY(waitForReset(cache.data()));
    qDebug() << "stress:" << operations << "edit operations," << blocks.load() << "blocks read," << busy.load()
             << "busy";
}
