#include "EditLoopTest.h"

#include "AddEditCommand.h"
#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AutoSliceCommand.h"
#include "EditFixtures.h"
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

namespace {

// Plays the loop the way the sound-card callback does, block after block, and measures the
// peak of what render delivers since the GUI last asked for a new measurement.
class RenderThread {
public:
    explicit RenderThread(const SlicePtr &slice) : m_slice(slice), m_thread([this]() { run(); }) {}
    ~RenderThread() { stop(); }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    // GUI thread: the peak of at least `blocks` blocks rendered after this call (the first
    // few skipped, so that the resampler's memory of the old sound has passed).
    float measure(int blocks = 40)
    {
        const int epoch = ++m_epoch;
        QElapsedTimer timer;
        timer.start();
        while ((m_epochSeen.load() != epoch || m_blocks.load() < blocks) && timer.elapsed() < 20000)
            QTest::qWait(1);
        return m_peak.load();
    }

    int outOfRange() const { return m_bad.load(); }
    int renderedBlocks() const { return m_total.load(); }

private:
    void run()
    {
        std::vector<float> buffer(1024);
        int seen = -1;
        int blocks = 0;
        float peak = 0.0f;
        while (!m_stop.load()) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            const int got = m_slice->render(buffer.data(), int(buffer.size()));
            float blockPeak = 0.0f;
            for (int k = 0; k < got; ++k) {
                const float v = buffer[size_t(k)];
                if (!std::isfinite(v) || std::fabs(v) > 1.0f)
                    ++m_bad;
                blockPeak = std::max(blockPeak, std::isfinite(v) ? std::fabs(v) : 0.0f);
            }
            ++m_total;
            const int epoch = m_epoch.load();
            if (epoch != seen) {
                seen = epoch;
                blocks = 0;
                peak = 0.0f;
                m_peak.store(0.0f);
                m_blocks.store(0);
                m_epochSeen.store(epoch);
            }
            if (++blocks > 8)
                peak = std::max(peak, blockPeak);
            m_peak.store(peak);
            m_blocks.store(blocks);
        }
    }

    SlicePtr m_slice;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_epoch{0}, m_epochSeen{-1}, m_blocks{0}, m_bad{0}, m_total{0};
    std::atomic<float> m_peak{0.0f};
    std::thread m_thread;
};

// True when the loop's peak settles at the expected level. A shared, loaded machine can
// starve the player for a while, so a level is measured again (at most three times) before
// it counts as wrong; a real fault gives the same wrong level every time.
bool settlesAt(RenderThread &player, float expected, float tolerance)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const float peak = player.measure();
        if (qAbs(peak - expected) < tolerance)
            return true;
        qWarning() << "peak" << peak << "while expecting" << expected;
    }
    return false;
}

} // namespace

void EditLoopTest::editsReachThePlayingLoop()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("loop.wav"));
    const int frames = 44100;
    QVERIFY(TestAudio::writeWav(path, 2, 44100, frames, TestAudio::sine(441.0, 44100.0, 0.25f)));

    SlicePtr slice = Slice::create(path, 44100);
    QTRY_VERIFY_WITH_TIMEOUT(slice->isLoadingComplete(), 20000);
    const int length = slice->length();
    QCOMPARE(length, 2 * frames);
    slice->setLoop(0, length);
    slice->setLoopMode(1);
    slice->play(true, 0, 0);

    RenderThread player(slice);
    QVERIFY(settlesAt(player, 0.25f, 0.03f));

    // Edit mode swaps the cache under the running render; the sound stays the same.
    slice->setEditMode(true);
    const auto cache = slice->cache().objectCast<EditableAudioCache>();
    QVERIFY(cache);
    QVERIFY(settlesAt(player, 0.25f, 0.03f));
    slice->setEditMode(false); // leaves the editable cache in place
    QCOMPARE(slice->cache().data(), static_cast<AudioCache *>(cache.data()));

    const AudioEditPtr gain = AudioEditFactory::createEdit(TypeGain, -1, 0, length, cache);
    gain.objectCast<AudioEditGain>()->setGain(2.0f);
    cache->addEdit(gain);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QVERIFY(settlesAt(player, 0.5f, 0.05f));

    const AudioEditPtr mute = AudioEditFactory::createEdit(TypeMute, -1, 0, length, cache);
    cache->addEdit(mute);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QVERIFY(settlesAt(player, 0.0f, 0.01f));

    cache->removeEdit(mute);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QVERIFY(settlesAt(player, 0.5f, 0.05f));
    cache->removeEdit(gain);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QVERIFY(settlesAt(player, 0.25f, 0.03f));

    // A delete shortens the loop the model plays.
    const AudioEditPtr del = AudioEditFactory::createEdit(TypeDelete, -1, length / 2, length, cache);
    cache->addEdit(del);
    QTRY_COMPARE(slice->length(), length / 2);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QVERIFY(settlesAt(player, 0.25f, 0.03f));
    QVERIFY(slice->isPlaying()); // a play position past the new end wraps, it does not stop
    cache->removeEdit(del);
    QTRY_COMPARE(slice->length(), length);

    // A few seconds of edits changing under the playing loop. Gains stay at or below 1, so
    // nothing the edits do can take the sine past its own level.
    QRandomGenerator rng(99);
    QVector<AudioEditPtr> live;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 2500) {
        const int start = rng.bounded(length - 4000) & ~1;
        const int end = start + (rng.bounded(2, 8000) & ~1);
        const int choice = rng.bounded(8);
        if (choice < 3 || live.isEmpty()) {
            static const int kinds[] = {TypeFadeIn, TypeFadeOut, TypeMute,  TypeReverse,
                                        TypeDuplicate, TypeGain, TypeDelete, TypeGroup};
            const int type = kinds[rng.bounded(8)];
            const AudioEditPtr edit =
                AudioEditFactory::createEdit(type, type == TypeDuplicate ? start : -1, start, end, cache);
            if (auto g = edit.objectCast<AudioEditGain>())
                g->setGain(float(rng.generateDouble()));
            if (auto group = edit.objectCast<AudioEditGroup>()) {
                const AudioEditPtr member = AudioEditFactory::createEdit(TypeGain, -1, start, end, cache);
                member.objectCast<AudioEditGain>()->setGain(0.5f);
                group->addEdit(member);
            }
            cache->addEdit(edit);
            live.append(edit);
        } else if (choice < 5) {
            cache->removeEdit(live.takeAt(rng.bounded(live.size())));
        } else {
            cache->setEditRange(live.at(rng.bounded(live.size())), start, end);
        }
        if (live.size() > 40)
            cache->removeEdit(live.takeFirst());
        QTest::qWait(1);
    }
    const int rendered = player.renderedBlocks();
    QTRY_VERIFY(player.renderedBlocks() > rendered); // still playing: no deadlock
    player.stop();
    QCOMPARE(player.outOfRange(), 0);

    // Everything removed: the loop sounds as it did before any edit.
    for (const AudioEditPtr &edit : live)
        cache->removeEdit(edit);
    QVERIFY(EditFixtures::waitForReset(cache.data()));
    QCOMPARE(cache->length(), length);
    for (int i = 0; i < length; i += 97)
        QCOMPARE(cache->getSample(i), cache->sourceCache()->getSample(i));
}

