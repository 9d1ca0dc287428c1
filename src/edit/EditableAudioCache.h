#pragma once

#include "AudioCache.h"
#include "AudioEdit.h"

#include <QMutex>
#include <QRecursiveMutex>
#include <QVector>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>

class QThread;
class EditableAudioCacheWorker;

// A cache that puts the loop's non-destructive edits between the decoded audio (the source
// cache) and everything that plays or draws it. Audio that no edit processes is read
// through to the source (past a deleted span, at the shifted index), so edit mode keeps no
// second copy of the loop. In the chunks that edits process, each sample is computed from
// the source through the edits the first time it is read and kept in a render cache, whose
// memory is only taken where it is written; a changed edit resets its region of the render
// cache on a worker thread, and the next reads compute the new values. A rendered value of
// exactly 0.0 counts as "not rendered" and is computed again.
//
// Threads: the edit list changes on the GUI thread under the edit lock. The sound-card thread
// reads between tryLock() and unlock(), which hold the edit lock for the whole block; the GUI
// thread reads without it (it is the thread that changes the list). The worker resets regions
// in short slices under the edit lock, so no block can write back values rendered with an
// edit's old parameters after its region was reset.
//
// Lock order: the edit lock, then try-locks on the source and render caches.
class EditableAudioCache : public AudioCache {
    Q_OBJECT
public:
    // Puts a cache in front of sourceCache (which may still be filling). GUI thread.
    explicit EditableAudioCache(const AudioCachePtr &sourceCache);
    ~EditableAudioCache() override;

    // Lets the loop model put an editable cache in front of its plain cache when edit mode
    // is first switched on (Slice::setEditMode). registerAudioEditMetaType() calls it.
    static void installInLoopModel();

    // Filling and block reads go to the source: block reads return the unedited audio.
    void fillSynchronously() override;
    void preallocate() override;
    void fill() override;
    void startBackgroundFill() override;
    void cancelFill() override;
    unsigned readSamples(float *buffer, unsigned count, unsigned startSample) override;
    // The source's fill state: this cache is never filled itself, and a save that waits
    // for a loop to finish loading would otherwise wait for ever.
    bool isFilled() const override { return m_sourceCache && m_sourceCache->isFilled(); }
    bool isFillCancelled() const override { return !m_sourceCache || m_sourceCache->isFillCancelled(); }

    // Any thread, the sound-card thread included (between tryLock and unlock): the edited
    // sample. No allocation, no waiting, no logging.
    float getSample(int index) override;
    // Sound-card thread: takes the edit lock (held by the GUI only for list changes, and by
    // the worker for one short slice), then try-locks the source and render caches.
    bool tryLock() override;
    void unlock() override;
    // The source length minus every deleted span; kept up to date by every change of the
    // edit list or of a deleted span made through this cache.
    int length() override;

    // GUI thread, through the undo commands. A new edit (index -1) goes where its kind
    // goes; one taken out and put back by undo returns to the index it had, so the edits
    // are processed in the same order as before and the audio comes back the same.
    void addEdit(const AudioEditPtr &edit, int index = -1);
    void removeEdit(const AudioEditPtr &edit);
    void setEditStartSample(const AudioEditPtr &edit, int startSample);
    void setEditEndSample(const AudioEditPtr &edit, int endSample);
    void setEditRange(const AudioEditPtr &edit, int startSample, int endSample);
    // GUI thread, not undoable: one step later (raise) or earlier (lower) in the processing order.
    void raiseEdit(const AudioEditPtr &edit);
    void lowerEdit(const AudioEditPtr &edit);
    // GUI thread, for undo: puts the same edits back in an order they had before (a new
    // Delete keeps the deleted spans in order of start). Does nothing unless the list holds
    // exactly these edits.
    void restoreEditOrder(const QVector<AudioEditPtr> &order);

    // The extremes of the edited audio: a region an edit changes is unknown from the
    // moment it is queued until the worker has reset it and summed it up again.
    const PeakSummary *peakSummary() const override { return m_editedPeaks.get(); }

