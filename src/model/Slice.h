#pragma once

#include "AudioCache.h"
#include "AudioFile.h"
#include "AudioSource.h"
#include "TempoAnalysis.h"

#include <QEnableSharedFromThis>
#include <QObject>
#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class Fade;
class SpeexResampler;
class TimeStretcher;
class Slice;

// A loop's whole stretched and pitched audio, rendered ahead of playing, and the
// settings it was rendered for. Immutable once handed to the loop.
struct StretchRender {
    std::vector<float> samples; // interleaved stereo at the file's rate, in play order
    double timeRatio = 1.0;
    int pitch = 0;
    bool reversed = false;
    int sourceLength = 0; // samples of the loop that were rendered
};
using StretchRenderPtr = std::shared_ptr<const StretchRender>;

// Loops are shared between the slicer, the views, the dialogs and the tempo detection
// queue; the last holder frees it (on the loop's own thread, see Slice::create).
using SlicePtr = QSharedPointer<Slice>;

// One loaded audio file and everything that decides how it sounds when played: its
// sample cache, play and loop regions, gain, tempo, pitch and stretch, and two fades.
//
// Positions and lengths count samples of the interleaved stereo stream (two per frame);
// positions the loop stores are rounded down to even and kept within [0, length].
//
// Threads: the GUI thread (setters, play), the sound-card thread (render, pull, and
// playFromSoundCard for MIDI notes) and the tempo worker (cache, rates). The sound-card
// thread never emits: what it starts and ends is told by deliverSoundCardNews. The loop lock guards every field;
// the GUI holds it only for short, bounded work. Lock order: slicer, loop, cache, and the
// cache lock is only ever tried from the sound-card thread.
class Slice : public QObject, public AudioSource, public QEnableSharedFromThis<Slice> {
    Q_OBJECT
public:
    // Builds the editable cache that replaces a loop's plain cache in edit mode. Set once
    // by the edit subsystem; without it, edit mode leaves the cache as it is.
    using EditableCacheFactory =
        std::function<AudioCachePtr(const AudioCachePtr &source, const AudioFilePtr &reader)>;
    static void setEditableCacheFactory(EditableCacheFactory factory);

    // The way to make a loop: a shared pointer whose last release deletes the loop on the
    // thread it lives in (a worker or the sound-card thread never runs its destructor).
    static SlicePtr create(const QString &fileName, int engineSampleRate);

    Slice(const QString &fileName, int engineSampleRate);
    ~Slice() override;

    int length() override;
    double durationSeconds();
    QString fileName();
    QString baseName() const;
    int fileSampleRate();
    AudioCachePtr cache();
    // True once the cache has been filled (loadingComplete was emitted).
    bool isLoadingComplete();
    // Frames the file declares but does not hold, a file cut off inside its audio
    // (AudioFile::missingFrames); final once loading is complete.
    long long missingFrames();
    // Channels of the file (see AudioFile::channels).
    int fileChannels() const;

    // The request to stop a running save of this loop (an export or an offline
    // stretch). Any thread, no lock: the save's worker polls it between blocks.
    void setCancelRequested(bool requested) { m_bCancelRequested.store(requested); }
    bool isCancelRequested() const { return m_bCancelRequested.load(); }

    int playPosition();
    // The play position as of the last rendered block, for painting. Any thread, no lock:
    // the sound-card thread publishes it instead of signalling every block.
    int shownPlayPosition() const { return m_iShownPlayPos.load(std::memory_order_relaxed); }
    int playEnd();
    int loopMode();
    int loopStart();
    int loopEnd();
    bool isPlaying();

    void play(bool on, int start, int end);
    // Sound-card thread (MIDI notes): play(true, start, end) without emitting; the
    // signals follow from deliverSoundCardNews. No allocation, no file I/O.
    void playFromSoundCard(int start, int end);
    // GUI thread: emits the playback signals (played, stopped, playbackToggled) for what
    // the sound-card thread started or ended since the last call. That thread may not
    // emit (a queued signal allocates and takes the receiver's event-queue lock), so it
    // only leaves a mark; the engine calls this on its timer.
    void deliverSoundCardNews();

    void setLoopStart(int start);
    void setLoopEnd(int end);
    void setLoop(int start, int end);
    void setLoopMode(int mode);

    float gain();
    void setGain(float gain);

    double bpm();
    void setBpm(double bpm);
    double effectiveBpm();
    // What the last tempo detection found besides the tempo (empty before one finished).
    // Correcting the tempo leaves it as it is: it keeps describing the detection.
    TempoAnalysis tempoAnalysis();
    void setTempoAnalysis(const TempoAnalysis &analysis);

    int pitch();
    void setPitch(int semitones);

    double timeStretchRatio();
    void setTimeStretchRatio(double ratio, int tempo);
    double stretchLength();
    void stretchToBeats(double beats, int tempo);
    // Turning stretching on builds the real-time stretcher if the loop has none yet (GUI
    // thread, never the sound-card thread).
    void setStretchEnabled(bool on);
    bool isStretchEnabled();

    // Rubber Band options, forwarded to the stretcher. The window, smoothing and channel
    // options rebuild it, which also drops what the resampler holds.
    void setStretchTransientsOption(int option);
    void setStretchDetectorOption(int option);
    void setStretchFormantOption(int option);
    void setStretchWindowOption(int option);
    void setStretchSmoothingOption(int option);
    void setStretchChannelsOption(int option);
    // For reading the option words and counters; change options through the loop.
    TimeStretcher *timeStretcher() const { return m_pStretcher.get(); }

    bool isReversed();
    void reverse();

