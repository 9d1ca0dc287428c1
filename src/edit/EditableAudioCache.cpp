#include "EditableAudioCache.h"

#include "AudioEditGroup.h"
#include "AudioEditNormalize.h"
#include "EditLogging.h"
#include "EditableAudioCacheWorker.h"
#include "PeakScan.h"
#include "Slice.h"

#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

int lengthOf(const AudioCachePtr &cache) { return cache ? std::max(0, cache->length()) : 0; }

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Another Normalize's gain is itself the result of an analysis, which runs after this one
// as often as before it: hearing it would make a gain depend on which analysis finished
// first, and an undo would not bring the same sound back. It is heard as unity gain.
void appendHeard(AudioEdit *edit, QVector<AudioEdit *> &chain)
{
    if (edit->type() != TypeNormalize)
        chain.append(edit);
}

// Under the edit lock: appends to chain, in processing order, what entry does to a sample
// before target does: nothing when entry is target, the members processed before the one
// that holds target when entry is a group holding it. False (chain untouched) when target
// is not in entry.
bool chainBefore(AudioEdit *entry, const AudioEdit *target, QVector<AudioEdit *> &chain)
{
    if (entry == target)
        return true;
    const auto *group = qobject_cast<const AudioEditGroup *>(entry);
    if (!group)
        return false;
    const QVector<AudioEditPtr> members = group->members();
    QVector<AudioEdit *> before;
    for (int k = members.size() - 1; k >= 0; --k) {
        if (chainBefore(members.at(k).data(), target, before)) {
            chain += before;
            return true;
        }
        appendHeard(members.at(k).data(), before);
    }
    return false;
}

} // namespace

EditableAudioCache::EditableAudioCache(const AudioCachePtr &sourceCache)
    : AudioCache(), m_sourceCache(sourceCache),
      m_renderCache(AudioCache::createWritable(lengthOf(sourceCache))),
      m_sourceLength(lengthOf(sourceCache)),
      m_chunkTableSize((m_sourceLength + SampleChunk::chunkSize - 1) / SampleChunk::chunkSize),
      m_chunkTables{std::unique_ptr<std::atomic<int>[]>(new std::atomic<int>[size_t(m_chunkTableSize)]()),
                    std::unique_ptr<std::atomic<int>[]>(new std::atomic<int>[size_t(m_chunkTableSize)]())},
      m_editedPeaks(new PeakSummary(m_sourceLength, false)),
      m_editedLength(m_sourceLength)
{

    if (m_sourceCache) {
        // The source does the filling, so its progress is passed on to whoever listens here;
        // length changes start here and are passed on to whoever still listens to the source.
        connect(m_sourceCache.data(), &AudioCache::fillProgress, this, &AudioCache::fillProgress);
        connect(m_sourceCache.data(), &AudioCache::fillFinished, this, &AudioCache::fillFinished);
        connect(this, &AudioCache::lengthChanged, m_sourceCache.data(), &AudioCache::lengthChanged);
    }

    m_workerThread = new QThread(this);
    m_workerThread->setObjectName(QStringLiteral("EditableAudioCacheWorker"));
    m_worker = new EditableAudioCacheWorker(m_renderCache, &m_editLock);
    m_worker->setResetHook([this](int start, int end) {
        // Past the edited length an index wraps into the source; nothing is shown there.
        m_editedPeaks->recompute(start, end, [this](float *dst, int from, int count) {
            const int length = m_editedLength.load();
            for (int i = 0; i < count; ++i)
                dst[i] = from + i < length ? getSample(from + i) : 0.0f;
        });
    });
    m_worker->moveToThread(m_workerThread);
    connect(m_workerThread, &QThread::started, m_worker, &EditableAudioCacheWorker::markSamplesAsDirty);
    connect(m_worker, &EditableAudioCacheWorker::cacheUpdateProgress, this, &EditableAudioCache::cacheUpdateProgress);
    if (!m_workerThread->isRunning())
        m_workerThread->start(QThread::InheritPriority);

    // The summary of the edited audio is built on the worker; a source still filling is
    // summed up once it is complete, and drawn from sparse reads until then.
    if (m_sourceCache && m_sourceCache->isFilled())
        queueRegion(0, m_sourceLength);
    else if (m_sourceCache)
        connect(m_sourceCache.data(), &AudioCache::fillFinished, this, [this] { queueRegion(0, m_sourceLength); });
}

