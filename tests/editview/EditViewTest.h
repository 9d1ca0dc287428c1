#pragma once

#include "WorkerSafeTest.h"
#include <QObject>
#include <QTemporaryDir>

class EditViewTest : public WorkerSafeTest {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_loop; // 22050 frames: 44100 samples, 44.1 samples per pixel at 1000 pixels

private slots:
    void initTestCase();
    void artworkAndItemFactory();
    void viewWithoutEditableCacheDoesNothing();
    void effectActionsMakeUndoableEdits();
    void normalizeShowsProgressAndScales();
    void normalizeFollowsTheEditsBeforeIt();
    void mouseMovesAndResizesEdits();
    void eachDragIsOneStepPushedOnRelease();
    void gainHandleSetsGain();
    void gainValueReadsClearOfTheHandle();
    void groupsTakeMembers();
    void regionDeletedInsideAReversingGroup();
    void pastedGroupHasItsOwnMembers();
    void signalsAndSlotsByName();
    void hideAndUnhide();
    void unhideLastOnlyShowsWhatIsHidden();
    void copyAndPasteEdits();
    void cutSelectionAndPasteIt();
    void pastedSelectionIsWhatWasHeard();
    void cutEditsAndPasteThem();
    void deleteRegionFollowsSlicePointsEditsAndTrim();
    void deletesMergeAndUndoRestoresLength();
    void reorderedEditsRenderAndUndoExactly();
    void trimToSelection();
    void busyCacheRefusesRegionDelete();
    void raiseAndLowerFollowTheCache();
    void rightClickSelectsGapAndOpensMenu();
    void keyboardAndSelectAll();
    void deepZoomAndScrolling();
    void screenshots();
    void deletingEverythingShowsTheEmptyLoop();
};
