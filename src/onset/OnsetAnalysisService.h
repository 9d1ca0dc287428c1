#pragma once

#include "OnsetAnalysisWorker.h"
#include "Slice.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QThread;
class Trevant;

// The transient detection service for the loaded loop: analyses its audio on a thread of
// its own and keeps the result until the audio changes, so that a sensitivity change only
// re-picks. Lives on the GUI thread; its signals arrive there.
//
// Threads: every member function runs on the GUI thread; the worker runs on the onset
// detection thread and talks back through queued signals carrying the request number, so
// a late result or progress report from an abandoned request is recognised and dropped.
class OnsetAnalysisService : public QObject {
    Q_OBJECT
public:
    explicit OnsetAnalysisService(QObject *parent = nullptr);
    // Abandons a running analysis and joins the thread.
    ~OnsetAnalysisService() override;
    OnsetAnalysisService(const OnsetAnalysisService &) = delete;
    OnsetAnalysisService &operator=(const OnsetAnalysisService &) = delete;

    // The loop to analyse from now on; what was kept or running for another is dropped.
    void setSlice(SlicePtr slice);
    // The loop's audio has changed (an edit): the kept result no longer fits it. A running
    // analysis starts over, so whoever waits for it gets one of the new audio.
    void invalidate();
    // Starts an analysis unless one for the current audio is kept or running. A loop that
    // is still being read is analysed once it is complete.
    void request();

    // The kept result when it fits the loop's audio, else null.
    OnsetAnalysisPtr analysis();
    // True from request() until analysisReady (or until the loop goes).
    bool isAnalysing() const { return m_bAnalysing; }

    // Slice points (interleaved positions, ascending) at the hits within the slicer's trim
    // region, at or just before each attack: picked, then moved to a zero crossing only
    // ever earlier when snapping is on.
    static QList<int> slicePoints(Trevant *slicer, const OnsetAnalysis &analysis, double sensitivity,
                                  double minLengthMs);
    // The same with the snapping given rather than read from the settings: a re-pick of an
    // existing slicing keeps the placement that slicing was made with.
    static QList<int> slicePoints(Trevant *slicer, const OnsetAnalysis &analysis, double sensitivity,
                                  double minLengthMs, bool snapToZeroCrossings);

signals:
    void analysisStarted();
    void analysisProgress(double fraction);
    void analysisReady();

private:
    void start();
    void abandon();
    void slotWorkerProgress(quint64 request, double fraction);
    void slotWorkerAnalysed(quint64 request, OnsetAnalysisPtr analysis);

    OnsetAnalysisWorker *m_pWorker;
    QThread *m_pThread;
    SlicePtr m_pSlice;
    OnsetAnalysisPtr m_pAnalysis;
    // Whether the kept result was made from the loop played backwards.
    bool m_bAnalysedReversed = false;
    bool m_bAnalysing = false;
    quint64 m_iRequest = 0;
    QMetaObject::Connection m_waitForLoading;
};
