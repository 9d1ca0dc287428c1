#include "SliceEngine.h"

#include "AudioDevice.h"
#include "AudioDeviceEnumerator.h"
#include "BankSampler.h"
#include "BpmDetector.h"
#include "EngineLogging.h"
#include "JackOutput.h"
#include "LoopingSamplerBank.h"
#include "MidiInput.h"
#include "PreviewPlayer.h"
#include "RecordingBuffer.h"
#include "Settings.h"
#include "Trevant.h"

#include <QDebug>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {
// The configured buffer size where the application chooses the period (ALSA, OSS). A
// JACK server runs its own period: asking PortAudio for another size there would make it
// gather several periods into one callback that must still finish within one period, so
// the callback takes JACK's period as it comes (the mix renders any size in pieces).
int framesPerCallback(PaDeviceIndex device)
{
    const PaDeviceInfo *info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo *api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    if (api && api->type == paJACK)
        return 0;
    return outputBufferSize(device);
}
} // namespace

SliceEngine::SliceEngine(QObject *parent) : QObject(parent)
{
    setSampleRate(44100);
    m_micBuffer.reset(new RecordingBuffer("Microphone Recording Buffer"));
    m_appBuffer.reset(new RecordingBuffer("App Audio Recording Buffer"));
    m_enumerator.reset(new AudioDeviceEnumerator);
    m_samplerBank = new BankSampler(44100);
    m_slicer = new Trevant;
    m_slicer->setTempoDetection(new BpmDetector);
    m_looperBank = new LoopingSamplerBank(44100);
    m_engineTempo = 120;
    m_jackWatch = new QTimer(this);
    m_jackWatch->setInterval(kJackWatchMs);
    connect(m_jackWatch, &QTimer::timeout, this, &SliceEngine::watchJack);
    m_soundCardNews = new QTimer(this);
    m_soundCardNews->setInterval(kSoundCardNewsMs);
    connect(m_soundCardNews, &QTimer::timeout, this, &SliceEngine::deliverSoundCardNews);
    m_soundCardNews->start();
    startMidi();
    setupAudioDevice();
}

void SliceEngine::deliverSoundCardNews()
{
    if (const SlicePtr loop = m_slicer->currentSlice())
        loop->deliverSoundCardNews();
    m_samplerBank->deliverSoundCardNews();
    m_looperBank->deliverSoundCardNews();
}

SliceEngine::~SliceEngine()
{
    qCDebug(lcEngine) << "delete SliceEngine";
    Settings::instance().save();
    closeAudioDevice();
    // A stream that would not stop is silent and feeds nothing: its device is given up,
    // never freed under a callback that may still run.
    for (auto &stuck : m_stuckDevices)
        stuck.release();
    m_stuckDevices.clear();
    m_enumerator.reset();
    stopMidi();
    delete m_looperBank;
    m_looperBank = nullptr;
    m_micBuffer.reset();
    m_appBuffer.reset();
    delete std::exchange(m_preview, nullptr);
    // No stream runs any more: the slicer (which stops its tempo detection) and the pads
    // go with the engine.
    delete m_samplerBank;
    m_samplerBank = nullptr;
    delete m_slicer;
    m_slicer = nullptr;
}

// Sound-card thread: no allocation, no file I/O; see the header.
int SliceEngine::pull(float *buffer, int count)
{
    processAudio(buffer, count / 2);
    return count;
}

// Sound-card thread: no allocation, no file I/O; see the header.
void SliceEngine::processAudio(float *buffer, int frames)
{
    QMutexLocker locker(&m_lock);
    if (m_midi)
        m_midi->pollMidi();
    for (int done = 0; done < frames; done += kMaxPieceFrames) {
        const int piece = std::min(kMaxPieceFrames, frames - done);
        mixPiece(buffer + 2 * done, piece);
    }
}

// Sound-card thread: no allocation, no file I/O.
void SliceEngine::mixPiece(float *buffer, int frames)
{
    const int count = 2 * frames;
    m_slicer->render(buffer, count);
    m_samplerBank->mix(buffer, count);
    m_looperBank->recordStep(buffer, count);
    m_looperBank->playStep(buffer, count);
    if (m_preview)
        m_preview->mix(buffer, count);
}

int SliceEngine::length() { return std::max(m_micBuffer->length(), m_appBuffer->length()); }

void SliceEngine::setupAudioDevice() { openOutputDevice(true); }

