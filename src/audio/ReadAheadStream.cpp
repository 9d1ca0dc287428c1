#include "ReadAheadStream.h"

#include "SampleChunk.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr int kPiece = SampleChunk::chunkSize;
// Decoded pieces held ahead of the consumer: 1 MB, enough to ride out a slow read.
constexpr size_t kAhead = 64;
} // namespace

ReadAheadStream::ReadAheadStream(AudioFilePtr file, bool keepAll)
    : m_file(std::move(file)), m_keepAll(keepAll), m_length(m_file ? std::max(0, m_file->length()) : 0) {
    m_thread = std::thread([this] { decode(); });
}

ReadAheadStream::~ReadAheadStream() {
    stop();
    m_thread.join();
}

void ReadAheadStream::stop() {
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_stopped = true;
    }
    m_decoded.notify_all();
    m_consumed.notify_all();
}

void ReadAheadStream::decode() {
    long long total = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> locker(m_mutex);
            m_consumed.wait(locker, [this] {
                const size_t held = m_pieces.size() - std::min(m_pieces.size(), size_t(m_firstHeld));
                return m_stopped || m_draining || m_keepAll || held < kAhead;
            });
            if (m_stopped)
                break;
        }
        // Zeroed like a cache chunk, in case a reader leaves part of a short piece alone.
        std::unique_ptr<float[]> piece(new float[kPiece]());
        int delivered = m_file ? m_file->read(piece.get(), unsigned(kPiece)) : 0;
        delivered = std::clamp(delivered, 0, kPiece);
        total += delivered;
        {
            std::lock_guard<std::mutex> locker(m_mutex);
            // Nobody reads on once the consumer only waits for the count.
            if (m_draining && m_pieces.size() > 1)
                piece.reset();
            m_pieces.push_back(std::move(piece));
            m_counts.push_back(delivered);
            m_delivered = total;
        }
        m_decoded.notify_all();
        if (delivered != kPiece || total > INT_MAX - kPiece)
            break;
    }
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_ended = true;
    }
    m_decoded.notify_all();
}

unsigned ReadAheadStream::read(float *buffer, unsigned count, unsigned startSample) {
    if (startSample >= m_length)
        return 0;
    count = unsigned(std::min<long long>(count, m_length - startSample));
    unsigned done = 0;
    std::unique_lock<std::mutex> locker(m_mutex);
    while (done < count) {
        const long long p = (long long)startSample + done;
        const size_t k = size_t(p / kPiece);
        m_decoded.wait(locker, [&] { return m_stopped || m_ended || k < m_pieces.size(); });
        if (m_stopped || k >= m_pieces.size() || !m_pieces[k])
            break;
        const int offset = int(p % kPiece);
        const int n = std::min(m_counts[k] - offset, int(count - done));
        if (n <= 0)
            break;
        std::memcpy(buffer + done, m_pieces[k].get() + offset, size_t(n) * sizeof(float));
        done += unsigned(n);
        if (!m_keepAll && k > size_t(m_firstHeld)) {
            // Everything before the piece being read is behind the consumer for good.
            for (size_t i = size_t(m_firstHeld); i < k; ++i)
                m_pieces[i].reset();
            m_firstHeld = int(k);
            // The decoder refills in batches rather than being woken for every piece.
            if (m_pieces.size() - k <= kAhead / 2)
                m_consumed.notify_all();
        }
    }
    return done;
}

long long ReadAheadStream::deliveredSamples() {
    std::unique_lock<std::mutex> locker(m_mutex);
    m_draining = true;
    m_consumed.notify_all();
    m_decoded.wait(locker, [this] { return m_ended; });
    return m_delivered;
}
