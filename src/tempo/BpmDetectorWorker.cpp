#include "BpmDetectorWorker.h"

#include "AudioCache.h"
#include "ReadAheadStream.h"
#include "TempoAlternatives.h"
#include "TempoEstimator.h"
#include "TempoLogging.h"
#include "ThreadPriority.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
constexpr unsigned kBlockSamples = 512;

// Counts the separate hits of one pass over a loop, to tell a rhythm from one or two
// sounds in silence. A short loop is read several times over, and a single hit read four
// times recurs at the loop's length, which the comb reads as a tempo (one drum hit in
// four seconds came out as 120 BPM at a confidence of 0.61): a guess, not a detection.
class HitCount {
public:
    explicit HitCount(int rate) : m_window(std::max(1, rate / 100)) {}

    // Mono samples, in order.
    void add(const float *samples, int count) {
        for (int i = 0; i < count; ++i) {
            m_energy += double(samples[i]) * samples[i];
            if (++m_filled == m_window) {
                m_levels.push_back(float(std::sqrt(m_energy / m_window)));
                m_energy = 0.0;
                m_filled = 0;
            }
        }
    }

    // True when the pass held one or two hits, each rising at least 12 dB from what came
    // before it, with silence (20 dB below the loudest) over most of it. Sustained
    // sounds, whose tempo comes from how they move rather than from hits, never are.
    bool isFewIsolatedHits() const {
        float loudest = 0.0f;
        for (float v : m_levels)
            loudest = std::max(loudest, v);
        if (!(loudest > 0.0f))
            return false;
        int quiet = 0;
        for (float v : m_levels)
            quiet += v < 0.1f * loudest ? 1 : 0;
        if (2 * quiet < int(m_levels.size()))
            return false;
        int hits = 0;
        bool armed = true;
        float trough = 0.0f; // the silence before the file
        float peak = 0.0f;
        for (float v : m_levels) {
            if (armed) {
                if (v >= 4.0f * trough && v >= 0.1f * loudest) {
                    ++hits;
                    armed = false;
                    peak = v;
                } else {
                    trough = std::min(trough, v);
                }
            } else {
                peak = std::max(peak, v);
                if (v <= 0.25f * peak) {
                    armed = true;
                    trough = v;
                }
            }
        }
        return hits >= 1 && hits <= 2;
    }

private:
    const int m_window;
    double m_energy = 0.0;
    int m_filled = 0;
    std::vector<float> m_levels;
};
} // namespace

BpmDetectorWorker::BpmDetectorWorker() : m_pWaitCondition(new QWaitCondition), m_pMutex(new QMutex) {}

BpmDetectorWorker::~BpmDetectorWorker() = default;

void BpmDetectorWorker::addToQueueAndWake(SlicePtr pSlice) {
    {
        QMutexLocker locker(m_pMutex.get());
        m_queue.append(pSlice);
    }
    m_pWaitCondition->wakeAll();
}

void BpmDetectorWorker::cancel() {
    QList<SlicePtr> dropped;
    {
        QMutexLocker locker(m_pMutex.get());
        if (m_bBusy)
            m_bCancel.store(true);
        dropped.swap(m_queue);
    }
    // The loops are released outside the mutex: a loop may die here, and its own locks
    // must never nest inside the queue's.
}

void BpmDetectorWorker::stop() {
    QList<SlicePtr> dropped;
    {
        QMutexLocker locker(m_pMutex.get());
        m_bStop = true;
        if (m_bBusy)
            m_bCancel.store(true);
        dropped.swap(m_queue);
    }
    m_pWaitCondition->wakeAll();
}

bool BpmDetectorWorker::isStopping() const {
    QMutexLocker locker(m_pMutex.get());
    return m_bStop;
}

void BpmDetectorWorker::waitAndProcess() {
    ThreadPriority::lowerCurrentThreadForBackgroundWork();
    m_pInput.reset(new InputBlock);
    m_pMono.reset(new MonoBlock);

    m_pMutex->lock();
    for (;;) {
        while (m_queue.isEmpty() && !m_bStop) {
            m_bBusy = false;
            m_bCancel.store(false);
            m_pWaitCondition->wait(m_pMutex.get());
        }
        if (m_bStop) {
            m_bBusy = false;
            m_bCancel.store(false);
            m_pMutex->unlock();
            emit finished();
            return;
        }
        m_bBusy = true;
        while (!m_queue.isEmpty() && !m_bStop) {
            SlicePtr pSlice = m_queue.takeFirst();
            m_pMutex->unlock();
            detectBpm(pSlice);
            pSlice.reset();
            m_pMutex->lock();
            // A cancel request reaches the detection that was running when it was made
            // (queued ones were dropped by it), never a loop queued afterwards.
            m_bCancel.store(false);
        }
    }
}

