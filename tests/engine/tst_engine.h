#pragma once
#include "WorkerSafeTest.h"
#include <QObject>

class EngineTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void noOutputDeviceReportsAndKeepsRunning();
    void successfulSetupClearsTheError();
    void deviceThatFailsToOpenIsReported();
    void sliceReachesTheDeviceResampledWithFades();
    void previewAndPadAreMixed();
    void largeDeviceBuffersRenderInPieces();
    void previewFilesThroughTheMix();
    void previewOpensDeepPathsAndSilencesNonFiniteSamples();
    void oddFilesPlayCleanly();
    void tenMinutesInSixtyFourSlices();
    void midiNoteStartsItsSlice();
    void guiSwapsWhileTheMixRuns();
    void deadStreamIsRecreatedByTheHealthCheck();
    void streamThatWillNotStopKeepsItsDevice();
    void missingHostApiFallsBackToTheDefault();
};
