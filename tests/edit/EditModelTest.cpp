#include "EditModelTest.h"

#include "AudioEditDelete.h"
#include "AudioEditDuplicate.h"
#include "AudioEditFactory.h"
#include "AudioEditFadeIn.h"
#include "AudioEditFadeOut.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AudioEditMute.h"
#include "AudioEditNormalize.h"
#include "AudioEditReverse.h"
#include "AudioEditWorker.h"
#include "EditFixtures.h"
#include "MultipleEditCommand.h"
#include "TranslateEditCommand.h"

#include <QSignalSpy>
#include <QThread>
#include <QUndoStack>
#include <QtTest>
#include <cmath>
#include <limits>

using namespace EditFixtures;

namespace {
template <typename T> QSharedPointer<T> ranged(QSharedPointer<T> edit, int start, int end)
{
    edit->setRange(start, end);
    return edit;
}
} // namespace

void EditModelTest::fadesFollowTheirRamp()
{
    auto in = ranged(QSharedPointer<AudioEditFadeIn>::create(), 1000, 1100);
    QCOMPARE(in->processSample(1000, 0.8f), 0.0f);
    QCOMPARE(in->processSample(1050, 0.8f), 0.4f);
    QVERIFY(qAbs(in->processSample(1099, 1.0f) - 0.99f) < 1e-6f);
    QCOMPARE(in->processSample(1100, 0.8f), 0.8f); // the end index is included, at full level
    // The right sample of a frame sits one step further along the ramp than the left one.
    QVERIFY(in->processSample(1051, 1.0f) > in->processSample(1050, 1.0f));

    auto out = ranged(QSharedPointer<AudioEditFadeOut>::create(), 1000, 1100);
    QCOMPARE(out->processSample(1000, 0.8f), 0.8f);
    QVERIFY(qAbs(out->processSample(1099, 1.0f) - 0.01f) < 1e-6f);
    QCOMPARE(out->processSample(1100, 0.8f), 0.0f);
}

void EditModelTest::emptyFadesLeaveSamplesUnchanged()
{
    // 0/0 would be a NaN that sticks in the render cache; a reversed range must not flip phase.
    for (const auto &range : {qMakePair(500, 500), qMakePair(600, 500)}) {
        AudioEditPtr edits[] = {ranged(QSharedPointer<AudioEditFadeIn>::create(), range.first, range.second),
                                ranged(QSharedPointer<AudioEditFadeOut>::create(), range.first, range.second)};
        for (const AudioEditPtr &edit : edits) {
            for (int i : {499, 500, 550, 600}) {
                const float v = edit->processSample(i, -0.7f);
                QVERIFY(std::isfinite(v));
                QCOMPARE(v, -0.7f);
            }
        }
    }
}

void EditModelTest::reverseReadsTheSourceBackwards()
{
    const AudioCachePtr source = makeSource(4000);
    AudioEditReverse reverse(source, {}, 1000);
    reverse.setRange(1000, 1100);
    QCOMPARE(reverse.processSample(1000, 0.0f), ramp(1100));
    QCOMPARE(reverse.processSample(1099, 0.0f), ramp(1001));
    QCOMPARE(reverse.processSample(1100, 0.0f), ramp(1000));
    QCOMPARE(reverse.maxLength(), 3000);

    // Moving the end keeps the sound under the start where it was.
    reverse.setEndSample(1080);
    QCOMPARE(reverse.sourceOffset(), 1020);
    QCOMPARE(reverse.processSample(1000, 0.0f), ramp(1100));
    reverse.setEndSample(1200);
    QCOMPARE(reverse.sourceOffset(), 900);
    QCOMPARE(reverse.processSample(1000, 0.0f), ramp(1100));
    QCOMPARE(reverse.processSample(1200, 0.0f), ramp(900));

    // A range longer than the material never reads outside the decoded loop.
    AudioEditReverse tooLong(source, {}, 3900);
    tooLong.setRange(0, 3000);
    QCOMPARE(tooLong.processSample(0, 0.3f), 0.0f);
    QCOMPARE(tooLong.processSample(2999, 0.3f), ramp(3901));

    const AudioEditPtr copy = reverse.clone();
    QCOMPARE(copy->type(), int(TypeReverse));
    QCOMPARE(copy->processSample(1000, 0.0f), ramp(1100));
}

