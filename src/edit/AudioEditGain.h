#pragma once

#include "AudioEdit.h"

// A linear gain factor over the region.
class AudioEditGain : public AudioEdit {
    Q_OBJECT
public:
    AudioEditGain();
    int type() const override { return TypeGain; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;

    // Negative or non-finite factors are stored as 0 (silence), never as a phase flip or NaN.
    void setGain(float gain);
    float gain() const { return m_gain.load(); }

private:
    std::atomic<float> m_gain{1.0f};
};
