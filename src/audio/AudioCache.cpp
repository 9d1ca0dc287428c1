#include "AudioCache.h"

#include "AudioLogging.h"
#include "BackgroundReader.h"

#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kChunk = SampleChunk::chunkSize;
constexpr int kProgressEvery = 128;
// Samples of a 16-bit store summarised per call during the fill: one block of the
// summary's coarsest level (stereo frames).
constexpr int kSummaryRun = 2 * PeakSummary::kBlockFrames[PeakSummary::kLevels - 1];
static_assert(kSummaryRun % kChunk == 0, "a summary run holds whole chunks");

constexpr float kInt16Scale = 1.0f / 32768.0f;
constexpr float kInt24Scale = 1.0f / 8388608.0f;

size_t bytesPerSample(AudioCache::Store store) {
    switch (store) {
    case AudioCache::Store::Int16:
        return 2;
    case AudioCache::Store::Int24:
        return 3;
    case AudioCache::Store::Float32:
        break;
    }
    return 4;
}

AudioCache::Store storeFor(const AudioFilePtr &file) {
    if (!file)
        return AudioCache::Store::Float32;
    switch (file->integerBits()) {
    case 16:
        return AudioCache::Store::Int16;
    case 24:
        return AudioCache::Store::Int24;
    default:
        return AudioCache::Store::Float32;
    }
}

// Zeroed, 16-byte aligned. calloc hands out fresh pages without touching them, so a
// long loop is allocated in a fraction of a millisecond and its pages are faulted in
// by the fill that writes them.
void *allocateZeroed(size_t bytes) {
    void *p = std::calloc(bytes, 1);
    if (p && reinterpret_cast<uintptr_t>(p) % 16 != 0) {
        std::free(p);
        p = std::aligned_alloc(16, (bytes + 15) / 16 * 16);
        if (p)
            std::memset(p, 0, bytes);
    }
    return p;
}

// A cache written in place (the editable cache's render cache) is mapped straight from
// the system, page-aligned, so that resetting whole pages of it gives them back.
void *mapZeroed(size_t bytes) {
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

size_t pageSize() {
    static const size_t size = size_t(std::max(4096L, sysconf(_SC_PAGESIZE)));
    return size;
}

// Writes only the samples that are not silence yet: a page never written stays unbacked.
void clearSamples(float *from, float *to) {
    for (float *p = from; p < to; ++p)
        if (loadSample(p) != 0.0f)
            storeSample(p, 0.0f);
}

// The reader promises values that are exact at the store's depth; clamping keeps a
// broken promise from wrapping around.
inline std::int32_t toInt(float value, float scale, float lowest, float highest) {
    return std::int32_t(std::clamp(value * scale, lowest, highest));
}

// Background reader, before the chunk is published: plain writes.
void encode(AudioCache::Store store, SampleChunk *chunk, const float *in, int count) {
    if (store == AudioCache::Store::Int16) {
        std::int16_t *out = chunk->data16;
        for (int i = 0; i < count; ++i)
            out[i] = std::int16_t(toInt(in[i], 32768.0f, -32768.0f, 32767.0f));
    } else {
        std::uint8_t *out = chunk->data24;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t v = std::uint32_t(toInt(in[i], 8388608.0f, -8388608.0f, 8388607.0f));
            out[3 * i] = std::uint8_t(v);
            out[3 * i + 1] = std::uint8_t(v >> 8);
            out[3 * i + 2] = std::uint8_t(v >> 16);
        }
    }
}

inline float decode24(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    const std::int32_t v = std::int32_t(std::uint32_t(b0) | std::uint32_t(b1) << 8 | std::uint32_t(b2) << 16);
    return float((v ^ 0x800000) - 0x800000) * kInt24Scale;
}