void BpmDetectorWorker::detectBpm(SlicePtr pSlice) {
    if (!pSlice)
        return;
    const AudioCachePtr pCache = pSlice->cache();
    emit calculatingBpm();

    const int rate = pSlice->fileSampleRate();
    if (rate <= 0) {
        qCDebug(lcTempo) << "Invalid samplerate, aborting BPM detection.";
        pSlice->setBpm(120.0);
        emit bpmDetected();
        return;
    }
    const auto fromCache = [&pCache](float *buffer, unsigned count, unsigned startSample) {
        return pCache ? pCache->readSamples(buffer, count, startSample) : 0u;
    };
    Result result;
    if (!detect(fromCache, pSlice->length(), rate, &result))
        return;
    // Stored before the tempo so that whoever reacts to the new tempo finds its analysis.
    pSlice->setTempoAnalysis(result.analysis);
    pSlice->setBpm(result.bpm);
    emit bpmDetected();
}

int BpmDetectorWorker::passes(long long totalSamples, int sampleRate) {
    // The loop's duration as the loop itself states it (whole frames over the rate).
    const double seconds = sampleRate > 0 ? double(totalSamples / 2) / sampleRate : 0.0;
    return seconds < 20.0 ? 4 : 1;
}

bool BpmDetectorWorker::detectFile(const AudioFilePtr &file, const std::atomic<bool> &stop, Result *result) {
    const int total = file ? file->length() : 0;
    const int rate = file ? file->sampleRate() : 0;
    if (total <= 0 || rate <= 0)
        return false;
    // A loop read more than once is kept whole; a long file only needs its first block
    // again (the detection ends with one block from the start).
    ReadAheadStream stream(file, passes(total, rate) > 1);
    const auto fromStream = [&](float *buffer, unsigned count, unsigned startSample) {
        return stop.load() ? 0u : stream.read(buffer, count, startSample);
    };
    return detect(fromStream, total, rate, result) && !stop.load();
}

bool BpmDetectorWorker::detect(const SampleSource &source, int total, int rate, Result *result) {
    if (!m_pInput) {
        m_pInput.reset(new InputBlock);
        m_pMono.reset(new MonoBlock);
    }
    TempoEstimator estimator(static_cast<float>(rate));
    HitCount hits(rate);
    const int passes = BpmDetectorWorker::passes(total, rate);
    float *input = m_pInput->samples;
    float *mono = m_pMono->samples;

    unsigned position = 0;
    long long remaining = total;
    int pass = 0;
    // Progress goes out once per whole percent (and for the last block) rather than for
    // every block: a long loop would otherwise queue a signal per 512 samples.
    int lastPercent = -1;
    for (;;) {
        if (m_bCancel.load()) {
            qCDebug(lcTempo) << "Cancelling tempo detection.";
            QMutexLocker locker(m_pMutex.get());
            m_bCancel.store(false);
            return false;
        }
        if (remaining == 0) {
            remaining = total;
            ++pass;
            position = 0;
        }
        std::fill(input, input + kBlockSamples, 0.0f);
        const unsigned h = source(input, kBlockSamples, position);
        const int frames = static_cast<int>(h / 2);
        for (int j = 0; j < frames; ++j)
            mono[j] = (input[2 * j] + input[2 * j + 1]) * 0.5f;
        estimator.process(mono, frames);
        if (pass == 0)
            hits.add(mono, frames);
        position += h;
        remaining -= h;

        const bool last = h == 0 || pass == passes;
        if (total > 0) {
            const float done = static_cast<float>(static_cast<long long>(pass) * total + position);
            const float all = static_cast<float>(static_cast<long long>(passes) * total);
            const float fraction = done / all;
            const int percent = static_cast<int>(fraction * 100.0f);
            if (percent != lastPercent || last) {
                lastPercent = percent;
                emit calculatingBpmProgress(fraction);
            }
        }
        if (last)
            break;
    }

    float bpm = static_cast<float>(std::round(estimator.estimateTempo()));
    if (bpm > 0.0f && passes > 1 && hits.isFewIsolatedHits())
        bpm = 0.0f;
    qCDebug(lcTempo) << "Tempo is:" << bpm << "BPM";
    result->analysis = TempoAlternatives::analyse(estimator, bpm, double(total / 2) / rate);
    result->hasBpm = bpm >= 0.0f && std::isfinite(bpm);
    result->bpm = bpm;
    return true;
}
