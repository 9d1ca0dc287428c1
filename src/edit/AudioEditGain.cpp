#include "AudioEditGain.h"

#include <cmath>

AudioEditGain::AudioEditGain() : AudioEdit(QObject::tr("Gain"), QColor(45, 150, 202, 255)) {}

AudioEditPtr AudioEditGain::clone() const
{
    auto copy = QSharedPointer<AudioEditGain>(new AudioEditGain);
    copyCommonFieldsTo(*copy);
    copy->m_gain.store(m_gain.load());
    return copy;
}

float AudioEditGain::processSample(int, float value) { return value * m_gain.load(std::memory_order_relaxed); }

void AudioEditGain::setGain(float gain)
{
    m_gain.store(std::isfinite(gain) && gain > 0.0f ? gain : 0.0f);
    emit regionModified(m_start.load(), m_end.load());
}
