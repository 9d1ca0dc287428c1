#include "AudioEditMute.h"

AudioEditMute::AudioEditMute(bool showsItem)
    : AudioEdit(QObject::tr("Mute"), QColor(162, 178, 51, 255), showsItem)
{
}

AudioEditPtr AudioEditMute::clone() const
{
    auto copy = AudioEditPtr(new AudioEditMute(showsItem()));
    copyCommonFieldsTo(*copy);
    return copy;
}

float AudioEditMute::processSample(int, float) { return 0.0f; }