void EditLoopTest::slicingFollowsTheEditedLength()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("slicing.wav"));
    QVERIFY(TestAudio::writeWav(path, 2, 44100, 100000, TestAudio::sine(441.0, 44100.0, 0.25f)));
    Settings::instance().set(QStringLiteral("snap_to_zero_crossings"), QStringLiteral("0"));

    Trevant slicer;
    QVERIFY(slicer.slotLoadLoop(path));
    const SlicePtr slice = slicer.currentSlice();
    QTRY_VERIFY_WITH_TIMEOUT(slice->isLoadingComplete(), 20000);
    slicer.setEditMode(true);
    const auto cache = slice->cache().objectCast<EditableAudioCache>();
    QVERIFY(cache);
    const int loaded = slice->length();
    QCOMPARE(slicer.trimEnd(), loaded);
    slicer.setSlicePoints({40000, 180000});
    slice->setLoop(40000, loaded);

    // The last 60 % of the loop goes: the point in it and the ends of the trim and loop
    // regions cannot stay where they were.
    QUndoStack stack;
    const AudioEditPtr del = AudioEditFactory::createEdit(TypeDelete, -1, 80000, loaded, cache);
    stack.push(new AddEditCommand(cache, del));
    const int shortened = slice->length();
    QCOMPARE(shortened, 80000);
    QCOMPARE(slicer.trimEnd(), shortened);
    QCOMPARE(slicer.slicePoints(), QList<int>({40000}));
    QCOMPARE(slice->loopEnd(), shortened);

    // Equal slicing divides what is left.
    stack.push(new AutoSliceCommand(&slicer, 4));
    QCOMPARE(slicer.slicePoints(), QList<int>({20000, 40000, 60000}));

    // Undoing both gives back the whole loop with everything that was on it.
    stack.undo();
    stack.undo();
    QCOMPARE(slice->length(), loaded);
    QCOMPARE(slicer.trimEnd(), loaded);
    QCOMPARE(slicer.slicePoints(), QList<int>({40000, 180000}));
    QCOMPARE(slice->loopStart(), 40000);
    QCOMPARE(slice->loopEnd(), loaded);

    // A shorter delete at the start: the trim end that marked the end still marks it.
    stack.push(new AddEditCommand(cache, AudioEditFactory::createEdit(TypeDelete, -1, 0, 20000, cache)));
    QCOMPARE(slicer.trimEnd(), loaded - 20000);
    stack.push(new AutoSliceCommand(&slicer, 2));
    QCOMPARE(slicer.slicePoints(), QList<int>({(loaded - 20000) / 2}));
    stack.undo();
    stack.undo();
    QCOMPARE(slicer.trimEnd(), loaded);
    QCOMPARE(slicer.slicePoints(), QList<int>({40000, 180000}));

    // Cutting away everything after a trim end leaves it on the new end; the undo puts it
    // back where the user had it, not on the end of the restored loop.
    slicer.setTrimEnd(150000);
    stack.push(
        new AddEditCommand(cache, AudioEditFactory::createEdit(TypeDelete, -1, 150000, loaded, cache)));
    QCOMPARE(slicer.trimEnd(), 150000);
    QCOMPARE(slice->loopEnd(), 150000);
    stack.undo();
    QCOMPARE(slicer.trimEnd(), 150000);
    QCOMPARE(slice->loopEnd(), 150000); // it followed the trim end before the cut
    QCOMPARE(slicer.slicePoints(), QList<int>({40000, 180000}));
}
