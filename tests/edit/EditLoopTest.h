#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// Edit mode on a playing loop: the editable cache is swapped in under the running render
// and what render delivers follows every edit once its region has been reset.
class EditLoopTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void editsReachThePlayingLoop();
};
