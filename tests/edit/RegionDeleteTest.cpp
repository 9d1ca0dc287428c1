#include "RegionDeleteTest.h"

#include "AddEditCommand.h"
#include "AudioEditDelete.h"
#include "AudioEditGain.h"
#include "AudioEditNormalize.h"
#include "AudioEditWorker.h"
#include "AudioEditFactory.h"
#include "EditCommands.h"
#include "EditFixtures.h"
#include "Settings.h"
#include "Slice.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>
#include <future>
#include <memory>
#include <vector>

namespace {

constexpr int kFrames = 100000;
constexpr int kLength = 2 * kFrames;

// A slicer with a loaded loop in edit mode, whose source sample i is staircase(i).
struct Rig {
    QTemporaryDir dir;
    std::unique_ptr<Trevant> slicer;
    SlicePtr slice;
    QSharedPointer<EditableAudioCache> cache;
    QUndoStack stack;

    bool load()
    {
        const QString path = dir.filePath(QStringLiteral("region.wav"));
        if (!TestAudio::writeWav(path, 2, 44100, kFrames,
                                 [](long long f, int c) { return TestAudio::staircase(2 * f + c); }))
            return false;
        Settings::instance().set(QStringLiteral("snap_to_zero_crossings"), QStringLiteral("0"));
        slicer = std::make_unique<Trevant>();
        if (!slicer->slotLoadLoop(path))
            return false;
        slice = slicer->currentSlice();
        QElapsedTimer timer;
        timer.start();
        while (!slice->isLoadingComplete() && timer.elapsed() < 20000)
            QTest::qWait(5);
        slicer->setEditMode(true);
        cache = slice->cache().objectCast<EditableAudioCache>();
        return cache && slice->length() == kLength;
    }

    AudioEditPtr addEdit(int type, int start, int end)
    {
        const AudioEditPtr edit = AudioEditFactory::createEdit(type, -1, start, end, cache);
        stack.push(new AddEditCommand(cache, edit));
        return edit;
    }

    // One undo step, as the edit view makes it.
    void deleteRegion(int a, int b)
    {
        stack.beginMacro(QStringLiteral("delete region"));
        for (QUndoCommand *command : EditCommands::deleteRegion(slicer.get(), cache, a, b))
            stack.push(command);
        stack.endMacro();
    }

    // Every sample of the edited loop, rendered afresh.
    std::vector<float> sound()
    {
        std::vector<float> samples;
        if (EditFixtures::waitForReset(cache.data())) {
            cache->markSamplesAsDirty(0, cache->length());
            if (EditFixtures::waitForReset(cache.data()))
                for (int k = 0; k < cache->length(); ++k)
                    samples.push_back(cache->getSample(k));
        }
        return samples;
    }

    // Everything a region delete may change, in one comparable list, the edits in their
    // processing order: an edit that comes back on undo must come back to its place, or
    // the loop sounds different after the undo.
    QStringList state() const
    {
        QStringList lines;
        lines << QStringLiteral("length %1").arg(cache->length());
        QStringList points;
        for (int p : slicer->slicePoints())
            points << QString::number(p);
        lines << QStringLiteral("slice points ") + points.join(' ');
        lines << QStringLiteral("trim %1 %2").arg(slicer->trimStart()).arg(slicer->trimEnd());
        lines << QStringLiteral("loop %1 %2").arg(slice->loopStart()).arg(slice->loopEnd());
        QStringList edits;
        for (const AudioEditPtr &edit : cache->edits()) {
            const auto deletion = edit.objectCast<AudioEditDelete>();
            edits << QStringLiteral("%1 %2 %3")
                         .arg(edit->name())
                         .arg(edit->startSample())
                         .arg(deletion ? deletion->deleteEndSample() : edit->endSample());
        }
        return lines + edits;
    }
};

} // namespace

