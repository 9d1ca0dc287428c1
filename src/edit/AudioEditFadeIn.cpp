#include "AudioEditFadeIn.h"

#include <algorithm>

AudioEditFadeIn::AudioEditFadeIn() : AudioEdit(QObject::tr("Fade In"), QColor(204, 51, 51, 255)) {}

AudioEditPtr AudioEditFadeIn::clone() const
{
    auto copy = AudioEditPtr(new AudioEditFadeIn);
    copyCommonFieldsTo(*copy);
    return copy;
}

float AudioEditFadeIn::processSample(int sampleIndex, float value)
{
    const int length = m_length.load();
    // An empty fade has no ramp: 0/0 would put a NaN into the rendered audio.
    if (length <= 0)
        return value;
    const float ramp = float(sampleIndex - m_start.load()) / float(length);
    return value * std::clamp(ramp, 0.0f, 1.0f);
}
