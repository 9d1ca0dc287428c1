#pragma once

#include "AudioCache.h"
#include "AudioEdit.h"

#include <QWeakPointer>

class EditableAudioCache;

// Plays the unedited audio of the region backwards: index i reads source sample
// sourceOffset + end - i, so the region's start sounds the source at sourceOffset + length.
class AudioEditReverse : public AudioEdit {
    Q_OBJECT
public:
    // sourceOffset is the region's start in source coordinates (past any deleted spans).
    AudioEditReverse(const AudioCachePtr &sourceCache, const QWeakPointer<EditableAudioCache> &editableCache,
                     int sourceOffset);
    int type() const override { return TypeReverse; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;
    int maxLength() const override;
    // Moving the end keeps the audio under the start in place.
    void setEndSample(int endSample) override;

    int sourceOffset() const { return m_sourceOffset.load(); }
    AudioCachePtr sourceCache() const { return m_sourceCache; }
    QWeakPointer<EditableAudioCache> editableCache() const { return m_editableCache; }

private:
    // The unedited loop; it never refers back to its edits, so holding it strongly makes no cycle.
    const AudioCachePtr m_sourceCache;
    const int m_sourceLength;
    // The cache that holds this edit: weak, because that cache holds the edit.
    const QWeakPointer<EditableAudioCache> m_editableCache;
    std::atomic<int> m_sourceOffset;
};
