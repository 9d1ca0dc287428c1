#include "EditCommands.h"

#include "AddEditCommand.h"
#include "AdjustEditEndPointCommand.h"
#include "AdjustEditStartPointCommand.h"
#include "AudioEditDelete.h"
#include "AudioEditDuplicate.h"
#include "AudioEditFactory.h"
#include "AudioEditGroup.h"
#include "AudioEditReverse.h"
#include "EditLogging.h"
#include "EditableAudioCache.h"
#include "Invariant.h"
#include "MoveSlicePointCommand.h"
#include "RemoveEditCommand.h"
#include "RemoveSlicePointCommand.h"
#include "SetTrimEndCommand.h"
#include "SetTrimStartCommand.h"
#include "TranslateEditCommand.h"
#include "Trevant.h"

#include <QVector>

#include <algorithm>

namespace {

// A deleted span as it will stand once the commands before it have run.
struct DeletedSpan {
    QSharedPointer<AudioEditDelete> edit;
    int start;
    int end;
};

// The commands that fold overlapping deleted spans (source coordinates) into one. The
// spans are taken in the order the cache will hold them once the new one is in: the cache
// sorts its list by descending start whenever a Delete is added (stable for equal starts),
// and a change of range leaves the list where it is. Which of two spans survives a merge
// depends on that order.
void mergeDeletedSpans(QVector<DeletedSpan> spans, const QSharedPointer<EditableAudioCache> &cache,
                       QList<QUndoCommand *> &commands)
{
    std::stable_sort(spans.begin(), spans.end(),
                     [](const DeletedSpan &x, const DeletedSpan &y) { return x.start > y.start; });
    bool merged = true;
    while (merged) {
        merged = false;
        for (int i = 0; i < spans.size() && !merged; ++i) {
            for (int j = 0; j < spans.size() && !merged; ++j) {
                if (i == j)
                    continue;
                const int p = spans.at(i).start;
                const int q = spans.at(i).end;
                const int w = spans.at(j).start;
                const int x = spans.at(j).end;
                qCDebug(lcEdit) << "Checking before merge:" << p << q << w << x;
                bool merge = false;
                if (p <= w && w < q) {
                    qCDebug(lcEdit) << "Deletes overlap, needs merging";
                    merge = true;
                } else if (w < p && x >= q) {
                    qCDebug(lcEdit) << "Removing a delete that was entirely inside another delete";
                    commands.append(new RemoveEditCommand(cache, spans.at(i).edit));
                    spans.removeAt(i);
                    merged = true;
                } else if (w < p && p < x) {
                    qCDebug(lcEdit) << "Deletes overlap, needs merging";
                    merge = true;
                }
                if (merge) {
                    qCDebug(lcEdit) << "Merging delete edits:";
                    qCDebug(lcEdit).noquote() << QStringLiteral("%1\t%2").arg(p).arg(w);
                    qCDebug(lcEdit).noquote() << QStringLiteral("%1\t%2").arg(q).arg(x);
                    DeletedSpan &kept = spans[i];
                    kept.start = std::min(w, p);
                    kept.end = std::max(q, x);
                    commands.append(new TranslateEditCommand(cache, kept.edit, kept.start, kept.end, p, q));
                    commands.append(new RemoveEditCommand(cache, spans.at(j).edit));
                    spans.removeAt(j);
                    merged = true;
                }
            }
        }
    }
}

// Reverse and Duplicate play the unedited loop at positions tied to their own range, so
// trimming them keeps what each index plays, and a region deleted inside them must move
// their content, not only their edges. A group holding one is cut the same way: its
// members all share its range.
bool readsSource(const AudioEdit &edit)
{
    if (edit.type() == TypeReverse || edit.type() == TypeDuplicate)
        return true;
    if (const auto *group = qobject_cast<const AudioEditGroup *>(&edit))
        for (const AudioEditPtr &member : group->members())
            if (readsSource(*member))
                return true;
    return false;
}

// Where [start, end] of the edited loop jumps over a deleted span: the region's ends and,
// between them, each span's start in edited-loop coordinates (less every span before it;
// the spans never overlap, they merge).
QVector<int> regionCuts(int start, int end, EditableAudioCache &cache)
{
    QVector<QPair<int, int>> spans;
    for (const AudioEditPtr &edit : cache.edits())
        if (const auto deletion = edit.objectCast<AudioEditDelete>())
            spans.append({deletion->startSample(), deletion->deleteEndSample()});
    std::sort(spans.begin(), spans.end());
    QVector<int> cuts{start};
    qint64 removedBefore = 0;
    for (const auto &span : qAsConst(spans)) {
        const qint64 at = span.first - removedBefore;
        removedBefore += std::max(0, span.second - span.first);
        if (at > start && at < end && (at & 1) == 0 && at != cuts.last())
            cuts.append(int(at));
    }
    cuts.append(end);
    return cuts;
}

} // namespace

