#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class ProjectTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void roundTripSurvivesMovingTheFolder();
    void documentHasTheExpectedShape();
    void suffixIsAddedUnlessPresentInAnyCase();
    void missingAttributesTakeTheirDefaults();
    void oddValuesAreHandled();
    void numbersAreClampedToWhatTheWindowAllows();
    void missingAudioLeavesAnEmptyPadAndIsReported();
    void engineOnlyProjectKeepsTheBank();
    void badFilesLoadNothing_data();
    void badFilesLoadNothing();
    void unwritablePathFailsWithAMessage();

private:
    QTemporaryDir m_dir;
};
