#include "Slice.h"

#include "Fade.h"
#include "ModelLogging.h"
#include "RealtimeEvents.h"
#include "Settings.h"
#include "SpeexResampler.h"
#include "TimeStretcher.h"

#include <QFileInfo>
#include <QMetaType>
#include <QMutexLocker>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

namespace {
constexpr double kFadeMs = 2.0;
constexpr int kRenderPieceFrames = TimeStretcher::maxFrames;

Slice::EditableCacheFactory &editableCacheFactory() {
    static Slice::EditableCacheFactory factory;
    return factory;
}

// Held around the hand-over of a loop dropped on another thread (a tempo detection, a
// render) to its destruction on the GUI thread. Qt's event queue orders the two, but under
// its own lock, which ThreadSanitizer cannot see; this one it can. Never contended.
std::mutex &deletionHandoff() {
    static std::mutex m;
    return m;
}

// The loop is a QObject living on the GUI thread; whoever drops the last reference, the
// destructor runs there.
void deleteSlice(Slice *slice) {
    if (!slice)
        return;
    QThread *home = slice->thread();
    if (!home || home == QThread::currentThread()) {
        delete slice;
    } else {
        const std::lock_guard<std::mutex> handingOver(deletionHandoff());
        slice->deleteLater();
    }
}

// Sound-card thread: no allocation, no file I/O, no lock.
// Moves pos on through count samples up to end, handing each run to take(from, n) before
// pos moves past it. At end it wraps to loopStart while the run began inside the loop
// region, as often as the block needs. A loop that got shorter under the position (a
// region deleted in edit mode while it plays) goes on from its loop start when looping.
// Returns the samples taken; stop says that playing has run out.
template <typename Take>
int walkPlayback(int &pos, int count, int end, int loopMode, int loopStart, int loopEnd, bool &stop, Take take) {
    int done = 0;
    stop = false;
    while (done < count) {
        const int segmentStart = pos;
        const int left = end - pos;
        if (left < 0) {
            if (loopMode > 0 && loopStart < end) {
                pos = loopStart;
                continue;
            }
            RealtimeEvents::note(RealtimeEvents::LoopPositionPastEnd);
            stop = true;
            break;
        }
        const int n = std::min(count - done, left);
        take(done, n);
        pos += n;
        done += n;
        if (pos < end)
            break;
        const bool inLoop = loopMode > 0 && loopStart <= segmentStart && segmentStart < loopEnd && loopStart < end;
        if (!inLoop) {
            stop = true;
            break;
        }
        pos = loopStart;
    }
    return done;
}
} // namespace

// Feeds the resampler from the loop's ahead-of-time render instead of its cache.
class Slice::RenderedSource : public AudioSource {
public:
    explicit RenderedSource(Slice *owner) : m_owner(owner) {}
    // Sound-card thread: no allocation, no file I/O.
    int pull(float *buffer, int count) override { return m_owner->pullRendered(buffer, count); }
    int length() override { return m_owner->length(); }

private:
    Slice *m_owner;
};

void Slice::setEditableCacheFactory(EditableCacheFactory factory) {
    editableCacheFactory() = std::move(factory);
}

SlicePtr Slice::create(const QString &fileName, int engineSampleRate) {
    static const int registered = qRegisterMetaType<SlicePtr>("SlicePtr");
    (void)registered;
    return SlicePtr(new Slice(fileName, engineSampleRate), deleteSlice);
}

