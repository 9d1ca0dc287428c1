#pragma once

#include <atomic>
#include <cstdint>

// One block of a cache's samples. The cache owns the record and its data.
//
// The samples are kept in the cache's store (AudioCache::Store): chunkSize floats at data,
// chunkSize 16-bit integers at data16, or chunkSize packed little-endian 24-bit integers
// (3 bytes each) at data24; 16-byte aligned, zeroed when allocated. count is the number of
// valid samples: chunkSize when allocated, lowered to what the reader delivered once the
// chunk is filled. start is fixed when the chunk is allocated.
//
// Threads: until readable is set, only the background reader touches data; it writes
// data and count, then sets readable with release, and every reader checks readable
// with acquire before touching data (an unreadable chunk reads as silence). A cache
// written sample by sample (the editable cache's render cache) has readable chunks from
// the start and rewrites them while other threads read, so single samples are read and
// written through loadSample and storeSample.
struct SampleChunk {
    static constexpr int chunkSize = 4096;

    int start = 0;
    union {
        float *data = nullptr;
        std::int16_t *data16;
        std::uint8_t *data24;
    };
    std::atomic<int> count{chunkSize};
    std::atomic<bool> readable{false};
};

// Relaxed atomic accesses to one sample: a plain load or store on the machines we build
// for, but no data race when one thread rewrites a sample another is reading.
inline float loadSample(const float *p) {
    float value;
    __atomic_load(p, &value, __ATOMIC_RELAXED);
    return value;
}

inline void storeSample(float *p, float value) {
    __atomic_store(p, &value, __ATOMIC_RELAXED);
}
