#pragma once

#include "AudioEdit.h"

// Removes the source span [start, deleteEnd) from the loop. Unlike every other kind, its
// positions are source coordinates, and its end is fixed at the largest int so that it
// covers every index after the span and shifts it by the span's length.
class AudioEditDelete : public AudioEdit {
    Q_OBJECT
public:
    AudioEditDelete();
    int type() const override { return TypeDelete; }
    AudioEditPtr clone() const override;
    bool changesLength() const override { return true; }
    // start = startSample, deleteEnd = endSample; the end stays at the largest int.
    void setRange(int startSample, int endSample) override;
    // Moves the end of the deleted span (the edit's own end never moves).
    void setEndSample(int endSample) override;
    // Any reader thread, the sound-card thread included.
    int transformOffset(int index) const override;
    int inverseTransformOffset(int index) const override;

    int deleteEndSample() const { return m_deleteEnd.load(); }
    // Samples removed: never negative, whatever the order of the two ends.
    int deletedLength() const;

private:
    std::atomic<int> m_deleteEnd{0};
};