// Any thread, for published chunks that nothing rewrites meanwhile: plain reads.
void decode(AudioCache::Store store, const SampleChunk *chunk, int offset, float *out, int count) {
    switch (store) {
    case AudioCache::Store::Float32:
        std::memcpy(out, chunk->data + offset, size_t(count) * sizeof(float));
        return;
    case AudioCache::Store::Int16: {
        const std::int16_t *in = chunk->data16 + offset;
        for (int i = 0; i < count; ++i)
            out[i] = float(in[i]) * kInt16Scale;
        return;
    }
    case AudioCache::Store::Int24: {
        const std::uint8_t *in = chunk->data24 + 3 * offset;
        for (int i = 0; i < count; ++i)
            out[i] = decode24(in[3 * i], in[3 * i + 1], in[3 * i + 2]);
        return;
    }
    }
}

// Single samples that another thread may rewrite (setSample): relaxed atomics.
inline float loadOne(AudioCache::Store store, const SampleChunk *chunk, int offset) {
    switch (store) {
    case AudioCache::Store::Int16:
        return float(__atomic_load_n(chunk->data16 + offset, __ATOMIC_RELAXED)) * kInt16Scale;
    case AudioCache::Store::Int24: {
        const std::uint8_t *p = chunk->data24 + 3 * offset;
        return decode24(__atomic_load_n(p, __ATOMIC_RELAXED), __atomic_load_n(p + 1, __ATOMIC_RELAXED),
                        __atomic_load_n(p + 2, __ATOMIC_RELAXED));
    }
    case AudioCache::Store::Float32:
        break;
    }
    return loadSample(chunk->data + offset);
}

inline void storeOne(AudioCache::Store store, SampleChunk *chunk, int offset, float value) {
    switch (store) {
    case AudioCache::Store::Int16:
        __atomic_store_n(chunk->data16 + offset, std::int16_t(toInt(value, 32768.0f, -32768.0f, 32767.0f)),
                         __ATOMIC_RELAXED);
        return;
    case AudioCache::Store::Int24: {
        const std::uint32_t v = std::uint32_t(toInt(value, 8388608.0f, -8388608.0f, 8388607.0f));
        std::uint8_t *p = chunk->data24 + 3 * offset;
        __atomic_store_n(p, std::uint8_t(v), __ATOMIC_RELAXED);
        __atomic_store_n(p + 1, std::uint8_t(v >> 8), __ATOMIC_RELAXED);
        __atomic_store_n(p + 2, std::uint8_t(v >> 16), __ATOMIC_RELAXED);
        return;
    }
    case AudioCache::Store::Float32:
        break;
    }
    storeSample(chunk->data + offset, value);
}

} // namespace

// One allocation of consecutive chunks: their records and their sample data.
struct AudioCache::Block {
    std::unique_ptr<SampleChunk[]> records;
    void *data = nullptr;
    size_t mappedBytes = 0; // non-zero when data was mapped rather than allocated
    ~Block() {
        if (mappedBytes)
            munmap(data, mappedBytes);
        else
            std::free(data);
    }
};

AudioCache::AudioCache(AudioFilePtr file)
    : m_file(std::move(file)), m_store(storeFor(m_file)),
      m_peaks(new PeakSummary(m_file ? m_file->length() : 0, true,
                              m_store == Store::Int16 ? PeakSummary::Precision::Int16
                                                      : PeakSummary::Precision::Float)) {
    m_length = m_file ? std::max(0, m_file->length()) : 0;
}

AudioCache::AudioCache() = default;

AudioCachePtr AudioCache::createWritable(int length) {
    AudioCachePtr cache(new AudioCache());
    cache->m_writtenInPlace = true;
    cache->m_length = std::max(0, length);
    cache->m_fillStarted = true;
    cache->preallocate();
    return cache;
}

AudioCache::~AudioCache() {
    qCDebug(lcAudio) << "Destroying AudioCache" << this;
    QMutexLocker locker(&m_mutex);
    m_chunkCount.store(0, std::memory_order_release);
    m_table.store(nullptr, std::memory_order_release);
    while (!m_blocks.empty())
        m_blocks.pop_back();
    m_tables.clear();
}

