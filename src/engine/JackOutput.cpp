#include "JackOutput.h"

#include "AudioSource.h"
#include "EngineLogging.h"

#include <QDebug>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pthread.h>

const char *const JackOutput::kClientName = "Quillory";

namespace {
std::atomic<int> g_quietDepth{0};
pthread_t g_guiThread;
std::atomic<bool> g_handlersInstalled{false};

// Only the process callback writes the maxima, so a plain compare and store suffices.
void raiseTo(std::atomic<long long> &maximum, long long value) {
    if (value > maximum.load(std::memory_order_relaxed))
        maximum.store(value, std::memory_order_relaxed);
}

// JACK's threads call this as well; only the GUI thread may log.
void forwardMessage(const char *message) {
    if (g_quietDepth.load() > 0 || !pthread_equal(pthread_self(), g_guiThread))
        return;
    qCDebug(lcEngine) << "JACK:" << message;
}
} // namespace

void JackOutput::installMessageHandlers() {
    if (g_handlersInstalled.exchange(true))
        return;
    g_guiThread = pthread_self();
    jack_set_error_function(&forwardMessage);
    jack_set_info_function(&forwardMessage);
}

JackOutput::QuietMessages::QuietMessages() {
    installMessageHandlers();
    ++g_quietDepth;
}

JackOutput::QuietMessages::~QuietMessages() {
    --g_quietDepth;
}

bool JackOutput::serverAnswers() {
    jack_client_t *probe;
    {
        QuietMessages quiet;
        jack_status_t status{};
        probe = jack_client_open("Quillory-probe", JackNoStartServer, &status);
    }
    if (probe)
        jack_client_close(probe);
    return probe != nullptr;
}

JackOutput::JackOutput(AudioSource *source)
    : m_source(source), m_interleaved(new float[2 * kPieceFrames]()) {}

JackOutput::~JackOutput() {
    close();
}

bool JackOutput::open() {
    if (m_client)
        return true;
    {
        QuietMessages quiet;
        jack_status_t status{};
        m_client = jack_client_open(kClientName, JackNoStartServer, &status);
    }
    if (!m_client)
        return false;
    m_clientName = QString::fromUtf8(jack_get_client_name(m_client));
    m_serverGone.store(false);
    m_sampleRate.store(int(jack_get_sample_rate(m_client)));
    m_bufferFrames.store(int(jack_get_buffer_size(m_client)));

    m_ports[0] = jack_port_register(m_client, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    m_ports[1] = jack_port_register(m_client, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
    if (!m_ports[0] || !m_ports[1]) {
        qCDebug(lcEngine) << "JACK refused the output ports of" << m_clientName;
        close();
        return false;
    }
    jack_on_info_shutdown(m_client, &JackOutput::shutdownCallback, this);
    jack_set_sample_rate_callback(m_client, &JackOutput::sampleRateCallback, this);
    jack_set_buffer_size_callback(m_client, &JackOutput::bufferSizeCallback, this);
    jack_set_process_callback(m_client, &JackOutput::processCallback, this);
    jack_set_xrun_callback(m_client, &JackOutput::xrunCallback, this);
    qCDebug(lcEngine) << "JACK client" << m_clientName << "at" << m_sampleRate.load() << "Hz," << m_bufferFrames.load()
             << "frames per period";
    return true;
}

bool JackOutput::start() {
    if (!m_client)
        return false;
    m_frameCount.store(0);
    m_xrunCount.store(0);
    m_longestProcessMicros.store(0);
    m_latestStartMicros.store(0);
    if (jack_activate(m_client) != 0) {
        qCDebug(lcEngine) << "JACK did not activate" << m_clientName;
        close();
        return false;
    }
    connectToPlayback();
    return true;
}

void JackOutput::connectToPlayback() {
    // A server without physical outputs (a network or dummy setup without playback
    // ports) leaves the routing to the user's patchbay.
    const char **playback =
        jack_get_ports(m_client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (!playback)
        return;
    int count = 0;
    while (playback[count])
        ++count;
    for (int side = 0; side < 2 && count > 0; ++side) {
        // One playback port takes both sides.
        const char *target = playback[std::min(side, count - 1)];
        const int err = jack_connect(m_client, jack_port_name(m_ports[side]), target);
        if (err != 0 && err != EEXIST)
            qCDebug(lcEngine) << "JACK could not connect" << jack_port_name(m_ports[side]) << "to" << target;
    }
    jack_free(playback);
}

void JackOutput::close() {
    if (!m_client)
        return;
    // Closing deactivates first and waits for a running cycle to end; with the server gone
    // libjack only releases what it holds.
    jack_client_close(m_client);
    m_client = nullptr;
    m_ports[0] = m_ports[1] = nullptr;
    m_clientName.clear();
}

// JACK real-time thread: no allocation, no file I/O, no blocking lock, no logging.
int JackOutput::processCallback(jack_nframes_t frames, void *arg) {
    static_cast<JackOutput *>(arg)->process(frames);
    return 0;
}

// JACK real-time thread: no allocation, no file I/O, no blocking lock, no logging.
void JackOutput::process(jack_nframes_t frames) {
    const jack_time_t began = jack_get_time();
    jack_nframes_t periodFrame = 0;
    jack_time_t periodStart = 0;
    jack_time_t nextPeriodStart = 0;
    float periodMicros = 0.0f;
    if (jack_get_cycle_times(m_client, &periodFrame, &periodStart, &nextPeriodStart, &periodMicros) == 0 &&
        began > periodStart)
        raiseTo(m_latestStartMicros, (long long)(began - periodStart));
    auto *left = static_cast<float *>(jack_port_get_buffer(m_ports[0], frames));
    auto *right = static_cast<float *>(jack_port_get_buffer(m_ports[1], frames));
    float *interleaved = m_interleaved.get();
    for (jack_nframes_t done = 0; done < frames;) {
        const int n = int(std::min<jack_nframes_t>(kPieceFrames, frames - done));
        std::memset(interleaved, 0, sizeof(float) * 2 * size_t(n));
        if (m_source)
            m_source->pull(interleaved, 2 * n);
        for (int i = 0; i < n; ++i) {
            left[done + i] = interleaved[2 * i];
            right[done + i] = interleaved[2 * i + 1];
        }
        done += jack_nframes_t(n);
    }
    m_frameCount.fetch_add(frames);
    raiseTo(m_longestProcessMicros, (long long)(jack_get_time() - began));
}

// JACK thread: stores an atomic only (it runs like a signal handler).
void JackOutput::shutdownCallback(jack_status_t, const char *, void *arg) {
    static_cast<JackOutput *>(arg)->m_serverGone.store(true);
}

// JACK thread: stores an atomic only.
int JackOutput::sampleRateCallback(jack_nframes_t rate, void *arg) {
    static_cast<JackOutput *>(arg)->m_sampleRate.store(int(rate));
    return 0;
}

// JACK thread: stores an atomic only.
int JackOutput::bufferSizeCallback(jack_nframes_t frames, void *arg) {
    static_cast<JackOutput *>(arg)->m_bufferFrames.store(int(frames));
    return 0;
}

int JackOutput::xrunCallback(void *arg) {
    static_cast<JackOutput *>(arg)->m_xrunCount.fetch_add(1);
    return 0;
}
