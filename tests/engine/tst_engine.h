#pragma once
#include <QObject>

class EngineTest : public QObject {
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
    void midiNoteStartsItsSlice();
    void guiSwapsWhileTheMixRuns();
    void deadStreamIsRecreatedByTheHealthCheck();
};
