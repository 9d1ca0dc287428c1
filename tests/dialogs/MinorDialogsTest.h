#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

class MinorDialogsTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void fileNameElision();
    void durationFormat();
    void samplePropertiesShowsTheLoop();
    void samplePropertiesTempoButtons();
    void samplePropertiesOkAndCancel();
    void samplePropertiesWithoutLoop();
    void advancedSlicingLoadsSettings();
    void advancedSlicingBarsPushesUndoableCommand();
    void advancedSlicingBeatsAndActionText();
    void advancedSlicingShortestTransientSlice();
    void aboutBox();
};
