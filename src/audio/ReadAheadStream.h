#pragma once

#include "AudioFile.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One pass over a file for a consumer that reads it front to back once (tempo detection
// on the command line): a thread of its own decodes a little ahead while the consumer
// works, and only a bounded window of decoded audio is held, not the whole file as a
// cache would hold it.
//
// The reader is called exactly as AudioCache's fill calls it (pieces of
// SampleChunk::chunkSize samples, stopping at the first short piece), so read() hands out
// the very values a filled cache over the same file hands out, and with the cache's
// readSamples() limits (the reader's length, the samples it delivered).
//
// The consumer may go back to the start: the first piece is always kept, the whole file
// only when keepAll is set.
//
// Threads: the constructor starts the decoding thread, the destructor stops and joins it.
// read(), deliveredSamples() and stop() belong to one consumer thread; stop() may also
// come from any other thread.
class ReadAheadStream {
public:
    ReadAheadStream(AudioFilePtr file, bool keepAll);
    ~ReadAheadStream();
    ReadAheadStream(const ReadAheadStream &) = delete;
    ReadAheadStream &operator=(const ReadAheadStream &) = delete;

    // Copies up to count samples from startSample into buffer, waiting for the decoder
    // when it has not got that far yet, and returns how many it copied: fewer only at
    // the end of what the file delivers, or 0 once stop() was called or startSample was
    // given up (neither the first piece nor kept).
    unsigned read(float *buffer, unsigned count, unsigned startSample);
    // Waits for the decoder to finish and returns the number of samples the reader
    // delivered in all (its length for a whole file, fewer for a cut-off one).
    long long deliveredSamples();
    // Any thread: ends decoding after the current piece; read() returns 0 from then on.
    void stop();

private:
    void decode();

    const AudioFilePtr m_file;
    const bool m_keepAll;
    const long long m_length; // the reader's length, as the cache's

    std::mutex m_mutex;                             // guards everything below
    std::condition_variable m_decoded;              // a piece more, or the end
    std::condition_variable m_consumed;             // room for a piece more
    std::vector<std::unique_ptr<float[]>> m_pieces; // null once given up
    std::vector<int> m_counts;                      // samples in each piece
    int m_firstHeld = 1;                            // the first piece after piece 0 not given up yet
    long long m_delivered = 0;
    bool m_ended = false;
    bool m_draining = false; // the consumer reads no more
    bool m_stopped = false;

    std::thread m_thread; // last: started once everything above exists
};
