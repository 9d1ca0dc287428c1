// The engine against a real JACK server (jackd's dummy backend, started and killed here).
// With JACK chosen the engine plays through a JACK client of its own, named Quillory, at
// the server's rate, its ports connected to the system's playback ports; without a server
// it plays through ALSA's default device and moves to JACK as soon as a server answers,
// also after the server was killed and started again at another rate; and it quits
// cleanly whether the server is up, gone or back. A program of its own, since it needs
// jackd.
#include "AudioDevice.h"
#include "AudioDeviceEnumerator.h"
#include "JackOutput.h"
#include "PortAudioJack.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <jack/jack.h>
#include <portaudio.h>
#include <sndfile.h>

namespace {
constexpr int kTimeoutMs = 20000;

jack_client_t *openProbe() {
    JackOutput::QuietMessages quiet; // a server not (yet) running is expected here
    jack_status_t status{};
    return jack_client_open("quillory-test-probe", JackNoStartServer, &status);
}

// True when the named client is registered with the running server.
bool serverKnowsClient(const char *name) {
    jack_client_t *probe = openProbe();
    if (!probe)
        return false;
    char *uuid = jack_get_uuid_for_client_name(probe, name);
    const bool known = uuid != nullptr;
    jack_free(uuid);
    jack_client_close(probe);
    return known;
}

// The ports the named port is connected to.
QStringList connectionsOf(const char *port) {
    QStringList result;
    jack_client_t *probe = openProbe();
    if (!probe)
        return result;
    if (jack_port_t *p = jack_port_by_name(probe, port)) {
        if (const char **names = jack_port_get_all_connections(probe, p)) {
            for (int i = 0; names[i]; ++i)
                result << QString::fromUtf8(names[i]);
            jack_free(names);
        }
    }
    jack_client_close(probe);
    return result;
}

bool serverAnswers() {
    jack_client_t *probe = openProbe();
    if (probe)
        jack_client_close(probe);
    return probe != nullptr;
}

// One fixed name: the server is killed below, and JACK frees a dead server's slot in its
// shared registry only when a server of the same name registers again. A name per run
// would leak a slot each time until no server can start on this machine.
const QByteArray kServerName = "quillory-test";

bool startServer(QProcess &server, int rate) {
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start("jackd", {"-n", kServerName, "-d", "dummy", "-r", QString::number(rate), "-p", "256"});
    if (!server.waitForStarted())
        return false;
    return QTest::qWaitFor(serverAnswers, kTimeoutMs);
}

void useJack() {
    Settings &settings = Settings::instance();
    settings.set("AudioDeviceAPI", PortAudioJack::kHostApiName);
    settings.set("OutputDevice", QString());
    settings.set("AudioDeviceBufferSize", QString());
    settings.set("AudioDeviceSampleRate", "48000");
    settings.set("MidiDevice", "None");
}

// A second JACK client whose inputs are connected to Quillory's outputs; it counts the
// frames that hold the preview file's values on the expected sides.
class Listener {
public:
    static constexpr float kLeft = 0.25f;
    static constexpr float kRight = -0.5f;

