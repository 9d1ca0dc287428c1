#include "TimeStretcher.h"

#include "RealtimeEvents.h"
#include "SpeexResampler.h"

#include <QMutexLocker>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <rubberband/RubberBandStretcher.h>

using RubberBand::RubberBandStretcher;

namespace {
float *allocateZeroed(size_t count) {
    void *p = nullptr;
    if (posix_memalign(&p, 16, count * sizeof(float)) != 0)
        return nullptr;
    std::memset(p, 0, count * sizeof(float));
    return static_cast<float *>(p);
}
} // namespace

void TimeStretcher::AlignedFree::operator()(float *p) const {
    std::free(p);
}

TimeStretcher::TimeStretcher(int engineSampleRate)
    : m_iEngineSampleRate(engineSampleRate > 0 ? engineSampleRate : 44100) {}

TimeStretcher::~TimeStretcher() = default;

void TimeStretcher::prepare() {
    if (isPrepared())
        return;
    std::unique_ptr<RubberBandStretcher> fresh = build();
    std::unique_ptr<float[], AlignedFree> input(allocateZeroed(2 * maxFrames));
    std::unique_ptr<float[], AlignedFree> left(allocateZeroed(2 * maxFrames));
    std::unique_ptr<float[], AlignedFree> right(allocateZeroed(2 * maxFrames));
    QMutexLocker locker(&m_lock);
    if (m_pStretcher)
        return;
    m_pStretcher = std::move(fresh);
    m_pInput = std::move(input);
    m_pLeft = std::move(left);
    m_pRight = std::move(right);
    resetRun();
    // Settings made while this one was being built.
    m_pStretcher->setTimeRatio(m_dTimeRatio);
    m_pStretcher->setPitchScale(pitchScale());
}

bool TimeStretcher::isPrepared() {
    QMutexLocker locker(&m_lock);
    return m_pStretcher != nullptr;
}

int TimeStretcher::options() const {
    return m_iTransients | m_iDetector | m_iWindow | m_iSmoothing | m_iFormant | m_iChannels |
           int(RubberBandStretcher::OptionProcessRealTime);
}

double TimeStretcher::pitchScale() const {
    return std::pow(2.0, m_iPitch / 12.0);
}

// Built for the device rate: window sizes and transient detection then match the audio
// the stretcher actually receives.
std::unique_ptr<RubberBandStretcher> TimeStretcher::build() const {
    auto s = std::make_unique<RubberBandStretcher>(size_t(m_iEngineSampleRate), 2,
                                                   RubberBandStretcher::Options(options()), 1.0, 1.0);
    s->setMaxProcessSize(maxFrames);
    s->reset();
    s->setTimeRatio(m_dTimeRatio);
    s->setPitchScale(pitchScale());
    return s;
}

void TimeStretcher::rebuild() {
    if (!isPrepared()) {
        // The options take effect when one is built.
        ++m_iRebuilds;
        return;
    }
    std::unique_ptr<RubberBandStretcher> fresh = build();
    {
        QMutexLocker locker(&m_lock);
        std::swap(m_pStretcher, fresh);
        resetRun();
        // Ratio and pitch may have changed while the new one was being built.
        m_pStretcher->setTimeRatio(m_dTimeRatio);
        m_pStretcher->setPitchScale(pitchScale());
        ++m_iRebuilds;
    }
    // The old stretcher is freed here, outside the lock.
}

void TimeStretcher::setPitch(int semitones) {
    m_iPitch = semitones;
    if (m_pStretcher)
        m_pStretcher->setPitchScale(pitchScale());
}

void TimeStretcher::setTimeRatio(double ratio) {
    if (!(ratio > 0.0) || !std::isfinite(ratio))
        return;
    m_dTimeRatio = ratio;
    if (m_pStretcher)
        m_pStretcher->setTimeRatio(ratio);
}

void TimeStretcher::reset() {
    QMutexLocker locker(&m_lock);
    if (m_pStretcher)
        m_pStretcher->reset();
    resetRun();
}

bool TimeStretcher::isEmpty() {
    QMutexLocker locker(&m_lock);
    return remainingLocked() <= 0;
}

bool TimeStretcher::isAtEndOfInput() {
    QMutexLocker locker(&m_lock);
    return m_bEndOfInput;
}

int TimeStretcher::availableFrames() {
    QMutexLocker locker(&m_lock);
    return std::max(0, remainingLocked());
}

// Called with the lock held.
void TimeStretcher::resetRun() {
    m_bPrimed = false;
    m_iDiscard = 0;
    m_bSourceEnded = false;
    m_iFlushed = 0;
    m_dOwed = 0.0;
    m_bEndOfInput = false;
}

// Called with the lock held: the frames that can be retrieved now, the start delay and,
// once the source has ended, whatever Rubber Band holds beyond what is owed left out.
int TimeStretcher::remainingLocked() const {
    if (!m_pStretcher)
        return 0;
    int n = m_pStretcher->available() - m_iDiscard;
    if (m_bSourceEnded)
        n = std::min(n, int(std::floor(m_dOwed)));
    return n;
}

