#include "SpeexResampler.h"

#include "AudioSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <speex/speex_resampler.h>

namespace {
constexpr int kQuality = 3;
constexpr int kChannels = 2;

// The part of each buffer a loop's playback uses (its render pieces); the rest is only
// reached by longer offline conversions.
constexpr int kPrefaultedFrames = 2048;

// Zeroed and 16-byte aligned. A buffer this large comes from calloc as fresh pages that
// are not backed until written, so a resampler that never converts long pieces (every
// loop and pad on screen has one) does not keep its whole worst-case buffers resident.
// The part playback uses is written here, on the constructing thread, so that the
// sound-card thread does not take the first-touch page faults.
float *allocateZeroed(size_t count) {
    void *p = std::calloc(count, sizeof(float));
    if (p && reinterpret_cast<uintptr_t>(p) % 16 != 0) {
        std::free(p);
        p = nullptr;
        if (posix_memalign(&p, 16, count * sizeof(float)) != 0)
            return nullptr;
        std::memset(p, 0, count * sizeof(float));
    }
    if (p)
        std::memset(p, 0, sizeof(float) * std::min(count, size_t(kChannels) * kPrefaultedFrames));
    return static_cast<float *>(p);
}
} // namespace

void SpeexResampler::AlignedFree::operator()(float *p) const {
    std::free(p);
}

SpeexResampler::SpeexResampler(int inputRate, int outputRate)
    : m_pOutput(allocateZeroed(2 * maxFrames)), m_pInput(allocateZeroed(2 * maxFrames)),
      m_iInputRate(inputRate > 0 ? inputRate : 44100), m_iOutputRate(outputRate > 0 ? outputRate : 44100) {
    int err = 0;
    m_pState = speex_resampler_init(kChannels, spx_uint32_t(m_iInputRate), spx_uint32_t(m_iOutputRate),
                                    kQuality, &err);
    if (!m_pState || !m_pOutput || !m_pInput)
        std::printf("Out of memory in %s\n", __FILE__);
}

SpeexResampler::~SpeexResampler() {
    if (m_pState)
        speex_resampler_destroy(m_pState);
}

void SpeexResampler::reset() {
    m_bEndOfInput = false;
    m_iFramesConsumed = 0;
    m_iFramesProduced = 0;
    m_bFlushed = false;
    m_iInputAvailable = 0;
    m_iInputPos = 0;
    if (m_pState) {
        speex_resampler_reset_mem(m_pState);
        if (!m_bLatencyCompensationOff)
            speex_resampler_skip_zeros(m_pState);
    }
    // The buffers are not cleared: nothing is read from either before it is written (the
    // input is cleared and pulled when empty, the output written by the filter), and a
    // whole-buffer clear on every trigger would cost the sound-card thread 256 KB of
    // writes and fault in pages playback never uses.
}

void SpeexResampler::setRates(int inputRate, int outputRate) {
    if (inputRate > 0 && outputRate > 0) {
        m_iInputRate = inputRate;
        m_iOutputRate = outputRate;
        if (m_pState)
            speex_resampler_set_rate(m_pState, spx_uint32_t(inputRate), spx_uint32_t(outputRate));
    }
    reset();
}

void SpeexResampler::setLatencyCompensation(bool on) {
    m_bLatencyCompensationOff = !on;
    reset();
}

int SpeexResampler::produce(float *out, int frames, AudioSource *source) {
    int sum = 0;
    while (sum < frames) {
        const int piece = std::min(frames - sum, maxFrames);
        const int n = produceSome(out + 2 * sum, piece, source);
        sum += n;
        if (n < piece)
            break;
    }
    return sum;
}

// Sound-card thread: no allocation, no file I/O.
int SpeexResampler::produceSome(float *out, int frames, AudioSource *source) {
    const bool bypass = m_iInputRate == m_iOutputRate;
    if ((!m_pState && !bypass) || !m_pInput || !m_pOutput || !source)
        return 0;

    int sum = 0;
    while (sum < frames) {
        if (m_iInputAvailable <= 0) {
            if (m_bEndOfInput) {
                if (m_bLatencyCompensationOff || m_bFlushed || bypass)
                    break;
                // Feed the filter's delay as silence so that its tail comes out.
                std::printf("Telling SpeexResampler to flush...\n");
                std::printf("SpeexResampler produced %d frames to this point.\n", m_iFramesProduced);
                m_bFlushed = true;
                const int latency = std::min(speex_resampler_get_input_latency(m_pState), maxFrames);
                std::memset(m_pInput.get(), 0, sizeof(float) * 2 * size_t(latency));
                m_iInputPos = 0;
                m_iInputAvailable = latency;
                continue;
            }
            std::memset(m_pInput.get(), 0, sizeof(float) * 2 * size_t(frames));
            const int pulled = source->pull(m_pInput.get(), 2 * frames);
            m_iInputPos = 0;
            m_iInputAvailable = std::max(0, pulled) / 2;
            if (m_iInputAvailable == 0) {
                m_bEndOfInput = true;
                continue;
            }
        }

        spx_uint32_t inLen = spx_uint32_t(m_iInputAvailable);
        spx_uint32_t outLen = spx_uint32_t(frames - sum);
        const float *in = m_pInput.get() + 2 * m_iInputPos;
        if (bypass) {
            inLen = outLen = std::min(inLen, outLen);
            std::memcpy(m_pOutput.get(), in, sizeof(float) * 2 * inLen);
        } else {
            speex_resampler_process_interleaved_float(m_pState, in, &inLen, m_pOutput.get(), &outLen);
        }
        m_iFramesConsumed += int(inLen);
        m_iInputPos += int(inLen);
        m_iInputAvailable -= int(inLen);

        float *dst = out + 2 * sum;
        const float *src = m_pOutput.get();
        for (spx_uint32_t i = 0; i < 2 * outLen; ++i)
            dst[i] += src[i];
        m_iFramesProduced += int(outLen);
        sum += int(outLen);

        if (inLen == 0 && outLen == 0)
            break; // the filter made no progress; never spin in the callback
    }
    return sum;
}