void RegionDeleteTest::slicePointsEditsAndTrimFollow()
{
    Rig rig;
    QVERIFY(rig.load());
    rig.slicer->setSlicePoints({20000, 50000, 90000});
    rig.slicer->setTrimStart(45000);
    rig.slicer->setTrimEnd(150000);
    const AudioEditPtr before = rig.addEdit(TypeFadeIn, 10000, 45000);   // runs into the region
    const AudioEditPtr across = rig.addEdit(TypeGain, 55000, 80000);     // runs out of it
    const AudioEditPtr inside = rig.addEdit(TypeMute, 42000, 58000);     // wholly inside
    const AudioEditPtr after = rig.addEdit(TypeReverse, 100000, 120000); // wholly after
    const AudioEditPtr over = rig.addEdit(TypeDuplicate, 5000, 150000);  // over all of it
    const AudioEditPtr earlier = rig.addEdit(TypeDelete, 160000, 170000);
    rig.slice->setLoop(0, rig.cache->length()); // a loop region to the end follows the end
    rig.stack.clear();
    const QStringList original = rig.state();
    QCOMPARE(rig.cache->length(), kLength - 10000);
    // The duplicate and the reverse inside it give different audio in either order. What
    // the edit list renders to, freshly: the whole loop is rendered again once the resets
    // the steps queued are done, so that only the list and its order count here.
    auto sound = [&rig] {
        std::vector<float> samples;
        if (!EditFixtures::waitForReset(rig.cache.data()))
            return samples;
        rig.cache->markSamplesAsDirty(0, rig.cache->length());
        if (EditFixtures::waitForReset(rig.cache.data()))
            for (int k = 0; k < rig.cache->length(); k += 997)
                samples.push_back(rig.cache->getSample(k));
        return samples;
    };
    const std::vector<float> originalSound = sound();
    QVERIFY(!originalSound.empty());
    // The loop region follows the length; its signal runs window slots while the sound
    // card goes on rendering, which takes the slicer's lock for every block.
    int moved = 0, blocked = 0;
    std::vector<std::future<void>> renders;
    QObject guard;
    QObject::connect(rig.slice.data(), &Slice::loopChanged, &guard, [&] {
        ++moved;
        renders.push_back(std::async(std::launch::async, [&rig] {
            std::vector<float> buffer(256, 0.0f);
            rig.slicer->render(buffer.data(), 256);
        }));
        if (renders.back().wait_for(std::chrono::seconds(5)) != std::future_status::ready)
            ++blocked;
    });

    rig.deleteRegion(60000, 40000); // either order
    QCOMPARE(rig.stack.count(), 1);
    QCOMPARE(rig.cache->length(), kLength - 30000);
    QCOMPARE(rig.slicer->slicePoints(), QList<int>({20000, 70000}));
    QCOMPARE(rig.slicer->trimStart(), 40000);
    QCOMPARE(rig.slicer->trimEnd(), 130000);
    QCOMPARE(before->endSample(), 39998);
    QCOMPARE(across->startSample(), 40002);
    QCOMPARE(across->endSample(), 60000);
    QVERIFY(!rig.cache->edits().contains(inside));
    QCOMPARE(after->startSample(), 80000);
    QCOMPARE(after->endSample(), 100000);
    // The duplicate over the whole region is now two: its part before, and its part after
    // moved back over the gap.
    QCOMPARE(over->startSample(), 5000);
    QCOMPARE(over->endSample(), 39998);
    int duplicates = 0;
    for (const AudioEditPtr &edit : rig.cache->edits())
        if (edit->type() == TypeDuplicate && edit != over) {
            ++duplicates;
            QCOMPARE(edit->startSample(), 40002);
            QCOMPARE(edit->endSample(), 130000);
        }
    QCOMPARE(duplicates, 1);
    // The new span is in source coordinates; the earlier one is left as it was.
    int deletes = 0;
    for (const AudioEditPtr &edit : rig.cache->edits()) {
        if (const auto deletion = edit.objectCast<AudioEditDelete>()) {
            ++deletes;
            QVERIFY(deletion == earlier || (deletion->startSample() == 40000 && deletion->deleteEndSample() == 60000));
        }
    }
    QCOMPARE(deletes, 2);
    const QStringList deleted = rig.state();

    rig.stack.undo();
    QCOMPARE(rig.state(), original);
    renders.clear();
    QVERIFY(moved >= 2);
    QCOMPARE(blocked, 0);
    QVERIFY(sound() == originalSound);
    rig.stack.redo();
    QCOMPARE(rig.state(), deleted);
}

