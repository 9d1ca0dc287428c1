#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class ExportTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void slicesFollowTrimAndPoints();
    void fileNamesSortInSliceOrder();
    void exportedSlicesEqualTheSource_data();
    void exportedSlicesEqualTheSource();
    void settingsChooseDepthAndRate();
    void resampledExportKeepsLengthAndPitch_data();
    void resampledExportKeepsLengthAndPitch();
    void edgeFadesOnlyTouchTheEdges();
    void cancelLeavesOnlyWholeFiles();
    void exportWaitsForALoopStillLoading();
    void existingFilesAreNeverReplacedSilently();
    void backgroundExportReportsEveryFile();
    void unwritableTargetFailsWithAMessage();
    void runningOutOfDescriptorsSaysSo();
    void longLoopNamesGiveNamesThatFit();
    void folderThatCannotBeMadeSaysWhy();
    void saveAsWritesTheTrimmedLoopInTheChosenContainer();
    void exportWritesTheLoopAsItSounds();

private:
    QTemporaryDir m_dir;
    QString m_staircase;
};
