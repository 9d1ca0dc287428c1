#pragma once

#include "AudioEdit.h"

// A linear ramp from full level at the start to silence at the end (end included).
class AudioEditFadeOut : public AudioEdit {
    Q_OBJECT
public:
    AudioEditFadeOut();
    int type() const override { return TypeFadeOut; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;
};
