#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>
#include <atomic>

// The settings store against a real file in a throw-away configuration folder.
class SettingsTest : public QObject {
    Q_OBJECT

    QByteArray readFile() const
    {
        QFile f(Settings::filePath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeFile(const QByteArray &bytes) const
    {
        QDir().mkpath(QFileInfo(Settings::filePath()).absolutePath());
        QFile f(Settings::filePath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName("Brindlemoor");
        QCoreApplication::setApplicationName("QuilloryTest");
        QVERIFY(Settings::filePath().contains("Brindlemoor/QuilloryTest"));
    }
    void init()
    {
        QDir folder = QFileInfo(Settings::filePath()).absoluteDir();
        for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden))
            QFile::remove(folder.filePath(name));
        Settings::resetForTests();
    }

    void missingFileCreatesEmptyDocument()
    {
        Settings &s = Settings::instance();
        QVERIFY(s.value("MidiDeviceBaseNote").isEmpty());
        const QByteArray text = readFile();
        QCOMPARE(text, QByteArray("<!DOCTYPE settings>\n<settings/>\n"));
    }

    void savesSortedKeysWithOneSpaceIndent()
    {
        Settings &s = Settings::instance();
        s.set("snap_to_zero_crossings", "1");
        s.set("AudioDeviceAPI", "ALSA");
        s.set("OutputDevice", "");
        QVERIFY(s.save());
        QCOMPARE(readFile(), QByteArray("<!DOCTYPE settings>\n<settings>\n <AudioDeviceAPI>ALSA</AudioDeviceAPI>\n"
                                        " <OutputDevice></OutputDevice>\n"
                                        " <snap_to_zero_crossings>1</snap_to_zero_crossings>\n</settings>\n"));
    }

    void specialCharactersSurviveRoundTrip()
    {
        const QString tricky = "a<b>&c\"d'e ü 東京 ]]>";
        Settings::instance().set("last_load_path", tricky);
        QVERIFY(Settings::instance().save());
        Settings::resetForTests();
        QCOMPARE(Settings::instance().value("last_load_path"), tricky);
    }

    void otherRootNameAndDuplicateKeys()
    {
        writeFile("<?xml version=\"1.0\"?><prefs><!-- note --><MidiDevice>None</MidiDevice>text"
                  "<MidiDeviceBaseNote>40</MidiDeviceBaseNote><MidiDeviceBaseNote>48</MidiDeviceBaseNote></prefs>");
        Settings &s = Settings::instance();
        QCOMPARE(s.value("MidiDevice"), QString("None"));
        QCOMPARE(s.value("MidiDeviceBaseNote"), QString("48"));
    }

    void unparseableFileIsReplacedByEmptyStore()
    {
        writeFile("<settings><broken></settings");
        QVERIFY(Settings::instance().value("broken").isEmpty());
        QCOMPARE(readFile(), QByteArray("<!DOCTYPE settings>\n<settings/>\n"));
        // What was there is kept beside it, whole, for the musician to recover.
        const QDir folder = QFileInfo(Settings::filePath()).absoluteDir();
        const QStringList aside = folder.entryList({"settings.xml.unreadable-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile kept(folder.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("<settings><broken></settings"));
        // The window tells the musician where it went.
        QVERIFY2(Settings::instance().loadProblem().contains(QDir::toNativeSeparators(kept.fileName())),
                 qPrintable(Settings::instance().loadProblem()));
        Settings::resetForTests();
        QVERIFY(Settings::instance().loadProblem().isEmpty());
    }

    void numbersOutsideTheWindowsRangesAreClamped()
    {
        writeFile("<settings><AudioDeviceBufferSize>2147483647</AudioDeviceBufferSize>"
                  "<MidiDeviceBaseNote>-5</MidiDeviceBaseNote><AudioDeviceSampleRate>1e300</AudioDeviceSampleRate>"
                  "<AdvancedSlicingInterval>0.001</AdvancedSlicingInterval><AudioDeviceAPI>ALSA</AudioDeviceAPI>"
                  "<AdvancedSlicingTimeSigNumer>twelve</AdvancedSlicingTimeSigNumer></settings>");
        Settings &s = Settings::instance();
        QCOMPARE(s.value("AudioDeviceBufferSize"), QString("4096"));
        QCOMPARE(s.value("MidiDeviceBaseNote"), QString("0"));
        QCOMPARE(s.value("AudioDeviceSampleRate"), QString("768000"));
        QCOMPARE(s.value("AdvancedSlicingInterval"), QString("0.25"));
        // Text stays text: each reader falls back to its own default.
        QCOMPARE(s.value("AudioDeviceAPI"), QString("ALSA"));
        QCOMPARE(s.value("AdvancedSlicingTimeSigNumer"), QString("twelve"));
    }

    void deeplyNestedFileIsRefused()
    {
        writeFile("<settings><MidiDevice>None</MidiDevice>" + QByteArray("<a>").repeated(30000) +
                  QByteArray("</a>").repeated(30000) + "</settings>");
        QVERIFY(Settings::instance().value("MidiDevice").isEmpty());
        QCOMPARE(readFile(), QByteArray("<!DOCTYPE settings>\n<settings/>\n"));
    }

    void setWithoutSaveLeavesFileUnchanged()
    {
        writeFile("<settings><fade_in_out_slices>0</fade_in_out_slices></settings>");
        const QByteArray before = readFile();
        Settings::instance().set("fade_in_out_slices", "1");
        QCOMPARE(Settings::instance().value("fade_in_out_slices"), QString("1"));
        QCOMPARE(readFile(), before);
    }

    void saveIsAtomicAndLeavesNoTemporaryFiles()
    {
        Settings::instance().set("AudioDeviceBufferSize", "512");
        QVERIFY(Settings::instance().save());
        const QDir dir = QFileInfo(Settings::filePath()).absoluteDir();
        QCOMPARE(dir.entryList(QDir::Files), QStringList{"settings.xml"});
    }

    void unwritableFolderKeepsValuesInMemory()
    {
        // A regular file where the settings file should be makes the save fail.
        QFile::remove(Settings::filePath());
        QDir().mkpath(Settings::filePath());
        Settings::instance().set("MidiDevice", "None");
        QVERIFY(!Settings::instance().save());
        QCOMPARE(Settings::instance().value("MidiDevice"), QString("None"));
        QDir(Settings::filePath()).removeRecursively();
    }

    void concurrentReadsWhileWriting()
    {
        Settings &s = Settings::instance();
        s.set("fade_in_out_slices", "1");
        std::atomic<bool> stop{false};
        std::atomic<int> bad{0};
        QThread *reader = QThread::create([&] {
            while (!stop.load()) {
                const QString v = s.value("fade_in_out_slices");
                if (v != "0" && v != "1")
                    ++bad;
            }
        });
        reader->start();
        for (int i = 0; i < 20000; ++i) {
            s.set("fade_in_out_slices", (i & 1) ? "1" : "0");
            s.set(QString("key%1").arg(i % 100), QString::number(i));
        }
        stop = true;
        reader->wait();
        delete reader;
        QCOMPARE(bad.load(), 0);
    }
};

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_settings.moc"