void EditModelTest::duplicateStartMovesItsSourceOffset()
{
    const AudioCachePtr source = makeSource(4000);
    AudioEditDuplicate duplicate(source, {}, 1000);
    duplicate.setRange(1000, 1400);
    QCOMPARE(duplicate.processSample(1010, 0.5f), ramp(1010)); // the input is replaced
    duplicate.setStartSample(1200);
    QCOMPARE(duplicate.sourceOffset(), 1200);
    QCOMPARE(duplicate.processSample(1200, 0.5f), ramp(1200));
    QCOMPARE(duplicate.maxLength(), 2800);
    // setRange moves the copy without changing what is copied.
    duplicate.setRange(3000, 3100);
    QCOMPARE(duplicate.processSample(3000, 0.5f), ramp(1200));

    AudioEditDuplicate nearStart(source, {}, 100);
    nearStart.setRange(1000, 1400);
    nearStart.setStartSample(800);
    QCOMPARE(nearStart.sourceOffset(), 0);

    // Past the end of the material there is silence, never a read outside the cache.
    AudioEditDuplicate pastEnd(source, {}, 3990);
    pastEnd.setRange(0, 100);
    QCOMPARE(pastEnd.processSample(9, 0.5f), ramp(3999));
    QCOMPARE(pastEnd.processSample(10, 0.5f), 0.0f);
}

void EditModelTest::deleteTransformsIndices()
{
    AudioEditDelete del;
    del.setRange(100, 200);
    QCOMPARE(del.startSample(), 100);
    QCOMPARE(del.deleteEndSample(), 200);
    QCOMPARE(del.endSample(), std::numeric_limits<int>::max());
    QCOMPARE(del.transformOffset(150), 250);
    QCOMPARE(del.inverseTransformOffset(250), 150);
    QVERIFY(del.covers(std::numeric_limits<int>::max()));
    // Transforms saturate instead of overflowing.
    QCOMPARE(del.transformOffset(std::numeric_limits<int>::max() - 10), std::numeric_limits<int>::max());
    // A reversed span removes nothing.
    del.setRange(300, 250);
    QCOMPARE(del.transformOffset(400), 400);

    const AudioCachePtr source = makeSource(1000);
    const AudioEditPtr kinds[] = {
        AudioEditPtr(new AudioEditGroup), AudioEditPtr(new AudioEditFadeIn), AudioEditPtr(new AudioEditFadeOut),
        AudioEditPtr(new AudioEditMute), AudioEditPtr(new AudioEditReverse(source, {}, 0)),
        AudioEditPtr(new AudioEditDuplicate(source, {}, 0)), AudioEditPtr(new AudioEditGain),
        AudioEditPtr(new AudioEditNormalize(source, {}))};
    for (const AudioEditPtr &edit : kinds) {
        QVERIFY2(!edit->changesLength(), qPrintable(edit->name()));
        QCOMPARE(edit->transformOffset(150), 150);
    }
    QVERIFY(AudioEditDelete().changesLength());
}

void EditModelTest::gainIsNeverNegative()
{
    AudioEditGain gain;
    gain.setRange(10, 20);
    QSignalSpy modified(&gain, &AudioEdit::regionModified);
    gain.setGain(2.0f);
    QCOMPARE(gain.processSample(15, 0.25f), 0.5f);
    QCOMPARE(modified.count(), 1);
    QCOMPARE(modified.at(0).at(0).toInt(), 10);
    QCOMPARE(modified.at(0).at(1).toInt(), 20);
    gain.setGain(-3.0f);
    QCOMPARE(gain.gain(), 0.0f);
    gain.setGain(std::numeric_limits<float>::quiet_NaN());
    QCOMPARE(gain.gain(), 0.0f);
    QVERIFY(std::isfinite(gain.processSample(15, 0.5f)));
    // Round trip: back to unity gives the input again.
    gain.setGain(1.0f);
    QCOMPARE(gain.processSample(15, 0.3f), 0.3f);
}

