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

// A stretch of the edited loop, [start, end), that plays the unedited loop on from
// sourceStart without a break.
struct SourceStretch {
    int start = 0;
    int end = 0;
    int sourceStart = 0;
};

// The stretches that [start, end) of the edited loop (any order, clamped to the loop and
// frame-aligned) is made of: one, unless deleted spans lie inside. Empty for an empty region.
QVector<SourceStretch> sourceStretches(int start, int end, const QSharedPointer<EditableAudioCache> &cache);

// Duplicates that lay the stretches down again from destination on, side by side and
// kept inside the loop: what was heard over them, less any effect on it. The stretches
// stay valid when the loop is edited after they were taken (a clipboard).
QList<QSharedPointer<AudioEdit>> createCopies(const QVector<SourceStretch> &stretches, int destination,
                                              const QSharedPointer<EditableAudioCache> &cache);

// The edits that make an edit of the given kind over [start, end] of the edited loop; a
// Duplicate is laid at destination (-1: in place). A Reverse or a Duplicate plays the
// unedited loop from one offset, so over a region with deleted spans inside it would
// bring the deleted audio back: it becomes one edit per stretch. Anything else is the one
// edit the factory makes. Nothing is added to the cache.
QList<QSharedPointer<AudioEdit>> createEdits(int type, int destination, int start, int end,
                                             const QSharedPointer<EditableAudioCache> &cache);

} // namespace EditCommands