void EditableAudioCache::installInLoopModel()
{
    Slice::setEditableCacheFactory([](const AudioCachePtr &source, const AudioFilePtr &) {
        return AudioCachePtr(new EditableAudioCache(source));
    });
}

EditableAudioCache::~EditableAudioCache()
{
    m_worker->stop();
    m_workerThread->quit();
    m_workerThread->wait();
    delete m_worker;
    delete m_workerThread;
    QMutexLocker lock(&m_editLock);
    m_indexEdits.clear();
    m_sampleEdits.clear();
    m_edits.clear();
}

void EditableAudioCache::fillSynchronously()
{
    if (m_sourceCache)
        m_sourceCache->fillSynchronously();
}

void EditableAudioCache::preallocate()
{
    if (m_sourceCache)
        m_sourceCache->preallocate();
}

void EditableAudioCache::fill()
{
    if (m_sourceCache)
        m_sourceCache->fill();
}

void EditableAudioCache::startBackgroundFill()
{
    if (m_sourceCache)
        m_sourceCache->startBackgroundFill();
}

void EditableAudioCache::cancelFill()
{
    if (m_sourceCache)
        m_sourceCache->cancelFill();
}

unsigned EditableAudioCache::readSamples(float *buffer, unsigned count, unsigned startSample)
{
    return m_sourceCache ? m_sourceCache->readSamples(buffer, count, startSample) : 0;
}

// Any thread, the sound-card thread included: no allocation, no waiting, no logging there.
float EditableAudioCache::getSample(int index)
{
    if (index < 0 || m_sourceLength <= 0)
        return 0.0f;
    const bool renderable = index < m_sourceLength;
    bool edited = !renderable;
    if (renderable) {
        const int rule = m_chunkTables[m_activeChunkTable.load(std::memory_order_relaxed)]
                                      [size_t(index / SampleChunk::chunkSize)]
                                          .load(std::memory_order_relaxed);
        if (rule > kMappedChunk) {
            const float value = m_sourceCache->getSample(index + rule);
            return std::isfinite(value) ? value : 0.0f;
        }
        edited = rule == kEditedChunk;
    }
    if (edited && renderable) {
        const float rendered = m_renderCache->getSample(index);
        if (rendered != 0.0f)
            return rendered;
    }

    // Deleted spans, in order of ascending source start.
    int p = index;
    const int indexEditCount = m_indexEdits.size();
    AudioEdit *const *indexEdits = m_indexEdits.constData();
    for (int k = 0; k < indexEditCount; ++k) {
        if (indexEdits[k]->covers(p))
            p = indexEdits[k]->transformOffset(p);
    }
    if (p >= m_sourceLength) {
        if (!m_wrappedIndex.load(std::memory_order_relaxed))
            noteWrappedIndex();
        p %= m_sourceLength;
    }

    float value = m_sourceCache->getSample(p);
    if (!edited)
        return std::isfinite(value) ? value : 0.0f;
    const int sampleEditCount = m_sampleEdits.size();
    AudioEdit *const *sampleEdits = m_sampleEdits.constData();
    for (int k = sampleEditCount - 1; k >= 0; --k) {
        if (sampleEdits[k]->covers(index))
            value = sampleEdits[k]->processSample(index, value);
    }
    // A NaN or infinity (a corrupt float file) would stick in the render cache and poison
    // the resampler and the stretcher downstream.
    if (!std::isfinite(value))
        value = 0.0f;
    // Silence reads as "not rendered" anyway; writing it would only take a page (a mute).
    if (renderable && value != 0.0f)
        m_renderCache->setSample(index, value);
    return value;
}

