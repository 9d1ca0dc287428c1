#include "BankSampler.h"

#include "EngineLogging.h"
#include "OfflineStretchRenderer.h"
#include "ThreadPriority.h"
#include "TimeStretcher.h"

#include <QMetaObject>
#include <algorithm>
#include <mutex>
#include <utility>

namespace {

// Renders are handed to the pool, and their results back to the GUI thread, under Qt's
// own locks, which ThreadSanitizer cannot see (Qt is not built with it). Taking this lock
// on both sides of each hand-over makes the order visible to it; it is never contended.
std::mutex &renderHandoff()
{
    static std::mutex m;
    return m;
}

} // namespace

namespace {
constexpr int kPlaceholderIndex = 9999;
// A render is held in memory as floats; a pad longer than this once stretched (a whole
// song dropped on a pad) keeps the real-time stretcher rather than costing tens of MB.
constexpr double kMaxRenderSeconds = 30.0;
}

BankSampler::BankSampler(int sampleRate, QObject *parent) : QObject(parent), m_sampleRate(sampleRate)
{
    m_chokeGroups.insert("None", kPlaceholderIndex);
    m_chokeGroups.insert("Hi-hats", kPlaceholderIndex);
    m_chokeGroups.insert("Other", kPlaceholderIndex);
    // One render at a time: the other core stays free for the GUI and the sound card.
    m_renderPool.setMaxThreadCount(1);
}

BankSampler::~BankSampler()
{
    for (int i = 0; i < kPadCount; ++i)
        cancelRender(i);
    m_renderPool.waitForDone();
}

void BankSampler::cancelRender(int index)
{
    if (auto &cancel = m_renderCancel[size_t(index)]) {
        cancel->store(true);
        cancel.reset();
    }
}

void BankSampler::requestRender(int index)
{
    const SlicePtr loaded = pad(index);
    if (!loaded || !loaded->isStretchEnabled() || !loaded->isLoadingComplete() ||
        loaded->hasCurrentStretchRender()) {
        cancelRender(index);
        return;
    }
    const StretchRender settings = loaded->stretchRenderSettings();
    const int fileRate = loaded->fileSampleRate();
    if (settings.sourceLength <= 0 || fileRate <= 0 ||
        double(settings.sourceLength / 2) * settings.timeRatio / fileRate > kMaxRenderSeconds) {
        cancelRender(index);
        return;
    }
    StretchRender &pending = m_renderSettings[size_t(index)];
    if (m_renderCancel[size_t(index)] && pending.timeRatio == settings.timeRatio && pending.pitch == settings.pitch &&
        pending.reversed == settings.reversed && pending.sourceLength == settings.sourceLength)
        return;
    cancelRender(index);
    pending = settings;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_renderCancel[size_t(index)] = cancel;

    OfflineStretchRenderer::Job job;
    // sampleAt reads in play order (reversed pads backwards) without the loop lock, so the
    // render never holds up the sound-card thread.
    job.reader = [loaded](float *dst, int start, int count) {
        for (int i = 0; i < count; ++i)
            dst[i] = loaded->sampleAt(start + i);
        return count;
    };
    job.start = 0;
    job.end = settings.sourceLength;
    job.sampleRate = fileRate;
    job.timeRatio = settings.timeRatio;
    job.pitchSemitones = settings.pitch;
    job.options = loaded->timeStretcher()->options();

    const std::lock_guard<std::mutex> handingOver(renderHandoff());
    m_renderPool.start([this, index, loaded, job, cancel, settings] {
        { const std::lock_guard<std::mutex> handedOver(renderHandoff()); }
        ThreadPriority::lowerCurrentThreadForBackgroundWork();
        auto render = std::make_shared<StretchRender>(settings);
        const OfflineStretchRenderer::Result result =
            OfflineStretchRenderer::renderToMemory(job, [&cancel] { return cancel->load(); }, render->samples);
        if (result.outcome != OfflineStretchRenderer::Outcome::Finished) {
            if (result.outcome == OfflineStretchRenderer::Outcome::Failed)
                qCWarning(lcEngine) << "Pad" << index << "could not be rendered ahead:" << result.error;
            return;
        }
        // Installed on the GUI thread, so a replaced render is freed there.
        const std::lock_guard<std::mutex> handingBack(renderHandoff());
        QMetaObject::invokeMethod(
            this,
            [this, index, loaded, cancel, render = StretchRenderPtr(std::move(render))] {
                { const std::lock_guard<std::mutex> handedBack(renderHandoff()); }
                if (cancel->load() || pad(index) != loaded)
                    return;
                if (m_renderCancel[size_t(index)] == cancel)
                    m_renderCancel[size_t(index)].reset();
                loaded->setStretchRender(render);
                emit padRenderReady(index);
            },
            Qt::QueuedConnection);
    });
}

bool BankSampler::isPadRenderReady(int index) const
{
    const SlicePtr loaded = pad(index);
    return loaded && loaded->hasCurrentStretchRender();
}

void BankSampler::updateStretchEnabled(const SlicePtr &pad)
{
    pad->setStretchEnabled(pad->pitch() != 0 || pad->timeStretchRatio() != 1.0);
}

