#pragma once
// Sources for the edit tests: a cache filled from an in-memory reader whose sample i holds
// a value derived from i, so every index mapping shows exactly.

#include "AudioCache.h"
#include "AudioFile.h"
#include "EditableAudioCache.h"

#include <QTest>
#include <functional>

namespace EditFixtures {

using SampleFunction = std::function<float(int)>;

// Distinct, non-zero and inside (-1, 1) for every index below 2^22: i maps to a value from
// its low bits, never 0.0 (which the render cache reads as "not rendered").
inline float ramp(int i) { return (float((i % 8000) + 1) / 8001.0f) * ((i / 8000) % 2 ? -1.0f : 1.0f); }

class MemoryReader final : public AudioFile {
public:
    // integerBits as AudioFile::integerBits: f must then give values exact at that depth.
    MemoryReader(int length, SampleFunction f, int integerBits = 0)
        : m_length(length), m_f(std::move(f)), m_integerBits(integerBits) {}
    int integerBits() override { return m_integerBits; }
    int length() override { return m_length; }
    int sampleRate() override { return 44100; }
    int read(float *buffer, unsigned count) override
    {
        int n = 0;
        for (; n < int(count) && m_pos < m_length; ++n, ++m_pos)
            buffer[n] = m_f(m_pos);
        for (int k = n; k < int(count); ++k)
            buffer[k] = 0.0f;
        return n;
    }
    int seek(unsigned sampleIndex) override
    {
        m_pos = std::min(int(sampleIndex), m_length);
        return m_pos;
    }
    int position() override { return m_pos; }

private:
    const int m_length;
    const SampleFunction m_f;
    const int m_integerBits;
    int m_pos = 0;
};

inline AudioCachePtr makeSource(int length, SampleFunction f = ramp)
{
    AudioCachePtr cache(new AudioCache(AudioFilePtr(new MemoryReader(length, std::move(f)))));
    cache->preallocate();
    cache->fillSynchronously();
    return cache;
}

inline QSharedPointer<EditableAudioCache> makeEditable(const AudioCachePtr &source)
{
    return QSharedPointer<EditableAudioCache>(new EditableAudioCache(source));
}

// Waits (spinning the event loop, which delivers queued regionModified signals) until every
// queued dirty region has been reset.
inline bool waitForReset(EditableAudioCache *cache, int timeoutMs = 20000)
{
    QCoreApplication::processEvents();
    for (int waited = 0; waited < timeoutMs; waited += 2) {
        QCoreApplication::processEvents();
        if (!cache->isResetting())
            return true;
        QTest::qWait(2);
    }
    return false;
}

} // namespace EditFixtures