void SliceEngine::openOutputDevice(bool emitUnchangedError, std::unique_ptr<JackOutput> jack)
{
    if (m_outputDevice || m_jackOutput)
        closeAudioDevice();

    auto report = [&](const QString &text, const QString &suggestion) {
        if (emitUnchangedError || text != m_lastEmittedError)
            emit audioDeviceError(text, suggestion);
        m_lastEmittedError = text;
    };

    bool jackPlays = false;
    if (isJackChosen()) {
        m_jackWatch->start();
        if (!jack) {
            jack.reset(new JackOutput(this));
            if (!jack->open())
                jack.reset();
        }
        jackPlays = jack && startJack(std::move(jack));
    } else {
        m_jackWatch->stop();
    }

    const QString missingApi = jackPlays ? QString() : missingHostApiName();
    if (missingApi.isEmpty()) {
        m_hostApiFallbackNotice.clear();
    } else if (m_hostApiFallbackNotice.isEmpty()) {
        m_hostApiFallbackNotice =
            tr("The audio system %1 is not available; using %2 instead.").arg(missingApi, activeHostApiName());
        emit hostApiFallback(m_hostApiFallbackNotice);
    }

    if (jackPlays) {
        m_errorText.clear();
        m_errorSuggestion.clear();
        report(QString(), QString());
        return;
    }

    if (outputDeviceCount() == 0) {
        m_errorText = tr("No audio output devices are available. A valid output device is required to use Quillory.");
        m_errorSuggestion = tr("Add a soundcard to your PC and restart Quillory.");
        report(m_errorText, m_errorSuggestion);
        return;
    }
    m_errorText.clear();
    m_errorSuggestion.clear();

    const PaStreamParameters params = outputStreamParameters();
    const int rate = deviceSampleRate(params.device);
    // The loops learn the device rate before the stream starts, so the first buffers
    // already play at the right speed (reconfiguring a resampler is GUI-thread work).
    m_slicer->setEngineSampleRate(rate);
    m_samplerBank->setSampleRate(rate);
    m_looperBank->setSampleRate(rate);

    m_outputDevice.reset(new AudioDevice(this, m_micBuffer.get(), &params, nullptr, rate,
                                         framesPerCallback(params.device), true));
    if (m_outputDevice->open() != 0)
        report(m_outputDevice->errorText(), m_outputDevice->errorSuggestion());
    else
        report(QString(), QString());

    if (sampleRate() != rate) {
        m_slicer->setEngineSampleRate(sampleRate());
        m_samplerBank->setSampleRate(sampleRate());
        m_looperBank->setSampleRate(sampleRate());
    }
}

bool SliceEngine::startJack(std::unique_ptr<JackOutput> jack)
{
    // As with PortAudio, the loops learn the rate before the first period is pulled.
    const int rate = jack->sampleRate();
    m_slicer->setEngineSampleRate(rate);
    m_samplerBank->setSampleRate(rate);
    m_looperBank->setSampleRate(rate);
    setSampleRate(rate);
    if (!jack->start())
        return false;
    m_jackOutput = std::move(jack);
    return true;
}

void SliceEngine::closeAudioDevice()
{
    // Closing the client waits for a running period to end, so nothing pulls afterwards.
    if (m_jackOutput) {
        m_jackOutput->close();
        m_jackOutput.reset();
    }
    retryStuckDevices();
    if (!m_outputDevice)
        return;
    m_outputDevice->close();
    if (m_outputDevice->isCallbackStopped()) {
        m_outputDevice.reset();
        return;
    }
    // Neither stop nor abort worked: its callback may still run, so the device is kept
    // (silent, feeding nothing) until a later close succeeds, and the user is told.
    AudioDevice *stuck = m_outputDevice.get();
    stuck->detach();
    m_errorText = stuck->errorText();
    m_errorSuggestion = stuck->errorSuggestion();
    m_stuckDevices.push_back(std::move(m_outputDevice));
    m_lastEmittedError = m_errorText;
    emit audioDeviceError(m_errorText, m_errorSuggestion);
}

void SliceEngine::retryStuckDevices()
{
    for (auto it = m_stuckDevices.begin(); it != m_stuckDevices.end();) {
        (*it)->close();
        if ((*it)->isCallbackStopped())
            it = m_stuckDevices.erase(it);
        else
            ++it;
    }
}