void EditModelTest::groupAppliesMembersInOrderAdded()
{
    {
        AudioEditGroup group;
        group.setRange(0, 100);
        auto gain = ranged(QSharedPointer<AudioEditGain>::create(), 0, 100);
        gain->setGain(2.0f);
        QSignalSpy added(&group, &AudioEditGroup::editAdded);
        group.addEdit(gain);
        group.addEdit(ranged(QSharedPointer<AudioEditMute>::create(), 0, 100));
        QCOMPARE(added.count(), 2);
        QCOMPARE(group.processSample(50, 0.4f), 0.0f);
    }
    // Order matters when the members do not commute: a Duplicate replaces what came before it.
    const AudioCachePtr source = makeSource(1000);
    auto gain = ranged(QSharedPointer<AudioEditGain>::create(), 0, 100);
    gain->setGain(2.0f);
    auto duplicate = ranged(QSharedPointer<AudioEditDuplicate>::create(source, QWeakPointer<EditableAudioCache>(), 500), 0, 100);

    AudioEditGroup gainFirst;
    gainFirst.addEdit(gain);
    gainFirst.addEdit(duplicate);
    QCOMPARE(gainFirst.processSample(10, 0.1f), ramp(510));

    AudioEditGroup duplicateFirst;
    duplicateFirst.addEdit(duplicate);
    duplicateFirst.addEdit(gain);
    QCOMPARE(duplicateFirst.processSample(10, 0.1f), 2.0f * ramp(510));

    QSignalSpy removed(&duplicateFirst, &AudioEditGroup::editRemoved);
    duplicateFirst.removeEdit(gain);
    QCOMPARE(removed.count(), 1);
    QCOMPARE(duplicateFirst.members().size(), 1);
    duplicateFirst.removeEdit(gain); // not a member any more: nothing happens
    QCOMPARE(removed.count(), 1);
    QCOMPARE(duplicateFirst.processSample(10, 0.1f), ramp(510));
}

void EditModelTest::groupRangeCarriesItsMembers()
{
    AudioEditGroup group;
    group.setRange(100, 200);
    auto fade = ranged(QSharedPointer<AudioEditFadeIn>::create(), 100, 200);
    auto gain = ranged(QSharedPointer<AudioEditGain>::create(), 100, 200);
    group.addEdit(fade);
    group.addEdit(gain);
    group.setRange(300, 500);
    for (const AudioEditPtr &m : {AudioEditPtr(fade), AudioEditPtr(gain)}) {
        QCOMPARE(m->startSample(), 300);
        QCOMPARE(m->endSample(), 500);
        QCOMPARE(m->length(), 200);
    }
    group.setStartSample(350);
    QCOMPARE(fade->startSample(), 350);
    group.setEndSample(450);
    QCOMPARE(gain->endSample(), 450);
    QCOMPARE(gain->length(), 100);
    // A member applies only inside its own range.
    QCOMPARE(group.processSample(400, 0.6f), 0.6f * 0.5f);
}

void EditModelTest::groupCloneSharesMembersAndForwardsChanges()
{
    AudioEditGroup group;
    group.setRange(0, 10);
    auto gain = ranged(QSharedPointer<AudioEditGain>::create(), 0, 10);
    group.addEdit(gain);
    const AudioEditPtr copy = group.clone();
    auto copyGroup = copy.objectCast<AudioEditGroup>();
    QVERIFY(copyGroup);
    QCOMPARE(copyGroup->members().size(), 1);
    QCOMPARE(copyGroup->members().first().data(), gain.data());
    QCOMPARE(copy->name(), QStringLiteral("Group"));

    // A member's own change reaches whoever listens to the group (the editable cache).
    QSignalSpy groupModified(&group, &AudioEdit::regionModified);
    QSignalSpy copyModified(copy.data(), &AudioEdit::regionModified);
    gain->setGain(0.5f);
    QCOMPARE(groupModified.count(), 1);
    QCOMPARE(copyModified.count(), 1);
}