// Sound-card thread.
bool EditableAudioCache::tryLock()
{
    m_editLock.lock();
    if (m_sourceCache && m_sourceCache->tryLock()) {
        if (m_renderCache->tryLock())
            return true;
        m_sourceCache->unlock();
    }
    m_editLock.unlock();
    return false;
}

void EditableAudioCache::unlock()
{
    m_sourceCache->unlock();
    m_renderCache->unlock();
    m_editLock.unlock();
}

// Any thread, the sound-card thread included: never waits.
int EditableAudioCache::length() { return m_editedLength.load(); }

int EditableAudioCache::editedLength() const
{
    int length = m_sourceLength;
    for (const AudioEditPtr &edit : m_edits)
        length = edit->inverseTransformOffset(length);
    return std::max(0, length);
}

float EditableAudioCache::peakReaching(const AudioEdit *edit, int start, int end,
                                       const std::function<void(double)> &progress)
{
    if (!m_sourceCache)
        return 0.0f;
    start = std::max(0, start);
    // A block's work under the lock the sound-card thread waits on stays well below a buffer.
    constexpr int kBlock = 8192;
    std::vector<float> block(kBlock);
    QVector<AudioEdit *> chain;
    float peak = 0.0f;
    for (qint64 pos = start; pos <= end;) {
        QMutexLocker lock(&m_editLock);
        // The list may change between blocks; it is read again each time.
        chain.clear();
        bool found = false;
        for (int k = m_sampleEdits.size() - 1; k >= 0 && !found; --k) {
            found = chainBefore(m_sampleEdits.at(k), edit, chain);
            if (!found)
                appendHeard(m_sampleEdits.at(k), chain);
        }
        // Sample by sample through the edits is slower than a block read: a shorter block.
        const int blockLength = chain.isEmpty() ? kBlock : kBlock / 4;
        const int stop = int(std::min<qint64>({pos + blockLength, qint64(end) + 1, qint64(m_editedLength.load())}));
        if (pos >= stop)
            break;
        const int first = mapToSource(int(pos));
        const int n = stop - int(pos);
        if (chain.isEmpty() && mapToSource(stop - 1) == first + n - 1 && first + n <= m_sourceLength) {
            // Plain audio: one block read.
            const unsigned got = m_sourceCache->readSamples(block.data(), unsigned(n), unsigned(first));
            peak = std::max(peak, PeakScan::largestMagnitude(block.data(), int(got)));
        } else {
            for (int i = int(pos); i < stop; ++i) {
                const int p = mapToSource(i);
                if (p >= m_sourceLength)
                    continue;
                float value = m_sourceCache->getSample(p);
                for (AudioEdit *e : qAsConst(chain))
                    if (e->covers(i))
                        value = e->processSample(i, value);
                if (std::isfinite(value))
                    peak = std::max(peak, std::fabs(value));
            }
        }
        lock.unlock();
        pos = stop;
        if (progress)
            progress(double(pos - start) / double(qint64(end) + 1 - start));
    }
    return peak;
}

int EditableAudioCache::toSourceIndex(int index)
{
    QMutexLocker lock(&m_editLock);
    return mapToSource(index);
}

int EditableAudioCache::mapToSource(int index) const
{
    int p = index;
    for (AudioEdit *edit : m_indexEdits) {
        if (edit->covers(p))
            p = edit->transformOffset(p);
    }
    return p;
}

QVector<AudioEditPtr> EditableAudioCache::edits()
{
    QMutexLocker lock(&m_editLock);
    return m_edits;
}

bool EditableAudioCache::isResetting() const { return m_worker->isBusy(); }

void EditableAudioCache::rebuildRenderLists()
{
    m_indexEdits.clear();
    m_sampleEdits.clear();
    for (const AudioEditPtr &edit : qAsConst(m_edits)) {
        if (edit->changesLength())
            m_indexEdits.append(edit.data());
        else
            m_sampleEdits.append(edit.data());
    }
    // Deleted spans are stored in source coordinates and undone from the lowest up, whatever
    // their place in the list after raising, lowering or moving.
    std::stable_sort(m_indexEdits.begin(), m_indexEdits.end(),
                     [](const AudioEdit *a, const AudioEdit *b) { return a->startSample() < b->startSample(); });
    m_editedLength.store(editedLength());
}

