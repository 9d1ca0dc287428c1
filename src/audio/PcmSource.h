#pragma once

#include <cstdint>
#include <string>

// What the decoder's logic needs of a codec library: a file opened by name that yields
// consecutive buffers of interleaved 16-bit PCM in its own channel layout, each with
// its timestamp, and that can be flushed and repositioned by time.
//
// Times are in ticks of 100 ns counted from the first sample of the stream. A buffer's
// tick is rounded up, so that truncating tick * rate / 10^7 gives back its exact frame.
class PcmSource {
public:
    static constexpr int64_t kTicksPerSecond = 10000000;

    // Flags returned by readBuffer().
    enum Flag {
        NoFlags = 0,
        Error = 1,         // decoding cannot go on
        EndOfStream = 2,   // no more buffers
        FormatChanged = 4, // the stream's rate or channel count changed; nothing more is delivered
    };

    struct Format {
        int channels = 0;
        int sampleRate = 0;
        int nativeBitsPerSample = 0; // the source's own depth, 0 when it has none (lossy codecs)
        int outputBitsPerSample = 16;
        int bufferBytes = 0; // size of a typical buffer, 0 when buffers vary
        bool fixedSizeBuffers = false;
        bool allBuffersIndependent = false; // every buffer decodes without its predecessors
    };

    struct Buffer {
        const int16_t *data = nullptr; // valid until the next call on the source
        int byteLength = 0;
        int64_t time = 0;
    };

    virtual ~PcmSource() = default;

    // Opens the file and positions it at its start. On failure returns false with a
    // short description in *error.
    virtual bool open(const std::string &fileName, std::string *error) = 0;
    virtual Format format() const = 0;
    // Length of the stream in ticks, negative when unknown.
    virtual int64_t duration() const = 0;
    // Frames the container's header declares beyond those the stream holds (a file cut
    // off inside its audio), for containers whose count is exact; otherwise 0.
    virtual int64_t missingFrames() const { return 0; }
    // Whether duration() is exactly what the buffers add up to (counted from the packets
    // or by decoding), so that buffers ending before it mean audio lost since the open.
    virtual bool durationExact() const { return false; }
    // Fills *buffer with the next decoded buffer and returns NoFlags, or returns the flags
    // that say why there is none. Every call makes progress through the file.
    virtual int readBuffer(Buffer *buffer) = 0;
    // Drops decoded audio not yet delivered; the next setPosition() says where to resume.
    virtual bool flush() = 0;
    // Repositions so that the next buffers hold the audio at `time`; a buffer may begin
    // somewhat before it (its timestamp says where).
    virtual bool setPosition(int64_t time) = 0;
};