void RegionDeleteTest::reversedAndCopiedAudioLosesTheDeletedPart()
{
    Rig rig;
    QVERIFY(rig.load());
    auto sound = [&rig] { return rig.sound(); };
    rig.addEdit(TypeReverse, 20000, 60000);
    const AudioEditPtr copy = AudioEditFactory::createEdit(TypeDuplicate, 100000, 0, 40000, rig.cache);
    rig.stack.push(new AddEditCommand(rig.cache, copy));
    rig.addEdit(TypeReverse, 150000, 170000);
    const AudioEditPtr laterCopy = AudioEditFactory::createEdit(TypeDuplicate, 176000, 0, 20000, rig.cache);
    rig.stack.push(new AddEditCommand(rig.cache, laterCopy));
    const QStringList original = rig.state();
    const std::vector<float> originalSound = sound();
    QCOMPARE(int(originalSound.size()), kLength);
    QCOMPARE(originalSound[20000], TestAudio::staircase(40000)); // reversed
    QCOMPARE(originalSound[100000], TestAudio::staircase(0));    // copied

    // Inside the reverse, inside the copy, over the start of the later reverse, over the
    // start of the later copy: what plays is what played, less the region. An edit cut by
    // the region ends on the left sample of the frame before it and the part after starts
    // one frame after it, so the three samples between may differ.
    std::vector<float> expected = originalSound;
    QVector<int> cuts;
    for (const auto &region : {std::pair{30000, 40000}, {100000, 110000}, {125000, 135000}, {140000, 150000}}) {
        rig.deleteRegion(region.first, region.second);
        expected.erase(expected.begin() + region.first, expected.begin() + region.second);
        for (int &cut : cuts)
            if (cut >= region.second)
                cut -= region.second - region.first;
        cuts.append(region.first);
        const std::vector<float> heard = sound();
        QCOMPARE(heard.size(), expected.size());
        int wrong = 0;
        for (int k = 0; k < int(heard.size()); ++k)
            if (heard[k] != expected[k] && !cuts.contains(k + 1) && !cuts.contains(k) && !cuts.contains(k - 1))
                ++wrong;
        QVERIFY2(wrong == 0, qPrintable(QStringLiteral("%1 samples differ after deleting %2 to %3")
                                            .arg(wrong).arg(region.first).arg(region.second)));
    }
    for (int k = 0; k < 4; ++k)
        rig.stack.undo();
    QCOMPARE(rig.state(), original);
    QVERIFY(sound() == originalSound);
}

void RegionDeleteTest::reverseAndDuplicateOverDeletedAudioLeaveItOut()
{
    Rig rig;
    QVERIFY(rig.load());
    rig.deleteRegion(30000, 40000);
    rig.deleteRegion(60000, 64000);
    rig.deleteRegion(110000, 120000);
    const std::vector<float> before = rig.sound();
    QCOMPARE(int(before.size()), kLength - 24000);

    // A reverse over two deleted spans plays what it covered backwards, and a duplicate in
    // place over one sounds like no edit at all; neither brings deleted audio back.
    constexpr int s = 20000, e = 80000;
    const QList<AudioEditPtr> reverse = EditCommands::createInPlace(TypeReverse, s, e, rig.cache);
    const QList<AudioEditPtr> copy = EditCommands::createInPlace(TypeDuplicate, 100000, 130000, rig.cache);
    QCOMPARE(reverse.size(), 3);
    QCOMPARE(copy.size(), 2);
    for (const AudioEditPtr &edit : reverse + copy)
        rig.stack.push(new AddEditCommand(rig.cache, edit));
    const std::vector<float> heard = rig.sound();
    QCOMPARE(heard.size(), before.size());
    int wrong = 0;
    for (int k = 0; k < int(heard.size()); ++k) {
        const bool reversed = k >= s && k <= e;
        if (heard[k] != before[reversed ? s + e - k : k])
            ++wrong;
    }
    QCOMPARE(wrong, 0);

    // Pasted elsewhere, a copy over a deleted span lays down what was heard there.
    const QList<AudioEditPtr> pasted = EditCommands::pasteRegion(EditCommands::copyRegion(100000, 130000, rig.cache), 140000, rig.cache);
    QCOMPARE(pasted.size(), 2);
    for (const AudioEditPtr &edit : pasted)
        rig.stack.push(new AddEditCommand(rig.cache, edit));
    const std::vector<float> afterPaste = rig.sound();
    for (int k = 140000; k < 170000; ++k)
        if (afterPaste[k] != before[k - 40000])
            ++wrong;
    QCOMPARE(wrong, 0);
    QCOMPARE(EditCommands::createInPlace(TypeReverse, 0, 20000, rig.cache).size(), 1);
    QCOMPARE(EditCommands::createInPlace(TypeGain, s, e, rig.cache).size(), 1);
}

