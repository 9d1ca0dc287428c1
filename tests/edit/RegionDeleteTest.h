#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// Deleting a region of the edited loop, as the commands the edit layer builds for it: slice
// points, edits, trim points and deleted spans follow, and one undo gives back exactly the
// model there was.
class RegionDeleteTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void slicePointsEditsAndTrimFollow();
    void reversedAndCopiedAudioLosesTheDeletedPart();
    void reverseAndDuplicateOverDeletedAudioLeaveItOut();
    void overlappingDeletedSpansBecomeOne();
    void emptyRegionBuildsNothing();
    void normalizeOverMovedEditsComesBackExactly();
};