int TimeStretcher::latencyFrames() {
    prepare();
    QMutexLocker locker(&m_lock);
    return int(m_pStretcher->getStartDelay());
}

void TimeStretcher::setTransientsOption(int option) {
    QMutexLocker locker(&m_lock);
    m_iTransients = option;
    if (m_pStretcher)
        m_pStretcher->setTransientsOption(RubberBandStretcher::Options(option));
}

void TimeStretcher::setDetectorOption(int option) {
    QMutexLocker locker(&m_lock);
    m_iDetector = option;
    if (m_pStretcher)
        m_pStretcher->setDetectorOption(RubberBandStretcher::Options(option));
}

void TimeStretcher::setFormantOption(int option) {
    QMutexLocker locker(&m_lock);
    m_iFormant = option;
    if (m_pStretcher)
        m_pStretcher->setFormantOption(RubberBandStretcher::Options(option));
}

void TimeStretcher::setWindowOption(int option) {
    m_iWindow = option;
    rebuild();
}

void TimeStretcher::setSmoothingOption(int option) {
    m_iSmoothing = option;
    rebuild();
}

void TimeStretcher::setChannelsOption(int option) {
    m_iChannels = option;
    rebuild();
}

void TimeStretcher::setEngineSampleRate(int rate) {
    if (rate <= 0)
        return;
    m_iEngineSampleRate = rate;
    rebuild();
}

int TimeStretcher::render(float *out, int frames, SpeexResampler *source, AudioSource *loop) {
    QMutexLocker locker(&m_lock);
    int sum = 0;
    while (sum < frames) {
        const int piece = std::min(frames - sum, int(maxFrames));
        const int n = renderSome(out + 2 * sum, piece, source, loop);
        sum += n;
        if (n < piece)
            break;
    }
    return sum;
}

// Sound-card thread: no allocation, no file I/O; called with the lock held.
int TimeStretcher::renderSome(float *out, int frames, SpeexResampler *source, AudioSource *loop) {
    m_pSource = source;
    if (!source || !m_pStretcher || !m_pInput || !m_pLeft || !m_pRight)
        return 0;
    RubberBandStretcher *rb = m_pStretcher.get();
    float *channels[2] = {m_pLeft.get(), m_pRight.get()};
    // The start delay is dropped as soon as it comes out, so the output buffer never has to
    // hold it on top of a block.
    auto dropDelay = [&] {
        while (m_iDiscard > 0) {
            const int n = std::min({m_iDiscard, rb->available(), int(maxFrames)});
            if (n <= 0)
                break;
            const int dropped = int(rb->retrieve(channels, size_t(n)));
            if (dropped <= 0)
                break;
            m_iDiscard -= dropped;
        }
    };
    auto silence = [&] {
        std::memset(m_pLeft.get(), 0, sizeof(float) * maxFrames);
        std::memset(m_pRight.get(), 0, sizeof(float) * maxFrames);
    };
    if (!m_bPrimed) {
        m_bPrimed = true;
        m_iDiscard = int(rb->getStartDelay());
        for (int pad = int(rb->getPreferredStartPad()); pad > 0; pad -= maxFrames) {
            silence();
            rb->process(channels, size_t(std::min(pad, int(maxFrames))), false);
            dropDelay();
        }
    }

    while (!m_bEndOfInput) {
        if (!m_bSourceEnded) {
            if (m_iDiscard == 0 && rb->available() >= frames)
                break;
            std::memset(m_pInput.get(), 0, sizeof(float) * 2 * maxFrames);
            silence();
            const int n = source->produce(m_pInput.get(), frames, loop);
            if (n <= 0 && !source->isEmpty())
                break; // nothing this block; the next one asks again
            const float *in = m_pInput.get();
            for (int i = 0; i < n; ++i) {
                m_pLeft[i] = in[2 * i];
                m_pRight[i] = in[2 * i + 1];
            }
            rb->process(channels, size_t(n), false);
            m_dOwed += n * rb->getTimeRatio();
            m_bSourceEnded = source->isEmpty();
        } else {
            const int ready = rb->available() - m_iDiscard;
            if (ready >= m_dOwed || m_iFlushed >= kMaxFlushFrames) {
                rb->process(channels, 0, true);
                RealtimeEvents::note(RealtimeEvents::StretcherInputEnded);
                m_bEndOfInput = true;
                break;
            }
            if (ready >= frames)
                break;
            silence();
            rb->process(channels, size_t(maxFrames), false);
            m_iFlushed += maxFrames;
        }
        dropDelay();
    }

    const int want = std::min(frames, remainingLocked());
    if (want <= 0)
        return 0;
    int r = int(rb->retrieve(channels, size_t(want)));
    if (r < 0) {
        RealtimeEvents::note(RealtimeEvents::StretcherRetrieveFailed);
        r = 0;
    }
    m_dOwed -= r;
    for (int i = 0; i < r; ++i) {
        out[2 * i] += m_pLeft[i];
        out[2 * i + 1] += m_pRight[i];
    }
    return r;
}
