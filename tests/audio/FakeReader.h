#pragma once
// An AudioFile that delivers AudioFixtures::stair() with a chosen reported length and
// a chosen number of samples it really holds, and that can hold a fill at a gate so
// that tests decide when the background reader makes progress.

#include "AudioFile.h"
#include "AudioFixtures.h"

#include <QSemaphore>

#include <algorithm>
#include <atomic>
#include <memory>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

struct ReaderProbe {
    std::atomic<int> reads{0};
    std::atomic<bool> destroyed{false};
    // When set, each read waits for one permit (released by the test).
    QSemaphore *gate = nullptr;
    // Released once per read that has started, so a test can wait for the fill to begin.
    QSemaphore started;
    // The nice value of the thread that made the last read.
    std::atomic<int> readerNice{0};
};

class FakeReader : public AudioFile {
public:
    FakeReader(int length, int holds, std::shared_ptr<ReaderProbe> probe = std::make_shared<ReaderProbe>())
        : m_length(length), m_holds(holds), m_probe(std::move(probe)) {}
    ~FakeReader() override { m_probe->destroyed = true; }

    int length() override { return m_length; }
    int sampleRate() override { return 44100; }
    int read(float *buffer, unsigned count) override {
        m_probe->reads++;
        m_probe->readerNice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
        m_probe->started.release();
        if (m_probe->gate)
            m_probe->gate->acquire();
        const int n = std::max(0, std::min(int(count), m_holds - m_pos));
        for (int i = 0; i < n; ++i)
            buffer[i] = AudioFixtures::stair(m_pos + i);
        std::fill(buffer + n, buffer + count, 0.0f);
        m_pos += n;
        return n;
    }
    int seek(unsigned sampleIndex) override { return m_pos = int(sampleIndex); }
    int position() override { return m_pos; }
    // stair() values are exact at 16 and 24 bits, so the reader may offer either.
    int integerBits() override { return m_integerBits; }
    void setIntegerBits(int bits) { m_integerBits = bits; }

private:
    int m_integerBits = 0;
    int m_length;
    int m_holds;
    int m_pos = 0;
    std::shared_ptr<ReaderProbe> m_probe;
};
