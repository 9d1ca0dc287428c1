#pragma once

#include "WorkerSafeTest.h"
#include <QObject>

// The edits on their own: ramps, offsets, transforms, groups, the factory and the worker.
class EditModelTest : public WorkerSafeTest {
    Q_OBJECT
private slots:
    void fadesFollowTheirRamp();
    void emptyFadesLeaveSamplesUnchanged();
    void reverseReadsTheSourceBackwards();
    void duplicateStartMovesItsSourceOffset();
    void deleteTransformsIndices();
    void gainIsNeverNegative();
    void groupAppliesMembersInOrderAdded();
    void groupRangeCarriesItsMembers();
    void groupCloneSharesMembersAndForwardsChanges();
    void factoryMakesEveryKind();
    void factoryPlacesDuplicateAtDestination();
    void factoryRejectsUnknownType();
    void normalizeUsesLargestAbsolutePeak_data();
    void normalizeUsesLargestAbsolutePeak();
    void normalizeFollowsItsRange();
    void workerKeepsReleasedEditsAlive();
    void workerMissesNoQueuedEdit();
    void editPtrTravelsAsMetaType();
    void multipleEditUndoesInReverse();
};
