#include "SampleChunk.h"

// SampleChunk is a plain record; its storage is managed by AudioCache.
static_assert(SampleChunk::chunkSize % 2 == 0, "a chunk holds whole stereo frames");
