#include "AudioEdit.h"
#include "AudioEditWorker.h"
#include "EditViewTest.h"
#include "WorkerSafeTest.h"

#include <QApplication>
#include <QStandardPaths>
#include <QtTest>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    Q_INIT_RESOURCE(editview);
    registerAudioEditMetaType();
    AudioEditWorker::startThread();
    int failures = 0;
    {
        EditViewTest t;
        failures = QTest::qExec(&t, argc, argv);
    }
    WorkerSafeTest::endEditWork();
    return failures;
}