int EditableAudioCache::reachOf(const AudioEdit *edit, int endSample)
{
    // A deleted span shifts everything after it.
    return edit->changesLength() ? std::numeric_limits<int>::max() : endSample;
}

void EditableAudioCache::reanalyseAfterMove(const AudioEdit *edit, int startSample, int endSample)
{
    // A Normalize moved asks for its own analysis, and the others hear it at unity.
    if (edit->type() == TypeNormalize)
        return;
    int heardFrom;
    {
        QMutexLocker lock(&m_editLock);
        heardFrom = heardFromIndex(edit);
    }
    reanalyseNormalizes(heardFrom, startSample, reachOf(edit, endSample));
}

int EditableAudioCache::heardFromIndex(const AudioEdit *edit) const
{
    const int index = m_sampleEdits.indexOf(const_cast<AudioEdit *>(edit));
    if (index >= 0)
        return index;
    return m_indexEdits.contains(const_cast<AudioEdit *>(edit)) ? int(m_sampleEdits.size()) : -1;
}

void EditableAudioCache::reanalyseNormalizes(int heardFrom, int startSample, int endSample)
{
    QVector<QSharedPointer<AudioEditNormalize>> stale;
    {
        QMutexLocker lock(&m_editLock);
        // Members of a group are heard through the group: a group processed after the change
        // takes its Normalizes along.
        std::function<void(AudioEdit *)> collect = [&](AudioEdit *edit) {
            if (edit->endSample() < startSample || edit->startSample() > endSample)
                return;
            if (auto *group = qobject_cast<AudioEditGroup *>(edit)) {
                for (const AudioEditPtr &member : group->members())
                    collect(member.data());
            } else if (edit->type() == TypeNormalize) {
                if (auto normalize = edit->sharedFromThis().objectCast<AudioEditNormalize>())
                    stale.append(normalize);
            }
        };
        for (int k = 0; k < std::min(heardFrom, int(m_sampleEdits.size())); ++k)
            collect(m_sampleEdits.at(k));
    }
    for (const auto &normalize : qAsConst(stale))
        normalize->requestAnalysis();
}

void EditableAudioCache::connectEdit(const AudioEditPtr &edit)
{
    connect(edit.data(), &AudioEdit::regionModified, this, &EditableAudioCache::markSamplesAsDirty,
            Qt::UniqueConnection);
}