QList<QUndoCommand *> EditCommands::deleteRegion(Trevant *slicer, const QSharedPointer<EditableAudioCache> &cache,
                                                 int a, int b)
{
    QList<QUndoCommand *> commands;
    if (!slicer || !cache)
        return commands;
    const int length = cache->length();
    if (a > b)
        std::swap(a, b);
    a = std::clamp(a, 0, length) & ~1;
    b = std::clamp(b, 0, length) & ~1;
    if (a == b)
        return commands;

    const int sourceA = cache->toSourceIndex(a);
    const int sourceB = cache->toSourceIndex(b);
    qCDebug(lcEdit) << "Deleting region" << a << b << "which transforms to" << sourceA << sourceB;
    const int removed = b - a;

    for (int s : slicer->slicePoints()) {
        if (s < a) {
            qCDebug(lcEdit) << "slice point is untouched" << s;
        } else if (s < b) {
            qCDebug(lcEdit) << "removing slice point" << s;
            commands.append(new RemoveSlicePointCommand(slicer, s));
        } else {
            qCDebug(lcEdit) << "moving slice point" << s << "to" << (a + s - b);
            commands.append(new MoveSlicePointCommand(slicer, s, a + s - b));
        }
    }

    QVector<DeletedSpan> spans;
    for (const AudioEditPtr &edit : cache->edits()) {
        if (edit->type() == TypeDelete) {
            // Only AudioEditDelete reports this type; a span left out here would not merge.
            auto deletion = edit.objectCast<AudioEditDelete>();
            if (INVARIANT_HOLDS(lcEdit, deletion))
                spans.append({deletion, deletion->startSample(), deletion->deleteEndSample()});
            continue;
        }
        const int o = edit->startSample();
        const int e = edit->endSample();
        if (e < a)
            continue;
        if (o < a && e >= b && readsSource(*edit)) {
            // One Reverse or Duplicate cannot play its part before the region and its part
            // after it side by side: it becomes two, the second moved back over the gap.
            commands.append(new AdjustEditEndPointCommand(cache, edit, a - 2, e));
            if (e - removed > a + 2) {
                const AudioEditPtr after = cloneWithOwnMembers(edit);
                after->setStartSample(b);
                after->setRange(a, e - removed);
                after->setStartSample(a + 2);
                commands.append(new AddEditCommand(cache, after));
            }
        } else if (o < a) {
            // An edit that reaches over the whole deleted region keeps its part after it.
            const int newEnd = e >= b ? e - removed : a - 2;
            commands.append(new AdjustEditEndPointCommand(cache, edit, newEnd, e));
        } else if (e <= b) {
            qCDebug(lcEdit) << "Removing deleted edit";
            commands.append(new RemoveEditCommand(cache, edit));
        } else if (o > b) {
            qCDebug(lcEdit) << "Edit is entirely after the delete";
            int n = o + a - b;
            if (n < 1)
                n = 0;
            qCDebug(lcEdit) << "nss:" << n << ", dss:" << (n - o);
            qCDebug(lcEdit) << "new end:" << (e + n - o);
            commands.append(new TranslateEditCommand(cache, edit, n, e + n - o, o, e));
        } else if (readsSource(*edit)) {
            // Cut at the region's end, keeping what each index plays, then moved back whole,
            // so that what played after the region plays where the region began.
            commands.append(new AdjustEditStartPointCommand(cache, edit, b, o));
            commands.append(new TranslateEditCommand(cache, edit, a, e - removed, b, e));
            commands.append(new AdjustEditStartPointCommand(cache, edit, a + 2, a));
        } else {
            commands.append(new AdjustEditStartPointCommand(cache, edit, a + 2, o));
            commands.append(new AdjustEditEndPointCommand(cache, edit, e + a - b, e));
        }
    }

    // Trim points follow the audio they marked. They move before the deleted span is added:
    // the slicer keeps them inside the loop's current length, so on undo (which runs in
    // reverse) the loop must have its length back before the trim end returns.
    const int trimStart = slicer->trimStart();
    if (a < trimStart) {
        const int newTrimStart = b <= trimStart ? trimStart - removed : a;
        commands.append(new SetTrimStartCommand(slicer, newTrimStart));
    }
    const int trimEnd = slicer->trimEnd();
    int newTrimEnd = trimEnd;
    if (b <= trimEnd)
        newTrimEnd = trimEnd - removed;
    else if (a < trimEnd)
        newTrimEnd = a;
    newTrimEnd = std::min(newTrimEnd, length - removed);
    if (newTrimEnd != trimEnd)
        commands.append(new SetTrimEndCommand(slicer, newTrimEnd));

    // Without its Delete the commands above would move slice points, edits and trim points
    // over audio that stays: better none of them.
    const AudioEditPtr deletion = AudioEditFactory::createEdit(TypeDelete, -1, sourceA, sourceB, cache);
    const auto span = deletion.objectCast<AudioEditDelete>();
    if (!INVARIANT_HOLDS(lcEdit, span)) {
        qDeleteAll(commands);
        return {};
    }
    commands.append(new AddEditCommand(cache, deletion));
    spans.append({span, span->startSample(), span->deleteEndSample()});
    mergeDeletedSpans(spans, cache, commands);
    return commands;
}

