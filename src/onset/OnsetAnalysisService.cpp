#include "OnsetAnalysisService.h"

#include "Trevant.h"

#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>

OnsetAnalysisService::OnsetAnalysisService(QObject *parent)
    : QObject(parent), m_pWorker(new OnsetAnalysisWorker), m_pThread(new QThread(this)) {
    qRegisterMetaType<OnsetAnalysisPtr>("OnsetAnalysisPtr");
    m_pThread->setObjectName(QStringLiteral("OnsetDetection"));
    m_pWorker->moveToThread(m_pThread);
    connect(m_pWorker, &OnsetAnalysisWorker::progress, this, &OnsetAnalysisService::slotWorkerProgress,
            Qt::QueuedConnection);
    connect(m_pWorker, &OnsetAnalysisWorker::analysed, this, &OnsetAnalysisService::slotWorkerAnalysed,
            Qt::QueuedConnection);
    m_pThread->start(QThread::LowPriority);
}

OnsetAnalysisService::~OnsetAnalysisService() {
    // No request number is ever this one, so a running analysis stops at its next poll.
    m_pWorker->setLatestRequest(std::numeric_limits<quint64>::max());
    m_pThread->quit();
    m_pThread->wait();
    delete m_pWorker;
}

void OnsetAnalysisService::setSlice(SlicePtr slice) {
    abandon();
    m_pAnalysis.reset();
    m_pSlice = slice;
}

void OnsetAnalysisService::invalidate() {
    m_pAnalysis.reset();
    if (m_bAnalysing && !m_waitForLoading) {
        abandon();
        start();
    }
}

void OnsetAnalysisService::request() {
    if (!m_pSlice || m_bAnalysing || analysis())
        return;
    start();
}

OnsetAnalysisPtr OnsetAnalysisService::analysis() {
    // A reversed loop or a changed length is another audio even when no one said so.
    if (m_pAnalysis && m_pSlice
        && (m_pSlice->isReversed() != m_bAnalysedReversed || m_pAnalysis->frames != m_pSlice->length() / 2))
        m_pAnalysis.reset();
    return m_pAnalysis;
}

void OnsetAnalysisService::start() {
    m_bAnalysing = true;
    emit analysisStarted();
    if (!m_pSlice->isLoadingComplete()) {
        if (!m_waitForLoading)
            m_waitForLoading = connect(m_pSlice.data(), &Slice::loadingComplete, this, [this] {
                disconnect(m_waitForLoading);
                m_waitForLoading = {};
                if (m_bAnalysing)
                    start();
            });
        return;
    }
    const quint64 request = ++m_iRequest;
    m_pWorker->setLatestRequest(request);
    m_bAnalysedReversed = m_pSlice->isReversed();
    const SlicePtr slice = m_pSlice;
    OnsetAnalysisWorker *worker = m_pWorker;
    QMetaObject::invokeMethod(worker, [worker, slice, request] { worker->analyse(slice, request); },
                              Qt::QueuedConnection);
}

void OnsetAnalysisService::abandon() {
    m_pWorker->setLatestRequest(++m_iRequest);
    if (m_waitForLoading) {
        disconnect(m_waitForLoading);
        m_waitForLoading = {};
    }
    m_bAnalysing = false;
}

void OnsetAnalysisService::slotWorkerProgress(quint64 request, double fraction) {
    if (request == m_iRequest && m_bAnalysing)
        emit analysisProgress(fraction);
}

void OnsetAnalysisService::slotWorkerAnalysed(quint64 request, OnsetAnalysisPtr result) {
    if (request != m_iRequest || !m_bAnalysing)
        return;
    m_bAnalysing = false;
    m_pAnalysis = result;
    emit analysisReady();
}

QList<int> OnsetAnalysisService::slicePoints(Trevant *slicer, const OnsetAnalysis &analysis,
                                             double sensitivity, double minLengthMs) {
    return slicePoints(slicer, analysis, sensitivity, minLengthMs, Trevant::snapsToZeroCrossings());
}

QList<int> OnsetAnalysisService::slicePoints(Trevant *slicer, const OnsetAnalysis &analysis,
                                             double sensitivity, double minLengthMs,
                                             bool snapToZeroCrossings) {
    QList<int> points;
    if (!slicer)
        return points;
    const int trimStart = slicer->trimStart();
    const int trimEnd = slicer->trimEnd();
    const QVector<qint64> frames =
        OnsetDetector::pick(analysis, sensitivity, minLengthMs, trimStart / 2, trimEnd / 2);
    // The search reads the loop without the slicer lock, as the slicer's own snapping does;
    // the pointer keeps the loop alive.
    const SlicePtr loop = snapToZeroCrossings ? slicer->currentSlice() : SlicePtr();
    points.reserve(frames.size());
    for (qint64 frame : frames) {
        const int picked = int(2 * frame) & ~1;
        const int point = loop ? Trevant::zeroCrossingAtOrBefore(loop.data(), picked) : picked;
        if (point <= trimStart || point >= trimEnd || (!points.isEmpty() && point <= points.last()))
            continue;
        points.append(point);
    }
    return points;
}