void EditModelTest::factoryMakesEveryKind()
{
    const auto cache = makeEditable(makeSource(10000));
    struct Expected {
        int code;
        int type;
        const char *name;
        QColor color;
        bool showsItem;
    };
    const Expected expected[] = {
        {0, TypeGroup, "Group", QColor(61, 178, 51), true},
        {1, TypeFadeIn, "Fade In", QColor(204, 51, 51), true},
        {2, TypeFadeOut, "Fade Out", QColor(212, 185, 71), true},
        {3, TypeMute, "Mute", QColor(162, 178, 51), true},
        {4, TypeMute, "Mute", QColor(162, 178, 51), false},
        {5, TypeReverse, "Reverse", QColor(178, 126, 51), true},
        {6, TypeDuplicate, "Duplicate", QColor(47, 200, 118), true},
        {7, TypeGain, "Gain", QColor(45, 150, 202), true},
        {8, TypeDelete, "Delete", QColor(Qt::red), false},
        {9, TypeNormalize, "Normalize", QColor(45, 150, 202), true},
    };
    for (const Expected &e : expected) {
        const AudioEditPtr edit = AudioEditFactory::createEdit(e.code, -1, 1000, 2000, cache);
        QVERIFY(edit);
        QCOMPARE(edit->type(), e.type);
        QCOMPARE(edit->name(), QString::fromLatin1(e.name));
        QCOMPARE(edit->color(), e.color);
        QCOMPARE(edit->showsItem(), e.showsItem);
        QCOMPARE(edit->startSample(), 1000);
        QVERIFY(!edit->isSelected());
        QVERIFY(!edit->isHidden());
        if (e.code == TypeDelete) {
            QCOMPARE(edit.objectCast<AudioEditDelete>()->deleteEndSample(), 2000);
        } else {
            QCOMPARE(edit->endSample(), 2000);
            QCOMPARE(edit->length(), 1000);
        }
        const AudioEditPtr clone = edit->clone();
        QCOMPARE(clone->type(), edit->type());
        QCOMPARE(clone->startSample(), edit->startSample());
        QCOMPARE(clone->endSample(), edit->endSample());
        QCOMPARE(clone->showsItem(), edit->showsItem());
    }
}

void EditModelTest::factoryPlacesDuplicateAtDestination()
{
    const auto cache = makeEditable(makeSource(10000));
    // A deleted span before the copied region: the copy's source offset lies past it.
    const AudioEditPtr del = AudioEditFactory::createEdit(TypeDelete, -1, 100, 300, cache);
    cache->addEdit(del);
    QCOMPARE(cache->length(), 9800);

    auto dup = AudioEditFactory::createEdit(TypeDuplicate, 5000, 1000, 1500, cache).objectCast<AudioEditDuplicate>();
    QCOMPARE(dup->startSample(), 5000);
    QCOMPARE(dup->endSample(), 5500);
    QCOMPARE(dup->sourceOffset(), 1200);
    QCOMPARE(dup->processSample(5000, 0.0f), ramp(1200));

    // Kept inside the loop when the destination is too close to its end.
    dup = AudioEditFactory::createEdit(TypeDuplicate, 9700, 1000, 1500, cache).objectCast<AudioEditDuplicate>();
    QCOMPARE(dup->startSample(), 9300);
    QCOMPARE(dup->endSample(), 9800);

    auto reverse = AudioEditFactory::createEdit(TypeReverse, -1, 1000, 1500, cache).objectCast<AudioEditReverse>();
    QCOMPARE(reverse->sourceOffset(), 1200);
}

