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

namespace {

constexpr int kChunk = SampleChunk::chunkSize;
constexpr int kProgressEvery = 128;

// Zeroed, 16-byte aligned. calloc hands out fresh pages without touching them, so a
// long loop is allocated in a fraction of a millisecond and its pages are faulted in
// by the fill that writes them.
float *allocateSamples(size_t samples) {
    void *p = std::calloc(samples, sizeof(float));
    if (p && reinterpret_cast<uintptr_t>(p) % 16 != 0) {
        std::free(p);
        p = std::aligned_alloc(16, samples * sizeof(float));
        if (p)
            std::memset(p, 0, samples * sizeof(float));
    }
    return static_cast<float *>(p);
}

} // namespace

// One allocation of consecutive chunks: their records and their sample data.
struct AudioCache::Block {
    std::unique_ptr<SampleChunk[]> records;
    float *data = nullptr;
    ~Block() { std::free(data); }
};

AudioCache::AudioCache(AudioFilePtr file)
    : m_file(std::move(file)), m_peaks(new PeakSummary(m_file ? m_file->length() : 0, true)) {
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
    block->data = allocateSamples(size_t(count) * kChunk);
    if (!block->data)
        return false;
    block->records.reset(new SampleChunk[size_t(count)]);
    reserveChunks(n + count);
    SampleChunk **table = m_table.load(std::memory_order_relaxed);
    for (int i = 0; i < count; ++i) {
        SampleChunk &c = block->records[size_t(i)];
        c.data = block->data + size_t(i) * kChunk;
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

    int s = 0;
    int n = 0;
    for (;;) {
        if (m_cancelled.load()) {
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

        const int requested = chunk->count.load(std::memory_order_relaxed);
        int delivered = m_file ? m_file->read(chunk->data, unsigned(requested)) : 0;
        delivered = std::clamp(delivered, 0, requested);
        chunk->count.store(delivered, std::memory_order_relaxed);
        chunk->readable.store(true, std::memory_order_release);
        if (m_peaks)
            m_peaks->update(s, chunk->data, delivered);
        s += delivered;
        ++n;
        if (emitSignals && n % kProgressEvery == 0)
            emit fillProgress();
        if (delivered != requested || s > INT_MAX - kChunk)
            break;
    }

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
            std::memcpy(buffer + done, chunk->data + o, size_t(n) * sizeof(float));
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
    return loadSample(chunk->data + index % kChunk);
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
        storeSample(chunk->data + index % kChunk, value);
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
        if (readable) {
            float *data = chunk->data + o;
            for (int i = 0; i < n; ++i)
                storeSample(data + i, 0.0f);
        }
        done += n;
    }
}
