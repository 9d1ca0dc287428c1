#pragma once

// A sound-card stream that can be opened and closed; 0 means success, 1 failure.
class NativeAudioInterface {
public:
    virtual int open() = 0;
    virtual int close() = 0;
    virtual ~NativeAudioInterface() = default;
};
