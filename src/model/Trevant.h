#pragma once

#include "MidiProcessor.h"
#include "Slice.h"

#include <QList>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>
#include <QVector>

class TempoDetection;

// The slicer: holds the loaded loop with its slice points and trim points, answers which
// slice contains a position, starts playback of regions, toggles and widens the loop
// region, maps MIDI notes to slices and hands loaded loops to the tempo detection its
// owner gave it (none: loops get no tempo).
//
// Positions count samples of the loop's interleaved stereo stream (two per frame).
// The slices are the spans between consecutive boundaries: trim start, slice points, trim
// end. Slice points are kept sorted and free of duplicates by the slicer's operations.
// When an edit changes the loop's length, the trim end that marked the end keeps marking it,
// and trim points, loop region and slice points stay inside the loop.
//
// Threads: the GUI thread for everything except render and processMidiMessage, which the
// playback engine calls from the sound-card thread. The slicer lock is recursive and held
// by the GUI only for bounded work (loading builds the new loop before taking it).
class Trevant : public QObject, public MidiProcessor {
    Q_OBJECT
public:
    explicit Trevant(QObject *parent = nullptr);
    ~Trevant() override;
    Trevant(const Trevant &) = delete;
    Trevant &operator=(const Trevant &) = delete;

    SlicePtr currentSlice();
    // A copy of the sorted slice point list.
    QList<int> slicePoints();
    int trimStart();
    int trimEnd();
    void setTrimStart(int position);
    void setTrimEnd(int position);

    // Of the current loop; 0 / false / 44100 without one.
    int loopStart();
    int loopEnd();
    bool isInsideLoop(int position);
    // For undo: sets the current loop's region back, touching it only when it differs.
    void restoreLoop(int start, int end);
    int sampleRate();

    // tolerance > 0: the nearest slice point within tolerance, else 0.
    // tolerance <= 0: the start of the slice that contains position.
    int sliceStartAt(int position, int tolerance);
    // The first slice point after position, or the trim end.
    int sliceEndAt(int position);

    // Sorts the list and drops repeated positions.
    void setSlicePoints(const QList<int> &points);
    bool hasSlicePoint(int position);
    // For undo: put back or take out exactly this value (no rounding), leaving the loop
    // region as it is.
    void restoreSlicePoint(int position);
    void withdrawSlicePoint(int position);
    void addSlicePoint(int position);
    void removeSlicePoint(int position);
    // A point moved onto another merges with it.
    void moveSlicePoint(int from, int to);
    void clearSlicing();
    void sliceEvenly(unsigned slices);
    void sliceEveryBeats(double tempo, double beats);
    void sliceEveryBars(double tempo, unsigned numerator, unsigned denominator, double bars);
    // The nearest zero crossing within snapWindowMs of position (rounded down to even), or
    // the position itself when snapping is off or no crossing is that close.
    int snapToZeroCrossing(int position);
    // The nearest zero crossing of loop at or before position (rounded down to even) within
    // snapBackWindowMs, or the position itself, whatever the snap setting says: a re-pick
    // snaps as the slicing it belongs to did. For starts placed just before an attack:
    // moving one later would cut into the hit. Reads the loop without the slicer lock.
    static int zeroCrossingAtOrBefore(Slice *loop, int position);
    // Whether new slice points are snapped to zero crossings (the setting).
    static bool snapsToZeroCrossings();

    void togglePlayback(bool on);
    void playFrom(int position);
    void toggleLoopAt(int position);
    void expandLoopTo(int position);

    int engineSampleRate();
    void setEngineSampleRate(int rate);
    void setEditMode(bool on);

    // Sound-card thread: no allocation, no file I/O; the cache lock is only tried.
    void render(float *buffer, int count);
    // Sound-card thread: no allocation, no file I/O.
    void processMidiMessage(uint32_t message, int &baseNote) override;

    // Takes ownership; loops loaded from now on are handed to it once filled.
    void setTempoDetection(TempoDetection *detection);
    TempoDetection *bpmDetector() const { return m_pBpmDetector; }

    // Half-width of the zero-crossing search window, in milliseconds.
    static constexpr int snapWindowMs = 25;
    static constexpr int snapBackWindowMs = 1;

signals:
    void slicePointsChanged();
    void trimPointsChanged();
    void loopChanged();
    void sliceLoaded(Slice *slice);

public slots:
    bool slotLoadLoop(QString filename);
    void calculateSliceBpm();

private slots:
    // The current loop got longer or shorter (an edit that deletes audio, or its undo).
    void followLoopLength();

private:
    // Where the trim and loop regions stood around one change of the loop's length.
    struct LengthStep {
        int fromLength;
        int toLength;
        int before[4]; // trim start, trim end, loop start, loop end
        int after[4];
    };

    bool hasAudio();
    void sliceEveryStep(double stepSamples);
    // Any thread, no slicer lock: the search behind snapToZeroCrossing.
    static int nearestZeroCrossing(Slice *slice, int position);

    SlicePtr m_pSlice;
    // The loop when it has audio, with the trim points, read under the slicer lock.
    SlicePtr playableLoop(int *trimStart, int *trimEnd);

    QRecursiveMutex m_lock;
    QList<int> m_slicePoints;
    int m_iTrimStart = 0;
    int m_iTrimEnd = 0;
    // The loop length the positions above were last fitted to.
    int m_iLength = 0;
    // Slice points beyond the end of a shortened loop, given back when it grows again.
    QList<int> m_parkedPoints;
    // Every length change not yet reversed, latest last, so that the reverse change (an undo)
    // puts the trim and loop regions back exactly.
    QVector<LengthStep> m_lengthSteps;
    int m_iEngineSampleRate = 44100;
    TempoDetection *m_pBpmDetector = nullptr;
};
