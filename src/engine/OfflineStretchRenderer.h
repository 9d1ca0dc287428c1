#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

// Renders a time-stretched and pitch-shifted copy of a stretch of audio into a
// temporary WAV file with Rubber Band's offline mode and its finer engine, at the
// audio's own sample rate. Offline mode studies the whole input before
// stretching, so the output has exactly the requested length; the finer engine
// keeps steady tones steady where the real-time preview's engine lets them wobble.
// That engine finds transients by itself: of the dialog's options it follows the
// formant and stereo choices.
//
// The render reads its input through a callback, so the loop stays untouched:
// a cancelled or failed render leaves nothing behind but the loop as it was.
class OfflineStretchRenderer : public QObject {
    Q_OBJECT
public:
    // Copies `count` interleaved stereo samples starting at the interleaved
    // position `start` into dst (overwriting) and returns how many it delivered;
    // the rest of the block is taken as silence. Called on the render thread.
    using SampleReader = std::function<int(float *dst, int start, int count)>;

    struct Job {
        SampleReader reader;
        int start = 0;           // interleaved stereo samples, inclusive
        int end = 0;             // interleaved stereo samples, exclusive
        int sampleRate = 44100;  // the input's rate, kept for the output
        double timeRatio = 1.0;  // stretched length over original length
        int pitchSemitones = 0;
        int options = 0;         // the dialog's six Rubber Band option words OR-ed together
        QString outputDir;       // empty: the system's temporary folder
        QString baseName;        // readable part of the file name
    };

    enum class Outcome { Finished, Cancelled, Failed };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString filePath;  // the written file (Finished only)
        QString error;     // why it failed (Failed only)
        qint64 framesWritten = 0;
    };

    // Any thread; blocks until done. cancelRequested is polled between blocks;
    // progress receives fractions from 0 to 1.
    static Result render(const Job &job, const std::function<bool()> &cancelRequested,
                         const std::function<void(float)> &progress);

    // The same render into memory: samples receives the interleaved stereo output (and
    // is left empty unless the render finished). outputDir and baseName are not used.
    static Result renderToMemory(const Job &job, const std::function<bool()> &cancelRequested,
                                 std::vector<float> &samples);

    // The dialog's choices plus offline processing, the finer engine and the
    // better pitch shifter.
    static int offlineOptions(int dialogOptions);

    explicit OfflineStretchRenderer(QObject *parent = nullptr);
    // Cancels a running render and waits for its thread.
    ~OfflineStretchRenderer() override;

    OfflineStretchRenderer(const OfflineStretchRenderer &) = delete;
    OfflineStretchRenderer &operator=(const OfflineStretchRenderer &) = delete;

    // Starts the render on a thread of its own. externalCancel (for instance
    // the loop's cancel request) is polled together with cancel(). Returns
    // false while another render is running.
    bool start(const Job &job, std::function<bool()> externalCancel = {});
    void cancel();
    bool isRunning() const { return m_running.load(); }
    // Blocks until the render thread has ended (its signals may still be queued).
    void wait();

signals:
    // All four are emitted on the render thread; connect them queued (the default
    // across threads).
    void progressChanged(float fraction);
    void finished(QString filePath);
    void cancelled();
    void failed(QString message);

private:
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_running{false};
};
