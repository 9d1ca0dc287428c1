#pragma once

#include "OnsetDetector.h"
#include "Slice.h"

#include <QObject>
#include <QSharedPointer>

#include <atomic>
#include <functional>

// A finished analysis, shared read-only between the detection thread and the GUI.
using OnsetAnalysisPtr = QSharedPointer<const OnsetAnalysis>;
Q_DECLARE_METATYPE(OnsetAnalysisPtr)

// Runs the transient detector over a loop's audio as it plays (through its edits, reversed
// when the loop is reversed) on the onset detection thread.
//
// Threads: analyse runs on the detection thread; setLatestRequest and abandonAll from any
// thread. Requests are numbered by the caller; an analysis whose number is no longer the
// latest stops at its next progress poll and reports nothing, so a newer request (new
// audio) or shutting down never waits for an old one to finish.
class OnsetAnalysisWorker : public QObject {
    Q_OBJECT
public:
    OnsetAnalysisWorker() = default;
    OnsetAnalysisWorker(const OnsetAnalysisWorker &) = delete;
    OnsetAnalysisWorker &operator=(const OnsetAnalysisWorker &) = delete;

    // Any thread.
    void setLatestRequest(quint64 request) { m_latest.store(request); }

    // Onset detection thread: reads the whole loop and analyses it.
    void analyse(SlicePtr slice, quint64 request);

    // Any thread: the same reading and analysis on the calling thread, for callers without
    // an event loop (the command line). keepGoing is polled between blocks; once it turns
    // false the result is empty. progress, when set, gets the fraction done.
    static OnsetAnalysis analyseLoop(const SlicePtr &slice, const std::function<bool()> &keepGoing,
                                     const std::function<void(double)> &progress = {});

signals:
    void progress(quint64 request, double fraction);
    void analysed(quint64 request, OnsetAnalysisPtr analysis);

private:
    bool isCurrent(quint64 request) const { return m_latest.load() == request; }

    std::atomic<quint64> m_latest{0};
};
