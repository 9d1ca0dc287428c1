#include "AudioEditReverse.h"

#include <algorithm>
#include <limits>

AudioEditReverse::AudioEditReverse(const AudioCachePtr &sourceCache,
                                   const QWeakPointer<EditableAudioCache> &editableCache, int sourceOffset)
    : AudioEdit(QObject::tr("Reverse"), QColor(178, 126, 51, 255)), m_sourceCache(sourceCache),
      m_sourceLength(sourceCache ? sourceCache->length() : 0), m_editableCache(editableCache),
      m_sourceOffset(std::max(0, sourceOffset))
{
}

AudioEditPtr AudioEditReverse::clone() const
{
    auto copy = QSharedPointer<AudioEditReverse>(
        new AudioEditReverse(m_sourceCache, m_editableCache, m_sourceOffset.load()));
    copyCommonFieldsTo(*copy);
    return copy;
}

float AudioEditReverse::processSample(int sampleIndex, float value)
{
    if (!m_sourceCache)
        return value;
    const qint64 index = qint64(m_sourceOffset.load()) + m_end.load() - sampleIndex;
    // Past either end of the decoded loop there is nothing to play backwards.
    if (index < 0 || index >= m_sourceLength)
        return 0.0f;
    return m_sourceCache->getSample(int(index));
}

int AudioEditReverse::maxLength() const { return std::max(0, m_sourceLength - m_sourceOffset.load()); }

void AudioEditReverse::setEndSample(int endSample)
{
    const qint64 offset = qint64(m_sourceOffset.load()) + m_end.load() - endSample;
    m_sourceOffset.store(int(std::clamp<qint64>(offset, 0, std::numeric_limits<int>::max())));
    AudioEdit::setEndSample(endSample);
}
