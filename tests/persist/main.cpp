#include "ExportTest.h"
#include "MidiTest.h"
#include "ProjectTest.h"
#include "Settings.h"
#include "TemplateTest.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

int main(int argc, char **argv) {
    // Settings go to a folder of their own, never the user's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    Settings::resetForTests();

    int status = 0;
    {
        ExportTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        MidiTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        TemplateTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        ProjectTest t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}
