// The output device and the enumeration of host APIs and devices, against ALSA's
// file device: what the stream callback pulls lands in out.raw.
#include "tst_device.h"

#include "AlsaRig.h"
#include "AudioDevice.h"
#include "AudioDeviceEnumerator.h"
#include "AudioSource.h"
#include "PerfCounterManager.h"
#include "Settings.h"

#include <QtTest>
#include <atomic>
#include <memory>

namespace {
// A source whose sample i of the interleaved stream is a distinct non-zero value.
class CountingSource : public AudioSource {
public:
    int pull(float *buffer, int count) override
    {
        for (int i = 0; i < count; ++i)
            buffer[i] += value(m_position + i);
        m_position += count;
        m_rateSeen = sampleRate();
        return count;
    }
    int length() override { return 0; }
    static float value(long long i) { return float(i % 4096 + 1) / 8192.0f; }
    std::atomic<long long> m_position{0};
    std::atomic<int> m_rateSeen{0};
};

void clearDeviceSettings()
{
    for (const char *key : {"AudioDeviceAPI", "OutputDevice", "AudioDeviceSampleRate", "AudioDeviceBufferSize"})
        Settings::instance().set(key, QString());
}

QString defaultEntry()
{
    for (const QString &entry : outputDeviceList())
        if (entry.contains(". default ("))
            return entry;
    return QString();
}
} // namespace

void DeviceTest::init() { clearDeviceSettings(); }

void DeviceTest::perfCountersCountAndKeepRanges()
{
    PerfCounterManager &counters = PerfCounterManager::instance();
    counters.increment("DeviceTest counter");
    counters.increment("DeviceTest counter");
    QCOMPARE(counters.value("DeviceTest counter"), 2.0f);
    counters.set("DeviceTest counter", 7.5f);
    QCOMPARE(counters.value("DeviceTest counter"), 7.5f);
    counters.setRange("DeviceTest load", 0.0f, 100.0f);
    QVERIFY(counters.contains("DeviceTest load"));
    QCOMPARE(counters.value("DeviceTest load"), 0.0f);
    QCOMPARE(counters.range("DeviceTest load"), qMakePair(0.0f, 100.0f));
}

void DeviceTest::enumeratorListsTheFileDevice()
{
    AlsaRig rig(AlsaRig::FileDevice);
    AudioDeviceEnumerator enumerator;
    QVERIFY(enumerator.isInitialized());
    QVERIFY(hostApiNames().contains("ALSA"));
    const QStringList list = outputDeviceList();
    QCOMPARE(list.value(0), QString("Windows Default"));
    QVERIFY2(!defaultEntry().isEmpty(), qPrintable(list.join(" | ")));
    QVERIFY(defaultEntry().endsWith("(ALSA)"));
    QCOMPARE(outputDeviceCount(), list.size() - 1);

    // An empty OutputDevice becomes "Windows Default" and means the API's default device.
    const PaDeviceIndex id = outputDeviceId();
    QCOMPARE(Settings::instance().value("OutputDevice"), QString("Windows Default"));
    QCOMPARE(id, Pa_GetHostApiInfo(Pa_GetDefaultHostApi())->defaultOutputDevice);
    QCOMPARE(QString::fromUtf8(Pa_GetDeviceInfo(id)->name), QString("default"));

    // A list entry names its device by the number before the point.
    const QString entry = defaultEntry();
    Settings::instance().set("OutputDevice", entry);
    QCOMPARE(outputDeviceId(), entry.section('.', 0, 0).toInt());
    QCOMPARE(defaultHostApiName(), QString("ALSA"));

    // The plugin libraries PortAudio loaded to ask the configured PCMs about themselves
    // (libasound2-plugins defines several) are unloaded once the lists stand: none has
    // its code mapped any more (a sanitizer may keep a file's headers mapped to read them).
    QFile maps("/proc/self/maps");
    QVERIFY(maps.open(QIODevice::ReadOnly));
    for (const QByteArray &line : maps.readAll().split('\n'))
        QVERIFY2(!(line.contains("libasound_module_pcm_") && line.contains(" r-xp ")), line.constData());
}

