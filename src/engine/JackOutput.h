#pragma once

#include <QString>
#include <atomic>
#include <jack/jack.h>
#include <memory>

class AudioSource;

// A stereo output client of a JACK server (or PipeWire's JACK), played through libjack
// directly rather than PortAudio's JACK host: a client of our own can be closed after
// its server died and opened again when a server comes back, which PortAudio's cannot.
// The process callback pulls interleaved stereo from the source, the way the PortAudio
// stream callback does, and spreads it over the two output ports.
//
// Threads: open, start, close and the accessors run on the GUI thread. The process
// callback runs on JACK's real-time thread and touches only the ports, the scratch buffer
// and the atomics; the shutdown, sample-rate and buffer-size callbacks run on JACK's
// threads and only store atomics. Nothing is freed before close has returned, after which
// JACK calls none of them.
class JackOutput {
public:
    // The client name other JACK programs see (JACK appends a number when it is taken).
    static const char *const kClientName;
    // Frames pulled from the source per piece; longer periods are rendered in pieces.
    static constexpr int kPieceFrames = 4096;

    explicit JackOutput(AudioSource *source);
    ~JackOutput();

    // Becomes a client of the running server, never starting one; false (quietly) when no
    // server answers. The ports are registered, the callbacks set, nothing runs yet.
    bool open();
    // Activates the client and connects its ports to the system's playback ports, when
    // there are any. False when the server refuses; the client is then closed.
    bool start();
    // Deactivates and closes the client; safe after the server went away, and twice.
    void close();

    bool isOpen() const { return m_client != nullptr; }
    // True once the server told the client it is going away (or threw it out).
    bool isServerGone() const { return m_serverGone.load(); }
    // The server's rate and period, as last reported by the server.
    int sampleRate() const { return m_sampleRate.load(); }
    int bufferFrames() const { return m_bufferFrames.load(); }
    // Frames handed to JACK since start.
    long long frameCount() const { return m_frameCount.load(); }
    // Periods the server reported late (any client's, ours included) since start.
    long long xrunCount() const { return m_xrunCount.load(); }
    // Since start, in microseconds: the longest one process call took (the mix's own
    // work, and any wait inside it), and the latest one began after its period started
    // (how long JACK's thread waited for a processor). Which one nears the period tells
    // a slow mix from a starved thread.
    long long longestProcessMicros() const { return m_longestProcessMicros.load(); }
    long long latestStartMicros() const { return m_latestStartMicros.load(); }
    // The name the server gave this client; empty while closed.
    QString clientName() const { return m_clientName; }

    // True when a JACK server answers now: a short-lived client, quiet when none does.
    static bool serverAnswers();
    // Routes libjack's error and information messages to the log, from the GUI thread
    // only (JACK's threads may not log). Called before any other JACK call.
    static void installMessageHandlers();
    // While one exists, libjack's messages are dropped: a failed attempt to connect says
    // the same five lines each time, and it repeats while Quillory watches for a server.
    class QuietMessages {
    public:
        QuietMessages();
        ~QuietMessages();
        QuietMessages(const QuietMessages &) = delete;
        QuietMessages &operator=(const QuietMessages &) = delete;
    };

    JackOutput(const JackOutput &) = delete;
    JackOutput &operator=(const JackOutput &) = delete;

private:
    // JACK real-time thread: no allocation, no file I/O, no blocking lock, no logging.
    static int processCallback(jack_nframes_t frames, void *arg);
    // JACK thread: stores an atomic only (it runs like a signal handler).
    static void shutdownCallback(jack_status_t code, const char *reason, void *arg);
    // JACK thread: stores an atomic only.
    static int sampleRateCallback(jack_nframes_t rate, void *arg);
    // JACK thread: stores an atomic only.
    static int bufferSizeCallback(jack_nframes_t frames, void *arg);
    // JACK thread: stores an atomic only.
    static int xrunCallback(void *arg);
    // JACK real-time thread: no allocation, no file I/O, no blocking lock, no logging.
    void process(jack_nframes_t frames);

    void connectToPlayback();

    // Fixed while the client runs.
    AudioSource *m_source;
    jack_client_t *m_client = nullptr;
    jack_port_t *m_ports[2] = {nullptr, nullptr};
    std::unique_ptr<float[]> m_interleaved;
    QString m_clientName;

    // Shared with JACK's threads.
    std::atomic<bool> m_serverGone{false};
    std::atomic<int> m_sampleRate{0};
    std::atomic<int> m_bufferFrames{0};
    std::atomic<long long> m_frameCount{0};
    std::atomic<long long> m_xrunCount{0};
    std::atomic<long long> m_longestProcessMicros{0};
    std::atomic<long long> m_latestStartMicros{0};
};
