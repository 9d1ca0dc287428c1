#pragma once
#include "WorkerSafeTest.h"
#include <QObject>

class MidiTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void baseNoteFromSettings();
    void noneAndMissingDevicesOpenNothing();
    void eventsReachTheReceiver();
    void sysexIsSkippedToItsEnd();
};