void EditableAudioCache::addEdit(const AudioEditPtr &edit, int index)
{
    if (!edit)
        return;
    if (auto group = edit.objectCast<AudioEditGroup>())
        group->setEditableCache(sharedFromThis().objectCast<EditableAudioCache>());

    QPair<int, int> reordered(1, 0);
    int heardFrom = -1;
    {
        QMutexLocker lock(&m_editLock);
        // The same edit twice would apply twice and could never be removed cleanly.
        if (m_edits.contains(edit))
            return;
        const int type = edit->type();
        // A Mute (a cut among them) is not selected when made; a Delete has no item.
        if (type != TypeDelete && type != TypeMute)
            edit->setSelected(true);
        if (index >= 0) {
            // The list it left was in a valid order and is as it was then (undo runs in
            // reverse), so no kind's rule is applied again.
            m_edits.insert(std::min(index, int(m_edits.size())), edit);
        } else if (type != TypeDelete) {
            // Processed after everything already there, a Mute included: a new Mute or cut
            // silences what plays under it, and reordering the others by start would let
            // it change how edits far from it combine (a paste under an earlier cut).
            m_edits.prepend(edit);
        } else {
            // Deleted spans keep descending start among themselves (the merge of
            // overlapping spans relies on it), without moving the sample edits around
            // them: a Delete changes no edit's place in the processing order.
            m_edits.append(edit);
            QVector<int> places;
            QVector<AudioEditPtr> deletions;
            for (int j = 0; j < m_edits.size(); ++j) {
                if (m_edits.at(j)->type() == TypeDelete) {
                    places.append(j);
                    deletions.append(m_edits.at(j));
                }
            }
            std::stable_sort(deletions.begin(), deletions.end(),
                             [](const AudioEditPtr &a, const AudioEditPtr &b) { return b->startsBefore(*a); });
            for (int j = 0; j < places.size(); ++j)
                m_edits[places.at(j)] = deletions.at(j);
        }
        const QVector<AudioEdit *> sampleOrderBefore = m_sampleEdits;
        m_editCount.fetch_add(1);
        rebuildRenderLists();
        index = m_edits.indexOf(edit);
        reordered = reorderedSpan(sampleOrderBefore, edit.data());
        // Other Normalizes hear a Normalize at unity: a new one changes nothing for them.
        heardFrom = type == TypeNormalize ? -1 : heardFromIndex(edit.data());
    }

    connectEdit(edit);
    queueEditRegion(edit.data(), edit->startSample(), edit->endSample());
    reanalyseNormalizes(heardFrom, edit->startSample(), reachOf(edit.data(), edit->endSample()));
    // Edits the sort moved past each other combine differently where they overlap.
    if (reordered.first <= reordered.second) {
        queueDirtyRegion(reordered.first, reordered.second);
        reanalyseNormalizes(std::numeric_limits<int>::max(), reordered.first, reordered.second);
    }
    emit editAdded(edit, index);
    if (edit->changesLength())
        emit lengthChanged();
}

void EditableAudioCache::removeEdit(const AudioEditPtr &entry)
{
    // Our own reference: the caller's may be the list entry itself.
    const AudioEditPtr edit = entry;
    if (!edit)
        return;
    int heardFrom;
    {
        QMutexLocker lock(&m_editLock);
        const int index = m_edits.indexOf(edit);
        if (index < 0)
            return;
        // The sample edits before it in the render list keep their places.
        heardFrom = edit->type() == TypeNormalize ? -1 : heardFromIndex(edit.data());
        m_edits.removeAt(index);
        m_editCount.fetch_sub(1);
        rebuildRenderLists();
    }
    // An edit kept by the undo history no longer dirties regions it does not touch.
    disconnect(edit.data(), &AudioEdit::regionModified, this, &EditableAudioCache::markSamplesAsDirty);
    queueEditRegion(edit.data(), edit->startSample(), edit->endSample());
    reanalyseNormalizes(heardFrom, edit->startSample(), reachOf(edit.data(), edit->endSample()));
    emit editRemoved(edit);
    if (edit->changesLength())
        emit lengthChanged();
}

void EditableAudioCache::setEditStartSample(const AudioEditPtr &edit, int startSample)
{
    if (!edit)
        return;
    const int oldStart = edit->startSample();
    edit->setStartSample(startSample);
    if (edit->changesLength()) {
        QMutexLocker lock(&m_editLock);
        rebuildRenderLists();
    }
    queueEditRegion(edit.data(), std::min(oldStart, startSample), edit->endSample());
    reanalyseAfterMove(edit.data(), std::min(oldStart, startSample), edit->endSample());
    if (edit->changesLength())
        emit lengthChanged();
}

void EditableAudioCache::setEditEndSample(const AudioEditPtr &edit, int endSample)
{
    if (!edit)
        return;
    const int oldEnd = edit->endSample();
    edit->setEndSample(endSample);
    if (edit->changesLength()) {
        QMutexLocker lock(&m_editLock);
        rebuildRenderLists();
    }
    queueEditRegion(edit.data(), edit->startSample(), std::max(oldEnd, endSample));
    reanalyseAfterMove(edit.data(), edit->startSample(), std::max(oldEnd, endSample));
    if (edit->changesLength())
        emit lengthChanged();
}

