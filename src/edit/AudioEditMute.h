#pragma once

#include "AudioEdit.h"

// Silence over the region. The hidden variant (a cut region) has no item in the edit view.
class AudioEditMute : public AudioEdit {
    Q_OBJECT
public:
    explicit AudioEditMute(bool showsItem = true);
    int type() const override { return TypeMute; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;
};
