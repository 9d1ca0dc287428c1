#include "EditSoundTest.h"

#include "AddEditCommand.h"
#include "AddEditToGroupCommand.h"
#include "AudioEditFactory.h"
#include "AudioEditGain.h"
#include "AudioEditGroup.h"
#include "AudioEditNormalize.h"
#include "EditCommands.h"
#include "EditFixtures.h"

#include <QUndoStack>
#include <QtTest>
#include <cmath>
#include <functional>

using namespace EditFixtures;

namespace {

using Expected = std::function<float(int)>;

// Index of the first sample of [start, end) that differs from expected, or -1. The whole
// region is reset first, so every value is rendered from the edits as they stand.
int firstMismatch(EditableAudioCache &cache, int start, int end, const Expected &expected)
{
    if (!waitForReset(&cache))
        return start;
    cache.markSamplesAsDirty(0, cache.length());
    if (!waitForReset(&cache))
        return start;
    for (int i = start; i < end; ++i)
        if (cache.getSample(i) != expected(i))
            return i;
    return -1;
}

// A Normalize's gain as its analysis computes it from the peak that reaches it.
float normalizeGain(float peak) { return float(AudioEditNormalize::kTargetPeak / double(peak)); }

} // namespace

void EditSoundTest::normalizeInAGroupFollowsTheMembersBeforeIt()
{
    const auto source = [](int i) { return i % 2 ? -0.4f : 0.2f; };
    const auto cache = makeEditable(makeSource(8000, source));
    QUndoStack stack;
    const auto group = AudioEditFactory::createEdit(TypeGroup, -1, 1000, 5000, cache).objectCast<AudioEditGroup>();
    stack.push(new AddEditCommand(cache, group));
    const auto gain = EditCommands::createInGroup(TypeGain, group, cache).objectCast<AudioEditGain>();
    QVERIFY(gain);
    gain->setGain(0.5f);
    stack.push(new AddEditToGroupCommand(cache, gain, group));
    const auto normalize = EditCommands::createInGroup(TypeNormalize, group, cache).objectCast<AudioEditNormalize>();
    QVERIFY(normalize);
    stack.push(new AddEditToGroupCommand(cache, normalize, group));

    // The Normalize, added after the Gain, hears it: peak 0.4 x factor.
    auto sounds = [&](float factor) {
        const float g = normalizeGain(0.4f * factor);
        return [=](int i) {
            return i >= 1000 && i <= 5000 ? source(i) * factor * g : source(i);
        };
    };
    QTRY_COMPARE_WITH_TIMEOUT(normalize->gain(), normalizeGain(0.2f), 10000);
    QCOMPARE(firstMismatch(*cache, 0, 8000, sounds(0.5f)), -1);

    // Turning the member down brings the Normalize's gain up: the group still peaks at the target.
    gain->setGain(0.25f);
    QTRY_COMPARE_WITH_TIMEOUT(normalize->gain(), normalizeGain(0.1f), 10000);
    QCOMPARE(firstMismatch(*cache, 0, 8000, sounds(0.25f)), -1);

    // The Gain taken out of the group: the Normalize hears the audio as it is again.
    group->removeEdit(gain);
    QTRY_COMPARE_WITH_TIMEOUT(normalize->gain(), normalizeGain(0.4f), 10000);
    QCOMPARE(firstMismatch(*cache, 0, 8000, sounds(1.0f)), -1);
}

void EditSoundTest::laterMutesAndDeletesReachOnlyTheirOwnRegion()
{
    constexpr int kLength = 20000;
    const auto cache = makeEditable(makeSource(kLength));
    QUndoStack stack;
    auto add = [&](int type, int start, int end, int destination = -1) {
        const AudioEditPtr edit = AudioEditFactory::createEdit(type, destination, start, end, cache);
        stack.push(new AddEditCommand(cache, edit));
        return edit;
    };
    // A cut silences [1000, 2000]; audio from 6000 is pasted over [500, 1500] after it.
    add(TypeHiddenMute, 1000, 2000);
    add(TypeDuplicate, 6000, 7000, 500);
    // Later: a Mute over part of the paste, a Mute and a Delete far from it.
    add(TypeMute, 1200, 1300);
    add(TypeMute, 8000, 8100);
    add(TypeDelete, 9000, 9500); // source samples
    QCOMPARE(cache->length(), kLength - 500);

    const Expected edited = [](int i) {
        if ((i >= 1200 && i <= 1300) || (i >= 8000 && i <= 8100))
            return 0.0f;
        if (i >= 500 && i <= 1500)
            return ramp(6000 + i - 500);
        if (i > 1500 && i <= 2000)
            return 0.0f;
        return ramp(i < 9000 ? i : i + 500);
    };
    QCOMPARE(firstMismatch(*cache, 0, cache->length(), edited), -1);

    while (stack.canUndo())
        stack.undo();
    QCOMPARE(firstMismatch(*cache, 0, kLength, ramp), -1);
    while (stack.canRedo())
        stack.redo();
    QCOMPARE(firstMismatch(*cache, 0, cache->length(), edited), -1);
}

void EditSoundTest::groupOverDeletedAudioNeverPlaysIt()
{
    constexpr int kLength = 20000;
    const auto cache = makeEditable(makeSource(kLength));
    QUndoStack stack;
    stack.push(new AddEditCommand(cache, AudioEditFactory::createEdit(TypeDelete, -1, 1000, 3000, cache)));
    const auto across = AudioEditFactory::createEdit(TypeGroup, -1, 0, 4000, cache).objectCast<AudioEditGroup>();
    const auto after = AudioEditFactory::createEdit(TypeGroup, -1, 4000, 6000, cache).objectCast<AudioEditGroup>();
    stack.push(new AddEditCommand(cache, across));
    stack.push(new AddEditCommand(cache, after));

    // Over the deleted span, one Reverse or Duplicate would play it again: none is made.
    QVERIFY(!EditCommands::createInGroup(TypeReverse, across, cache));
    QVERIFY(!EditCommands::createInGroup(TypeDuplicate, across, cache));
    const auto gain = EditCommands::createInGroup(TypeGain, across, cache).objectCast<AudioEditGain>();
    QVERIFY(gain);
    gain->setGain(0.5f);
    stack.push(new AddEditToGroupCommand(cache, gain, across));

    // Over audio with no deleted span inside, the Reverse is made and plays it backwards.
    const AudioEditPtr reverse = EditCommands::createInGroup(TypeReverse, after, cache);
    QVERIFY(reverse);
    stack.push(new AddEditToGroupCommand(cache, reverse, after));

    const Expected edited = [](int i) {
        const int p = i < 1000 ? i : i + 2000;
        if (i < 4000)
            return 0.5f * ramp(p);
        if (i >= 4000 && i <= 6000)
            return ramp(6000 + 6000 - i);
        return ramp(p);
    };
    // Sample 4000 is under both groups: the later one (the Reverse) has the last word.
    QCOMPARE(firstMismatch(*cache, 0, cache->length(), edited), -1);
}
