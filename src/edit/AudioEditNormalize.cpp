#include "AudioEditNormalize.h"

#include "AudioEditWorker.h"
#include "EditableAudioCache.h"
#include "PeakScan.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

AudioEditNormalize::AudioEditNormalize(const AudioCachePtr &sourceCache,
                                       const QWeakPointer<EditableAudioCache> &editableCache)
    : AudioEdit(QObject::tr("Normalize"), QColor(45, 150, 202, 255)), m_sourceCache(sourceCache),
      m_editableCache(editableCache)
{
    // The gain follows the range: every move or resize (of this edit or of a clone) asks the
    // worker for a new analysis. The request waits for the GUI thread's current step to end:
    // an undo or a region delete moves and reorders several edits, and an analysis in the
    // middle of it would hear an order of edits that never plays, and keep that gain.
    AudioEditWorker *worker = AudioEditWorker::startThread();
    connect(
        this, &AudioEditNormalize::analyzeMe, this,
        [worker](const AudioEditPtr &edit) { worker->queueWork(edit); }, Qt::QueuedConnection);
}

AudioEditPtr AudioEditNormalize::clone() const
{
    auto copy = QSharedPointer<AudioEditNormalize>(new AudioEditNormalize(m_sourceCache, m_editableCache));
    copyCommonFieldsTo(*copy);
    copy->m_gain.store(m_gain.load());
    return copy;
}

float AudioEditNormalize::processSample(int, float value)
{
    return value * m_gain.load(std::memory_order_relaxed);
}

void AudioEditNormalize::setStartSample(int startSample)
{
    AudioEdit::setStartSample(startSample);
    requestAnalysis();
}

void AudioEditNormalize::setEndSample(int endSample)
{
    AudioEdit::setEndSample(endSample);
    requestAnalysis();
}

void AudioEditNormalize::setRange(int startSample, int endSample)
{
    AudioEdit::setRange(startSample, endSample);
    requestAnalysis();
}

void AudioEditNormalize::requestAnalysis()
{
    if (AudioEditPtr self = sharedFromThis())
        emit analyzeMe(self);
}

namespace {
// The cache lives on the GUI thread and joins its worker thread when it dies: if this was
// the last reference, let it go there.
void releaseOnOwnerThread(QSharedPointer<EditableAudioCache> cache)
{
    QObject *app = QCoreApplication::instance();
    if (!app || cache->thread() == QThread::currentThread())
        return;
    QMetaObject::invokeMethod(app, [held = std::move(cache)]() {}, Qt::QueuedConnection);
}

} // namespace

void AudioEditNormalize::analyze()
{
    // One consistent range for the whole pass, even if the GUI moves the edit meanwhile; a
    // move queues another analysis.
    const int start = std::max(0, m_start.load());
    const int end = m_end.load();
    const qint64 length = qint64(end) - start;
    float peak = 0.0f;
    if (QSharedPointer<EditableAudioCache> cache = m_editableCache.toStrongRef()) {
        // What reaches this edit: the audio under it as the edits before it left it (a copy
        // of louder audio laid there, a gain, a deleted span closed up), so the result peaks
        // at the target instead of clipping or falling short.
        qint64 nextProgress = length / 32;
        // Up to the sample before the end, as over the unedited audio below.
        peak = cache->peakReaching(this, start, end - 1, [&](double fraction) {
            // A region shorter than 32 samples reports no intermediate progress.
            if (length >= 32 && fraction * double(length) >= double(nextProgress)) {
                emit analysisProgress(float(fraction));
                nextProgress = qint64(fraction * double(length)) + length / 32;
            }
        });
        releaseOnOwnerThread(std::move(cache));
    } else if (m_sourceCache) {
        // Not attached to a loop: the unedited audio under the range.
        const int stop = std::min(end, m_sourceCache->length());
        const qint64 step = length / 32;
        if (start < stop) {
            constexpr int kBlock = 8192;
            std::vector<float> block(kBlock);
            qint64 nextProgress = start;
            for (int pos = start; pos < stop;) {
                const int want = std::min(kBlock, stop - pos);
                const unsigned got = m_sourceCache->readSamples(block.data(), unsigned(want), unsigned(pos));
                if (got == 0)
                    break;
                peak = std::max(peak, PeakScan::largestMagnitude(block.data(), int(got)));
                pos += int(got);
                if (step > 0 && pos >= nextProgress) {
                    emit analysisProgress(float(double(pos - start) / double(length)));
                    nextProgress = pos + step;
                }
            }
        }
    }

    // A silent region keeps its level instead of dividing by zero.
    const double gain = (peak > 0.0f && std::isfinite(peak)) ? kTargetPeak / double(peak) : 1.0;
    m_gain.store(float(gain));
    emit analysisFinished();
}