QList<AudioEditPtr> EditCommands::createInPlace(int type, int start, int end,
                                                const QSharedPointer<EditableAudioCache> &cache)
{
    QList<AudioEditPtr> edits;
    if (!cache || (type != TypeReverse && type != TypeDuplicate) || end <= start) {
        if (const AudioEditPtr edit = AudioEditFactory::createEdit(type, start, start, end, cache))
            edits.append(edit);
        return edits;
    }

    // A Duplicate in place is the region copied and pasted where it is.
    if (type == TypeDuplicate)
        return pasteRegion(copyRegion(start, end, cache), start, cache);

    // Stretch [p, q) of the region plays from source index toSourceIndex(p), mirrored. An
    // edit covers its end sample, so a piece that meets the next one starts on the sample
    // after it, the right channel of the frame before: the pieces are seamless.
    const QVector<int> cuts = regionCuts(start, end, *cache);
    for (int k = 0; k + 1 < cuts.size(); ++k) {
        const int p = cuts.at(k);
        const int q = cuts.at(k + 1);
        const int pieceEnd = start + end - p;
        const int pieceStart = q == end ? start : start + end - q + 1;
        const AudioEditPtr edit(new AudioEditReverse(cache->sourceCache(), cache, cache->toSourceIndex(p)));
        edit->setRange(pieceStart, pieceEnd);
        edits.append(edit);
    }
    return edits;
}

AudioEditPtr EditCommands::createInGroup(int type, const AudioEditPtr &group,
                                         const QSharedPointer<EditableAudioCache> &cache)
{
    if (!group)
        return {};
    const int start = group->startSample();
    const int end = group->endSample();
    if (cache && (type == TypeReverse || type == TypeDuplicate) && regionCuts(start, end, *cache).size() > 2)
        return {};
    return AudioEditFactory::createEdit(type, start, start, end, cache);
}

AudioEditPtr EditCommands::cloneWithOwnMembers(const AudioEditPtr &edit)
{
    if (!edit)
        return {};
    const AudioEditPtr clone = edit->clone();
    if (auto group = clone.objectCast<AudioEditGroup>()) {
        const QVector<AudioEditPtr> members = group->members();
        for (const AudioEditPtr &member : members)
            group->removeEdit(member);
        // Added from the last to the first: each is put at the front, as the original was.
        for (int k = members.size() - 1; k >= 0; --k)
            group->addEdit(cloneWithOwnMembers(members.at(k)));
    }
    return clone;
}

EditCommands::CopiedRegion EditCommands::copyRegion(int start, int end,
                                                    const QSharedPointer<EditableAudioCache> &cache)
{
    CopiedRegion region;
    if (!cache)
        return region;
    if (end < start)
        std::swap(start, end);
    const int length = cache->length();
    start = std::clamp(start, 0, length) & ~1;
    end = std::clamp(end, 0, length) & ~1;
    if (start == end)
        return region;
    region.length = end - start;
    // As a Duplicate made in place: each stretch but the last ends on the sample before the next.
    const QVector<int> cuts = regionCuts(start, end, *cache);
    for (int k = 0; k + 1 < cuts.size(); ++k) {
        const int p = cuts.at(k);
        const int q = cuts.at(k + 1);
        region.stretches.append({p - start, (q == end ? q : q - 1) - start, cache->toSourceIndex(p)});
    }
    return region;
}

QList<AudioEditPtr> EditCommands::pasteRegion(const CopiedRegion &region, int destination,
                                              const QSharedPointer<EditableAudioCache> &cache)
{
    QList<AudioEditPtr> edits;
    if (!cache || region.isEmpty())
        return edits;
    const qint64 cacheLength = cache->length();
    const qint64 at =
        std::max<qint64>(0, std::min<qint64>(cacheLength - region.length, destination)) & ~qint64(1);
    for (const CopiedStretch &stretch : region.stretches) {
        const qint64 start = at + stretch.offset;
        const qint64 end = std::min<qint64>(cacheLength, at + stretch.last);
        if (end <= start)
            continue;
        const AudioEditPtr edit(new AudioEditDuplicate(cache->sourceCache(), cache, stretch.sourceStart));
        edit->setRange(int(start), int(end));
        edits.append(edit);
    }
    return edits;
}
