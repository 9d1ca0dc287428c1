#pragma once

// The sink of an input stream: receives converted interleaved stereo frames.
class RecordingEngine {
public:
    virtual ~RecordingEngine() = default;
    // Sound-card thread: no allocation, no file I/O, no blocking lock.
    virtual void receive(const float *frames, int frameCount) = 0;
    virtual void clear() = 0;
    virtual void setInputSampleRate(int rate) = 0;
};
