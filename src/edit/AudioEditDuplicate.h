#pragma once

#include "AudioCache.h"
#include "AudioEdit.h"

#include <QWeakPointer>

class EditableAudioCache;

// Lays a copy of the unedited audio over the region: index i reads source sample
// sourceOffset + i - start, whatever the region held before.
class AudioEditDuplicate : public AudioEdit {
    Q_OBJECT
public:
    AudioEditDuplicate(const AudioCachePtr &sourceCache, const QWeakPointer<EditableAudioCache> &editableCache,
                       int sourceOffset);
    int type() const override { return TypeDuplicate; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;
    int maxLength() const override;
    // Moving the start trims the copied material rather than shifting it.
    void setStartSample(int startSample) override;

    int sourceOffset() const { return m_sourceOffset.load(); }
    AudioCachePtr sourceCache() const { return m_sourceCache; }
    QWeakPointer<EditableAudioCache> editableCache() const { return m_editableCache; }

private:
    const AudioCachePtr m_sourceCache;
    const int m_sourceLength;
    const QWeakPointer<EditableAudioCache> m_editableCache;
    std::atomic<int> m_sourceOffset;
};
