#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// What combinations of edits sound like, rendered and compared sample by sample with what
// each edit promises: a Normalize in a group follows the members before it, a later Mute
// or cut reaches only what lies under it, and a group over deleted audio never brings that
// audio back.
class EditSoundTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void normalizeInAGroupFollowsTheMembersBeforeIt();
    void laterMutesAndDeletesReachOnlyTheirOwnRegion();
    void groupOverDeletedAudioNeverPlaysIt();
};
