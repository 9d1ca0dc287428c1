#pragma once

#include <atomic>

// One block of a cache's samples. The cache owns the record and its data.
//
// data points to chunkSize floats, 16-byte aligned, zeroed when allocated. count is the
// number of valid samples: chunkSize when allocated, lowered to what the reader
// delivered once the chunk is filled. The background reader writes data, then count
// and start; other threads may read a chunk while it fills and then see its unfilled
// part as 0.0.
struct SampleChunk {
    static constexpr int chunkSize = 4096;

    int start = 0;
    float *data = nullptr;
    std::atomic<int> count{chunkSize};
};
