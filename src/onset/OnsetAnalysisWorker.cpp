#include "OnsetAnalysisWorker.h"

#include "AudioCache.h"
#include "EditableAudioCache.h"
#include "ThreadPriority.h"

#include <algorithm>

namespace {
// Frames read per hold of the edit lock. The sound-card thread waits for that lock when it
// renders an edited loop, so a hold must stay as short as one of its own blocks.
constexpr int kFramesPerLock = 256;
} // namespace

void OnsetAnalysisWorker::analyse(SlicePtr slice, quint64 request) {
    ThreadPriority::lowerCurrentThreadForBackgroundWork();
    if (!slice || !isCurrent(request))
        return;
    // Progress goes out once per whole percent: a long loop would otherwise queue a signal
    // per detector poll.
    int lastPercent = -1;
    const auto report = [&](double fraction) {
        const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100.0);
        if (percent != lastPercent) {
            lastPercent = percent;
            emit progress(request, fraction);
        }
    };
    auto result = QSharedPointer<OnsetAnalysis>::create(analyseLoop(
        slice, [this, request] { return isCurrent(request); }, report));
    if (!isCurrent(request))
        return;
    emit analysed(request, result);
}

OnsetAnalysis OnsetAnalysisWorker::analyseLoop(const SlicePtr &slice, const std::function<bool()> &keepGoing,
                                               const std::function<void(double)> &progress) {
    if (!slice || !keepGoing())
        return OnsetAnalysis();
    const AudioCachePtr cache = slice->cache();
    const bool reversed = slice->isReversed();
    const int rate = slice->fileSampleRate();
    const qint64 samples = cache ? qint64(cache->length() & ~1) : 0;
    const qint64 frames = samples / 2;
    // Edited audio is computed on read from the edit list, which the GUI changes under the
    // edit lock; the plain cache is read without any lock, as the drawing code does. The
    // cache's own try-lock is not taken: holding it would silence the sound card's blocks.
    auto *editable = qobject_cast<EditableAudioCache *>(cache.data());

    const OnsetDetector::FrameReader reader = [&](qint64 frame, int count, float *out) -> int {
        if (!editable) {
            // The plain cache hands out whole runs (a call per sample cost a fifth of the
            // analysis of a long file); a reversed loop's run is read forwards and turned.
            const qint64 n = std::min<qint64>(count, std::max<qint64>(0, frames - frame));
            if (n <= 0 || !keepGoing())
                return 0;
            const qint64 first = reversed ? samples - 2 * (frame + n) : 2 * frame;
            const unsigned got = cache->readSamples(out, unsigned(2 * n), unsigned(first));
            for (qint64 k = got; k < 2 * n; ++k)
                out[k] = cache->getSample(int(first + k));
            if (reversed)
                for (qint64 a = 0, b = n - 1; a < b; ++a, --b) {
                    std::swap(out[2 * a], out[2 * b]);
                    std::swap(out[2 * a + 1], out[2 * b + 1]);
                }
            return int(n);
        }
        int done = 0;
        while (done < count && frame + done < frames && keepGoing()) {
            const int n = int(std::min<qint64>({qint64(kFramesPerLock), qint64(count - done),
                                                frames - (frame + done)}));
            if (editable)
                editable->editLock()->lock();
            for (int i = 0; i < n; ++i) {
                qint64 index = 2 * (frame + done + i);
                if (reversed)
                    index = samples - 2 - index;
                out[2 * (done + i)] = cache->getSample(int(index));
                out[2 * (done + i) + 1] = cache->getSample(int(index + 1));
            }
            if (editable)
                editable->editLock()->unlock();
            done += n;
        }
        return done;
    };
    const OnsetDetector::Progress poll = [&](double fraction) {
        if (!keepGoing())
            return false;
        if (progress)
            progress(fraction);
        return true;
    };
    OnsetAnalysis result = OnsetDetector::analyse(reader, frames, 2, rate, poll);
    return keepGoing() ? result : OnsetAnalysis();
}
