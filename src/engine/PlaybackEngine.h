#pragma once

// Something that fills the sound card's buffer.
class PlaybackEngine {
public:
    virtual ~PlaybackEngine() = default;
    // Sound-card thread: adds frames stereo frames into buffer (which holds zeros on entry).
    virtual void processAudio(float *buffer, int frames) = 0;
};
