// The engine against a real JACK server (jackd's dummy backend, started and killed here):
// a server that starts after the engine is picked up; the engine plays through JACK at the
// server's rate under its own client name, and when the server goes away it moves to
// ALSA's default device and quits cleanly. A program of its own: once the server is gone
// PortAudio stays initialised for the rest of the process, so that case runs last.
#include "AudioDevice.h"
#include "AudioDeviceEnumerator.h"
#include "PortAudioJack.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <jack/jack.h>

namespace {
// True when the named client is registered with the running server.
bool serverKnowsClient(const char *name)
{
    jack_status_t status{};
    jack_client_t *probe = jack_client_open("quillory-test-probe", JackNoStartServer, &status);
    if (!probe)
        return false;
    char *uuid = jack_get_uuid_for_client_name(probe, name);
    const bool known = uuid != nullptr;
    jack_free(uuid);
    jack_client_close(probe);
    return known;
}

bool serverAnswers()
{
    jack_status_t status{};
    jack_client_t *probe = jack_client_open("quillory-test-probe", JackNoStartServer, &status);
    if (probe)
        jack_client_close(probe);
    return probe != nullptr;
}

// One fixed name: the server is killed below, and JACK frees a dead server's slot in its
// shared registry only when a server of the same name registers again. A name per run
// would leak a slot each time until no server can start on this machine.
const QByteArray kServerName = "quillory-test";

bool startServer(QProcess &server)
{
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start("jackd", {"-n", kServerName, "-d", "dummy", "-r", "32000", "-p", "256"});
    if (!server.waitForStarted())
        return false;
    return QTest::qWaitFor(serverAnswers, 15000);
}

void useJack()
{
    Settings &settings = Settings::instance();
    settings.set("AudioDeviceAPI", "JACK Audio Connection Kit");
    settings.set("OutputDevice", QString());
    settings.set("AudioDeviceBufferSize", QString());
    settings.set("AudioDeviceSampleRate", "48000");
    settings.set("MidiDevice", "None");
}
} // namespace

class JackTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
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

    // JACK chosen, but its server starts only after Quillory: PortAudio is started again
    // (Preferences does this when it opens; the periodic device check when JACK is the
    // stored choice), JACK is listed and the sound moves to it. Quitting afterwards shuts
    // PortAudio down through a live JACK client.
    void serverStartedLaterIsPickedUp()
    {
        useJack();
        QProcess server;
        {
            SliceEngine engine;
            QVERIFY(!cachedHostApiNames().contains(PortAudioJack::kHostApiName));
            AudioDevice *alsa = engine.outputDevice();
            QVERIFY2(alsa && alsa->isOpen(), qPrintable(engine.audioDeviceError()));
            QCOMPARE(alsa->sampleRate(), 48000);
            QVERIFY(!engine.refreshAudioSystems()); // nothing new to list

            QVERIFY2(startServer(server), "jackd (package jackd2) does not start");
            QVERIFY(engine.checkAudioDeviceHealth());
            QVERIFY(cachedHostApiNames().contains(PortAudioJack::kHostApiName));
            AudioDevice *jack = engine.outputDevice();
            QVERIFY2(jack && jack->isOpen(), qPrintable(engine.audioDeviceError()));
            QCOMPARE(jack->sampleRate(), 32000);
            QTRY_VERIFY(jack->frameCount() > 0);
            QVERIFY(serverKnowsClient(PortAudioJack::kClientName));
            QVERIFY(!engine.refreshAudioSystems()); // listed already: the stream stays
            QCOMPARE(engine.outputDevice(), jack);
        }
        QVERIFY(!serverKnowsClient(PortAudioJack::kClientName));
        server.terminate();
        QVERIFY(server.waitForFinished(15000));
    }

    void playsThroughJackAndOutlivesTheServer()
    {
        QProcess server;
        QVERIFY2(startServer(server), "jackd (package jackd2) does not start");
        useJack();
        Settings &settings = Settings::instance();
        {
            SliceEngine engine;
            AudioDevice *jack = engine.outputDevice();
            QVERIFY2(jack && jack->isOpen(), qPrintable(engine.audioDeviceError()));
            QCOMPARE(jack->sampleRate(), 32000); // the server's, not the stored preference
            QTRY_VERIFY(jack->frameCount() > 0);
            QVERIFY(serverKnowsClient(PortAudioJack::kClientName));
            QVERIFY(!PortAudioJack::clientLost());

            server.kill();
            QVERIFY(server.waitForFinished());
            // The periodic health check notices the dead stream and opens ALSA instead,
            // without waiting on the stream JACK took with it.
            bool reopened = false;
            QTRY_VERIFY_WITH_TIMEOUT(reopened || (reopened = engine.checkAudioDeviceHealth()), 15000);
            QVERIFY(PortAudioJack::clientLost());
            AudioDevice *alsa = engine.outputDevice();
            QVERIFY2(alsa && alsa->isOpen(), qPrintable(engine.audioDeviceError()));
            QCOMPARE(alsa->sampleRate(), 48000);
            const long long before = alsa->frameCount();
            QTRY_VERIFY(alsa->frameCount() > before);
        }
        // Quitting went through PortAudio's shutdown without the dead client aborting it.
        QCOMPARE(settings.value("AudioDeviceAPI"), QString("JACK Audio Connection Kit"));
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    Settings::resetForTests();
    JackTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_jack.moc"