bool SliceEngine::checkAudioDeviceHealth()
{
    if (m_jackOutput && !m_jackOutput->isServerGone())
        return false;
    // JACK chosen but playing elsewhere: its server may have come (back) up since.
    if (!m_jackOutput && refreshAudioSystems())
        return true;
    if (!m_jackOutput && m_outputDevice && m_outputDevice->streamHealth() == 0)
        return false;
    if (!m_outputDevice && !m_errorText.isEmpty() && outputDeviceCount() == 0) {
        // Devices appear only when PortAudio starts again: rebuild the enumerator.
        m_enumerator.reset();
        m_enumerator.reset(new AudioDeviceEnumerator);
    }
    closeAudioDevice();
    openOutputDevice(false);
    return true;
}

bool SliceEngine::refreshAudioSystems()
{
    if (!isJackChosen() || m_jackOutput)
        return false;
    // A server that takes clients but refused to run this one: moving the sound there
    // interrupts the default device each time, so the next tries are spaced out.
    if (m_jackRetrySkipsLeft > 0) {
        --m_jackRetrySkipsLeft;
        return false;
    }
    auto jack = std::make_unique<JackOutput>(this);
    if (!jack->open())
        return false;
    qCDebug(lcEngine) << "A JACK server answers: the sound moves to it";
    openOutputDevice(false, std::move(jack));
    if (!m_jackOutput)
        m_jackRetrySkipsLeft = kJackRetrySkipsAfterRefusal;
    return m_jackOutput != nullptr;
}

void SliceEngine::watchJack()
{
    if (!isJackChosen()) {
        m_jackWatch->stop();
        return;
    }
    if (!m_jackOutput) {
        refreshAudioSystems();
    } else if (m_jackOutput->isServerGone()) {
        qCDebug(lcEngine) << "The JACK server went away: the sound moves to the default device";
        closeAudioDevice();
        openOutputDevice(false);
    } else if (m_jackOutput->sampleRate() != sampleRate()) {
        // The loops' resamplers are set up here, on this thread, for the new rate.
        qCDebug(lcEngine) << "The JACK server now runs at" << m_jackOutput->sampleRate() << "Hz";
        closeAudioDevice();
        openOutputDevice(false);
    }
}

bool SliceEngine::hasAudioDeviceError() const
{
    if (m_outputDevice && !m_outputDevice->errorText().isEmpty())
        return true;
    if (m_inputDevice && !m_inputDevice->errorText().isEmpty())
        return true;
    return !m_errorText.isEmpty();
}

QString SliceEngine::audioDeviceError() const
{
    if (m_outputDevice && !m_outputDevice->errorText().isEmpty())
        return m_outputDevice->errorText();
    if (m_inputDevice && !m_inputDevice->errorText().isEmpty())
        return m_inputDevice->errorText();
    return m_errorText;
}

QString SliceEngine::audioDeviceErrorSuggestion() const
{
    if (m_outputDevice && !m_outputDevice->errorText().isEmpty())
        return m_outputDevice->errorSuggestion();
    if (m_inputDevice && !m_inputDevice->errorText().isEmpty())
        return m_inputDevice->errorSuggestion();
    return m_errorText.isEmpty() ? QString() : m_errorSuggestion;
}

void SliceEngine::clearAudioDeviceError()
{
    m_lastEmittedError.clear();
    emit audioDeviceError(QString(), QString());
}

void SliceEngine::startMidi()
{
    if (m_midi)
        stopMidi();
    auto *midi = new MidiInput(m_samplerBank, m_looperBank);
    midi->setReceiver(m_slicer);
    midi->openMidiDevice();
    QMutexLocker locker(&m_lock);
    m_midi = midi;
}

void SliceEngine::stopMidi()
{
    if (!m_midi)
        return;
    m_midi->closeMidiDevice();
    MidiInput *retired;
    {
        QMutexLocker locker(&m_lock);
        retired = std::exchange(m_midi, nullptr);
    }
    delete retired;
}

void SliceEngine::setEngineTempo(int bpm)
{
    m_engineTempo = bpm;
    m_samplerBank->setBankTempo(bpm);
}

void SliceEngine::setPreviewFile(const QString &path)
{
    // Opening the file and reading its start happen before the engine lock is taken.
    PreviewPlayer *player = path.isEmpty() ? nullptr : new PreviewPlayer(path);
    if (player && !player->isValid()) {
        delete player;
        player = nullptr;
    }
    PreviewPlayer *retired;
    {
        QMutexLocker locker(&m_lock);
        retired = std::exchange(m_preview, player);
    }
    delete retired;
}

bool SliceEngine::isPreviewPlaying() const
{
    QMutexLocker locker(&m_lock);
    return m_preview && !m_preview->isFinished();
}

void SliceEngine::clearSamplerBank()
{
    // The bank swaps its pads out under its own lock and frees them after it.
    m_samplerBank->reset();
}