void AudioCache::reserveChunks(int total) {
    if (total <= m_tableCapacity)
        return;
    const int capacity = std::max({total, 64, m_tableCapacity * 2});
    std::unique_ptr<SampleChunk *[]> table(new SampleChunk *[size_t(capacity)]());
    const int n = m_chunkCount.load(std::memory_order_relaxed);
    if (n > 0)
        std::copy(m_table.load(std::memory_order_relaxed), m_table.load(std::memory_order_relaxed) + n,
                  table.get());
    m_table.store(table.get(), std::memory_order_release);
    m_tables.push_back(std::move(table));
    m_tableCapacity = capacity;
}

bool AudioCache::appendChunks(int count, int firstStart) {
    const int n = m_chunkCount.load(std::memory_order_relaxed);
    auto block = std::make_unique<Block>();
    const size_t chunkBytes = size_t(kChunk) * bytesPerSample(m_store);
    const size_t bytes = size_t(count) * chunkBytes;
    if (m_writtenInPlace) {
        block->data = mapZeroed(bytes);
        block->mappedBytes = block->data ? bytes : 0;
    } else {
        block->data = allocateZeroed(bytes);
    }
    if (!block->data)
        return false;
    block->records.reset(new SampleChunk[size_t(count)]);
    reserveChunks(n + count);
    SampleChunk **table = m_table.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i) {
        SampleChunk &c = block->records[size_t(i)];
        c.data24 = static_cast<std::uint8_t *>(block->data) + size_t(i) * chunkBytes;
        c.start = firstStart + i * kChunk;
        c.readable.store(m_writtenInPlace, std::memory_order_relaxed);
        table[n + i] = &c;
    }
    m_blocks.push_back(std::move(block));
    m_chunkCount.store(n + count, std::memory_order_release);
    return true;
}

void AudioCache::preallocate() {
    qCDebug(lcAudio) << "AudioCache::preallocate";
    QMutexLocker locker(&m_mutex);
    QElapsedTimer timer;
    timer.start();

    const long long length = m_length.load();
    const int wanted = int(std::max(1LL, (length + kChunk - 1) / kChunk));
    const int have = m_chunkCount.load(std::memory_order_relaxed);
    if (wanted > have && !appendChunks(wanted - have, have * kChunk)) {
        // Not enough memory for this loop: present it as empty rather than as a loop
        // whose samples have nowhere to go, and never fill it.
        qCWarning(lcAudio) << "AudioCache could not allocate" << (wanted - have) << "chunks for" << length
                           << "samples";
        m_cancelled = true;
        m_length = 0;
        if (have == 0)
            appendChunks(1, 0);
        locker.unlock();
        emit lengthChanged();
        return;
    }
    qCDebug(lcAudio) << "AudioCache preallocate took" << timer.elapsed() << "milliseconds"
                     << "for" << m_chunkCount.load() << "chunks";
}

void AudioCache::fill() {
    if (m_fillStarted.exchange(true)) {
        qCDebug(lcAudio) << "AudioCache fill already done for" << this;
        return;
    }
    readAll(true);
}

void AudioCache::fillSynchronously() {
    QMutexLocker locker(&m_mutex);
    if (m_fillStarted.exchange(true)) {
        qCDebug(lcAudio) << "AudioCache fill already done for" << this;
        return;
    }
    readAll(false);
}

