#include "tst_banks.h"
#include "tst_device.h"
#include "tst_engine.h"
#include "tst_midi.h"

#include "Settings.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include "TestRunner.h"
#include <QtTest>

int main(int argc, char **argv)
{
    // Settings go to a folder of their own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    Settings::resetForTests();

    return TestRunner::runAll<DeviceTest, MidiTest, EngineTest, BanksTest>(argc, argv);
}
