#include "PreferencesDialogTest.h"

#include "AudioDevice.h"
#include "AudioDeviceEnumerator.h"
#include "DialogTestUtil.h"
#include "MidiInput.h"
#include "PreferencesUI.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>
#include <memory>

namespace {

const QStringList kKeys = {"OutputDevice",       "AudioDeviceSampleRate", "AudioDeviceBufferSize",
                           "WaveExportBitDepth", "WaveExportSampleRate",  "AudioDeviceAPI",
                           "MidiDevice",         "MidiDeviceBaseNote"};

QComboBox *combo(QWidget *w, const char *name) { return w->findChild<QComboBox *>(QString::fromLatin1(name)); }
QSpinBox *spin(QWidget *w, const char *name) { return w->findChild<QSpinBox *>(QString::fromLatin1(name)); }
QPushButton *button(QWidget *w, QDialogButtonBox::StandardButton which)
{
    return w->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(which);
}

QStringList items(QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// A device list as the dialog shows it.
QStringList shown(QStringList devices)
{
    for (QString &d : devices)
        d = PreferencesUI::shownDeviceName(d);
    return devices;
}

QMap<QString, QString> storedValues()
{
    QMap<QString, QString> values;
    for (const QString &k : kKeys)
        values[k] = Settings::instance().value(k);
    return values;
}

} // namespace

PreferencesDialogTest::PreferencesDialogTest() = default;
PreferencesDialogTest::~PreferencesDialogTest() = default;

void PreferencesDialogTest::initTestCase() { m_portAudio = std::make_unique<AudioDeviceEnumerator>(); }

void PreferencesDialogTest::cleanupTestCase() {
    m_portAudio.reset();
    waitForWorkers();
}

void PreferencesDialogTest::init()
{
    for (const QString &k : kKeys)
        Settings::instance().set(k, QString());
}

void PreferencesDialogTest::formAndLists()
{
    PreferencesUI dlg(nullptr, nullptr);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    DialogTestUtil::saveScreenshot(&dlg, "preferences");
    QCOMPARE(dlg.windowTitle(), QString("Preferences"));
    QCOMPARE(items(combo(&dlg, "comboBoxExportBitDepth")), (QStringList{"8 bit", "16 bit", "24 bit", "32 bit"}));
    QCOMPARE(items(combo(&dlg, "comboBoxExportSampleRate")),
             (QStringList{"Original", "22500", "44100", "48000", "96000", "192000"}));
    QCOMPARE(items(combo(&dlg, "comboBoxMidiDevice")), midiDeviceList() + QStringList{"None"});
    QCOMPARE(items(combo(&dlg, "comboBoxAudioApi")), hostApiNames());
    QCOMPARE(items(combo(&dlg, "comboBoxAudioDevice")),
             shown(deviceList(combo(&dlg, "comboBoxAudioApi")->currentText(), AudioOutput, false)));
    QCOMPARE(combo(&dlg, "comboBoxSampleRate")->itemText(0), QString("Device Default (Recommended)"));
    for (int i = 1; i < combo(&dlg, "comboBoxSampleRate")->count(); ++i)
        QVERIFY(combo(&dlg, "comboBoxSampleRate")->itemText(i).toInt() >= 8000);
    QCOMPARE(spin(&dlg, "spinBoxBufferSize")->minimum(), 32);
    QCOMPARE(spin(&dlg, "spinBoxBufferSize")->maximum(), 4096);
    QCOMPARE(spin(&dlg, "spinBoxMidiBaseNote")->maximum(), 127);
}

void PreferencesDialogTest::vanishedDeviceAndBadValuesFallBack()
{
    Settings &s = Settings::instance();
    s.set("AudioDeviceAPI", "ASIO");
    s.set("OutputDevice", "7. Vanished USB Interface (ALSA)");
    s.set("AudioDeviceSampleRate", "12345");
    s.set("AudioDeviceBufferSize", "0");
    s.set("MidiDevice", "3. Unplugged Keyboard");
    s.set("MidiDeviceBaseNote", "abc");
    s.set("WaveExportBitDepth", "12 bit");
    s.set("WaveExportSampleRate", "22050");
    PreferencesUI dlg(nullptr, nullptr);

    QCOMPARE(combo(&dlg, "comboBoxAudioApi")->currentText(), defaultHostApiName());
    // The default device reads "System Default" here; the stored value stays as old
    // settings files have it.
    QCOMPARE(combo(&dlg, "comboBoxAudioDevice")->currentIndex(), 0);
    QCOMPARE(combo(&dlg, "comboBoxAudioDevice")->currentText(), QString("System Default"));
    QCOMPARE(combo(&dlg, "comboBoxAudioDevice")->currentData().toString(), QString("Windows Default"));
    QCOMPARE(combo(&dlg, "comboBoxSampleRate")->currentText(), QString("Device Default (Recommended)"));
    QCOMPARE(spin(&dlg, "spinBoxBufferSize")->value(),
             defaultBufferSize(combo(&dlg, "comboBoxAudioApi")->currentIndex()));
    QCOMPARE(combo(&dlg, "comboBoxMidiDevice")->currentIndex(), 0);
    QCOMPARE(spin(&dlg, "spinBoxMidiBaseNote")->value(), 36);
    QCOMPARE(combo(&dlg, "comboBoxExportBitDepth")->currentText(), QString("16 bit"));
    QCOMPARE(combo(&dlg, "comboBoxExportSampleRate")->currentText(), QString("Original"));

    // A buffer size that is not a number falls back the same way.
    s.set("AudioDeviceBufferSize", "lots");
    PreferencesUI again(nullptr, nullptr);
    QCOMPARE(spin(&again, "spinBoxBufferSize")->value(),
             defaultBufferSize(combo(&again, "comboBoxAudioApi")->currentIndex()));
    // Opening the dialog alone stores nothing.
    QCOMPARE(s.value("AudioDeviceBufferSize"), QString("lots"));
}

void PreferencesDialogTest::storedValuesAreSelected()
{
    const QString api = defaultHostApiName();
    const QStringList devices = deviceList(api, AudioOutput, false);
    QVERIFY(!devices.isEmpty());
    Settings &s = Settings::instance();
    s.set("AudioDeviceAPI", api);
    s.set("OutputDevice", devices.last());
    s.set("AudioDeviceBufferSize", "256");
    s.set("MidiDevice", "None");
    s.set("MidiDeviceBaseNote", "60");
    s.set("WaveExportBitDepth", "24 bit");
    s.set("WaveExportSampleRate", "96000");
    PreferencesUI dlg(nullptr, nullptr);
    QCOMPARE(combo(&dlg, "comboBoxAudioDevice")->currentData().toString(), devices.last());
    QCOMPARE(spin(&dlg, "spinBoxBufferSize")->value(), 256);
    QCOMPARE(combo(&dlg, "comboBoxMidiDevice")->currentText(), QString("None"));
    QCOMPARE(spin(&dlg, "spinBoxMidiBaseNote")->value(), 60);
    QCOMPARE(combo(&dlg, "comboBoxExportBitDepth")->currentText(), QString("24 bit"));
    QCOMPARE(combo(&dlg, "comboBoxExportSampleRate")->currentText(), QString("96000"));

    // A matching rate is selected; matching is exact, so "44100.0" is not "44100".
    QComboBox *rates = combo(&dlg, "comboBoxSampleRate");
    if (rates->count() > 1) {
        s.set("AudioDeviceSampleRate", rates->itemText(1));
        PreferencesUI withRate(nullptr, nullptr);
        QCOMPARE(combo(&withRate, "comboBoxSampleRate")->currentIndex(), 1);
        s.set("AudioDeviceSampleRate", rates->itemText(1) + ".0");
        PreferencesUI inexact(nullptr, nullptr);
        QCOMPARE(combo(&inexact, "comboBoxSampleRate")->currentIndex(), 0);
    }
}

void PreferencesDialogTest::okStoresEverythingAndReopensDevices()
{
    SliceEngine engine;
    QVERIFY(engine.outputDevice());
    QVERIFY(engine.midiInput());
    PreferencesUI dlg(nullptr, &engine);
    QSignalSpy accepted(&dlg, &QDialog::accepted);
    QSignalSpy finished(&dlg, &QDialog::finished);

    spin(&dlg, "spinBoxBufferSize")->setValue(512);
    combo(&dlg, "comboBoxSampleRate")->setCurrentIndex(0);
    combo(&dlg, "comboBoxMidiDevice")->setCurrentText("None");
    spin(&dlg, "spinBoxMidiBaseNote")->setValue(48);
    combo(&dlg, "comboBoxExportBitDepth")->setCurrentText("32 bit");
    combo(&dlg, "comboBoxExportSampleRate")->setCurrentText("48000");
    const QString api = combo(&dlg, "comboBoxAudioApi")->currentText();
    const QString device = combo(&dlg, "comboBoxAudioDevice")->currentData().toString();
    QTest::mouseClick(button(&dlg, QDialogButtonBox::Ok), Qt::LeftButton);

    QCOMPARE(accepted.count(), 1);
    QCOMPARE(finished.count(), 1); // closed once, not twice
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    const auto values = storedValues();
    QCOMPARE(values["OutputDevice"], device);
    QCOMPARE(values["AudioDeviceSampleRate"], QString("Device Default (Recommended)"));
    QCOMPARE(values["AudioDeviceBufferSize"], QString("512"));
    QCOMPARE(values["WaveExportBitDepth"], QString("32 bit"));
    QCOMPARE(values["WaveExportSampleRate"], QString("48000"));
    QCOMPARE(values["AudioDeviceAPI"], api);
    QCOMPARE(values["MidiDevice"], QString("None"));
    QCOMPARE(values["MidiDeviceBaseNote"], QString("48"));

    // The devices were reopened with the new settings.
    QVERIFY(engine.outputDevice());
    QCOMPARE(engine.outputDevice()->framesPerBuffer(), 512);
    QVERIFY(engine.midiInput());
    QCOMPARE(engine.midiInput()->baseNote(), 48);
    QVERIFY(!engine.midiInput()->isOpen()); // "None"

    // OK writes the file at once (a crash before quitting loses nothing) ...
    QFile written(Settings::filePath());
    QVERIFY(written.open(QIODevice::ReadOnly));
    QMap<QString, QString> onDisk;
    QVERIFY(Settings::parse(written.readAll(), &onDisk));
    written.close();
    QCOMPARE(onDisk.value("AudioDeviceBufferSize"), QString("512"));

    // ... and says so when it cannot (a folder stands where the file goes).
    const QByteArray keep = [] {
        QFile f(Settings::filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QVERIFY(QFile::remove(Settings::filePath()));
    QVERIFY(QDir().mkdir(Settings::filePath()));
    PreferencesUI again(nullptr, &engine);
    QString warning;
    QTimer poll; // goes with this function, so a failure leaves nothing behind
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
            poll.stop();
        }
    });
    poll.start();
    QTest::mouseClick(button(&again, QDialogButtonBox::Ok), Qt::LeftButton);
    QVERIFY(QDir().rmdir(Settings::filePath()));
    QFile restore(Settings::filePath());
    QVERIFY(restore.open(QIODevice::WriteOnly) && restore.write(keep) == keep.size());
    restore.close();
    QVERIFY2(warning.startsWith("The preferences could not be saved to "), qPrintable(warning));
    QCOMPARE(again.result(), int(QDialog::Accepted));
}

