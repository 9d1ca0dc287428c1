#include "Fade.h"

#include <algorithm>
#include <cmath>

void Fade::startFadeIn(double ms) {
    if (m_fGain == 1.0f)
        return;
    m_iState = FadingIn;
    m_fGain = 0.0f;
    m_fTarget = 1.0f;
    m_fStep = float(1.0 / (m_iSampleRate / 1000.0 * ms));
}

void Fade::startFadeOut(double ms, int delayFrames) {
    m_iState = FadingOut;
    m_fGain = 1.0f;
    m_fTarget = 0.0f;
    m_fStep = float(-1.0 / (m_iSampleRate / 1000.0 * ms));
    m_iDelayCounter = 0;
    m_iDelay = 0;
    if (delayFrames > 0) {
        m_iState = FadeOutPending;
        m_iDelay = delayFrames;
    }
}

void Fade::retimeFadeOut(double ms, int framesToEnd) {
    if (m_iState != FadeOutPending)
        return;
    const double rampFrames = m_iSampleRate / 1000.0 * ms;
    if (framesToEnd >= rampFrames) {
        m_iDelay = int(std::floor(framesToEnd - rampFrames));
        m_iDelayCounter = 0;
        return;
    }
    m_iState = FadingOut;
    m_fGain = 1.0f;
    m_fTarget = 0.0f;
    m_fStep = -1.0f / float(std::max(1, framesToEnd));
}

void Fade::setGain(float gain) {
    m_fGain = gain;
    m_fTarget = gain;
    m_iState = Idle;
}

void Fade::ramp(float *frames, int n) {
    const bool rising = m_iState == FadingIn;
    for (int i = 0; i < n; ++i) {
        if (m_iState != Idle) {
            m_fGain += m_fStep;
            // Clamp before applying, so the last frame of a ramp never overshoots.
            if (rising ? m_fGain >= m_fTarget : m_fGain <= m_fTarget) {
                m_fGain = m_fTarget;
                m_iState = Idle;
            }
        }
        frames[2 * i] *= m_fGain;
        frames[2 * i + 1] *= m_fGain;
    }
}

void Fade::process(float *frames, int n) {
    if (n <= 0)
        return;
    switch (m_iState) {
    case FadingIn:
    case FadingOut:
        ramp(frames, n);
        break;
    case FadeOutPending: {
        if (m_iDelayCounter + n <= m_iDelay) {
            m_iDelayCounter += n;
            break;
        }
        const int offset = m_iDelay - m_iDelayCounter;
        m_iDelayCounter = m_iDelay;
        m_iState = FadingOut;
        ramp(frames + 2 * offset, n - offset);
        break;
    }
    default:
        if (m_fGain != 1.0f) {
            for (int i = 0; i < 2 * n; ++i)
                frames[i] *= m_fGain;
        }
        break;
    }
}
