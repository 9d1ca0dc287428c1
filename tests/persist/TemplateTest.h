#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class TemplateTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void initTestCase();
    void roundTripOntoALoopOfAnotherLength();
    void sameLoopGetsItsPointsBackExactly();
    void loadingIsOneUndoableStep();
    void badFilesAreRefusedAndChangeNothing_data();
    void badFilesAreRefusedAndChangeNothing();
    void pointsOutsideTheRegionAreClamped();
    void suffixRules();

private:
    QTemporaryDir m_dir;
    QString m_short;
    QString m_long;
};
