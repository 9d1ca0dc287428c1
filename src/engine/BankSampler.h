#pragma once

#include "Slice.h"

#include <QMultiMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>

// Sixteen sample pads, each an independent loop model with its own pitch, stretch,
// loop region, gain, reverse flag and choke group label, mixed by the engine after
// the slicer's loop.
//
// Threads: everything but mix runs on the GUI thread. mix runs on the sound-card
// thread under the bank lock, which the GUI holds only to swap a finished pad in or
// the whole list out: pads are built before the lock is taken and the pads they
// replace are released after it is let go, so the sound-card thread never frees one.
class BankSampler : public QObject {
    Q_OBJECT
public:
    static constexpr int kPadCount = 16;

    explicit BankSampler(int sampleRate, QObject *parent = nullptr);
    ~BankSampler() override;

    void loadSample(int index, const QString &fileName, int semitones, double timeStretchRatio, int loopMode,
                    int loopStart, int loopEnd, float gain, bool reversed, const QString &chokeGroup);

    void addToChokeGroup(int index, const QString &group);
    void removeFromChokeGroup(int index, const QString &group);
    QStringList chokeGroupNames() const;
    // The groups a pad is listed under in the bookkeeping map.
    QStringList chokeGroupsOf(int index) const;

    SlicePtr pad(int index) const;
    int sampleRate() const;
    void setSampleRate(int rate);
    int bankTempo() const { return m_bankTempo; }
    void setBankTempo(int bpm);
    void setPadPitch(int index, int semitones);
    void stretchPadToBeats(int index, double beats);

    // Empties all 16 pads (a new project).
    void reset();

    // Sound-card thread: no allocation, no file I/O; the bank lock is held by the GUI
    // only for pointer swaps.
    void mix(float *buffer, int count);

    BankSampler(const BankSampler &) = delete;
    BankSampler &operator=(const BankSampler &) = delete;

signals:
    void sampleLoaded(int index);

private:
    static bool validIndex(int index) { return index >= 0 && index < kPadCount; }
    // Pitch or stretch other than neutral sends the pad through the stretcher.
    static void updateStretchEnabled(const SlicePtr &pad);

    // Guarded by the bank lock (the sound-card thread reads the pads under it).
    int m_sampleRate;
    std::array<SlicePtr, kPadCount> m_pads;
    mutable QMutex m_lock;

    // GUI thread only.
    QMultiMap<QString, int> m_chokeGroups;
    int m_bankTempo = 120;
};