void EditableAudioCache::setEditRange(const AudioEditPtr &edit, int startSample, int endSample)
{
    if (!edit)
        return;
    const int oldStart = edit->startSample();
    const int oldEnd = edit->endSample();
    edit->setRange(startSample, endSample);
    if (edit->changesLength()) {
        QMutexLocker lock(&m_editLock);
        rebuildRenderLists();
    }
    queueEditRegion(edit.data(), std::min(oldStart, startSample), std::max(oldEnd, endSample));
    reanalyseAfterMove(edit.data(), std::min(oldStart, startSample), std::max(oldEnd, endSample));
    if (edit->changesLength())
        emit lengthChanged();
}

void EditableAudioCache::raiseEdit(const AudioEditPtr &edit)
{
    if (!edit)
        return;
    {
        QMutexLocker lock(&m_editLock);
        const int index = m_edits.indexOf(edit);
        if (index < 0 || index == m_edits.size() - 1)
            return;
        m_edits.swapItemsAt(index, index + 1);
        rebuildRenderLists();
    }
    queueEditRegion(edit.data(), edit->startSample(), edit->endSample());
    // The order changed there: any Normalize in it may hear another chain.
    reanalyseNormalizes(std::numeric_limits<int>::max(), edit->startSample(),
                        reachOf(edit.data(), edit->endSample()));
}

void EditableAudioCache::lowerEdit(const AudioEditPtr &edit)
{
    if (!edit)
        return;
    {
        QMutexLocker lock(&m_editLock);
        const int index = m_edits.indexOf(edit);
        if (index <= 0)
            return;
        m_edits.swapItemsAt(index, index - 1);
        rebuildRenderLists();
    }
    queueEditRegion(edit.data(), edit->startSample(), edit->endSample());
    reanalyseNormalizes(std::numeric_limits<int>::max(), edit->startSample(),
                        reachOf(edit.data(), edit->endSample()));
}

void EditableAudioCache::restoreEditOrder(const QVector<AudioEditPtr> &order)
{
    QPair<int, int> reordered(1, 0);
    {
        QMutexLocker lock(&m_editLock);
        if (order == m_edits || order.size() != m_edits.size())
            return;
        for (const AudioEditPtr &edit : order)
            if (!m_edits.contains(edit))
                return;
        const QVector<AudioEdit *> sampleOrderBefore = m_sampleEdits;
        m_edits = order;
        rebuildRenderLists();
        reordered = reorderedSpan(sampleOrderBefore, nullptr);
    }
    if (reordered.first <= reordered.second) {
        queueDirtyRegion(reordered.first, reordered.second);
        reanalyseNormalizes(std::numeric_limits<int>::max(), reordered.first, reordered.second);
    }
    emit editsReordered();
}

QPair<int, int> EditableAudioCache::reorderedSpan(const QVector<AudioEdit *> &before,
                                                  const AudioEdit *added) const
{
    QVector<AudioEdit *> was = before;
    QVector<AudioEdit *> now = m_sampleEdits;
    was.removeAll(const_cast<AudioEdit *>(added));
    now.removeAll(const_cast<AudioEdit *>(added));
    QPair<int, int> span(1, 0);
    if (was == now)
        return span;
    int first = 0;
    int last = int(std::min(was.size(), now.size())) - 1;
    while (first <= last && was.at(first) == now.at(first))
        ++first;
    while (last >= first && was.at(last) == now.at(last))
        --last;
    if (was.size() != now.size()) // not the same edits: everything may sound different
        last = int(was.size()) - 1;
    span = qMakePair(std::numeric_limits<int>::max(), std::numeric_limits<int>::min());
    for (int k = first; k <= last && k < was.size(); ++k) {
        span.first = std::min(span.first, was.at(k)->startSample());
        span.second = std::max(span.second, was.at(k)->endSample());
    }
    return span;
}