Slice::Slice(const QString &fileName, int engineSampleRate)
    : m_pBuffer1(new QVector<float>), m_pBuffer2(new QVector<float>),
      m_pStretcher(new TimeStretcher(engineSampleRate > 0 ? engineSampleRate : 44100)),
      m_pResampler(new SpeexResampler(44100, 44100)), m_pFadeIn(new Fade), m_pFadeOut(new Fade),
      m_pScratch(new float[2 * kRenderPieceFrames]()), m_pRenderedSource(new RenderedSource(this)) {
    qCDebug(lcModel) << "Slice default ctor";
    if (engineSampleRate > 0)
        m_iEngineSampleRate = engineSampleRate;
    m_pFadeIn->setSampleRate(m_iEngineSampleRate);
    m_pFadeOut->setSampleRate(m_iEngineSampleRate);
    m_sFileName = fileName;

    m_pReader = AudioFile::createForPath(fileName);
    m_pCache = AudioCachePtr(new AudioCache(m_pReader));
    m_pCacheRaw.store(m_pCache.data());
    // Connected before the fill starts, so a fill that ends at once is not missed.
    connect(m_pCache.data(), &AudioCache::fillFinished, this, [this]() {
        {
            QMutexLocker locker(&m_lock);
            m_bLoadingComplete = true;
        }
        emit loadingComplete();
    });
    m_pCache->preallocate();
    m_pCache->startBackgroundFill();

    const int readerLength = m_pReader ? m_pReader->length() : 0;
    m_iFileSampleRate = m_pReader ? m_pReader->sampleRate() : 0;
    qCDebug(lcModel) << "Slice samplerate:" << m_iFileSampleRate;

    if (readerLength > 0 && m_iFileSampleRate > 0) {
        qCDebug(lcModel) << "Constructing new slice, f=" << fileName << "l=" << readerLength;
        setEngineSampleRate(m_iEngineSampleRate);
        qCDebug(lcModel) << "Engine samplerate:" << m_iEngineSampleRate;
        m_iPlayEnd = m_pCache->length() & ~1;
        connectCache(m_pCache);
    }
}

Slice::~Slice() {
    { const std::lock_guard<std::mutex> handedOver(deletionHandoff()); }
    qCDebug(lcModel) << "Destroying slice";
    // Views may keep the cache for a while; decoding the rest of a closed loop is wasted.
    if (m_pCache)
        m_pCache->cancelFill();
}

void Slice::connectCache(const AudioCachePtr &cache) {
    connect(cache.data(), &AudioCache::lengthChanged, this, &Slice::lengthChanged);
    connect(cache.data(), &AudioCache::lengthChanged, this, &Slice::fixPlaybackConstraints);
}

int Slice::cachedLength() const {
    return m_pCacheRaw ? (m_pCacheRaw.load()->length() & ~1) : 0;
}

int Slice::clampPosition(int position) const {
    return std::max(0, std::min(position, cachedLength())) & ~1;
}

int Slice::length() {
    QMutexLocker locker(&m_lock);
    return m_pCacheRaw ? m_pCacheRaw.load()->length() : 0;
}

long long Slice::missingFrames() {
    // The reader is fixed at construction.
    return m_pReader ? m_pReader->missingFrames() : 0;
}

int Slice::fileChannels() const {
    // The reader is fixed at construction.
    return m_pReader ? m_pReader->channels() : 0;
}

double Slice::durationSeconds() {
    QMutexLocker locker(&m_lock);
    if (m_iFileSampleRate <= 0)
        return 0.0;
    return double(length() / 2) / m_iFileSampleRate;
}

QString Slice::fileName() {
    QMutexLocker locker(&m_lock);
    return m_sFileName;
}

QString Slice::baseName() const {
    return QFileInfo(m_sFileName).completeBaseName();
}

int Slice::fileSampleRate() {
    QMutexLocker locker(&m_lock);
    return m_iFileSampleRate;
}

AudioCachePtr Slice::cache() {
    QMutexLocker locker(&m_lock);
    return m_pCache;
}

bool Slice::isLoadingComplete() {
    QMutexLocker locker(&m_lock);
    return m_bLoadingComplete;
}

int Slice::playPosition() {
    QMutexLocker locker(&m_lock);
    return m_iPlayPos;
}

int Slice::playEnd() {
    QMutexLocker locker(&m_lock);
    return m_iPlayEnd;
}

int Slice::loopMode() {
    QMutexLocker locker(&m_lock);
    return m_iLoopMode;
}

int Slice::loopStart() {
    QMutexLocker locker(&m_lock);
    return m_iLoopStart;
}

int Slice::loopEnd() {
    QMutexLocker locker(&m_lock);
    return m_iLoopEnd;
}

bool Slice::isPlaying() {
    QMutexLocker locker(&m_lock);
    return m_bPlaying;
}

void Slice::play(bool on, int start, int end) {
    unsigned news = 0;
    {
        QMutexLocker locker(&m_lock);
        news = playLocked(on, start, end);
    }
    if (news)
        announce(PlaybackNews(news));
}

