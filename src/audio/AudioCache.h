#pragma once

#include "AudioFile.h"
#include "PeakSummary.h"
#include "SampleChunk.h"

#include <QEnableSharedFromThis>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>

#include <atomic>
#include <memory>
#include <vector>

class AudioCache;
// Loops, views and the background reader all hold a cache through this pointer; the
// cache dies with its last holder, on whichever thread that is.
using AudioCachePtr = QSharedPointer<AudioCache>;

// The whole decoded loop in memory as interleaved stereo samples, in chunks of
// SampleChunk::chunkSize samples, so that the loop can be allocated in one quick pass
// (preallocate) and then filled in place by the background reader while it is already
// drawn and played. Samples are handed out as floats; they are kept as 16- or 24-bit
// integers when the reader says that is exact (an hour of 16-bit audio in half the
// memory), as floats otherwise.
//
// Threads: built on the GUI thread; fill() runs on the background reader thread;
// getSample() is called from the sound-card thread between tryLock() and unlock(),
// readSamples() from the tempo worker, and both from the GUI thread for drawing.
// Sample data is read and written without the lock: each chunk reads as silence until
// the fill has published it (SampleChunk::readable), so a reader never sees a chunk the
// fill is still writing. The lock guards the chunk array and is held whole by
// preallocate() and fillSynchronously().
//
// The editable cache derives from this class and overrides every virtual operation.
class AudioCache : public QObject, public QEnableSharedFromThis<AudioCache> {
    Q_OBJECT
public:
    // How the chunks keep their samples (see SampleChunk).
    enum class Store { Float32, Int16, Int24 };

    // A cache over a reader; the length is the reader's length. The cache shares the
    // reader and keeps it alive for as long as the cache lives.
    explicit AudioCache(AudioFilePtr file);
    // An empty cache of length 0 without a reader.
    AudioCache();
    // A cache of length samples without a reader, written sample by sample (setSample,
    // zeroSamples) rather than filled: every chunk is allocated and readable, as silence,
    // at once, and fill() leaves it alone.
    static AudioCachePtr createWritable(int length);
    ~AudioCache() override;
    AudioCache(const AudioCache &) = delete;
    AudioCache &operator=(const AudioCache &) = delete;

    // Reads the whole file in the calling thread, holding the lock throughout. Emits
    // nothing.
    virtual void fillSynchronously();
    // Allocates every chunk for the current length (at least one), zeroed. Cheap: the
    // memory is only touched when it is filled.
    virtual void preallocate();
    // Background reader thread: reads the file into the chunks, chunk by chunk, taking
    // the lock only around chunk lookups. Emits fillProgress every 128 chunks and at
    // the end, then fillFinished. Stops early, without the signals, once cancelFill()
    // has been called. A cache is filled at most once.
    virtual void fill();
    // Queues this cache on the background reader and returns at once. The cache must be
    // held by an AudioCachePtr.
    virtual void startBackgroundFill();
    // Any thread: copies up to count samples starting at startSample into buffer and
    // returns the number copied (limited to the length and to the chunks present); a
    // chunk not filled yet is copied as silence. Plain copies: not for a cache that
    // setSample or zeroSamples write at the same time.
    virtual unsigned readSamples(float *buffer, unsigned count, unsigned startSample);
    // Any thread, including the sound-card thread: no lock, no allocation. Returns 0.0
    // for an index outside the allocated chunks or in a chunk not filled yet.
    virtual float getSample(int index);
    // Worker threads that save what the user hears (never the sound-card thread): count
    // samples from startSample exactly as playback reads them, through getSample between
    // tryLock() and unlock(), so an editable cache applies its edits and cannot rebuild
    // its edit lists under the reader; frames are mirrored when reversed. Waits for the
    // lock in short sleeps and holds it for a few thousand samples at a time. Samples
    // past the length read as silence. Returns count.
    int readAsPlayed(float *buffer, int count, int startSample, bool reversed);
    // Never waits.
    virtual bool tryLock();
    // Waits for the cache lock (never from the sound-card thread).
    void lock() { m_mutex.lock(); }
    virtual void unlock();
    virtual int length();

    // Asks a queued or running fill to stop: the background reader skips a cancelled
    // cache, and a running fill stops after its current chunk. Used when the loop that
    // owns the cache is closed or replaced. Never waits.
    virtual void cancelFill();
    virtual bool isFillCancelled() const { return m_cancelled.load(); }
    // True once fillFinished has been emitted (or fillSynchronously has returned). A
    // cache that forwards its fill to another (the editable cache) forwards these too.
    virtual bool isFilled() const { return m_filled.load(); }

    // Any thread, no lock: stores value at index if its chunk is readable (a chunk the
    // fill has not reached would be overwritten by it).
    void setSample(int index, float value);
    // Any thread, no lock: sets count samples from startSample to 0.0, limited to the
    // length and to readable chunks.
    void zeroSamples(int startSample, int count);

    // Any thread: the number of chunks and one of them (null if k is out of range).
    int chunkCount() const { return m_chunkCount.load(std::memory_order_acquire); }
    const SampleChunk *chunkAt(int k) const { return findChunk(k); }
    AudioFilePtr audioFile() const { return m_file; }
    // Fixed at construction from the reader's integerBits(); Float32 without a reader.
    Store store() const { return m_store; }
    // Any thread: the block extremes of what this cache hands out, kept up to date by the
    // fill (the editable cache keeps its own for the edited audio). Null for none.
    virtual const PeakSummary *peakSummary() const { return m_peaks.get(); }

signals:
    void fillProgress();
    void fillFinished();
    void lengthChanged();

private:
    struct Block;

    SampleChunk *findChunk(int k) const {
        if (k < 0 || k >= m_chunkCount.load(std::memory_order_acquire))
            return nullptr;
        return m_table.load(std::memory_order_acquire)[k];
    }
    // Under the lock: makes room for total chunk pointers.
    void reserveChunks(int total);
    // Under the lock: allocates count zeroed chunks in one block and appends them.
    bool appendChunks(int count, int firstStart);
    // Shared by fill() and fillSynchronously().
    void readAll(bool emitSignals);

    // The chunk pointer table. It only grows, under the lock; readers that take no lock
    // load the count, then the table, and see a table holding at least that many
    // chunks. Replaced tables are kept until the cache dies, so a reader that loaded an
    // older table still reads valid pointers.
    std::atomic<SampleChunk **> m_table{nullptr};
    std::atomic<int> m_chunkCount{0};
    int m_tableCapacity = 0;
    std::vector<std::unique_ptr<SampleChunk *[]>> m_tables;
    std::vector<std::unique_ptr<Block>> m_blocks;

    const AudioFilePtr m_file;
    const Store m_store = Store::Float32;
    // Immutable after construction: chunks are readable from their allocation.
    bool m_writtenInPlace = false;
    // Sized once for the reader's length; written only by the fill.
    const std::unique_ptr<PeakSummary> m_peaks;
    QRecursiveMutex m_mutex;
    std::atomic<int> m_length{0};

    std::atomic<bool> m_fillStarted{false};
    std::atomic<bool> m_cancelled{false};
    std::atomic<bool> m_filled{false};
};
