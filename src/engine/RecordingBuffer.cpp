#include "RecordingBuffer.h"

#include "EngineLogging.h"
#include "PerfCounterManager.h"
#include "SpeexResampler.h"

#include <algorithm>
#include <cstdlib>
#include <new>

RecordingBuffer::RecordingBuffer(const QString &name)
    : m_name(name), m_ring(static_cast<float *>(std::calloc(kRingSamples, sizeof(float)))),
      m_resampler(new SpeexResampler(44100, 44100))
{
    if (!m_ring)
        throw std::bad_alloc();
    PerfCounterManager::instance().setRange(m_name, 0.0f, float(kRingSamples));
}

RecordingBuffer::~RecordingBuffer() = default;

void RecordingBuffer::FreeRing::operator()(float *p) const
{
    std::free(p);
}

// Sound-card thread: no allocation, no file I/O, no lock.
void RecordingBuffer::receive(const float *frames, int frameCount)
{
    const long long w = m_written.load();
    const long long used = w - m_read.load(std::memory_order_acquire);
    const long long samples = std::min<long long>(2LL * frameCount, kRingSamples - used);
    for (long long i = 0; i < samples; ++i)
        m_ring[size_t((w + i) % kRingSamples)] = frames[i];
    m_written.store(w + samples, std::memory_order_release);
    PerfCounterManager::instance().set(m_name, float(used + samples));
}

void RecordingBuffer::clear()
{
    m_read.store(m_written.load());
    m_resampler->reset();
}

void RecordingBuffer::setInputSampleRate(int rate)
{
    m_inputRate = rate;
    qCDebug(lcEngine) << "Set recording buffer input samplerate to" << rate << "and output is"
                      << sampleRate();
    m_resampler->setRates(m_inputRate, sampleRate());
}

void RecordingBuffer::setSampleRate(int rate)
{
    AudioSource::setSampleRate(rate);
    m_resampler->setRates(m_inputRate, rate);
}

int RecordingBuffer::length()
{
    return int(m_written.load(std::memory_order_acquire) - m_read.load());
}

// Sound-card thread: no allocation, no file I/O, no lock.
int RecordingBuffer::pull(float *buffer, int count)
{
    // A resampler that ran dry starts afresh once input arrives again.
    if (m_resampler->isEmpty() && length() > 0)
        m_resampler->reset();
    int done = 0;
    // The resampler converts at most maxFrames frames per step.
    while (done < count) {
        const int frames = std::min((count - done) / 2, SpeexResampler::maxFrames);
        if (frames <= 0)
            break;
        const int produced = m_resampler->produce(buffer + done, frames, &m_ringSource);
        done += 2 * produced;
        if (produced < frames)
            break;
    }
    return done;
}

// Sound-card thread: no allocation, no file I/O, no lock.
int RecordingBuffer::RingSource::pull(float *buffer, int count)
{
    const long long r = m_owner->m_read.load();
    const long long available = m_owner->m_written.load(std::memory_order_acquire) - r;
    const long long n = std::min<long long>(count, available) & ~1LL;
    for (long long i = 0; i < n; ++i)
        buffer[i] += m_owner->m_ring[size_t((r + i) % kRingSamples)];
    m_owner->m_read.store(r + n, std::memory_order_release);
    return int(n);
}
