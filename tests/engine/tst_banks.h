#pragma once
#include <QObject>

class BanksTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void newBankIsEmpty();
    void chokeGroupBookkeeping();
    void tempoAndPitchReachLoadedPadsOnly();
    void unreadablePadPlaysNothing();
    void resetFreesThePadsOnTheGuiThread();
    void loadingWhileMixing();
    void looperSelectionWraps();
    void loopersOwnNoAudioUntilArmed();
    void looperRecordsAndLoops();
    void quantizationFromTheMasterCutsTakes();
    void looperRecordsTheEngineMix();
};