void EditModelTest::factoryRejectsUnknownType()
{
    QTest::ignoreMessage(QtDebugMsg, "Unhandled AudioEdit type in src/AudioEditFactory");
    QVERIFY(AudioEditFactory::createEdit(10, -1, 0, 100, {}).isNull());
    QTest::ignoreMessage(QtDebugMsg, "Unhandled AudioEdit type in src/AudioEditFactory");
    QVERIFY(AudioEditFactory::createEdit(-1, -1, 0, 100, {}).isNull());
}

void EditModelTest::normalizeUsesLargestAbsolutePeak_data()
{
    QTest::addColumn<float>("positivePeak");
    QTest::addColumn<float>("negativePeak");
    QTest::addColumn<int>("regionLength");
    QTest::addColumn<float>("expectedGain");
    QTest::newRow("positive 0.5") << 0.5f << -0.25f << 20000 << float(0.707 / 0.5);
    QTest::newRow("negative larger") << 0.5f << -0.8f << 20000 << float(0.707 / 0.8);
    QTest::newRow("all negative") << 0.0f << -0.4f << 20000 << float(0.707 / 0.4);
    QTest::newRow("silent") << 0.0f << 0.0f << 20000 << 1.0f;
    QTest::newRow("shorter than 32") << 0.5f << -0.1f << 20 << float(0.707 / 0.5);
    QTest::newRow("past the loop's end") << 0.5f << -0.1f << 100000 << float(0.707 / 0.5);
}

void EditModelTest::normalizeUsesLargestAbsolutePeak()
{
    QFETCH(float, positivePeak);
    QFETCH(float, negativePeak);
    QFETCH(int, regionLength);
    QFETCH(float, expectedGain);
    // The peaks sit inside the region; outside it a louder sample must not count.
    const int start = 1000;
    const AudioCachePtr source = makeSource(50000, [=](int i) {
        if (i < start || i >= start + regionLength)
            return 0.99f;
        if (i == start + 6)
            return positivePeak;
        if (i == start + 11)
            return negativePeak;
        return 0.0f;
    });
    AudioEditNormalize normalize(source, {});
    normalize.setRange(start, start + regionLength);
    QSignalSpy finished(&normalize, &AudioEdit::analysisFinished);
    QSignalSpy progress(&normalize, &AudioEdit::analysisProgress);
    normalize.analyze();
    QCOMPARE(finished.count(), 1);
    QVERIFY(qAbs(normalize.gain() - expectedGain) < 1e-4f);
    for (const QList<QVariant> &p : progress) {
        QVERIFY(p.at(0).toFloat() >= 0.0f);
        QVERIFY(p.at(0).toFloat() <= 1.0f);
    }
    if (regionLength < 32)
        QCOMPARE(progress.count(), 0);
}

void EditModelTest::normalizeFollowsItsRange()
{
    AudioEditWorker::startThread();
    const AudioCachePtr source = makeSource(40000, [](int i) { return i < 20000 ? 0.5f : 0.25f; });
    const auto cache = makeEditable(source);
    const AudioEditPtr edit = AudioEditFactory::createEdit(TypeNormalize, -1, 1000, 3000, cache);
    auto normalize = edit.objectCast<AudioEditNormalize>();
    QVERIFY(normalize);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(normalize->gain() - float(0.707 / 0.5)) < 1e-4f, 10000);
    // Moved over quieter audio, the edit is analysed again.
    edit->setRange(25000, 27000);
    QTRY_VERIFY_WITH_TIMEOUT(qAbs(normalize->gain() - float(0.707 / 0.25)) < 1e-4f, 10000);
}

