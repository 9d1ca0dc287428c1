#include "AudioEditDelete.h"

#include <algorithm>
#include <limits>

static constexpr int kOpenEnd = std::numeric_limits<int>::max();

AudioEditDelete::AudioEditDelete() : AudioEdit(QObject::tr("Delete"), QColor(Qt::red), false)
{
    storeRange(0, kOpenEnd);
}

AudioEditPtr AudioEditDelete::clone() const
{
    auto copy = QSharedPointer<AudioEditDelete>(new AudioEditDelete);
    copyCommonFieldsTo(*copy);
    copy->m_deleteEnd.store(m_deleteEnd.load());
    return copy;
}

void AudioEditDelete::setRange(int startSample, int endSample)
{
    m_deleteEnd.store(endSample);
    storeRange(startSample, kOpenEnd);
}

void AudioEditDelete::setEndSample(int endSample) { m_deleteEnd.store(endSample); }

int AudioEditDelete::deletedLength() const
{
    const qint64 span = qint64(m_deleteEnd.load()) - m_start.load();
    return int(std::clamp<qint64>(span, 0, kOpenEnd));
}

int AudioEditDelete::transformOffset(int index) const
{
    return int(std::min<qint64>(qint64(index) + deletedLength(), kOpenEnd));
}

int AudioEditDelete::inverseTransformOffset(int index) const
{
    return int(std::max<qint64>(qint64(index) - deletedLength(), std::numeric_limits<int>::min()));
}
