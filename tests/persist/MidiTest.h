#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class MidiTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void fileParsesBackWithOneNotePerSlice();
    void notesAboveTheRangeAreLeftOut();
    void savingUsesTheLoopTempoAndBaseNote();

private:
    QTemporaryDir m_dir;
};
