#pragma once

#include <QObject>
#include <QTemporaryDir>

class MidiTest : public QObject {
    Q_OBJECT
private slots:
    void fileParsesBackWithOneNotePerSlice();
    void notesAboveTheRangeAreLeftOut();
    void savingUsesTheLoopTempoAndBaseNote();

private:
    QTemporaryDir m_dir;
};