void PreferencesDialogTest::cancelChangesNothing()
{
    Settings::instance().set("AudioDeviceBufferSize", "1024");
    Settings::instance().set("MidiDeviceBaseNote", "36");
    SliceEngine engine;
    AudioDevice *device = engine.outputDevice();
    QVERIFY(device);
    const int frames = device->framesPerBuffer();
    const auto before = storedValues();
    {
        PreferencesUI dlg(nullptr, &engine);
        QSignalSpy finished(&dlg, &QDialog::finished);
        spin(&dlg, "spinBoxBufferSize")->setValue(128);
        spin(&dlg, "spinBoxMidiBaseNote")->setValue(72);
        combo(&dlg, "comboBoxExportBitDepth")->setCurrentText("8 bit");
        QTest::mouseClick(button(&dlg, QDialogButtonBox::Cancel), Qt::LeftButton);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    QCOMPARE(storedValues(), before);
    QCOMPARE(engine.outputDevice(), device);
    QCOMPARE(engine.outputDevice()->framesPerBuffer(), frames);
    QCOMPARE(engine.midiInput()->baseNote(), 36);
}

void PreferencesDialogTest::changingApiRefillsDevicesAndRates()
{
    PreferencesUI dlg(nullptr, nullptr);
    QComboBox *apis = combo(&dlg, "comboBoxAudioApi");
    for (int i = 0; i < apis->count(); ++i) {
        apis->setCurrentIndex(i);
        QCOMPARE(items(combo(&dlg, "comboBoxAudioDevice")), shown(deviceList(apis->itemText(i), AudioOutput, false)));
        QComboBox *rates = combo(&dlg, "comboBoxSampleRate");
        QCOMPARE(rates->itemText(0), QString("Device Default (Recommended)"));
        const QList<int> expected =
            supportedSampleRates(combo(&dlg, "comboBoxAudioDevice")->currentData().toString(), apis->itemText(i), -1,
                                 false);
        QCOMPARE(rates->count(), expected.size() + 1);
    }
}
