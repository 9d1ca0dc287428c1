#pragma once

#include "Slice.h"

#include <QMultiMap>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <array>
#include <atomic>
#include <memory>

// Sixteen sample pads, each an independent loop model with its own pitch, stretch,
// loop region, gain, reverse flag and choke group label, mixed by the engine after
// the slicer's loop.
//
// A stretched or pitched pad is rendered whole, once, on the bank's render thread when it
// has loaded and again whenever its ratio, pitch or the bank tempo changes; from its next
// trigger on it plays that render, so the sound-card thread only resamples it. Until the
// render is ready, and always for pads longer than half a minute once stretched, the pad
// is stretched in real time.
//
// Threads: everything but mix and the renders runs on the GUI thread. mix runs on the
// sound-card thread under the bank lock, which the GUI holds only to swap a finished pad
// in or the whole list out: pads are built before the lock is taken and the pads they
// replace are released after it is let go, so the sound-card thread never frees one.
// Renders run on the render pool, read the pad's samples without its lock, and are
// handed to the pad on the GUI thread; the bank waits for them when it is destroyed.
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
    // GUI thread: the pads' playback signals for what the sound-card thread ended (see
    // Slice::deliverSoundCardNews).
    void deliverSoundCardNews();
    int sampleRate() const;
    void setSampleRate(int rate);
    int bankTempo() const { return m_bankTempo; }
    void setBankTempo(int bpm);
    void setPadPitch(int index, int semitones);
    void stretchPadToBeats(int index, double beats);

    // Empties all 16 pads (a new project).
    void reset();

    // True when the pad has a render for its current ratio, pitch and direction, which
    // its next trigger plays.
    bool isPadRenderReady(int index) const;

    // Sound-card thread: no allocation, no file I/O; the bank lock is held by the GUI
    // only for pointer swaps.
    void mix(float *buffer, int count);

    BankSampler(const BankSampler &) = delete;
    BankSampler &operator=(const BankSampler &) = delete;

signals:
    void sampleLoaded(int index);
    // A pad's render was installed (GUI thread).
    void padRenderReady(int index);

private:
    static bool validIndex(int index) { return index >= 0 && index < kPadCount; }
    // Pitch or stretch other than neutral sends the pad through the stretcher.
    static void updateStretchEnabled(const SlicePtr &pad);
    // Starts the pad's render unless it has a current one or one for the same settings is
    // under way; a render for other settings is cancelled.
    void requestRender(int index);
    void cancelRender(int index);

    // Guarded by the bank lock (the sound-card thread reads the pads under it).
    int m_sampleRate;
    std::array<SlicePtr, kPadCount> m_pads;
    mutable QMutex m_lock;

    // GUI thread only.
    QMultiMap<QString, int> m_chokeGroups;
    int m_bankTempo = 120;
    // The render under way for each pad: its cancel flag (shared with the render thread)
    // and the settings it renders.
    std::array<std::shared_ptr<std::atomic<bool>>, kPadCount> m_renderCancel;
    std::array<StretchRender, kPadCount> m_renderSettings;
    QThreadPool m_renderPool;
};
