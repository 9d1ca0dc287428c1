#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// The editable cache: render on read, index mapping through deleted spans, the edit list's
// order, dirty-region resets, length changes, locking and destruction.
class EditableCacheTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void readsWithoutEditsEqualSource();
    void deleteShortensAndShifts();
    void editsOverAnIntegerSourceKeepOnlyTheirChunks();
    void twoDeletesMapInEitherOrder_data();
    void twoDeletesMapInEitherOrder();
    void deleteAtStartResetsEverythingReachable();
    void gainRoundTrip();
    void peakSummaryFollowsEdits();
    void movingAnEditRestoresItsOldRegion();
    void editListOrderRules();
    void mutedRegionIsRecomputedOnEveryRead();
    void groupMembersChangeTheSound();
    void normalizeAnalysesTheAudioUnderIt();
    void normalizeHearsTheEditsBeforeIt();
    void queuedDirtyRegionsAreMerged();
    void readsNeverLeaveTheSource();
    void tryLockNeverKeepsTheEditLockOnFailure();
    void destructionJoinsWorkerAndBreaksCycles();
    void blockReadsStayUnedited();
    void readerThreadSurvivesEditsFromGuiThread();
};
