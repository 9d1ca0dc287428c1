#include "AudioEditFadeOut.h"

#include <algorithm>

AudioEditFadeOut::AudioEditFadeOut() : AudioEdit(QObject::tr("Fade Out"), QColor(212, 185, 71, 255)) {}

AudioEditPtr AudioEditFadeOut::clone() const
{
    auto copy = AudioEditPtr(new AudioEditFadeOut);
    copyCommonFieldsTo(*copy);
    return copy;
}

float AudioEditFadeOut::processSample(int sampleIndex, float value)
{
    const int length = m_length.load();
    if (length <= 0)
        return value;
    const float ramp = float(m_start.load() + length - sampleIndex) / float(length);
    return value * std::clamp(ramp, 0.0f, 1.0f);
}
