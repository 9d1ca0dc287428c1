#pragma once
#include "WorkerSafeTest.h"
#include <QObject>

class BanksTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void newBankIsEmpty();
    void chokeGroupBookkeeping();
    void tempoAndPitchReachLoadedPadsOnly();
    void unreadablePadPlaysNothing();
    void stretchedPadPlaysItsRender();
    void resetFreesThePadsOnTheGuiThread();
    void loadingWhileMixing();
    void looperSelectionWraps();
    void loopersOwnNoAudioUntilArmed();
    void looperRecordsAndLoops();
    void quantizationFromTheMasterCutsTakes();
    void looperRecordsTheEngineMix();
};