    // Stretching ahead of time. The loop's settings as a render would need them (without
    // samples); a render made for them is played, from the next trigger on, through the
    // resampler only instead of the real-time stretcher. A render that no longer matches
    // is ignored, and a playing one gives way to the real-time stretcher at once.
    StretchRender stretchRenderSettings();
    // GUI thread: the replaced render is released after the loop lock is let go.
    void setStretchRender(StretchRenderPtr render);
    // True when a render for the current settings is installed.
    bool hasCurrentStretchRender();
    // True while the current run plays a render rather than stretching in real time.
    bool isPlayingStretchRender();

    QString chokeGroup();
    void setChokeGroup(const QString &group);

    int engineSampleRate();
    void setEngineSampleRate(int rate);

    // Switches the loop to an editable cache the first time it is turned on; the cache
    // is built outside the loop lock and swapped in under it. Turning it off keeps it.
    void setEditMode(bool on);

    // Sound-card thread: no allocation, no file I/O; the cache lock is only tried.
    // Adds count samples (count / 2 frames) of the playing loop at the device rate,
    // resampled, stretched when stretching is on, and faded; returns the samples added.
    int render(float *buffer, int count);

    // Sound-card thread (through the resampler): no allocation, no file I/O.
    // Adds up to count samples of the loop at its file rate. A busy cache gives a block of
    // silence (the full count, the position unchanged); 0 only once the loop has stopped.
    int pull(float *buffer, int count) override;

    // Sample i of the loop as it plays (reversed when the loop is reversed); 0.0 outside
    // [0, length). Any thread, no loop lock: it reads the cache pointer and the reversed
    // flag atomically, like the cache's own per-sample read.
    float sampleAt(int index);

    Fade *fadeIn() const { return m_pFadeIn.get(); }
    Fade *fadeOut() const { return m_pFadeOut.get(); }

signals:
    void played();
    // The GUI thread moved the play position (loop end, loop mode, a shorter loop). Playback
    // itself does not emit it: views poll shownPlayPosition on their repaint timer.
    void playPosChanged();
    void stopped();
    void playbackToggled(bool playing);
    void loopChanged();
    void savingProgress(float progress);
    void savingComplete();
    void savingCancelled();
    void loadingComplete();
    void lengthChanged();
    void bpmChanged();
    void effectiveBpmChanged();
    void tempoAnalysisChanged();
    void pitchChanged();

public slots:
    void fixPlaybackConstraints();

private:
    int clampPosition(int position) const;
    void applyStretchSettings();
    void resetPlaybackPosAfterLoopChange();
    enum PlaybackNews : unsigned { NewsStarted = 1, NewsStopped = 2 };
    // Under the loop lock; they return what the listeners are to be told (PlaybackNews
    // bits), which is sent once the lock is released: the window's slots must not run
    // under a lock that render takes on the sound-card thread.
    unsigned playLocked(bool on, int start, int end);
    unsigned stopLocked();
    // GUI thread, loop lock not held.
    void announce(PlaybackNews news);
    void publishPlayPosition() { m_iShownPlayPos.store(m_iPlayPos, std::memory_order_relaxed); }
    void mix(float *buffer, int from, int n);
    void connectCache(const AudioCachePtr &cache);
    int cachedLength() const;
    bool stretchRenderMatches() const;
    void leaveStaleStretchRender();
    int toRendered(int position) const;
    int fromRendered(int position) const;
    // Sound-card thread (through the resampler): no allocation, no file I/O.
    // pull's counterpart over the installed render.
    int pullRendered(float *buffer, int count);

    class RenderedSource;

    QString m_sFileName;
    AudioFilePtr m_pReader;
    AudioCachePtr m_pCache;
    // Written under the loop lock; atomic because sampleAt reads it without the lock.
    std::atomic<AudioCache *> m_pCacheRaw{nullptr};
    QSharedPointer<QVector<float>> m_pBuffer1;
    QSharedPointer<QVector<float>> m_pBuffer2;
    int m_iEngineSampleRate = 44100;
    int m_iFileSampleRate = 0;
    int m_iPlayPos = 0;
    int m_iPlayEnd = 0;
    int m_iLoopMode = 0;
    int m_iLoopStart = 0;
    int m_iLoopEnd = 1;
    float m_fGain = 1.0f;
    bool m_bPlaying = false;
    float m_fPitch = 0.0f;
    double m_dBpm = 0.0;
    TempoAnalysis m_tempoAnalysis;
    double m_dTimeStretchRatio = 1.0;
    double m_dStretchLength = 0.0;
    bool m_bStretchEnabled = false;
    std::atomic<bool> m_bReversed{false}; // written under the loop lock, read by sampleAt without it
    bool m_bLoadingComplete = false;
    mutable QRecursiveMutex m_lock;
    QString m_sChokeGroup = QStringLiteral("None");
    std::unique_ptr<TimeStretcher> m_pStretcher;
    std::unique_ptr<SpeexResampler> m_pResampler;
    std::unique_ptr<Fade> m_pFadeIn;
    std::unique_ptr<Fade> m_pFadeOut;
    // Per-piece scratch for render, so the fades touch only this loop's audio. Zeroed when
    // the loop is made, so its pages are faulted in here rather than by the first block.
    std::unique_ptr<float[]> m_pScratch;
    // Ahead-of-time render and where the current run is inside it (render samples).
    StretchRenderPtr m_pStretchRender;
    bool m_bPlayRendered = false;
    int m_iRenderedPos = 0;
    std::unique_ptr<RenderedSource> m_pRenderedSource;
    std::atomic<bool> m_bCancelRequested{false};
    std::atomic<int> m_iShownPlayPos{0};
    // PlaybackNews bits set by the sound-card thread, taken by deliverSoundCardNews.
    std::atomic<unsigned> m_soundCardNews{0};
};

Q_DECLARE_METATYPE(SlicePtr)
