#pragma once

// The ids of the undo commands that declare one, in one place so that two kinds never
// share an id by accident. The stack offers a command to the one before it only when their
// ids are equal; mergeWith then checks that both act on the same target. Moving a slice
// point and the two loop commands keep their ids but never merge.
enum class UndoCommandId : int {
    MoveSlicePoint = 2,
    ToggleSliceLoop = 4,
    ExpandSliceLoop = 5,
    TransientSensitivity = 6,
    LoopTempo = 7,
};
