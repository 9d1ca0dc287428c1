#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <memory>

class AudioDeviceEnumerator;

class PreferencesDialogTest : public WorkerSafeTest {
    Q_OBJECT
public:
    PreferencesDialogTest();
    ~PreferencesDialogTest() override;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void formAndLists();
    void vanishedDeviceAndBadValuesFallBack();
    void storedValuesAreSelected();
    void okStoresEverythingAndReopensDevices();
    void cancelChangesNothing();
    void changingApiRefillsDevicesAndRates();

private:
    // PortAudio stays initialised for the dialog's queries while this lives.
    std::unique_ptr<AudioDeviceEnumerator> m_portAudio;
};
