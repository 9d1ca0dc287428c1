#pragma once

#include <QObject>

class PreferencesDialogTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void formAndLists();
    void vanishedDeviceAndBadValuesFallBack();
    void storedValuesAreSelected();
    void okStoresEverythingAndReopensDevices();
    void cancelChangesNothing();
    void changingApiRefillsDevicesAndRates();
};
