#include "DialogFixtures.h"

#include "BpmDetector.h"
#include "TestAudio.h"

#include <QSignalSpy>
#include <QtTest>

bool LoadedLoop::load(double freq, double seconds, int rate, const QString &name, int channels)
{
    path = dir.filePath(name);
    if (!TestAudio::writeWav(path, channels, rate, qint64(seconds * rate), TestAudio::sine(freq, rate)))
        return false;
    slicer = std::make_unique<Trevant>();
    slicer->setTempoDetection(new BpmDetector);
    QSignalSpy detected(slicer->bpmDetector(), &BpmDetector::bpmDetected);
    if (!slicer->slotLoadLoop(path))
        return false;
    slice = slicer->currentSlice();
    if (!slice)
        return false;
    if (!QTest::qWaitFor([&] { return slice->isLoadingComplete(); }, 20000))
        return false;
    // The detector stores a tempo on the loop when it is done; wait for it.
    return detected.count() > 0 || detected.wait(20000);
}
