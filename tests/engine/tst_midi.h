#pragma once
#include <QObject>

class MidiTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void baseNoteFromSettings();
    void noneAndMissingDevicesOpenNothing();
    void eventsReachTheReceiver();
    void sysexIsSkippedToItsEnd();
};
