#pragma once
// A scripted PcmSource for the decoder's logic: buffers of a fixed size holding a
// staircase (sample i of the interleaved stream holds i modulo 30000, minus 15000),
// with seeks that can be made to land early or late and an error after N buffers.

#include "PcmSource.h"

#include <algorithm>
#include <vector>

class FakePcmSource : public PcmSource {
public:
    int channels = 2;
    int rate = 44100;
    int bufferFrames = 1152;
    long long totalFrames = 44100 * 10;
    long long landingOffset = 0; // frames between a requested position and where buffers resume
    int errorAfterBuffers = -1;  // report Error instead of the buffer with this index
    bool failOpen = false;
    int64_t durationTicks = -2; // -2: derive from totalFrames

    long long nextFrame = 0;
    int buffersDelivered = 0;
    int setPositionCalls = 0;

    static int16_t valueAt(long long sampleIndex) { return int16_t(sampleIndex % 30000 - 15000); }

    bool open(const std::string &, std::string *error) override {
        if (failOpen)
            *error = "scripted failure";
        return !failOpen;
    }
    Format format() const override {
        Format f;
        f.channels = channels;
        f.sampleRate = rate;
        f.bufferBytes = bufferFrames * channels * 2;
        f.fixedSizeBuffers = true;
        return f;
    }
    int64_t duration() const override {
        if (durationTicks != -2)
            return durationTicks;
        return (totalFrames * kTicksPerSecond + rate - 1) / rate;
    }
    int readBuffer(Buffer *buffer) override {
        if (errorAfterBuffers >= 0 && buffersDelivered >= errorAfterBuffers)
            return Error;
        if (nextFrame >= totalFrames)
            return EndOfStream;
        const long long frames = std::min<long long>(bufferFrames, totalFrames - nextFrame);
        m_data.resize(size_t(frames * channels));
        for (long long i = 0; i < frames * channels; ++i)
            m_data[size_t(i)] = valueAt(nextFrame * channels + i);
        buffer->data = m_data.data();
        buffer->byteLength = int(frames * channels * 2);
        buffer->time = (nextFrame * kTicksPerSecond + rate - 1) / rate;
        nextFrame += frames;
        ++buffersDelivered;
        return NoFlags;
    }
    bool flush() override { return true; }
    bool setPosition(int64_t time) override {
        ++setPositionCalls;
        // The decoder asks for one tick before its target frame.
        const long long target = time == 0 ? 0 : ((time + 1) * rate + kTicksPerSecond - 1) / kTicksPerSecond;
        nextFrame = std::max<long long>(0, target + landingOffset);
        return true;
    }

private:
    std::vector<int16_t> m_data;
};
