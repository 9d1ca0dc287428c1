#pragma once

// A linear gain ramp over stereo frames: the short fade-in at the start of a played slice
// and the fade-out that ends at its rendered end.
class Fade {
public:
    enum State { FadingIn = 0, FadingOut = 1, FadeOutPending = 3, Idle = 4 };

    Fade() = default;
    virtual ~Fade() = default;

    // Ramps from 0 to 1 over ms milliseconds; does nothing when the gain is already 1.
    void startFadeIn(double ms);
    // Ramps from 1 to 0 over ms milliseconds, starting delayFrames frames from now.
    void startFadeOut(double ms, int delayFrames);
    // A pending fade-out is moved so that it ends framesToEnd frames from now (shortened
    // when fewer frames than its ramp are left). Running or finished fades are kept.
    void retimeFadeOut(double ms, int framesToEnd);
    // Sets the current gain and cancels any running or pending ramp.
    void setGain(float gain);
    void setSampleRate(int rate) { m_iSampleRate = rate > 0 ? rate : 44100; }

    // Sound-card thread: no allocation, no locks.
    // Applies the ramp (or the constant gain it has reached) to n stereo frames. A
    // finished fade-out keeps the frames at gain 0 until the gain is set again.
    void process(float *frames, int n);

    int state() const { return m_iState; }
    float gain() const { return m_fGain; }
    float step() const { return m_fStep; }
    int sampleRate() const { return m_iSampleRate; }
    int delay() const { return m_iDelay; }

private:
    void ramp(float *frames, int n);

    int m_iState = Idle;
    float m_fGain = 1.0f;
    float m_fTarget = 1.0f;
    float m_fStep = 0.0f;
    int m_iSampleRate = 44100;
    int m_iDelayCounter = 0;
    int m_iDelay = 0;
};