    bool open() {
        JackOutput::QuietMessages quiet;
        jack_status_t status{};
        m_client = jack_client_open("quillory-test-listener", JackNoStartServer, &status);
        if (!m_client)
            return false;
        m_in[0] = jack_port_register(m_client, "in_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_in[1] = jack_port_register(m_client, "in_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(m_client, &Listener::process, this);
        return m_in[0] && m_in[1] && jack_activate(m_client) == 0 &&
               jack_connect(m_client, "Quillory:out_left", "quillory-test-listener:in_left") == 0 &&
               jack_connect(m_client, "Quillory:out_right", "quillory-test-listener:in_right") == 0;
    }
    ~Listener() {
        if (m_client)
            jack_client_close(m_client);
    }
    long long matching() const { return m_matching.load(); }
    long long swapped() const { return m_swapped.load(); }

private:
    // JACK real-time thread: counts only.
    static int process(jack_nframes_t frames, void *arg) {
        auto *self = static_cast<Listener *>(arg);
        const auto *left = static_cast<const float *>(jack_port_get_buffer(self->m_in[0], frames));
        const auto *right = static_cast<const float *>(jack_port_get_buffer(self->m_in[1], frames));
        for (jack_nframes_t i = 0; i < frames; ++i) {
            if (left[i] == kLeft && right[i] == kRight)
                self->m_matching.fetch_add(1);
            else if (left[i] == kRight && right[i] == kLeft)
                self->m_swapped.fetch_add(1);
        }
        return 0;
    }

    jack_client_t *m_client = nullptr;
    jack_port_t *m_in[2] = {nullptr, nullptr};
    std::atomic<long long> m_matching{0};
    std::atomic<long long> m_swapped{0};
};

// A stereo file whose every frame is (Listener::kLeft, Listener::kRight).
QString writeTwoLevelFile(const QString &path, int frames) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return QString();
    QVector<float> samples;
    for (int i = 0; i < frames; ++i)
        samples << Listener::kLeft << Listener::kRight;
    sf_writef_float(file, samples.constData(), frames);
    sf_close(file);
    return path;
}

// The engine plays through its own JACK client at the server's rate, into the system's
// playback ports.
void verifyPlayingThroughJack(SliceEngine &engine, int serverRate) {
    JackOutput *jack = engine.jackOutput();
    QVERIFY(jack);
    QVERIFY(!engine.outputDevice());
    QVERIFY(!engine.hasAudioDeviceError());
    QCOMPARE(jack->clientName(), QString("Quillory"));
    QCOMPARE(jack->sampleRate(), serverRate);
    QCOMPARE(engine.sampleRate(), serverRate);
    QTRY_VERIFY_WITH_TIMEOUT(jack->frameCount() > 4 * 256, kTimeoutMs);
    QVERIFY(serverKnowsClient("Quillory"));
    QCOMPARE(connectionsOf("Quillory:out_left"), QStringList{"system:playback_1"});
    QCOMPARE(connectionsOf("Quillory:out_right"), QStringList{"system:playback_2"});
}

// The engine plays through ALSA's default device at the stored rate.
void verifyPlayingThroughAlsa(SliceEngine &engine) {
    QVERIFY(!engine.jackOutput());
    AudioDevice *alsa = engine.outputDevice();
    QVERIFY2(alsa && alsa->isOpen(), qPrintable(engine.audioDeviceError()));
    QCOMPARE(alsa->sampleRate(), 48000);
    QCOMPARE(engine.sampleRate(), 48000);
    const long long before = alsa->frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(alsa->frameCount() > before, kTimeoutMs);
}
} // namespace

class JackTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase() {
        // ALSA's default device, the fallback, consumes whatever it gets.
        QVERIFY(m_home.isValid());
        QFile rc(m_home.filePath(".asoundrc"));
        QVERIFY(rc.open(QIODevice::WriteOnly));
        rc.write("pcm.!default { type null }\n");
        rc.close();
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("JACK_DEFAULT_SERVER", kServerName);
        QVERIFY2(!serverAnswers(), "a JACK server named quillory-test runs already");
    }

    // JACK chosen, but its server starts only after Quillory: ALSA plays meanwhile, JACK
    // stays offered, and the sound moves to JACK by itself once the server answers.
    // Quitting then leaves the server without the client.
    void serverStartedLaterIsPickedUp() {
        useJack();
        QProcess server;
        {
            SliceEngine engine;
            verifyPlayingThroughAlsa(engine);
            QCOMPARE(hostApiNames().count(PortAudioJack::kHostApiName), 1);
            QVERIFY(!engine.refreshAudioSystems()); // no server yet

            QVERIFY2(startServer(server, 32000), "jackd (package jackd2) does not start");
            QTRY_VERIFY_WITH_TIMEOUT(engine.jackOutput(), kTimeoutMs);
            verifyPlayingThroughJack(engine, 32000);
            // PortAudio kept off the server: the only JACK entry is the engine's own.
            QCOMPARE(hostApiNames().count(PortAudioJack::kHostApiName), 1);
            QVERIFY(!serverKnowsClient("Quillory-PortAudio"));
            JackOutput *jack = engine.jackOutput();
            QVERIFY(!engine.refreshAudioSystems());
            QVERIFY(!engine.checkAudioDeviceHealth());
            QCOMPARE(engine.jackOutput(), jack);
        }
        QVERIFY(serverAnswers());
        QVERIFY(!serverKnowsClient("Quillory"));
        server.terminate();
        QVERIFY(server.waitForFinished(kTimeoutMs));
    }

    // The server is killed while Quillory plays through it: ALSA takes over; the server
    // starts again at another rate: JACK takes over again at that rate. Quitting is clean.
    void followsTheServerThroughARestart() {
        useJack();
        QProcess server;
        QVERIFY2(startServer(server, 32000), "jackd (package jackd2) does not start");
        {
            SliceEngine engine;
            verifyPlayingThroughJack(engine, 32000);
            // PortAudio started while the server ran, yet stayed off it.
            QVERIFY(Pa_HostApiTypeIdToHostApiIndex(paJACK) < 0);
            QSignalSpy notices(&engine, &SliceEngine::hostApiFallback);

            server.kill();
            QVERIFY(server.waitForFinished(kTimeoutMs));
            QTRY_VERIFY_WITH_TIMEOUT(engine.outputDevice(), kTimeoutMs);
            verifyPlayingThroughAlsa(engine);
            QCOMPARE(notices.count(), 1);
            QVERIFY(notices.first().first().toString().contains(PortAudioJack::kHostApiName));
            QVERIFY(engine.hostApiFallbackNotice().contains(PortAudioJack::kHostApiName));

            QVERIFY2(startServer(server, 44100), "jackd does not start again");
            QTRY_VERIFY_WITH_TIMEOUT(engine.jackOutput(), kTimeoutMs);
            verifyPlayingThroughJack(engine, 44100);
            QVERIFY(engine.hostApiFallbackNotice().isEmpty());

            // What the engine mixes reaches the ports, left on the left, right on the right.
            Listener listener;
            QVERIFY(listener.open());
            const QString file = writeTwoLevelFile(m_home.filePath("two-levels.wav"), 44100);
            QVERIFY(!file.isEmpty());
            engine.setPreviewFile(file);
            QTRY_VERIFY_WITH_TIMEOUT(listener.matching() >= 4096, kTimeoutMs);
            QCOMPARE(listener.swapped(), 0LL);
        }
        QVERIFY(!serverKnowsClient("Quillory"));
        // The stored choice survives the time on ALSA.
        QCOMPARE(Settings::instance().value("AudioDeviceAPI"), QString(PortAudioJack::kHostApiName));
        server.terminate();
        QVERIFY(server.waitForFinished(kTimeoutMs));
    }

    // Quitting right after the server died, before the engine moved away from it (the
    // event loop does not run here, so the watch does not act), closes the dead client
    // without hanging; PortAudio then shuts down and starts again as usual.
    void quitsWhileTheServerIsGone() {
        useJack();
        QProcess server;
        QVERIFY2(startServer(server, 32000), "jackd (package jackd2) does not start");
        {
            SliceEngine engine;
            verifyPlayingThroughJack(engine, 32000);
            JackOutput *jack = engine.jackOutput();
            server.kill();
            QVERIFY(server.waitForFinished(kTimeoutMs));
            QElapsedTimer waited;
            waited.start();
            while (!jack->isServerGone() && waited.elapsed() < kTimeoutMs)
                QThread::msleep(20);
            QVERIFY(jack->isServerGone());
            QCOMPARE(engine.jackOutput(), jack);
        }
        {
            SliceEngine engine;
            verifyPlayingThroughAlsa(engine);
        }
    }
};

int main(int argc, char **argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    Settings::resetForTests();
    JackTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jack.moc"