void BankSampler::loadSample(int index, const QString &fileName, int semitones, double timeStretchRatio,
                             int loopMode, int loopStart, int loopEnd, float gain, bool reversed,
                             const QString &chokeGroup)
{
    if (!validIndex(index))
        return;
    if (pad(index)) {
        const QStringList groups = chokeGroupsOf(index);
        for (const QString &group : groups)
            removeFromChokeGroup(index, group);
    }

    // Opening the file and preallocating its cache happen here, outside the bank lock,
    // so that the mix never waits for them.
    SlicePtr loaded = Slice::create(fileName, sampleRate());
    loaded->setPitch(semitones);
    loaded->setTimeStretchRatio(timeStretchRatio, m_bankTempo);
    loaded->setLoopMode(loopMode);
    // Start and end go in together: set one after the other, a start beyond the fresh
    // loop's initial end would be swapped with it and the stored region lost.
    const int end = loopEnd == 0 ? loaded->length() : loopEnd;
    loaded->setLoop(std::min(loopStart, end), std::max(loopStart, end));
    loaded->setGain(gain);
    if (reversed)
        loaded->reverse();
    updateStretchEnabled(loaded);

    SlicePtr retired;
    {
        QMutexLocker locker(&m_lock);
        retired = std::exchange(m_pads[size_t(index)], loaded);
    }
    retired.reset(); // the replaced pad dies here, on the GUI thread

    // Queued: the setters emit before the bank has decided whether the pad stretches.
    const Slice *raw = loaded.data();
    auto rerender = [this, index, raw] {
        if (pad(index).data() == raw)
            requestRender(index);
    };
    connect(loaded.data(), &Slice::loadingComplete, this, rerender, Qt::QueuedConnection);
    connect(loaded.data(), &Slice::pitchChanged, this, rerender, Qt::QueuedConnection);
    connect(loaded.data(), &Slice::effectiveBpmChanged, this, rerender, Qt::QueuedConnection);
    requestRender(index);

    addToChokeGroup(index, chokeGroup);
    emit sampleLoaded(index);
}

void BankSampler::addToChokeGroup(int index, const QString &group)
{
    qCDebug(lcEngine) << "add sample" << index << "to choke group" << group;
    if (const SlicePtr loaded = pad(index)) {
        m_chokeGroups.remove(loaded->chokeGroup(), index);
        loaded->setChokeGroup(group);
    }
    m_chokeGroups.insert(group, index);
}

void BankSampler::removeFromChokeGroup(int index, const QString &group)
{
    qCDebug(lcEngine) << "remove sample" << index << "from choke group" << group;
    if (const SlicePtr loaded = pad(index))
        loaded->setChokeGroup("None");
    m_chokeGroups.remove(group, index);
}

QStringList BankSampler::chokeGroupNames() const { return m_chokeGroups.uniqueKeys(); }

QStringList BankSampler::chokeGroupsOf(int index) const
{
    QStringList groups;
    for (auto it = m_chokeGroups.cbegin(); it != m_chokeGroups.cend(); ++it)
        if (it.value() == index && !groups.contains(it.key()))
            groups.append(it.key());
    return groups;
}

void BankSampler::deliverSoundCardNews()
{
    // The GUI thread is the only one that replaces pads, so it reads them without the lock.
    for (const SlicePtr &loaded : m_pads) {
        if (loaded)
            loaded->deliverSoundCardNews();
    }
}

SlicePtr BankSampler::pad(int index) const
{
    if (!validIndex(index))
        return SlicePtr();
    QMutexLocker locker(&m_lock);
    return m_pads[size_t(index)];
}

int BankSampler::sampleRate() const
{
    QMutexLocker locker(&m_lock);
    return m_sampleRate;
}

void BankSampler::setSampleRate(int rate)
{
    std::array<SlicePtr, kPadCount> pads;
    {
        QMutexLocker locker(&m_lock);
        m_sampleRate = rate;
        pads = m_pads;
    }
    // Reconfiguring a pad's resampler may allocate: done outside the bank lock, under
    // each pad's own lock.
    for (const SlicePtr &loaded : pads)
        if (loaded)
            loaded->setEngineSampleRate(rate);
}

void BankSampler::setBankTempo(int bpm)
{
    m_bankTempo = bpm;
    qCDebug(lcEngine) << "BankSampler: Telling samples to update their lengths...";
    for (int i = 0; i < kPadCount; ++i)
        if (const SlicePtr loaded = pad(i))
            loaded->setTimeStretchRatio(loaded->timeStretchRatio(), bpm);
    for (int i = 0; i < kPadCount; ++i)
        requestRender(i);
}

void BankSampler::setPadPitch(int index, int semitones)
{
    if (const SlicePtr loaded = pad(index)) {
        loaded->setPitch(semitones);
        updateStretchEnabled(loaded);
        requestRender(index);
    }
}

void BankSampler::stretchPadToBeats(int index, double beats)
{
    if (const SlicePtr loaded = pad(index)) {
        loaded->stretchToBeats(beats, m_bankTempo);
        updateStretchEnabled(loaded);
        requestRender(index);
    }
}

void BankSampler::reset()
{
    for (int i = 0; i < kPadCount; ++i)
        cancelRender(i);
    std::array<SlicePtr, kPadCount> retired;
    {
        QMutexLocker locker(&m_lock);
        std::swap(retired, m_pads);
    }
    m_chokeGroups.clear();
    m_chokeGroups.insert("None", kPlaceholderIndex);
    m_chokeGroups.insert("Hi-hats", kPlaceholderIndex);
    m_chokeGroups.insert("Other", kPlaceholderIndex);
    // retired pads are released here, on the GUI thread
}

// Sound-card thread: no allocation, no file I/O; the bank lock is held by the GUI
// only for pointer swaps.
void BankSampler::mix(float *buffer, int count)
{
    QMutexLocker locker(&m_lock);
    // A pad that has just stopped still owes what its resampler and stretcher hold; a
    // silent pad returns at once.
    for (const SlicePtr &loaded : m_pads) {
        if (loaded)
            loaded->render(buffer, count);
    }
}
