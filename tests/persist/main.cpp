#include "ExportTest.h"
#include "KitTest.h"
#include "MidiTest.h"
#include "ProjectTest.h"
#include "Settings.h"
#include "TemplateTest.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include "TestRunner.h"
#include <QtTest>

int main(int argc, char **argv) {
    // Settings go to a folder of their own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    Settings::resetForTests();

    return TestRunner::runAll<ExportTest, KitTest, MidiTest, TemplateTest, ProjectTest>(argc, argv);
}
