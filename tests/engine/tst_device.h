#pragma once
#include "WorkerSafeTest.h"
#include <QObject>

class DeviceTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void init();
    void perfCountersCountAndKeepRanges();
    void enumeratorListsTheFileDevice();
    void storedValuesFallBack();
    void unknownApiListsTheDefaultApisDevices();
    void noDeviceAtAll();
    void streamPullsTheSourceIntoTheDevice();
    void disabledOutputWritesSilence();
    void openFailuresKeepTexts();
};
