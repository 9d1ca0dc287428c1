#include "WorkerSafeTest.h"

#include "AudioEditWorker.h"
#include "BackgroundReader.h"

#include <QCoreApplication>

void WorkerSafeTest::waitForWorkers()
{
    // Caches released by the last test may still be queued for deletion.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    BackgroundReader::instance()->waitForIdle();
}

void WorkerSafeTest::endEditWork()
{
    AudioEditWorker::shutDown();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::removePostedEvents(nullptr);
}
