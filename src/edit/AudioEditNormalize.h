#pragma once

#include "AudioCache.h"
#include "AudioEdit.h"

#include <QWeakPointer>

class EditableAudioCache;

// Scales the region so that its peak reaches 0.707. The gain comes from an analysis of the
// unedited audio that the edit worker runs; until then the gain is 1.0.
class AudioEditNormalize : public AudioEdit {
    Q_OBJECT
public:
    AudioEditNormalize(const AudioCachePtr &sourceCache, const QWeakPointer<EditableAudioCache> &editableCache);
    int type() const override { return TypeNormalize; }
    AudioEditPtr clone() const override;
    // Any reader thread, the sound-card thread included.
    float processSample(int sampleIndex, float value) override;

    // Each range change asks for a new analysis (analyzeMe).
    void setStartSample(int startSample) override;
    void setEndSample(int endSample) override;
    void setRange(int startSample, int endSample) override;

    // Edit worker thread: finds the region's peak (of absolute values) and sets the gain.
    void analyze() override;
    // GUI thread: asks for a new analysis once the current step has ended; the cache calls
    // it when what reaches this edit changes.
    void requestAnalysis();

    float gain() const { return m_gain.load(); }
    AudioCachePtr sourceCache() const { return m_sourceCache; }
    QWeakPointer<EditableAudioCache> editableCache() const { return m_editableCache; }

    static constexpr double kTargetPeak = 0.707;

signals:
    void analyzeMe(AudioEditPtr pAudioEdit);

private:
    // The unedited loop: the analysis reads it on the edit worker thread.
    const AudioCachePtr m_sourceCache;
    // The cache that holds this edit: weak, because that cache holds the edit.
    const QWeakPointer<EditableAudioCache> m_editableCache;
    std::atomic<float> m_gain{1.0f};
};
