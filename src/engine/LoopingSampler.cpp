#include "LoopingSampler.h"

#include "EngineLogging.h"
#include "RealtimeEvents.h"

#include <algorithm>

namespace {
const int kRecordingStateType = qRegisterMetaType<RecordingState>("RecordingState");
}

LoopingSampler::LoopingSampler(int sampleRate, QObject *parent) : QObject(parent), m_sampleRate(sampleRate)
{
    Q_UNUSED(kRecordingStateType);
    m_quantizationLength.store(0);
}

LoopingSampler::~LoopingSampler() = default;

void LoopingSampler::ensureTake()
{
    if (m_take)
        return;
    m_capacity = std::max(1, m_sampleRate) * 2 * kMaxTakeSeconds;
    m_take.reset(new float[size_t(m_capacity)]());
    m_takeData.store(m_take.get());
}

void LoopingSampler::changeState(RecordingState state)
{
    m_state.store(state);
    qCDebug(lcEngine) << "Recording state:" << int(state);
    emit recordingStateChanged(state);
    if (m_master.load()) {
        m_quantizationLength.store(m_length.load());
        emit quantizationLengthChanged(m_quantizationLength.load());
    }
}

void LoopingSampler::startPlayback()
{
    qCDebug(lcEngine) << "Starting playback";
    resumePlayback();
}

void LoopingSampler::resumePlayback()
{
    m_restart.store(true);
    m_playing.store(true);
    emit playbackStateChanged(true);
}

void LoopingSampler::armRecording(bool on)
{
    if (on) {
        ensureTake();
        qCDebug(lcEngine) << "Looper armed";
        changeState(LooperArmed);
        return;
    }
    qCDebug(lcEngine) << "Looper OFF";
    startPlayback();
    changeState(LooperIdle);
}

void LoopingSampler::startRecording()
{
    if (m_state.load() != LooperArmed)
        return;
    m_playing.store(false);
    m_length.store(0);
    changeState(LooperRecording);
}

void LoopingSampler::stopRecording()
{
    m_state.store(LooperIdle);
    startPlayback();
    // Announced like every other state change, so that a master publishes its take length.
    changeState(LooperIdle);
}

void LoopingSampler::togglePlayback(bool on)
{
    if (on) {
        startPlayback();
        return;
    }
    qCDebug(lcEngine) << "Stopping playback";
    m_playing.store(false);
    emit playbackStateChanged(false);
}

void LoopingSampler::deliverSoundCardNews()
{
    if (!m_takeEnded.exchange(false))
        return;
    if (m_playing.load())
        emit playbackStateChanged(true);
    // Said like any other change to idle, so that a master publishes its take's length.
    if (m_state.load() == LooperIdle)
        changeState(LooperIdle);
}

void LoopingSampler::setQuantizationLength(long length)
{
    m_quantizationLength.store(length);
    qCDebug(lcEngine) << "set quant len:" << length;
}

void LoopingSampler::setMasterQuantizationLooper(bool master) { m_master.store(master); }

// Sound-card thread: no allocation, no file I/O, no lock.
int LoopingSampler::recordStep(const float *buffer, int count)
{
    if (m_state.load() != LooperRecording)
        return 0;
    float *take = m_takeData.load();
    if (!take)
        return 0;
    const int length = m_length.load();
    int taken = std::min(count, m_capacity - length);
    const long quantization = m_quantizationLength.load();
    bool stop = taken < count;
    if (quantization > 0 && length + count >= quantization) {
        RealtimeEvents::note(RealtimeEvents::LooperQuantizationStop);
        taken = int(std::min<long>(taken, quantization - length));
        stop = true;
    }
    taken = std::max(0, taken);
    std::copy(buffer, buffer + taken, take + length);
    m_length.store(length + taken);
    if (stop) {
        // What resumePlayback does, without its signal: that waits for the GUI thread.
        m_state.store(LooperIdle);
        m_restart.store(true);
        m_playing.store(true);
        m_takeEnded.store(true);
    }
    return taken;
}

// Sound-card thread: no allocation, no file I/O, no lock.
int LoopingSampler::playStep(float *buffer, int count)
{
    if (m_state.load() == LooperRecording || !m_playing.load())
        return 0;
    const float *take = m_takeData.load();
    const int length = m_length.load() & ~1;
    if (!take || length <= 0)
        return 0;
    if (m_restart.exchange(false))
        m_playPosition = 0;
    for (int i = 0; i < count; ++i) {
        if (m_playPosition >= length)
            m_playPosition = 0;
        buffer[i] += take[m_playPosition++];
    }
    return count;
}
