#pragma once

#include <QMetaType>
#include <QObject>
#include <atomic>
#include <memory>

enum RecordingState { LooperIdle = 0, LooperArmed = 1, LooperRecording = 2 };
Q_DECLARE_METATYPE(RecordingState)

// A looper: records the engine's output (as mixed up to the looper stage) into a take
// of its own and plays the take back in a loop, optionally cut to a quantization
// length published by a master looper.
//
// The take is plain memory at the device rate, allocated on the GUI thread when the
// looper is first armed and kept from then on; a looper that never records owns no
// audio, opens no file and reads nothing at start-up.
//
// Threads: the slots run on the GUI thread; recordStep and playStep on the sound-card
// thread. They share only atomics and the take, whose samples below the published
// length the GUI never writes.
class LoopingSampler : public QObject {
    Q_OBJECT
public:
    // Longest take, in seconds at the device rate.
    static constexpr int kMaxTakeSeconds = 60;

    explicit LoopingSampler(int sampleRate, QObject *parent = nullptr);
    ~LoopingSampler() override;

    RecordingState recordingState() const { return RecordingState(m_state.load()); }
    bool isPlaying() const { return m_playing.load(); }
    bool isMaster() const { return m_master.load(); }
    long quantizationLength() const { return m_quantizationLength.load(); }
    // Samples (interleaved stereo) in the take.
    int length() const { return m_length.load(); }
    int capacity() const { return m_capacity; }
    void setSampleRate(int rate) { m_sampleRate = rate; }

    // Sound-card thread: no allocation, no file I/O, no lock.
    // While recording, appends the buffer as mixed so far; returns the samples taken.
    int recordStep(const float *buffer, int count);
    // Sound-card thread: no allocation, no file I/O, no lock.
    // While playing and not recording, adds the take, wrapping at its end.
    int playStep(float *buffer, int count);

    // GUI thread: announces what the sound-card thread did since the last call (a take
    // cut at its quantization length or at the take's capacity: the state is idle again
    // and the take plays). The engine calls it on its timer.
    void deliverSoundCardNews();

    LoopingSampler(const LoopingSampler &) = delete;
    LoopingSampler &operator=(const LoopingSampler &) = delete;

signals:
    void recordingStateChanged(RecordingState state);
    void playbackStateChanged(bool playing);
    void quantizationLengthChanged(long quant_len);

public slots:
    void armRecording(bool on);
    // Armed → recording: the next buffers are taken into a fresh take.
    void startRecording();
    void stopRecording();
    void togglePlayback(bool on);
    void setQuantizationLength(long length);
    void setMasterQuantizationLooper(bool master);

private:
    // GUI thread.
    void resumePlayback();
    void changeState(RecordingState state);
    void startPlayback();
    // GUI thread: allocates the take once.
    void ensureTake();

    int m_sampleRate;
    std::unique_ptr<float[]> m_take;
    int m_capacity = 0;

    std::atomic<float *> m_takeData{nullptr};
    std::atomic<int> m_state{LooperIdle};
    std::atomic<int> m_length{0};
    std::atomic<long> m_quantizationLength{-1};
    std::atomic<bool> m_master{false};
    std::atomic<bool> m_playing{false};
    std::atomic<bool> m_restart{false};
    // Set by recordStep when it ends a take, taken by deliverSoundCardNews.
    std::atomic<bool> m_takeEnded{false};
    // Sound-card thread only.
    int m_playPosition = 0;
};