// Sound-card thread: no allocation, no file I/O.
void Slice::playFromSoundCard(int start, int end) {
    QMutexLocker locker(&m_lock);
    m_soundCardNews.fetch_or(playLocked(true, start, end), std::memory_order_release);
}

void Slice::announce(PlaybackNews news) {
    if (news == NewsStarted) {
        emit played();
        emit playbackToggled(true);
    } else {
        emit stopped();
        emit playbackToggled(false);
    }
}

void Slice::deliverSoundCardNews() {
    const unsigned news = m_soundCardNews.exchange(0, std::memory_order_acquire);
    if (!news)
        return;
    const bool playing = isPlaying();
    const bool started = news & NewsStarted, ended = news & NewsStopped;
    // Both since the last call: told in the order that leaves the listeners where the loop
    // is now. One alone that the GUI thread has overtaken since (a stop from the window
    // after a MIDI start) is not told: the listeners heard the newer one already.
    if (started && ended) {
        announce(playing ? NewsStopped : NewsStarted);
        announce(playing ? NewsStarted : NewsStopped);
    } else if (started && playing) {
        announce(NewsStarted);
    } else if (ended && !playing) {
        announce(NewsStopped);
    }
}

unsigned Slice::playLocked(bool on, int start, int end) {
    if (end == 0)
        end = cachedLength();
    start = clampPosition(start);
    end = clampPosition(end);
    // QStringLiteral and the store's shared strings: no allocation on the sound-card thread.
    const bool fades = Settings::instance().value(QStringLiteral("fade_in_out_slices")).toInt() != 0;

    if (!on)
        return stopLocked();

    if (fades) {
        m_pFadeIn->setGain(0.0f);
        m_pFadeIn->startFadeIn(kFadeMs);
    } else {
        m_pFadeIn->setGain(1.0f);
    }
    // A fade-out that finished earlier must not keep the next run silent.
    m_pFadeOut->setGain(1.0f);

    if (m_iLoopMode == 2) {
        if (m_iLoopStart <= start && start < m_iLoopEnd)
            end = m_iLoopEnd;
        m_iPlayPos = start;
        m_iPlayEnd = end;
    } else {
        m_iPlayPos = start;
        m_iPlayEnd = end;
        if (fades && m_iFileSampleRate > 0) {
            // Counted in rendered frames: the region's frames at the device rate, stretched
            // when stretching is on, so that the ramp ends where the rendered slice ends.
            // Rubber Band's exact output length is only known once its input has ended;
            // render then moves a still pending fade-out onto the true end.
            double outFrames = double(end - start) / 2.0 * m_iEngineSampleRate / m_iFileSampleRate;
            if (m_bStretchEnabled)
                outFrames *= m_dTimeStretchRatio;
            const double rampFrames = m_iEngineSampleRate * kFadeMs / 1000.0;
            m_pFadeOut->startFadeOut(kFadeMs, int(std::floor(outFrames - rampFrames)));
        }
    }

    const unsigned news = m_bPlaying ? 0u : unsigned(NewsStarted);
    m_pResampler->reset();
    m_pStretcher->reset();
    // The switch between a render and the real-time stretcher happens only here, at a
    // trigger, where both start from silence behind the fade-in.
    m_bPlayRendered = m_bStretchEnabled && stretchRenderMatches();
    if (m_bPlayRendered)
        m_iRenderedPos = toRendered(m_iPlayPos);
    m_bPlaying = true;
    publishPlayPosition();
    return news;
}

unsigned Slice::stopLocked() {
    m_iPlayPos = m_iLoopMode == 2 ? m_iLoopStart : 0;
    publishPlayPosition();
    m_bPlaying = false;
    return NewsStopped;
}

void Slice::resetPlaybackPosAfterLoopChange() {
    // Positions count file samples whatever the stretch ratio, so the loop end is compared
    // as it is.
    if (m_iPlayPos >= m_iLoopEnd)
        m_iPlayPos = m_iLoopMode == 2 ? m_iLoopStart : 0;
    publishPlayPosition();
}

void Slice::setLoopStart(int start) {
    {
        QMutexLocker locker(&m_lock);
        start = clampPosition(start);
        if (m_iLoopEnd < start) {
            m_iLoopStart = m_iLoopEnd;
            m_iLoopEnd = start;
        } else {
            m_iLoopStart = start;
        }
    }
    emit loopChanged();
}