void DeviceTest::storedValuesFallBack()
{
    AlsaRig rig(AlsaRig::FileDevice);
    AudioDeviceEnumerator enumerator;
    const PaDeviceIndex dflt = Pa_GetDefaultOutputDevice();
    const int deviceRate = int(Pa_GetDeviceInfo(dflt)->defaultSampleRate);

    // A device that no longer exists falls back to the default output device.
    Settings::instance().set("OutputDevice", "97. Gone (ALSA)");
    QTest::ignoreMessage(QtDebugMsg, "Audio device 97 not found");
    PaStreamParameters params = outputStreamParameters();
    QCOMPARE(params.device, dflt);
    QCOMPARE(params.channelCount, 2);
    QCOMPARE(params.sampleFormat, paFloat32);
    QVERIFY(params.hostApiSpecificStreamInfo == nullptr);

    // Buffer size 0 or empty: 1024 frames; at 44100 Hz that suggests 1024/44100 s.
    Settings::instance().set("AudioDeviceSampleRate", "44100");
    for (const char *size : {"0", ""}) {
        Settings::instance().set("AudioDeviceBufferSize", size);
        QCOMPARE(outputBufferSize(dflt), 1024);
        params = outputStreamParameters();
        QVERIFY(qAbs(params.suggestedLatency - 0.02322) < 1e-5);
    }
    Settings::instance().set("AudioDeviceBufferSize", "256");
    QCOMPARE(outputBufferSize(dflt), 256);

    // Sample rates: too low gives 44100, empty or garbage the device's own rate.
    Settings::instance().set("AudioDeviceSampleRate", "4000");
    QCOMPARE(deviceSampleRate(dflt), 44100);
    Settings::instance().set("AudioDeviceSampleRate", "");
    QCOMPARE(deviceSampleRate(dflt), deviceRate);
    Settings::instance().set("AudioDeviceSampleRate", "fast");
    QCOMPARE(deviceSampleRate(dflt), deviceRate);
    Settings::instance().set("AudioDeviceSampleRate", "48000");
    QCOMPARE(deviceSampleRate(dflt), 48000);

    const QList<int> rates = supportedSampleRates("Windows Default", QString(), -1, false);
    QVERIFY(rates.contains(44100));
    QVERIFY(rates.contains(48000));
    QCOMPARE(supportedSampleRates(QString(), QString(), 4242, false), QList<int>{44100});
}

// A stored host API that PortAudio does not offer (WASAPI here, JACK without a server)
// lists the default API's devices; the setting stays for when the API is back.
void DeviceTest::unknownApiListsTheDefaultApisDevices()
{
    AlsaRig rig(AlsaRig::FileDevice);
    Settings::instance().set("AudioDeviceAPI", "Windows WASAPI");
    Settings::instance().set("OutputDevice", "7. system (Windows WASAPI)");
    AudioDeviceEnumerator enumerator;
    QCOMPARE(missingHostApiName(), QString("Windows WASAPI"));
    QCOMPARE(activeHostApiName(), defaultHostApiName());
    QCOMPARE(outputDeviceList(), deviceList(defaultHostApiName(), AudioOutput, false));
    QVERIFY(outputDeviceCount() > 0);
    // The missing API's device number means nothing now: the default device plays.
    QCOMPARE(outputDeviceId(), Pa_GetDefaultOutputDevice());
    QCOMPARE(getDefaultOutputDevicePaID(QString()), Pa_GetDefaultOutputDevice());
    QCOMPARE(Settings::instance().value("AudioDeviceAPI"), QString("Windows WASAPI"));
    Settings::instance().set("OutputDevice", QString());
}

void DeviceTest::noDeviceAtAll()
{
    AlsaRig rig(AlsaRig::NoDevice);
    AudioDeviceEnumerator enumerator;
    QCOMPARE(outputDeviceList(), QStringList{"Windows Default"});
    QCOMPARE(outputDeviceCount(), 0);
    QTest::ignoreMessage(QtDebugMsg, "Totally failed to find any usable default audio device.");
    const PaStreamParameters params = outputStreamParameters();
    QCOMPARE(params.channelCount, 0);
    QCOMPARE(deviceSampleRate(-1), 44100);
}

