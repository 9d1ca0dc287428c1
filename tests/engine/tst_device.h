#pragma once
#include <QObject>

class DeviceTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void perfCountersCountAndKeepRanges();
    void enumeratorListsTheFileDevice();
    void storedValuesFallBack();
    void unknownApiListsNoDevices();
    void noDeviceAtAll();
    void streamPullsTheSourceIntoTheDevice();
    void disabledOutputWritesSilence();
    void openFailuresKeepTexts();
};