void EditModelTest::workerKeepsReleasedEditsAlive()
{
    AudioEditWorker *worker = AudioEditWorker::startThread();
    QSignalSpy done(worker, &AudioEditWorker::workFinished);
    const AudioCachePtr source = makeSource(2000000, [](int i) { return (i % 3) ? 0.3f : -0.2f; });
    // Undoing a Normalize drops every holder while the worker still has it queued or in hand.
    for (int k = 0; k < 8; ++k) {
        AudioEditPtr edit(new AudioEditNormalize(source, {}));
        edit->setRange(0, 2000000);
        worker->queueWork(edit);
    }
    QTRY_VERIFY_WITH_TIMEOUT(done.count() >= 8, 20000);
    QTRY_COMPARE(worker->queuedCount(), 0);
}

void EditModelTest::workerMissesNoQueuedEdit()
{
    AudioEditWorker *worker = AudioEditWorker::startThread();
    const AudioCachePtr source = makeSource(5000, [](int) { return 0.5f; });
    QVector<QSharedPointer<AudioEditNormalize>> edits;
    // The range change asks for analyses of its own, which may finish after this test.
    const auto finished = QSharedPointer<QSet<QObject *>>::create();
    // Queued one by one from here while the worker runs, and the same edit twice in a row.
    for (int k = 0; k < 50; ++k) {
        auto edit = QSharedPointer<AudioEditNormalize>::create(source, QWeakPointer<EditableAudioCache>());
        edit->setRange(k * 10, k * 10 + 400);
        connect(edit.data(), &AudioEdit::analysisFinished, this,
                [finished, sender = edit.data()]() { finished->insert(sender); }, Qt::QueuedConnection);
        edits.append(edit);
        worker->queueWork(edit);
        worker->queueWork(edit);
        if (k % 7 == 0)
            QThread::usleep(200);
    }
    QTRY_VERIFY_WITH_TIMEOUT(finished->size() == 50, 20000);
    for (const auto &edit : edits)
        QVERIFY(qAbs(edit->gain() - float(0.707 / 0.5)) < 1e-4f);
}

void EditModelTest::editPtrTravelsAsMetaType()
{
    registerAudioEditMetaType();
    const int id = QMetaType::type("AudioEditPtr");
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, qMetaTypeId<AudioEditPtr>());
    const AudioEditPtr gain(new AudioEditGain);
    const QVariant v = QVariant::fromValue(gain);
    QVERIFY(v.canConvert<QObject *>());
    QCOMPARE(v.value<QObject *>(), static_cast<QObject *>(gain.data()));

    // Through a queued connection from another thread, as the worker and the cache send them.
    AudioEditGroup group;
    AudioEditPtr received;
    connect(&group, &AudioEditGroup::editAdded, this, [&received](AudioEditPtr e) { received = e; },
            Qt::QueuedConnection);
    QThread sender;
    QObject context;
    context.moveToThread(&sender);
    sender.start();
    QMetaObject::invokeMethod(&context, [&]() { emit group.editAdded(gain); }, Qt::BlockingQueuedConnection);
    sender.quit();
    sender.wait();
    QTRY_COMPARE(received.data(), gain.data());
}

// Two moves of the same edit in one step: undo must run them last to first, or the edit
// ends up where the first move took it.
void EditModelTest::multipleEditUndoesInReverse()
{
    const auto cache = makeEditable(makeSource(4000));
    const AudioEditPtr gain = AudioEditFactory::createEdit(TypeGain, -1, 100, 200, cache);
    cache->addEdit(gain);
    QUndoStack stack;
    stack.push(new MultipleEditCommand({new TranslateEditCommand(cache, gain, 200, 300, 100, 200),
                                        new TranslateEditCommand(cache, gain, 300, 400, 200, 300)}));
    QCOMPARE(gain->startSample(), 300);
    QCOMPARE(gain->endSample(), 400);
    stack.undo();
    QCOMPARE(gain->startSample(), 100);
    QCOMPARE(gain->endSample(), 200);
    stack.redo();
    QCOMPARE(gain->startSample(), 300);
    cache->removeEdit(gain);
    QVERIFY(waitForReset(cache.data()));
}
