#pragma once

#include "AudioSource.h"
#include "RecordingEngine.h"

#include <QString>
#include <atomic>
#include <memory>

class SpeexResampler;

// Holds frames from an input stream in a ring and plays them back converted from the
// input rate to the output rate. Input arrives on the sound-card thread (receive) and
// leaves on the sound-card thread (pull); the rates are set on the GUI thread while
// no stream runs. Nothing opens an input stream yet, so the engine's two buffers stay
// empty and out of the mix.
class RecordingBuffer : public RecordingEngine, public AudioSource {
public:
    static constexpr int kRingSamples = 65536;

    explicit RecordingBuffer(const QString &name);
    ~RecordingBuffer() override;

    QString name() const { return m_name; }

    // Sound-card thread: no allocation, no file I/O, no lock. Frames that do not fit
    // are dropped.
    void receive(const float *frames, int frameCount) override;
    void clear() override;
    void setInputSampleRate(int rate) override;
    int inputSampleRate() const { return m_inputRate; }

    // Sound-card thread: no allocation, no file I/O, no lock.
    int pull(float *buffer, int count) override;
    void setSampleRate(int rate) override;
    // Samples waiting in the ring.
    int length() override;

    RecordingBuffer(const RecordingBuffer &) = delete;
    RecordingBuffer &operator=(const RecordingBuffer &) = delete;

private:
    // Reads the ring for the resampler.
    class RingSource : public AudioSource {
    public:
        explicit RingSource(RecordingBuffer *owner) : m_owner(owner) {}
        // Sound-card thread: no allocation, no file I/O, no lock.
        int pull(float *buffer, int count) override;
        int length() override { return m_owner->length(); }

    private:
        RecordingBuffer *m_owner;
    };

    struct FreeRing {
        void operator()(float *p) const;
    };

    QString m_name;
    // Zeroed by calloc as fresh pages, backed only once input is written into them: the
    // engine keeps two rings that stay empty until an input stream feeds one.
    std::unique_ptr<float[], FreeRing> m_ring;
    std::unique_ptr<SpeexResampler> m_resampler;
    RingSource m_ringSource{this};
    int m_inputRate = 44100;
    std::atomic<long long> m_written{0};
    std::atomic<long long> m_read{0};
};