void Slice::setLoopEnd(int end) {
    bool moved = false;
    {
        QMutexLocker locker(&m_lock);
        const int before = m_iPlayPos;
        end = clampPosition(end);
        m_iPlayEnd = end;
        m_iLoopEnd = end;
        if (end < m_iLoopStart) {
            m_iLoopEnd = m_iLoopStart;
            m_iLoopStart = end;
        }
        resetPlaybackPosAfterLoopChange();
        moved = m_iPlayPos != before;
    }
    emit loopChanged();
    if (moved)
        emit playPosChanged();
}

void Slice::setLoop(int start, int end) {
    {
        QMutexLocker locker(&m_lock);
        m_iLoopStart = clampPosition(start);
        m_iLoopEnd = clampPosition(end);
        m_iPlayEnd = m_iLoopEnd;
    }
    emit loopChanged();
}

void Slice::setLoopMode(int mode) {
    bool moved = false;
    {
        QMutexLocker locker(&m_lock);
        const int before = m_iPlayPos;
        m_iLoopMode = mode;
        if (mode > 0) {
            resetPlaybackPosAfterLoopChange();
            m_pFadeOut->setGain(1.0f); // a loop never fades out
        }
        moved = m_iPlayPos != before;
    }
    emit loopChanged();
    if (moved)
        emit playPosChanged();
}

void Slice::fixPlaybackConstraints() {
    bool changed = false;
    bool moved = false;
    {
        QMutexLocker locker(&m_lock);
        const int before = m_iPlayPos;
        const int len = cachedLength();
        if (len < m_iPlayEnd)
            m_iPlayEnd = len;
        if (len < m_iLoopEnd) {
            m_iPlayEnd = len;
            m_iLoopEnd = len;
            // Both ends stay inside the shorter loop.
            if (len < m_iLoopStart)
                m_iLoopStart = len;
            resetPlaybackPosAfterLoopChange();
            changed = true;
        }
        if (m_iPlayPos >= len)
            m_iPlayPos = 0;
        publishPlayPosition();
        moved = m_iPlayPos != before;
    }
    if (changed)
        emit loopChanged();
    if (moved)
        emit playPosChanged();
}

float Slice::gain() {
    QMutexLocker locker(&m_lock);
    return m_fGain;
}

void Slice::setGain(float gain) {
    QMutexLocker locker(&m_lock);
    m_fGain = gain;
}

double Slice::bpm() {
    QMutexLocker locker(&m_lock);
    return m_dBpm;
}

void Slice::setBpm(double bpm) {
    if (!(bpm >= 0.0) || !std::isfinite(bpm))
        return;
    {
        QMutexLocker locker(&m_lock);
        m_dBpm = bpm;
    }
    emit bpmChanged();
}

TempoAnalysis Slice::tempoAnalysis() {
    QMutexLocker locker(&m_lock);
    return m_tempoAnalysis;
}

void Slice::setTempoAnalysis(const TempoAnalysis &analysis) {
    {
        QMutexLocker locker(&m_lock);
        m_tempoAnalysis = analysis;
    }
    emit tempoAnalysisChanged();
}

double Slice::effectiveBpm() {
    QMutexLocker locker(&m_lock);
    return m_dBpm / m_dTimeStretchRatio;
}

int Slice::pitch() {
    QMutexLocker locker(&m_lock);
    return int(m_fPitch);
}

void Slice::setPitch(int semitones) {
    {
        QMutexLocker locker(&m_lock);
        m_fPitch = float(semitones);
        applyStretchSettings();
    }
    emit pitchChanged();
}

void Slice::applyStretchSettings() {
    m_pStretcher->setPitch(int(m_fPitch));
    m_pStretcher->setTimeRatio(m_dTimeStretchRatio);
    leaveStaleStretchRender();
}

bool Slice::stretchRenderMatches() const {
    const StretchRender *r = m_pStretchRender.get();
    return r && r->timeRatio == m_dTimeStretchRatio && r->pitch == int(m_fPitch) &&
           r->reversed == m_bReversed.load() && r->sourceLength == cachedLength() && !r->samples.empty();
}

