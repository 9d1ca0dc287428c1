#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class BpmDetectorTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void initTestCase();
    void shortLoopIsFedFourTimesPlusOneBlock();
    void longLoopIsFedOncePlusOneBlock();
    void invalidSampleRateFallsBackTo120();
    void silenceStoresNoTempo();
    void oneOrTwoHitsStoreNoTempo();
    void cancelWhileIdleOnlyClearsTheQueue();
    void twoDetectionsRunOneAfterTheOther();
    void cancelAbandonsTheRunningDetection();
    void lateCancelDoesNotReachTheNextLoop();
    void loadingANewLoopCancelsTheRunningDetection();
    void requestsFromTheGuiThreadWhileRunning();
    void destroyingWhileIdleJoins();
    void destroyingWhileRunningJoins();

private:
    // A drum loop of whole bars, or bars seconds of silence when bpm is 0.
    QString writeLoop(const QString &name, double bpm, int bars, int rate);
    QTemporaryDir m_dir;
};