void EditableAudioCache::markSamplesAsDirty(const int startSample, const int endSample)
{
    queueDirtyRegion(startSample, endSample);
    // A changed edit (a gain dragged) changes what the Normalizes after it hear. A
    // Normalize's own new gain changes nothing for the others, which hear it at unity.
    const auto *edit = qobject_cast<const AudioEdit *>(sender());
    if (!edit || edit->type() == TypeNormalize)
        return;
    int heardFrom;
    {
        QMutexLocker lock(&m_editLock);
        heardFrom = heardFromIndex(edit);
    }
    reanalyseNormalizes(heardFrom, startSample, endSample);
}

void EditableAudioCache::queueEditRegion(const AudioEdit *edit, qint64 startSample, qint64 endSample)
{
    flushWrapWarning();
    if (!edit->changesLength()) {
        queueDirtyRegion(clampToInt(startSample), clampToInt(endSample));
        return;
    }
    // A deleted span is in source coordinates; the first edited index it shifts lies
    // earlier by every other span deleted before it. Everything after it moves, up to the
    // end of the render cache (which also drops what lies past a shortened loop).
    qint64 first = startSample;
    {
        QMutexLocker lock(&m_editLock);
        for (AudioEdit *other : qAsConst(m_indexEdits)) {
            if (other != edit && other->startSample() < startSample)
                first = other->inverseTransformOffset(clampToInt(first));
        }
    }
    first = std::max<qint64>(0, std::min(first, startSample));
    if (first < m_sourceLength)
        queueRegion(int(first), m_sourceLength);
}

void EditableAudioCache::refreshChunkTable()
{
    if (m_chunkTableSize == 0)
        return;
    // Only the GUI thread changes the lists and swaps the tables, so it reads both freely.
    const int next = 1 - m_activeChunkTable.load(std::memory_order_relaxed);
    std::atomic<int> *table = m_chunkTables[next].get();
    constexpr int kChunk = SampleChunk::chunkSize;
    for (int k = 0; k < m_chunkTableSize; ++k) {
        const int first = k * kChunk;
        const int last = std::min(first + kChunk, m_sourceLength) - 1;
        const int from = mapToSource(first);
        const int to = mapToSource(last);
        // The mapping only ever jumps forward, so equal spans mean no jump in between.
        const bool straight = qint64(to) - from == last - first && to < m_sourceLength;
        table[k].store(straight ? from - first : kMappedChunk, std::memory_order_relaxed);
    }
    for (const AudioEdit *edit : qAsConst(m_sampleEdits)) {
        // The same widening by one stereo frame as the regions queued for reset.
        const qint64 start = std::max(0, edit->startSample());
        const qint64 end = std::min<qint64>(qint64(edit->endSample()) + 2, m_sourceLength - 1);
        for (qint64 k = start / kChunk; k <= end / kChunk; ++k)
            table[k].store(kEditedChunk, std::memory_order_relaxed);
    }
    QMutexLocker lock(&m_editLock);
    m_activeChunkTable.store(next, std::memory_order_relaxed);
}

void EditableAudioCache::queueRegion(int startSample, int endSample)
{
    refreshChunkTable();
    m_editedPeaks->invalidate(startSample, endSample);
    m_worker->queueRegion(startSample, endSample);
    emit editedAudioChanged();
}

void EditableAudioCache::flushWrapWarning()
{
    if (m_wrapLogPending.exchange(false))
        qCDebug(lcEdit) << "Warning: transformedOffset out of bounds";
    m_wrappedIndex.store(false);
}

void EditableAudioCache::queueDirtyRegion(int startSample, int endSample)
{
    flushWrapWarning();

    // One stereo frame more than the edit's own end, which the edit includes.
    const qint64 end = qint64(std::min(endSample, length())) + 2;
    const qint64 start = std::max(0, startSample);
    if (end <= start)
        return;
    queueRegion(int(start), clampToInt(end));
}

void EditableAudioCache::noteWrappedIndex()
{
    if (m_wrappedIndex.exchange(true))
        return;
    if (QThread::currentThread() == thread())
        qCDebug(lcEdit) << "Warning: transformedOffset out of bounds";
    else
        m_wrapLogPending.store(true);
}