// A live pitch or stretch change while a render plays: the real-time stretcher takes over
// where the render was, starting from silence behind a short fade-in.
void Slice::leaveStaleStretchRender() {
    if (!m_bPlayRendered || stretchRenderMatches())
        return;
    m_bPlayRendered = false;
    m_pResampler->reset();
    m_pStretcher->reset();
    m_pFadeIn->setGain(0.0f);
    m_pFadeIn->startFadeIn(kFadeMs);
}

int Slice::toRendered(int position) const {
    const StretchRender *r = m_pStretchRender.get();
    const long long frame = std::llround(double(position / 2) * r->timeRatio);
    return int(std::min<long long>(2 * frame, (long long)(r->samples.size()) & ~1LL));
}

int Slice::fromRendered(int position) const {
    const StretchRender *r = m_pStretchRender.get();
    const long long frame = (long long)(double(position / 2) / r->timeRatio);
    return std::min(int(2 * frame), cachedLength());
}

StretchRender Slice::stretchRenderSettings() {
    QMutexLocker locker(&m_lock);
    StretchRender settings;
    settings.timeRatio = m_dTimeStretchRatio;
    settings.pitch = int(m_fPitch);
    settings.reversed = m_bReversed.load();
    settings.sourceLength = cachedLength();
    return settings;
}

void Slice::setStretchRender(StretchRenderPtr render) {
    {
        QMutexLocker locker(&m_lock);
        std::swap(m_pStretchRender, render);
        // A run playing the old render goes on with the new one only if it stands for the
        // same settings; otherwise the real-time stretcher takes over.
        if (m_bPlayRendered && !stretchRenderMatches())
            leaveStaleStretchRender();
    }
    // render now holds the replaced one: freed here, outside the lock.
}

bool Slice::hasCurrentStretchRender() {
    QMutexLocker locker(&m_lock);
    return stretchRenderMatches();
}

bool Slice::isPlayingStretchRender() {
    QMutexLocker locker(&m_lock);
    return m_bPlaying && m_bPlayRendered;
}

double Slice::timeStretchRatio() {
    QMutexLocker locker(&m_lock);
    return m_dTimeStretchRatio;
}

double Slice::stretchLength() {
    QMutexLocker locker(&m_lock);
    return m_dStretchLength;
}

void Slice::setTimeStretchRatio(double ratio, int tempo) {
    // A ratio of 0, a negative or a non-finite one has no meaning (and would make the
    // effective tempo infinite or NaN).
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return;
    {
        QMutexLocker locker(&m_lock);
        m_dTimeStretchRatio = ratio;
        const qint64 len = length();
        const qint64 n = ratio != 1.0 ? qint64(double(len) * ratio) : len;
        m_dStretchLength = (tempo > 0 && m_iFileSampleRate > 0)
                               ? 1.0 / (double(m_iFileSampleRate) * 2.0) * double(n) * (tempo / 60.0)
                               : 0.0;
        applyStretchSettings();
    }
    emit effectiveBpmChanged();
}

void Slice::stretchToBeats(double beats, int tempo) {
    QMutexLocker locker(&m_lock);
    if (beats == 0.0) {
        m_dTimeStretchRatio = 1.0;
        m_dStretchLength = 0.0;
        // The stretcher follows the ratio the loop reports.
        applyStretchSettings();
        return;
    }
    const int len = length();
    if (tempo <= 0 || len <= 0 || m_iFileSampleRate <= 0 || !std::isfinite(beats))
        return;
    const qint64 n = qint64(1.0 / tempo * 60.0 * m_iFileSampleRate * 2.0 * beats);
    if (n <= 0)
        return;
    m_dStretchLength = beats;
    m_dTimeStretchRatio = double(n) / double(len);
    qCDebug(lcModel) << "Stretching to" << beats << "beats.";
    qCDebug(lcModel) << "Orig length was" << len << " and new is" << n;
    applyStretchSettings();
}

void Slice::setStretchEnabled(bool on) {
    // The stretcher is built at the first need, here, before the loop lock is taken: the
    // sound-card thread renders through it as soon as the flag is set.
    if (on)
        m_pStretcher->prepare();
    QMutexLocker locker(&m_lock);
    m_bStretchEnabled = on;
}

bool Slice::isStretchEnabled() {
    QMutexLocker locker(&m_lock);
    return m_bStretchEnabled;
}

