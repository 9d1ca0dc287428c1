#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// Edit mode on a playing loop: the editable cache is swapped in under the running render
// and what render delivers follows every edit once its region has been reset; the slicer's
// trim, slice points and loop region follow the edited length.
class EditLoopTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void editsReachThePlayingLoop();
    void slicingFollowsTheEditedLength();
};
