#pragma once

#include <QList>
#include <QSharedPointer>
#include <QVector>

class AudioEdit;
class EditableAudioCache;
class QUndoCommand;
class Trevant;

// Edit operations that change several parts of the model at once, built as the undo
// commands that make them. Nothing is applied here: the caller pushes the commands, in
// order, inside one macro, and owns them until it does.
namespace EditCommands {

// Removes [a, b) of the edited loop (sample indices, any order, clamped to the loop and
// frame-aligned): slice points inside go and those after move back, edits are cut, moved
// or removed, the trim points follow the audio they marked, and the deleted span joins
// any deleted span it overlaps. Empty when the region is empty.
QList<QUndoCommand *> deleteRegion(Trevant *slicer, const QSharedPointer<EditableAudioCache> &cache, int a,
                                   int b);

// The edits that make an edit of the given kind over [start, end] of the edited loop, in
// place. A Reverse or a Duplicate plays the unedited loop from one offset, so over a region
// with deleted spans inside it would bring the deleted audio back: it becomes one edit per
// stretch of unedited audio the region shows. Anything else is the one edit the factory
// makes. Nothing is added to the cache.
QList<QSharedPointer<AudioEdit>> createInPlace(int type, int start, int end,
                                               const QSharedPointer<EditableAudioCache> &cache);

// The edit of the given kind to add to a group, over the group's range. Null when it is a
// Reverse or a Duplicate and the range shows deleted spans: one such edit plays the unedited
// loop from one offset and would bring the deleted audio back, and a group's members all
// share its range, so the edit cannot be cut into pieces there.
QSharedPointer<AudioEdit> createInGroup(int type, const QSharedPointer<AudioEdit> &group,
                                        const QSharedPointer<EditableAudioCache> &cache);

// A copy of an edit that changes apart from it. A group's own clone shares its members, so
// changing the copy would change the members of the original; this one has members of its
// own, copied the same way.
QSharedPointer<AudioEdit> cloneWithOwnMembers(const QSharedPointer<AudioEdit> &edit);

// A copied region of the edited loop, kept as the stretches of unedited audio it showed:
// it stays the audio the user heard when copying, whatever is deleted meanwhile, and the
// audio deleted inside it is not brought back by a paste.
struct CopiedStretch {
    int offset;      // from the region's start, in edited-loop samples
    int last;        // the stretch's last sample, from the region's start
    int sourceStart; // the unedited loop's sample at offset
};
struct CopiedRegion {
    int length = 0;
    QVector<CopiedStretch> stretches;
    bool isEmpty() const { return stretches.isEmpty(); }
};

// What [start, end] of the edited loop shows now. Empty when the region is.
CopiedRegion copyRegion(int start, int end, const QSharedPointer<EditableAudioCache> &cache);

// The Duplicates that lay a copied region at destination (moved back where it would run
// past the loop's end). Nothing is added to the cache.
QList<QSharedPointer<AudioEdit>> pasteRegion(const CopiedRegion &region, int destination,
                                             const QSharedPointer<EditableAudioCache> &cache);

} // namespace EditCommands