void Slice::setStretchTransientsOption(int option) {
    QMutexLocker locker(&m_lock);
    m_pStretcher->setTransientsOption(option);
}

void Slice::setStretchDetectorOption(int option) {
    QMutexLocker locker(&m_lock);
    m_pStretcher->setDetectorOption(option);
}

void Slice::setStretchFormantOption(int option) {
    QMutexLocker locker(&m_lock);
    m_pStretcher->setFormantOption(option);
}

// The rebuilding setters build the new stretcher before the loop lock is taken, so the
// sound-card thread never waits for a Rubber Band construction.
void Slice::setStretchWindowOption(int option) {
    m_pStretcher->setWindowOption(option);
    QMutexLocker locker(&m_lock);
    m_pResampler->reset();
}

void Slice::setStretchSmoothingOption(int option) {
    m_pStretcher->setSmoothingOption(option);
    QMutexLocker locker(&m_lock);
    m_pResampler->reset();
}

void Slice::setStretchChannelsOption(int option) {
    m_pStretcher->setChannelsOption(option);
    QMutexLocker locker(&m_lock);
    m_pResampler->reset();
}

bool Slice::isReversed() {
    QMutexLocker locker(&m_lock);
    return m_bReversed;
}

// Reversing is a view of the cache read backwards frame by frame (left and right keep
// their places), so no copy of the loop is made and pull reads it directly.
void Slice::reverse() {
    QMutexLocker locker(&m_lock);
    m_bReversed.store(!m_bReversed.load());
    applyStretchSettings();
}

QString Slice::chokeGroup() {
    QMutexLocker locker(&m_lock);
    return m_sChokeGroup;
}

void Slice::setChokeGroup(const QString &group) {
    QMutexLocker locker(&m_lock);
    m_sChokeGroup = group;
}

int Slice::engineSampleRate() {
    QMutexLocker locker(&m_lock);
    return m_iEngineSampleRate;
}

void Slice::setEngineSampleRate(int rate) {
    if (rate <= 0)
        return;
    if (m_pStretcher->engineSampleRate() != rate)
        m_pStretcher->setEngineSampleRate(rate); // builds outside the loop lock
    QMutexLocker locker(&m_lock);
    m_iEngineSampleRate = rate;
    if (m_iFileSampleRate > 0)
        m_pResampler->setRates(m_iFileSampleRate, rate);
    else
        m_pResampler->reset();
    m_pFadeIn->setSampleRate(rate);
    m_pFadeOut->setSampleRate(rate);
}

void Slice::setEditMode(bool on) {
    if (!on)
        return;
    AudioCachePtr current;
    AudioFilePtr reader;
    {
        QMutexLocker locker(&m_lock);
        current = m_pCache;
        reader = m_pReader;
    }
    const EditableCacheFactory &factory = editableCacheFactory();
    if (!current || current->inherits("EditableAudioCache") || !factory)
        return;
    // Built (and preallocated) outside the loop lock; only the pointer swap happens under it.
    AudioCachePtr editable = factory(current, reader);
    if (!editable)
        return;
    {
        QMutexLocker locker(&m_lock);
        if (m_pCache != current)
            return;
        m_pCache = editable;
        m_pCacheRaw.store(editable.data());
    }
    // The plain cache lives on inside the editable one; nothing is freed here.
    connectCache(editable);
}

float Slice::sampleAt(int index) {
    AudioCache *cache = m_pCacheRaw.load();
    if (!cache)
        return 0.0f;
    const int len = cache->length() & ~1;
    if (index < 0 || index >= len)
        return 0.0f;
    if (m_bReversed)
        index = len - 2 - (index & ~1) + (index & 1);
    return cache->getSample(index);
}

// Sound-card thread: called under the loop lock and the cache's try-lock.
void Slice::mix(float *buffer, int from, int n) {
    AudioCache *cache = m_pCacheRaw.load();
    const float g = m_fGain;
    if (!m_bReversed) {
        for (int i = 0; i < n; ++i)
            buffer[from + i] += cache->getSample(m_iPlayPos + i) * g;
    } else {
        const int last = (cache->length() & ~1) - 2;
        for (int i = 0; i < n; ++i) {
            const int idx = m_iPlayPos + i;
            buffer[from + i] += cache->getSample(last - (idx & ~1) + (idx & 1)) * g;
        }
    }
}

