#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// The offline stretch render on its own: samples in, WAV out.
class OfflineRenderTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void lengthFollowsRatio_data();
    void lengthFollowsRatio();
    void pitchShiftMovesFrequency();
    void regionIsRespected();
    void cancelHalfwayLeavesNothing();
    void badInputFailsCleanly();
    void threadedRenderReportsProgressAndFile();
    void destroyingRendererCancels();
};
