#pragma once

#include <QList>
#include <QSharedPointer>

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

// The edits that make an edit of the given kind over [start, end] of the edited loop; a
// Duplicate is laid at destination (-1: in place), kept inside the loop. A Reverse or a
// Duplicate plays the unedited loop from one offset, so over a region with deleted spans
// inside it would bring the deleted audio back: it becomes one edit per stretch of
// unedited audio the region shows. Anything else is the one edit the factory makes.
// Nothing is added to the cache.
QList<QSharedPointer<AudioEdit>> createEdits(int type, int destination, int start, int end,
                                             const QSharedPointer<EditableAudioCache> &cache);

} // namespace EditCommands
