#include "AudioEditDuplicate.h"

#include <algorithm>
#include <limits>

AudioEditDuplicate::AudioEditDuplicate(const AudioCachePtr &sourceCache,
                                       const QWeakPointer<EditableAudioCache> &editableCache, int sourceOffset)
    : AudioEdit(QObject::tr("Duplicate"), QColor(47, 200, 118, 255)), m_sourceCache(sourceCache),
      m_sourceLength(sourceCache ? sourceCache->length() : 0), m_editableCache(editableCache),
      m_sourceOffset(std::max(0, sourceOffset))
{
}

AudioEditPtr AudioEditDuplicate::clone() const
{
    auto copy = QSharedPointer<AudioEditDuplicate>(
        new AudioEditDuplicate(m_sourceCache, m_editableCache, m_sourceOffset.load()));
    copyCommonFieldsTo(*copy);
    return copy;
}

float AudioEditDuplicate::processSample(int sampleIndex, float value)
{
    if (!m_sourceCache)
        return value;
    const qint64 index = qint64(m_sourceOffset.load()) + sampleIndex - m_start.load();
    if (index < 0 || index >= m_sourceLength)
        return 0.0f;
    return m_sourceCache->getSample(int(index));
}

int AudioEditDuplicate::maxLength() const { return std::max(0, m_sourceLength - m_sourceOffset.load()); }

void AudioEditDuplicate::setStartSample(int startSample)
{
    const qint64 offset = qint64(m_sourceOffset.load()) + startSample - m_start.load();
    m_sourceOffset.store(int(std::clamp<qint64>(offset, 0, std::numeric_limits<int>::max())));
    AudioEdit::setStartSample(startSample);
}