    AudioCachePtr sourceCache() const { return m_sourceCache; }
    AudioCachePtr renderCache() const { return m_renderCache; }
    // An edited-loop index mapped through the deleted spans to a source index.
    int toSourceIndex(int index);
    // A copy of the edit list (processing runs from the last entry to the first).
    QVector<AudioEditPtr> edits();
    // Any thread but the sound-card thread (the edit worker's analysis): the largest absolute
    // value of [start, end] of the edited loop as it reaches `edit`, after the edits
    // processed before it (other Normalizes heard at unity gain) and without it and those
    // after it; an edit not in the list yet counts as a new one, processed after all the
    // others. Holds the edit lock one block at a time; progress receives the fraction done
    // after each block.
    float peakReaching(const AudioEdit *edit, int start, int end, const std::function<void(double)> &progress);
    int editCount() const { return m_editCount.load(); }
    // The lock that guards the edit list and the members of the groups in it.
    QRecursiveMutex *editLock() { return &m_editLock; }
    // True while dirty regions wait or are being reset.
    bool isResetting() const;

public slots:
    // Queues [startSample, endSample] for reset; every edit's regionModified comes here.
    void markSamplesAsDirty(const int startSample, const int endSample);

signals:
    void editAdded(AudioEditPtr pAudioEdit, int index);
    void editRemoved(AudioEditPtr pAudioEdit);
    // The processing order changed other than by raising or lowering one edit.
    void editsReordered();
    // GUI thread: the edited audio has changed (an edit added, removed, moved, reordered or
    // changed), said at once, before the worker has re-rendered anything. Whoever keeps a
    // result made from the audio drops it here, not at cacheUpdateProgress, which comes
    // later from the worker and leaves the old result in use meanwhile.
    void editedAudioChanged();
    void cacheUpdateProgress();

private:
    // Under the edit lock: the region where the sample edits other than `added` now apply
    // in another order among themselves than in `before`; empty (start > end) if nowhere.
    QPair<int, int> reorderedSpan(const QVector<AudioEdit *> &before, const AudioEdit *added) const;
    // Clamps to the edited length, widens by one stereo frame and hands the region to the worker.
    void queueDirtyRegion(int startSample, int endSample);
    // Marks [startSample, endSample) unknown in the summary and hands it to the worker.
    void queueRegion(int startSample, int endSample);
    // The region an edit affects, in edited-loop coordinates: a Delete's start is a source
    // index and is mapped back past the other deleted spans before it.
    void queueEditRegion(const AudioEdit *edit, qint64 startSample, qint64 endSample);
    // Under the edit lock: rebuilds the two lists the render path walks.
    void rebuildRenderLists();
    // GUI thread: rebuilds the chunk table (see m_chunkTables) from the edit lists into the
    // table not in use and swaps it in under the edit lock. Every change that can move, add
    // or remove an edit queues a region, which calls this.
    void refreshChunkTable();
    // Under the edit lock (or on the GUI thread): the list walks of toSourceIndex and length.
    int mapToSource(int index) const;
    int editedLength() const;
    void connectEdit(const AudioEditPtr &edit);
    // GUI thread: asks each Normalize whose range meets [startSample, endSample] and that
    // hears the sample edits from index `heardFrom` of the render list on (processing runs
    // from the last entry down) for a new analysis: what reaches it has changed there.
    void reanalyseNormalizes(int heardFrom, int startSample, int endSample);
    // Under the edit lock: where `edit` is in the render list of sample edits (its size for a
    // Delete, which every sample edit hears), -1 when it is in neither list.
    int heardFromIndex(const AudioEdit *edit) const;
    // The last sample whose audio `edit` changes when it changes up to endSample.
    static int reachOf(const AudioEdit *edit, int endSample);
    // GUI thread: reanalyseNormalizes for an edit moved over [startSample, endSample].
    void reanalyseAfterMove(const AudioEdit *edit, int startSample, int endSample);
    // Rare path of getSample: remembers (and on the GUI thread logs) a wrapped index.
    void noteWrappedIndex();
    // GUI thread: logs a wrap seen on another thread and re-arms the warning for new edits.
    void flushWrapWarning();

    // Immutable after construction.
    const AudioCachePtr m_sourceCache;
    const AudioCachePtr m_renderCache;
    const int m_sourceLength;
    // How each chunk of the edited loop is read: kEditedChunk where an edit that processes
    // samples covers some of it (computed and kept in the render cache), kMappedChunk where
    // a deleted span starts inside it or its source lies past the end (mapped sample by
    // sample), otherwise the distance to its source samples (read straight through). Two
    // tables: the GUI thread fills the one not in use and swaps under the edit lock, which
    // every reader on another thread holds while it reads.
    static constexpr int kEditedChunk = std::numeric_limits<int>::min();
    static constexpr int kMappedChunk = kEditedChunk + 1;
    const int m_chunkTableSize;
    const std::unique_ptr<std::atomic<int>[]> m_chunkTables[2];
    std::atomic<int> m_activeChunkTable{0};
    // Written by the worker (and invalidated by the GUI thread when it queues a region).
    const std::unique_ptr<PeakSummary> m_editedPeaks;
    QThread *m_workerThread = nullptr;
    EditableAudioCacheWorker *m_worker = nullptr;

    // Guarded by m_editLock; changed on the GUI thread only.
    QRecursiveMutex m_editLock;
    QVector<AudioEditPtr> m_edits;
    // What the render path walks, in processing order (last to first): the edits that map
    // indices (Deletes) and those that process samples (all others).
    QVector<AudioEdit *> m_indexEdits;
    QVector<AudioEdit *> m_sampleEdits;
    std::atomic<int> m_editCount{0};
    std::atomic<int> m_editedLength{0};

    // A read wrapped an index past the source since the edits last changed; a read on
    // another thread leaves the warning for the GUI thread to log.
    std::atomic<bool> m_wrappedIndex{false};
    std::atomic<bool> m_wrapLogPending{false};
};