int Slice::pull(float *buffer, int count) {
    QMutexLocker locker(&m_lock);
    if (!m_bPlaying || !m_pCacheRaw)
        return 0;
    count &= ~1;
    if (count <= 0)
        return 0;
    const int len = cachedLength();

    if (m_iPlayEnd < m_iPlayPos) {
        if (m_iLoopMode > 0)
            m_iPlayEnd = m_iPlayPos < m_iLoopEnd ? m_iLoopEnd : len;
        else
            m_iPlayEnd = len;
    }

    if (!m_pCacheRaw.load()->tryLock())
        return count; // silence for this block; the stream goes on and the next block tries again

    bool stop = false;
    const int done = walkPlayback(m_iPlayPos, count, std::min(m_iPlayEnd, len), m_iLoopMode, m_iLoopStart,
                                  m_iLoopEnd, stop, [&](int from, int n) { mix(buffer, from, n); });
    m_pCacheRaw.load()->unlock();

    if (stop)
        m_soundCardNews.fetch_or(stopLocked(), std::memory_order_release);
    return done;
}

int Slice::pullRendered(float *buffer, int count) {
    QMutexLocker locker(&m_lock);
    if (!m_bPlaying || !m_bPlayRendered || !m_pStretchRender)
        return 0;
    count &= ~1;
    if (count <= 0)
        return 0;
    const std::vector<float> &samples = m_pStretchRender->samples;
    const int len = int(samples.size()) & ~1;
    // The regions stay in loop samples (the views and the setters use them); mapped here.
    const int loopStart = toRendered(m_iLoopStart);
    const int loopEnd = toRendered(m_iLoopEnd);
    int playEnd = toRendered(m_iPlayEnd);
    if (playEnd < m_iRenderedPos) {
        if (m_iLoopMode > 0)
            playEnd = m_iRenderedPos < loopEnd ? loopEnd : len;
        else
            playEnd = len;
    }

    const float g = m_fGain;
    bool stop = false;
    const int done = walkPlayback(m_iRenderedPos, count, std::min(playEnd, len), m_iLoopMode, loopStart, loopEnd,
                                  stop, [&](int from, int n) {
                                      const float *src = samples.data() + m_iRenderedPos;
                                      for (int i = 0; i < n; ++i)
                                          buffer[from + i] += src[i] * g;
                                  });
    m_iPlayPos = fromRendered(m_iRenderedPos);

    if (stop)
        m_soundCardNews.fetch_or(stopLocked(), std::memory_order_release);
    return done;
}

int Slice::render(float *buffer, int count) {
    QMutexLocker locker(&m_lock);
    if (!m_bPlaying && m_pResampler->isEmpty() && m_pStretcher->isEmpty())
        return 0;
    const int frames = count / 2;
    int done = 0;
    float *scratch = m_pScratch.get();
    // A run that plays a render needs the resampler only: its stretching is done.
    const bool stretchLive = m_bStretchEnabled && !m_bPlayRendered;
    AudioSource *source = m_bPlayRendered ? static_cast<AudioSource *>(m_pRenderedSource.get()) : this;
    while (done < frames) {
        const int piece = std::min(frames - done, kRenderPieceFrames);
        std::memset(scratch, 0, sizeof(float) * 2 * size_t(piece));
        const int n = stretchLive ? m_pStretcher->render(scratch, piece, m_pResampler.get(), this)
                                  : m_pResampler->produce(scratch, piece, source);
        if (n <= 0)
            break;
        if (m_pFadeOut->state() == Fade::FadeOutPending) {
            if (stretchLive) {
                if (m_pStretcher->isAtEndOfInput())
                    m_pFadeOut->retimeFadeOut(kFadeMs, n + m_pStretcher->availableFrames());
            } else if (m_pResampler->isEmpty()) {
                m_pFadeOut->retimeFadeOut(kFadeMs, n);
            }
        }
        m_pFadeIn->process(scratch, n);
        m_pFadeOut->process(scratch, n);
        float *dst = buffer + 2 * done;
        for (int i = 0; i < 2 * n; ++i)
            dst[i] += scratch[i];
        done += n;
        if (n < piece)
            break;
    }
    // Published, not signalled: a queued signal would allocate on every block.
    if (done > 0)
        publishPlayPosition();
    return done * 2;
}
