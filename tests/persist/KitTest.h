#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class KitTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void kitRoundTrip_data();
    void kitRoundTrip();
    void slicesSoundAtTheLoopsPitchOrTheirPads();
    void hydrogenPlaysTheKitBack();
    void oddNamesGiveKitsThatNameTheirSamples();
    void failedOrCancelledExportLeavesNoHalfKit();
    void secondCtrlCWaitsForAKitBeingMovedIntoPlace();
    void savedLoopCarriesSlicePointsAsCueMarkers_data();
    void savedLoopCarriesSlicePointsAsCueMarkers();

private:
    QTemporaryDir m_dir;
    QString m_loop;
};
