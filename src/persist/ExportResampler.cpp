#include "ExportResampler.h"

#include <algorithm>
#include <cstring>
#include <speex/speex_resampler.h>

ExportResampler::ExportResampler(int inputRate, int outputRate) {
    int err = 0;
    if (inputRate > 0 && outputRate > 0)
        m_pState = speex_resampler_init(2, spx_uint32_t(inputRate), spx_uint32_t(outputRate), kQuality, &err);
    if (m_pState)
        speex_resampler_skip_zeros(m_pState);
}

ExportResampler::~ExportResampler() {
    if (m_pState)
        speex_resampler_destroy(m_pState);
}

int ExportResampler::produce(float *out, int frames, const std::function<int(float *, int)> &read) {
    if (!m_pState)
        return 0;
    int done = 0;
    while (done < frames) {
        if (m_iInputPos >= m_iInputCount) {
            m_iInputPos = 0;
            m_iInputCount = 0;
            if (m_iTailLeft < 0) {
                m_iInputCount = std::max(0, read(m_input, kInputFrames));
                m_iConsumed += m_iInputCount;
                if (m_iInputCount == 0)
                    m_iTailLeft = speex_resampler_get_input_latency(m_pState);
            }
            if (m_iInputCount == 0) {
                // The filter still holds the last input frames: push silence through it.
                if (m_iTailLeft <= 0)
                    break;
                m_iInputCount = std::min(m_iTailLeft, kInputFrames);
                m_iTailLeft -= m_iInputCount;
                std::memset(m_input, 0, sizeof(float) * 2 * size_t(m_iInputCount));
            }
        }
        spx_uint32_t inLen = spx_uint32_t(m_iInputCount - m_iInputPos);
        spx_uint32_t outLen = spx_uint32_t(frames - done);
        speex_resampler_process_interleaved_float(m_pState, m_input + 2 * m_iInputPos, &inLen, out + 2 * done,
                                                  &outLen);
        m_iInputPos += int(inLen);
        done += int(outLen);
        if (inLen == 0 && outLen == 0)
            break;
    }
    return done;
}
