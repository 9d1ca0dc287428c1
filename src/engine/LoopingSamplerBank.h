#pragma once

#include "LoopingSampler.h"

#include <QList>
#include <QObject>

// Four loopers and the one selected in the interface. The record and playback steps
// run on the sound-card thread inside the engine's mix; everything else on the GUI thread.
class LoopingSamplerBank : public QObject {
    Q_OBJECT
public:
    static constexpr int kLooperCount = 4;

    explicit LoopingSamplerBank(int sampleRate, QObject *parent = nullptr);
    ~LoopingSamplerBank() override;

    LoopingSampler *looper(int index) const { return m_loopers.value(index); }
    int selectedLooperIndex() const { return m_selected; }
    void setSampleRate(int rate);

    // Sound-card thread: no allocation, no file I/O, no lock.
    void recordStep(const float *buffer, int count);
    // Sound-card thread: no allocation, no file I/O, no lock.
    void playStep(float *buffer, int count);

    // GUI thread: see LoopingSampler::deliverSoundCardNews.
    void deliverSoundCardNews();

    // The quantization linking of the looper bank's widget: linked makes the first
    // looper the master whose take length cuts the others' takes; unlinked frees them.
    void linkQuantization(bool linked);

    LoopingSamplerBank(const LoopingSamplerBank &) = delete;
    LoopingSamplerBank &operator=(const LoopingSamplerBank &) = delete;

signals:
    void selectedLooperChanged(int newSelectedLooperIndex);

public slots:
    void selectNextLooper();
    void selectPrevLooper();

private:
    QList<LoopingSampler *> m_loopers;
    int m_selected = 0;
};
