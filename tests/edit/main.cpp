#include "AudioEdit.h"
#include "EditLoopTest.h"
#include "EditModelTest.h"
#include "EditSoundTest.h"
#include "EditableCacheTest.h"
#include "RegionDeleteTest.h"
#include "WorkerSafeTest.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <QtTest>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    registerAudioEditMetaType();
    int failures = 0;
    {
        EditModelTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        EditableCacheTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        EditLoopTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        EditSoundTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        RegionDeleteTest t;
        failures += QTest::qExec(&t, argc, argv);
    }
    WorkerSafeTest::endEditWork();
    return failures;
}
