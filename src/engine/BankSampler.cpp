#include "BankSampler.h"

#include "EngineLogging.h"

#include <algorithm>
#include <utility>

namespace {
constexpr int kPlaceholderIndex = 9999;
}

BankSampler::BankSampler(int sampleRate, QObject *parent) : QObject(parent), m_sampleRate(sampleRate)
{
    m_chokeGroups.insert("None", kPlaceholderIndex);
    m_chokeGroups.insert("Hi-hats", kPlaceholderIndex);
    m_chokeGroups.insert("Other", kPlaceholderIndex);
}

BankSampler::~BankSampler() = default;

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
}

void BankSampler::setPadPitch(int index, int semitones)
{
    if (const SlicePtr loaded = pad(index)) {
        loaded->setPitch(semitones);
        updateStretchEnabled(loaded);
    }
}

void BankSampler::stretchPadToBeats(int index, double beats)
{
    if (const SlicePtr loaded = pad(index)) {
        loaded->stretchToBeats(beats, m_bankTempo);
        updateStretchEnabled(loaded);
    }
}

void BankSampler::reset()
{
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
