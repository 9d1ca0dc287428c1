#include "PreviewPlayer.h"

#include "AudioFileSndFile.h"
#include "EngineLogging.h"
#include "FiniteSamples.h"

#include <algorithm>
#include <chrono>

namespace {
constexpr int kReadFrames = 2048;
}

PreviewPlayer::PreviewPlayer(const QString &path) : m_fileName(path)
{
    // As the loop readers open it, so that a file in a deep folder previews too.
    m_file = AudioFileSndFile::openForReading(path, &m_info);
    if (!m_file || !sf_format_check(&m_info)) {
        qCDebug(lcEngine) << "Error opening file" << path;
        if (m_file)
            sf_close(m_file);
        m_file = nullptr;
        m_total = 0;
        return;
    }
    m_total = static_cast<long long>(m_info.channels) * m_info.frames;
    if (m_total <= 0 || m_info.channels > 2) {
        // Files with more than two channels are not previewed.
        m_total = m_info.channels > 2 ? 0 : m_total;
        sf_close(m_file);
        m_file = nullptr;
        return;
    }
    m_frames.store(m_info.frames);
    m_ring.reset(new float[kRingSamples]());
    m_readBuffer.reset(new float[kReadFrames * 2]());
    if (fill())
        m_feeder = std::thread(&PreviewPlayer::feed, this);
}

PreviewPlayer::~PreviewPlayer()
{
    m_stop.store(true);
    if (m_feeder.joinable())
        m_feeder.join();
    if (m_file)
        sf_close(m_file);
}

bool PreviewPlayer::isFinished() const
{
    return m_total <= 0 || m_framesPlayed.load() >= m_frames.load();
}

bool PreviewPlayer::fill()
{
    const int channels = m_info.channels;
    while (!m_stop.load()) {
        const long long room = kRingSamples - (m_written.load() - m_read.load(std::memory_order_acquire));
        const long long left = m_frames.load() - m_framesRead;
        if (left <= 0) {
            m_fileDone.store(true);
            return false;
        }
        const long long frames = std::min<long long>({room / 2, left, kReadFrames});
        if (frames <= 0)
            return true;
        const sf_count_t got = sf_readf_float(m_file, m_readBuffer.get(), frames);
        if (got <= 0) {
            // A truncated file ends where its data ends.
            m_frames.store(m_framesRead);
            m_fileDone.store(true);
            return false;
        }
        // A damaged float file's NaN or infinity would poison everything mixed after it.
        if (FiniteSamples::anyNonFinite(m_readBuffer.get(), size_t(got * channels)))
            FiniteSamples::zeroNonFinite(m_readBuffer.get(), size_t(got * channels));
        long long w = m_written.load();
        for (sf_count_t f = 0; f < got; ++f) {
            const float left = m_readBuffer[size_t(f * channels)];
            const float right = channels == 2 ? m_readBuffer[size_t(f * channels + 1)] : left;
            m_ring[size_t(w % kRingSamples)] = left;
            m_ring[size_t((w + 1) % kRingSamples)] = right;
            w += 2;
        }
        m_framesRead += got;
        m_written.store(w, std::memory_order_release);
    }
    return false;
}

void PreviewPlayer::feed()
{
    while (!m_stop.load()) {
        if (!fill())
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Sound-card thread: no allocation, no file I/O, no lock.
void PreviewPlayer::mix(float *buffer, int count)
{
    if (m_total <= 0)
        return;
    const long long framesLeft = m_frames.load() - m_framesPlayed.load();
    long long frames = std::min<long long>(count / 2, framesLeft);
    if (frames <= 0)
        return;
    const long long r = m_read.load();
    const long long available = (m_written.load(std::memory_order_acquire) - r) / 2;
    frames = std::min(frames, available);
    for (long long f = 0; f < frames; ++f) {
        buffer[2 * f] += m_ring[size_t((r + 2 * f) % kRingSamples)];
        buffer[2 * f + 1] += m_ring[size_t((r + 2 * f + 1) % kRingSamples)];
    }
    m_read.store(r + 2 * frames, std::memory_order_release);
    m_framesPlayed.fetch_add(frames);
}