void AudioCache::readAll(bool emitSignals) {
    QElapsedTimer timer;
    timer.start();
    if (emitSignals)
        qCDebug(lcAudio) << "Starting fill..." << this;

    // An integer store is filled through one chunk of floats, which the summary then
    // reads while it is still hot.
    std::vector<float> scratch(m_store == Store::Float32 ? 0 : kChunk);
    // A 16-bit store is summarised a run of chunks at a time where they lie one after the
    // other (as a preallocated cache's do), which spares the summary most of its work per
    // call; the run is still in the processor's cache, and the waveform sharpens in steps
    // of a third of a second of audio.
    const std::int16_t *pending = nullptr;
    int pendingStart = 0, pendingCount = 0;
    auto summarisePending = [&] {
        if (m_peaks && pendingCount > 0)
            m_peaks->update(pendingStart, pending, pendingCount);
        pending = nullptr;
        pendingCount = 0;
    };
    int s = 0;
    int n = 0;
    for (;;) {
        if (m_cancelled.load()) {
            summarisePending();
            qCDebug(lcAudio) << "AudioCache fill cancelled after" << n << "chunks" << this;
            return;
        }
        const int k = s / kChunk;
        m_mutex.lock();
        SampleChunk *chunk = findChunk(k);
        if (!chunk) {
            // The reader delivers more than its reported length, or the cache was not
            // preallocated.
            const bool ok = appendChunks(1, s);
            chunk = findChunk(k);
            m_mutex.unlock();
            if (!ok || !chunk) {
                qCWarning(lcAudio) << "AudioCache could not allocate a chunk during fill at" << s;
                break;
            }
            qCDebug(lcAudio) << "Warning: Allocated and inserted new chunk during fill" << s;
        } else {
            m_mutex.unlock();
        }

        const int requested = std::min(chunk->count.load(std::memory_order_relaxed), kChunk);
        float *floats = scratch.empty() ? chunk->data : scratch.data();
        int delivered = -1;
        if (m_file && m_store == Store::Int16)
            delivered = std::min(m_file->readInt16(chunk->data16, unsigned(requested)), requested);
        const bool readIntegers = delivered >= 0;
        if (!readIntegers) {
            delivered = m_file ? std::clamp(m_file->read(floats, unsigned(requested)), 0, requested) : 0;
            if (!scratch.empty())
                encode(m_store, chunk, floats, delivered);
        }
        chunk->count.store(delivered, std::memory_order_relaxed);
        chunk->readable.store(true, std::memory_order_release);
        // The fill is the summary's only writer and nothing rewrites a file's chunk. A
        // 16-bit store is summarised from the integers it keeps, however they were read.
        if (m_peaks && m_store == Store::Int16) {
            if (pendingCount > 0 && (chunk->data16 != pending + pendingCount || pendingCount >= kSummaryRun))
                summarisePending();
            if (pendingCount == 0) {
                pending = chunk->data16;
                pendingStart = s;
            }
            pendingCount += delivered;
        } else if (m_peaks) {
            m_peaks->update(s, floats, delivered);
        }
        s += delivered;
        ++n;
        if (emitSignals && n % kProgressEvery == 0)
            emit fillProgress();
        if (delivered != requested || s > INT_MAX - kChunk)
            break;
    }

    summarisePending();
    qCDebug(lcAudio) << "AudioCache fill took" << timer.elapsed() << "milliseconds"
                     << "for" << n << "chunks";
    m_filled = true;
    if (emitSignals) {
        emit fillProgress();
        emit fillFinished();
    }
}

void AudioCache::startBackgroundFill() {
    AudioCachePtr self = sharedFromThis();
    if (!self) {
        qCWarning(lcAudio) << "AudioCache::startBackgroundFill: the cache is not held by an AudioCachePtr" << this;
        return;
    }
    BackgroundReader::instance()->enqueue(self);
}

void AudioCache::cancelFill() {
    m_cancelled = true;
}

unsigned AudioCache::readSamples(float *buffer, unsigned count, unsigned startSample) {
    const long long length = m_length.load();
    if (startSample >= length)
        return 0;
    if (startSample + (long long)count > length)
        count = unsigned(length - startSample);
    if (count == 0)
        return 0;

    unsigned done = 0;
    for (;;) {
        const int p = int(startSample + done);
        const SampleChunk *chunk = findChunk(p / kChunk);
        if (!chunk) {
            qCDebug(lcAudio) << "TODO:"
                             << "src/AudioCache" << __LINE__ << "ask BackgroundReader for more samples";
            return done;
        }
        const int o = p % kChunk;
        const bool readable = chunk->readable.load(std::memory_order_acquire);
        const int valid = readable ? chunk->count.load(std::memory_order_relaxed) : kChunk;
        const int n = std::min(valid - o, int(count - done));
        if (n <= 0)
            return done;
        if (readable)
            decode(m_store, chunk, o, buffer + done, n);
        else
            std::fill(buffer + done, buffer + done + n, 0.0f);
        done += unsigned(n);
        if (done == count)
            return done;
    }
}

