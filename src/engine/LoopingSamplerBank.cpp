#include "LoopingSamplerBank.h"

LoopingSamplerBank::LoopingSamplerBank(int sampleRate, QObject *parent) : QObject(parent)
{
    for (int i = 0; i < kLooperCount; ++i)
        m_loopers.append(new LoopingSampler(sampleRate, this));
}

LoopingSamplerBank::~LoopingSamplerBank() = default;

void LoopingSamplerBank::setSampleRate(int rate)
{
    for (LoopingSampler *looper : qAsConst(m_loopers))
        looper->setSampleRate(rate);
}

// Sound-card thread: no allocation, no file I/O, no lock.
void LoopingSamplerBank::recordStep(const float *buffer, int count)
{
    for (LoopingSampler *looper : qAsConst(m_loopers))
        looper->recordStep(buffer, count);
}

// Sound-card thread: no allocation, no file I/O, no lock.
void LoopingSamplerBank::playStep(float *buffer, int count)
{
    for (LoopingSampler *looper : qAsConst(m_loopers))
        looper->playStep(buffer, count);
}

void LoopingSamplerBank::linkQuantization(bool linked)
{
    LoopingSampler *master = m_loopers.first();
    for (LoopingSampler *looper : qAsConst(m_loopers)) {
        if (looper != master)
            disconnect(master, &LoopingSampler::quantizationLengthChanged, looper,
                       &LoopingSampler::setQuantizationLength);
    }
    if (!linked) {
        for (LoopingSampler *looper : qAsConst(m_loopers)) {
            looper->setQuantizationLength(-1);
            looper->setMasterQuantizationLooper(false);
        }
        return;
    }
    master->setMasterQuantizationLooper(true);
    for (LoopingSampler *looper : qAsConst(m_loopers)) {
        if (looper != master)
            connect(master, &LoopingSampler::quantizationLengthChanged, looper,
                    &LoopingSampler::setQuantizationLength);
    }
}

void LoopingSamplerBank::selectNextLooper()
{
    m_selected = (m_selected + 1) % kLooperCount;
    emit selectedLooperChanged(m_selected);
}

void LoopingSamplerBank::selectPrevLooper()
{
    m_selected = m_selected == 0 ? kLooperCount - 1 : m_selected - 1;
    emit selectedLooperChanged(m_selected);
}

void LoopingSamplerBank::deliverSoundCardNews()
{
    for (LoopingSampler *looper : m_loopers)
        looper->deliverSoundCardNews();
}
