#include "MinorDialogsTest.h"
#include "OfflineRenderTest.h"
#include "PreferencesDialogTest.h"
#include "TimeStretchDialogTest.h"

#include "Settings.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include "TestRunner.h"
#include <QtTest>

int main(int argc, char **argv)
{
    // Settings, renders and the sound card all stay inside folders of the test's own.
    QTemporaryDir config, home, tmp;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    qputenv("TMPDIR", QFile::encodeName(tmp.path()));
    {
        QFile rc(QDir(home.path()).filePath(".asoundrc"));
        if (rc.open(QIODevice::WriteOnly | QIODevice::Text))
            QTextStream(&rc) << "pcm.!default { type plug; slave.pcm \"null\" }\n";
    }
    qputenv("HOME", QFile::encodeName(home.path()));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.4.0.6"));
    Q_INIT_RESOURCE(dialogs);
    Settings::resetForTests();

    return TestRunner::runAll<OfflineRenderTest, TimeStretchDialogTest, PreferencesDialogTest, MinorDialogsTest>(argc, argv);
}