void DeviceTest::streamPullsTheSourceIntoTheDevice()
{
    AlsaRig rig(AlsaRig::FileDevice);
    AudioDeviceEnumerator enumerator;
    Settings::instance().set("AudioDeviceSampleRate", "48000");
    const PaStreamParameters params = outputStreamParameters();
    CountingSource source;
    {
        AudioDevice device(&source, nullptr, &params, nullptr, 48000, 512, true);
        QCOMPARE(device.streamHealth(), 1);
        QCOMPARE(device.open(), 0);
        QVERIFY(device.errorText().isEmpty());
        QCOMPARE(device.deviceName(), QString("default"));
        QCOMPARE(device.underflowCounterName(), QString("default Underflows"));
        QCOMPARE(device.overflowCounterName(), QString("default Overflows"));
        QCOMPARE(PerfCounterManager::instance().range("default Callback CPU Usage"), qMakePair(0.0f, 100.0f));
        QCOMPARE(source.sampleRate(), 48000);
        QTRY_VERIFY_WITH_TIMEOUT(device.frameCount() > 48000, 10000);
        QCOMPARE(device.streamHealth(), 0);
        QCOMPARE(device.close(), 0);
        QCOMPARE(device.close(), 0);
        QCOMPARE(device.streamHealth(), 1);
        QCOMPARE(source.m_rateSeen.load(), 48000);
    }
    long long offset = 0;
    const std::vector<float> sound = rig.soundFrom(48000, &offset);
    QVERIFY(offset >= 0);
    QCOMPARE((long long)sound.size(), 96000LL);
    for (size_t i = 0; i < sound.size(); ++i) {
        if (sound[i] != CountingSource::value((long long)i))
            QFAIL(qPrintable(QString("sample %1 is %2").arg(i).arg(sound[i])));
    }
}

void DeviceTest::disabledOutputWritesSilence()
{
    AlsaRig rig(AlsaRig::FileDevice);
    AudioDeviceEnumerator enumerator;
    const PaStreamParameters params = outputStreamParameters();
    CountingSource source;
    AudioDevice device(&source, nullptr, &params, nullptr, 44100, 256, false);
    QCOMPARE(device.open(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(device.frameCount() > 20000, 10000);
    QCOMPARE(device.close(), 0);
    QCOMPARE(source.m_position.load(), 0LL);
    long long offset = 0;
    rig.soundFrom(1, &offset);
    QCOMPARE(offset, -1LL);
    QVERIFY(rig.sampleCount() > 0);
}

void DeviceTest::openFailuresKeepTexts()
{
    AlsaRig rig(AlsaRig::FileDevice);
    AudioDeviceEnumerator enumerator;
    CountingSource source;
    const QString suggestion = "Try changing this audio device in the <a href=\"#preferences\">Preferences</a>.";

    PaStreamParameters bogus = outputStreamParameters();
    bogus.device = 4242;
    AudioDevice invalid(&source, nullptr, &bogus, nullptr, 44100, 0, true);
    QCOMPARE(invalid.open(), 1);
    QCOMPARE(invalid.errorText(), QString("Invalid audio output device."));
    QCOMPARE(invalid.errorSuggestion(), suggestion);
    QCOMPARE(invalid.streamHealth(), 1);

    AudioDevice none(&source, nullptr, nullptr, nullptr, 44100, 0, true);
    QTest::ignoreMessage(QtDebugMsg, "ERROR: NULL input and ouput parameters.");
    QCOMPARE(none.open(), 1);
    QCOMPARE(none.deviceName(), QString("Invalid Audio Device"));

    // A channel count no device has: PortAudio refuses to open the stream.
    PaStreamParameters refused = outputStreamParameters();
    refused.channelCount = 100000;
    AudioDevice failing(&source, nullptr, &refused, nullptr, 44100, 0, true);
    QCOMPARE(failing.open(), 1);
    QCOMPARE(failing.errorText(), QString("Failed to open default."));
    QCOMPARE(failing.errorSuggestion(), suggestion);
    QCOMPARE(failing.close(), 0);

    failing.setError("a", "b");
    QCOMPARE(failing.errorText(), QString("a"));
    QCOMPARE(failing.errorSuggestion(), QString("b"));
}
