#pragma once

#include "AudioEdit.h"

// A linear ramp from silence at the start to full level at the end (end included).
class AudioEditFadeIn : public AudioEdit {
    Q_OBJECT
public:
    AudioEditFadeIn();
    int type() const override { return TypeFadeIn; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;
};
