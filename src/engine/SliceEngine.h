#pragma once

#include "AudioSource.h"
#include "PlaybackEngine.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class AudioDevice;
class AudioDeviceEnumerator;
class BankSampler;
class JackOutput;
class LoopingSamplerBank;
class MidiInput;
class PreviewPlayer;
class QTimer;
class RecordingBuffer;
class Trevant;

// The one object through which everything audible reaches the sound card. It owns the
// output device, the device enumerator, the slicer, the sampler bank, the looper bank,
// the MIDI input, the file preview and two recording buffers, and mixes them in the
// device's callback. Device problems are reported as an error text with a suggestion
// for the user (audioDeviceError and the queries below).
//
// With JACK as the chosen audio system the engine plays through a JACK client of its own.
// While no JACK server answers (not started yet, stopped, restarting) it plays through
// PortAudio's default device and tries the server again every second, moving back to
// JACK, at the server's rate, as soon as it answers.
//
// Threads: everything but pull/processAudio runs on the GUI thread. The engine lock is
// held by the sound-card thread for the whole mix; the GUI thread takes it only to swap
// a pointer (MIDI input, preview player). Objects are built before the lock is taken
// and the ones they replace are destroyed after it is released.
class SliceEngine : public QObject, public PlaybackEngine, public AudioSource {
    Q_OBJECT
public:
    // The mix runs in pieces of at most this many frames, so that no device buffer size
    // exceeds what the time stretcher (2048 frames per call) or the resampler accept.
    static constexpr int kMaxPieceFrames = 2048;
    // How often a JACK server is looked for, and a running client checked, while JACK is
    // the chosen audio system.
    static constexpr int kJackWatchMs = 1000;
    // How often the playback signals for what the sound-card thread started and ended are
    // delivered on the GUI thread: about a screen frame, so a play button follows the sound.
    static constexpr int kSoundCardNewsMs = 15;

    explicit SliceEngine(QObject *parent = nullptr);
    ~SliceEngine() override;

    // Sound-card thread: no allocation, no file I/O; waits only on locks the GUI holds
    // for pointer swaps or other bounded work.
    int pull(float *buffer, int count) override;
    // Sound-card thread: no allocation, no file I/O; see pull.
    void processAudio(float *buffer, int frames) override;
    int length() override;

    // When the stored host API is missing and the default one plays in its place: a line
    // for the status bar saying so; empty otherwise.
    QString hostApiFallbackNotice() const { return m_hostApiFallbackNotice; }

    Q_INVOKABLE bool hasAudioDeviceError() const;
    Q_INVOKABLE QString audioDeviceError() const;
    Q_INVOKABLE QString audioDeviceErrorSuggestion() const;

    Trevant *slicer() const { return m_slicer; }
    BankSampler *samplerBank() const { return m_samplerBank; }
    LoopingSamplerBank *looperBank() const { return m_looperBank; }
    // The PortAudio device playing; null while none does (JACK plays, or nothing).
    AudioDevice *outputDevice() const { return m_outputDevice.get(); }
    // The JACK client playing; null while none does.
    JackOutput *jackOutput() const { return m_jackOutput.get(); }
    // True while either of them exists.
    bool hasOutput() const { return m_outputDevice || m_jackOutput; }
    // Devices kept alive because their stream could not be stopped.
    int stuckDeviceCount() const { return int(m_stuckDevices.size()); }
    MidiInput *midiInput() const { return m_midi; }
    RecordingBuffer *microphoneRecordingBuffer() const { return m_micBuffer.get(); }
    RecordingBuffer *appAudioRecordingBuffer() const { return m_appBuffer.get(); }

    int engineTempo() const { return m_engineTempo; }
    // Sets the engine tempo and the sampler bank's tempo together (the master tempo).
    void setEngineTempo(int bpm);

    // Plays an audio file (read with libsndfile) over everything else; an empty path or a
    // file that cannot be opened stops the preview.
    void setPreviewFile(const QString &path);
    bool isPreviewPlaying() const;
    void clearSamplerBank();
    // The loop's, the pads' and the loopers' signals for what the sound-card thread started
    // or ended since the last call; the engine's own timer calls it.
    void deliverSoundCardNews();

signals:
    // Text and suggestion of the current device problem; two empty texts when it is gone.
    // The suggestion may hold a link "#preferences" to the preferences dialog.
    void audioDeviceError(QString text, QString suggestion);

    // The stored host API went missing (once per absence; see hostApiFallbackNotice).
    void hostApiFallback(QString notice);

public slots:
    void setupAudioDevice();
    void closeAudioDevice();
    void startMidi();
    void stopMidi();
    void clearAudioDeviceError();
    // Re-creates the output device when its stream is missing or has stopped (a device
    // unplugged, a server gone); returns true when it did. Repeats of an unchanged error
    // are not emitted again, so a timer may call this freely.
    bool checkAudioDeviceHealth();
    // When JACK is the chosen audio system but plays elsewhere: asks for the server once
    // and, when it answers, moves the sound to it. Returns true when it did.
    bool refreshAudioSystems();

private:
    // With a JACK client already opened (by refreshAudioSystems), that one is used.
    void openOutputDevice(bool emitUnchangedError, std::unique_ptr<JackOutput> jack = nullptr);
    // Brings the engine to the client's rate and starts it; false when JACK refused.
    bool startJack(std::unique_ptr<JackOutput> jack);
    // The watch timer's tick: a server gone, a rate changed, a server back.
    void watchJack();
    void retryStuckDevices();
    // Sound-card thread: no allocation, no file I/O.
    void mixPiece(float *buffer, int frames);

    std::unique_ptr<AudioDevice> m_outputDevice;
    std::unique_ptr<JackOutput> m_jackOutput;
    QTimer *m_jackWatch = nullptr; // child; runs while JACK is the chosen audio system
    QTimer *m_soundCardNews = nullptr; // child; always runs
    static constexpr int kJackRetrySkipsAfterRefusal = 10;
    int m_jackRetrySkipsLeft = 0;
    std::unique_ptr<AudioDevice> m_inputDevice; // never created: no input stream yet
    // Devices whose stream could neither be stopped nor aborted; detached, retried on close.
    std::vector<std::unique_ptr<AudioDevice>> m_stuckDevices;
    std::unique_ptr<AudioDeviceEnumerator> m_enumerator;
    std::unique_ptr<RecordingBuffer> m_micBuffer;
    std::unique_ptr<RecordingBuffer> m_appBuffer;
    MidiInput *m_midi = nullptr; // swapped under the engine lock
    BankSampler *m_samplerBank = nullptr;
    LoopingSamplerBank *m_looperBank = nullptr;
    Trevant *m_slicer = nullptr;
    int m_engineTempo = 120;
    mutable QMutex m_lock;
    PreviewPlayer *m_preview = nullptr; // swapped under the engine lock
    QString m_errorText;
    QString m_errorSuggestion;
    QString m_lastEmittedError;
    QString m_hostApiFallbackNotice;
};