// Sound-card thread: no lock, no allocation.
float AudioCache::getSample(int index) {
    const SampleChunk *chunk = findChunk(index >= 0 ? index / kChunk : -1);
    if (!chunk || !chunk->readable.load(std::memory_order_acquire))
        return 0.0f;
    return loadOne(m_store, chunk, index % kChunk);
}

int AudioCache::readAsPlayed(float *buffer, int count, int startSample, bool reversed) {
    // Short holds keep an edit made on the GUI thread from waiting behind a long save.
    constexpr int kSamplesPerHold = 4096;
    count = std::max(0, count);
    for (int done = 0; done < count;) {
        const int n = std::min(kSamplesPerHold, count - done);
        while (!tryLock())
            QThread::usleep(200);
        const int len = length() & ~1;
        for (int i = 0; i < n; ++i) {
            const qint64 played = qint64(startSample) + done + i;
            if (played < 0 || played >= len) {
                buffer[done + i] = 0.0f;
                continue;
            }
            const int index = int(played);
            buffer[done + i] = getSample(reversed ? len - 2 - (index & ~1) + (index & 1) : index);
        }
        unlock();
        done += n;
    }
    return count;
}

// Sound-card thread: never waits.
bool AudioCache::tryLock() {
    return m_mutex.tryLock(0);
}

void AudioCache::unlock() {
    m_mutex.unlock();
}

int AudioCache::length() {
    return m_length.load();
}

void AudioCache::setSample(int index, float value) {
    SampleChunk *chunk = findChunk(index >= 0 ? index / kChunk : -1);
    if (chunk && chunk->readable.load(std::memory_order_acquire))
        storeOne(m_store, chunk, index % kChunk, value);
}

void AudioCache::zeroSamples(int startSample, int count) {
    const int length = m_length.load();
    if (startSample < 0 || startSample >= length || count <= 0)
        return;
    count = std::min(count, length - startSample);
    int done = 0;
    while (done < count) {
        const int p = startSample + done;
        SampleChunk *chunk = findChunk(p / kChunk);
        if (!chunk) {
            qCDebug(lcAudio) << "TODO:"
                             << "src/AudioCache" << __LINE__ << "ask BackgroundReader for more samples";
            return;
        }
        const int o = p % kChunk;
        const bool readable = chunk->readable.load(std::memory_order_acquire);
        const int valid = readable ? chunk->count.load(std::memory_order_relaxed) : kChunk;
        const int n = std::min(valid - o, count - done);
        if (n <= 0)
            return;
        // An unfilled chunk already reads as silence, and its data belongs to the fill.
        if (readable && m_writtenInPlace && m_store == Store::Float32) {
            // Whole pages are handed back rather than written, so resetting a long region
            // that was never rendered costs no memory.
            float *from = chunk->data + o;
            float *to = from + n;
            const uintptr_t page = pageSize();
            float *pagesFrom = reinterpret_cast<float *>((reinterpret_cast<uintptr_t>(from) + page - 1) & ~(page - 1));
            float *pagesTo = reinterpret_cast<float *>(reinterpret_cast<uintptr_t>(to) & ~(page - 1));
            if (pagesFrom < pagesTo) {
                clearSamples(from, pagesFrom);
                madvise(pagesFrom, size_t(pagesTo - pagesFrom) * sizeof(float), MADV_DONTNEED);
                clearSamples(pagesTo, to);
            } else {
                clearSamples(from, to);
            }
        } else if (readable) {
            for (int i = 0; i < n; ++i)
                storeOne(m_store, chunk, o + i, 0.0f);
        }
        done += n;
    }
}