void RegionDeleteTest::overlappingDeletedSpansBecomeOne()
{
    Rig rig;
    QVERIFY(rig.load());
    rig.deleteRegion(10000, 20000);
    rig.deleteRegion(20000, 30000); // source 30000 to 40000
    const QStringList original = rig.state();
    QCOMPARE(rig.cache->length(), kLength - 20000);

    // Edited 5000 to 25000 is source 5000 to 45000: it bridges both earlier spans.
    rig.deleteRegion(5000, 25000);
    QVector<QSharedPointer<AudioEditDelete>> deletes;
    for (const AudioEditPtr &edit : rig.cache->edits())
        if (const auto deletion = edit.objectCast<AudioEditDelete>())
            deletes.append(deletion);
    QCOMPARE(deletes.size(), 1);
    QCOMPARE(deletes.first()->startSample(), 5000);
    QCOMPARE(deletes.first()->deleteEndSample(), 45000);
    QCOMPARE(rig.cache->length(), kLength - 40000);
    QVERIFY(EditFixtures::waitForReset(rig.cache.data()));
    for (int k : {0, 4999, 5000, 5001, 60000})
        QCOMPARE(rig.cache->getSample(k), TestAudio::staircase(k < 5000 ? k : k + 40000));
    const QStringList merged = rig.state();

    rig.stack.undo();
    QCOMPARE(rig.state(), original);
    rig.stack.redo();
    QCOMPARE(rig.state(), merged);
}

void RegionDeleteTest::emptyRegionBuildsNothing()
{
    Rig rig;
    QVERIFY(rig.load());
    rig.slicer->setSlicePoints({20000});
    QVERIFY(EditCommands::deleteRegion(rig.slicer.get(), rig.cache, 3000, 3001).isEmpty()); // one frame, aligned
    QVERIFY(EditCommands::deleteRegion(rig.slicer.get(), rig.cache, kLength, kLength + 500).isEmpty());
    QVERIFY(EditCommands::deleteRegion(nullptr, rig.cache, 0, 1000).isEmpty());
}

// A Normalize hears the edits before it. A region delete moves it and them in several
// commands; its analysis waits until they are all done, so the gain it ends with, after the
// delete and after its undo and redo, is the one that order of edits gives.
void RegionDeleteTest::normalizeOverMovedEditsComesBackExactly()
{
    Rig rig;
    QVERIFY(rig.load());
    const auto gain = rig.addEdit(TypeGain, 50000, 90000).objectCast<AudioEditGain>();
    QVERIFY(gain);
    gain->setGain(1.8f);
    const auto normalize = rig.addEdit(TypeNormalize, 60000, 80000).objectCast<AudioEditNormalize>();
    QVERIFY(normalize);
    // Heard through the gain: the staircase's largest value there, times 1.8.
    float heard = 0.0f;
    for (int i = 60000; i < 80000; ++i)
        heard = std::max(heard, std::fabs(1.8f * TestAudio::staircase(i)));
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(normalize->gain() - float(0.707 / heard)) < 1e-4f, 10000);
    const float before = normalize->gain();
    const std::vector<float> original = rig.sound();

    rig.deleteRegion(1000, 21000);
    QTRY_VERIFY_WITH_TIMEOUT(AudioEditWorker::instance()->queuedCount() == 0, 10000);
    const std::vector<float> deleted = rig.sound();
    QCOMPARE(normalize->gain(), before);
    rig.stack.undo();
    QTRY_VERIFY_WITH_TIMEOUT(AudioEditWorker::instance()->queuedCount() == 0, 10000);
    QCOMPARE(normalize->gain(), before);
    QVERIFY(rig.sound() == original);
    rig.stack.redo();
    QTRY_VERIFY_WITH_TIMEOUT(AudioEditWorker::instance()->queuedCount() == 0, 10000);
    QVERIFY(rig.sound() == deleted);
}
