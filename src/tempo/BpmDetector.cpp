#include "BpmDetector.h"

#include "BpmDetectorWorker.h"

#include <QThread>

BpmDetector::BpmDetector(QObject *parent)
    : TempoDetection(parent), m_pWorker(new BpmDetectorWorker), m_pThread(new QThread(this)) {
    connect(m_pThread, SIGNAL(started()), m_pWorker, SLOT(waitAndProcess()));
    m_pWorker->moveToThread(m_pThread);
    connect(m_pWorker, SIGNAL(calculatingBpm()), this, SIGNAL(calculatingBpm()));
    connect(m_pWorker, SIGNAL(calculatingBpmProgress(float)), this, SIGNAL(calculatingBpmProgress(float)));
    connect(m_pWorker, SIGNAL(bpmDetected()), this, SIGNAL(bpmDetected()));
    m_pThread->start(QThread::InheritPriority);
}

BpmDetector::~BpmDetector() {
    m_pWorker->stop();
    m_pThread->quit();
    m_pThread->wait();
    delete m_pThread;
    delete m_pWorker;
}

void BpmDetector::detect(SlicePtr pSlice) {
    m_pWorker->addToQueueAndWake(pSlice);
}

void BpmDetector::cancel() {
    m_pWorker->cancel();
}
