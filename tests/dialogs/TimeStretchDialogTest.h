#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

class TimeStretchDialogTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void formShowsWhatItShould();
    void presetsAndSingleOptionsReachTheStretcher();
    void tempoAndPitchFollowBothWays();
    void bpmCalculatorFromLoopedRegion();
    void loopingOffDisablesRegionChoices();
    void previewOnlyPreviews();
    void tempoZeroNeverGivesZeroRatioOrNaN();
    void refreshGivesNewLoopTheShownOptions();
    void saveRendersAndLoadsAsNewLoop();
    void saveRendersOnlyTheLoopedRegion();
    void saveRendersTheLoopAsItPlaysReversed();
    void saveRendersTheLoopWithItsEdits();
    void cancelHalfwayLeavesNothingAndLoopUnchanged();
    void saveFailureIsShownAndRecoverable();
    void withoutLoopNothingHappens();
};
