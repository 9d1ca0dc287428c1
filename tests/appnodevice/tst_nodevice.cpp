// With no usable output device the window says so, offers the preferences, and keeps
// working without sound.
#include "WorkerSafeTest.h"
#include "AudioDevice.h"
#include "AudioEdit.h"
#include "Quillory.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "TestAudio.h"
#include "Trevant.h"
#include "TrevantUI.h"

#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

// An ALSA configuration whose default device cannot be opened.
const char *const kNoDeviceRc = "pcm.!default { type hw; card 99; device 0 }\nctl.!default { type hw; card 99 }\n";

class NoDeviceTest : public WorkerSafeTest {
    Q_OBJECT
public:
    NoDeviceTest(Quillory *app, QString loop) : m_app(app), m_loop(std::move(loop)) {}

private:
    Quillory *m_app;
    QString m_loop;

private slots:
    // The window goes while the test logger still lives: its tempo thread, engine and
    // the fills it started all log on their way out.
    void cleanupTestCase()
    {
        m_app->shutDown();
        waitForWorkers();
    }

    void deviceErrorIsShownWithAWayToThePreferences()
    {
        TrevantUI *w = m_app->mainWindow();
        QVERIFY(w->engine()->hasAudioDeviceError());
        QVERIFY(!w->engine()->audioDeviceError().isEmpty());
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = w->findChild<QMessageBox *>("messageBoxAudioDeviceError")) != nullptr);
        QTRY_VERIFY(box->isVisible());
        QCOMPARE(box->text(), w->engine()->audioDeviceError());
        QVERIFY(!box->informativeText().isEmpty());
        QVERIFY(!box->informativeText().contains("<a"));
        bool hasPreferences = false;
        for (QAbstractButton *b : box->buttons())
            hasPreferences |= b->text().contains("Preferences");
        QVERIFY(hasPreferences);
        QCOMPARE(w->statusBar()->currentMessage(), w->engine()->audioDeviceError());
        // Escape closes the box, although the window's reset-focus shortcut also uses it.
        QPointer<QMessageBox> watched(box);
        box->activateWindow();
        QApplication::setActiveWindow(box);
        QVERIFY(QTest::qWaitForWindowActive(box));
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : box;
        QTest::keyClick(focus, Qt::Key_Escape);
        QTRY_VERIFY(!watched || !watched->isVisible());
    }

    void windowKeepsWorkingWithoutSound()
    {
        TrevantUI *w = m_app->mainWindow();
        QVERIFY(w->slotLoadAudioFile(m_loop));
        w->form().action16->trigger();
        QCOMPARE(w->slicer()->slicePoints().size(), 15);
        w->form().actionPlay->setChecked(true);
        QVERIFY(w->slicer()->currentSlice()->isPlaying());
        w->form().actionPlay->setChecked(false);
        QVERIFY(!w->slicer()->currentSlice()->isPlaying());
    }

    void retriesThinOutAndPickUpADeviceThatAppears()
    {
        TrevantUI *w = m_app->mainWindow();
        QVERIFY(!w->engine()->outputDevice());
        // Forty ticks of the 5-second check: a few retries, not forty restarts of the
        // sound system on the GUI thread.
        const int before = w->audioDeviceRetries();
        for (int i = 0; i < 40; ++i)
            w->slotCheckAudioDeviceHealth();
        const int retries = w->audioDeviceRetries() - before;
        QVERIFY2(retries >= 3 && retries <= 8, qPrintable(QString::number(retries)));
        QVERIFY(!w->engine()->outputDevice());

        // A device that appears later is still found within a minute of ticks.
        QFile rc(QDir::home().filePath(".asoundrc"));
        QVERIFY(rc.open(QIODevice::WriteOnly | QIODevice::Truncate));
        rc.write("pcm.!default { type plug; slave.pcm \"out\" }\n"
                 "pcm.out { type file; slave.pcm \"null\"; file \"/dev/null\"; format \"raw\" }\n");
        rc.close();
        for (int i = 0; i < 12 && !w->engine()->outputDevice(); ++i)
            w->slotCheckAudioDeviceHealth();
        QVERIFY(w->engine()->outputDevice());
        QVERIFY(w->engine()->outputDevice()->isOpen());
        QVERIFY(!w->engine()->hasAudioDeviceError());
    }
};

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(quillory);
    Q_INIT_RESOURCE(views);
    Q_INIT_RESOURCE(dialogs);
    registerAudioEditMetaType();
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QFile rc(dir.filePath(".asoundrc"));
    if (rc.open(QIODevice::WriteOnly))
        rc.write(kNoDeviceRc);
    rc.close();
    qputenv("HOME", dir.path().toLocal8Bit());
    const QString loop = dir.filePath("loop.wav");
    if (!TestAudio::writeWav(loop, 2, 44100, 44100, TestAudio::sine(220, 44100)))
        return 2;

    QByteArray prog(argv[0]);
    char *appArgv[] = {prog.data(), nullptr};
    int appArgc = 1;
    Quillory::setApplicationNames();
    QCoreApplication::setApplicationName("QuilloryTest");
    Quillory app(appArgc, appArgv, false);
    NoDeviceTest test(&app, loop);
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const int status = QTest::qExec(&test, args);
    return status;
}

#include "tst_nodevice.moc"
