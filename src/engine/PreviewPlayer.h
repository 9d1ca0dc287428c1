#pragma once

#include <QString>
#include <atomic>
#include <memory>
#include <sndfile.h>
#include <thread>

// Plays one audio file (as libsndfile reads it) into the engine's mix, without
// resampling. The file is read ahead into a ring of stereo frames by a feeder
// thread of its own, so the sound-card thread never touches the file: a file that
// fits the ring is read whole before the player is handed to the engine, longer
// files stream. A ring that runs dry (the feeder fell behind) gives silence for
// that stretch and playback resumes where it stopped.
//
// Built and destroyed on the GUI thread; mix runs on the sound-card thread.
class PreviewPlayer {
public:
    // Interleaved stereo samples the ring holds (2.7 s at 48 kHz).
    static constexpr int kRingSamples = 1 << 18;

    explicit PreviewPlayer(const QString &path);
    ~PreviewPlayer();

    bool isValid() const { return m_total > 0; }
    QString fileName() const { return m_fileName; }
    int channels() const { return m_info.channels; }
    long long frames() const { return m_frames.load(); }
    int sampleRate() const { return m_info.samplerate; }
    // Frames delivered to the mix so far.
    long long framesPlayed() const { return m_framesPlayed.load(); }
    bool isFinished() const;

    // Sound-card thread: no allocation, no file I/O, no lock.
    // Adds the next count / 2 frames of the file (or what is left) into buffer.
    void mix(float *buffer, int count);

    PreviewPlayer(const PreviewPlayer &) = delete;
    PreviewPlayer &operator=(const PreviewPlayer &) = delete;

private:
    // Feeder thread (and the constructor): reads what fits into the ring; false at the end.
    bool fill();
    void feed();

    QString m_fileName;
    SNDFILE *m_file = nullptr;
    SF_INFO m_info{};
    long long m_total = 0;
    // The file's frame count, shortened by the feeder when the data ends early.
    std::atomic<long long> m_frames{0};

    std::unique_ptr<float[]> m_ring;
    std::unique_ptr<float[]> m_readBuffer;
    // Samples written by the feeder and read by the mix, counted from the start.
    std::atomic<long long> m_written{0};
    std::atomic<long long> m_read{0};
    std::atomic<long long> m_framesPlayed{0};
    long long m_framesRead = 0; // feeder side: frames taken from the file
    std::atomic<bool> m_fileDone{false};
    std::atomic<bool> m_stop{false};
    std::thread m_feeder;
};
