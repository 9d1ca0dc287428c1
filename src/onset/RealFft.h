#pragma once

#include <fftw3.h>

#include <cstddef>

// Buffers aligned as FFTW wants them.
struct FloatBuffer {
    explicit FloatBuffer(size_t n) : data(static_cast<float *>(fftwf_malloc(sizeof(float) * n))) {}
    ~FloatBuffer() { fftwf_free(data); }
    FloatBuffer(const FloatBuffer &) = delete;
    FloatBuffer &operator=(const FloatBuffer &) = delete;
    float *data;
};

struct ComplexBuffer {
    explicit ComplexBuffer(size_t n) : data(static_cast<fftwf_complex *>(fftwf_malloc(sizeof(fftwf_complex) * n))) {}
    ~ComplexBuffer() { fftwf_free(data); }
    ComplexBuffer(const ComplexBuffer &) = delete;
    ComplexBuffer &operator=(const ComplexBuffer &) = delete;
    fftwf_complex *data;
};

// A real FFT of fixed size: one plan, made once per analysis and run on every frame.
// Plans may be made and destroyed on any thread (the planner is guarded).
class RealFft {
public:
    explicit RealFft(int size);
    ~RealFft();
    RealFft(const RealFft &) = delete;
    RealFft &operator=(const RealFft &) = delete;

    bool isValid() const { return m_plan != nullptr; }
    float *input() { return m_in.data; }
    const fftwf_complex *run()
    {
        fftwf_execute(m_plan);
        return m_out.data;
    }

private:
    int m_size;
    FloatBuffer m_in;
    ComplexBuffer m_out;
    fftwf_plan m_plan = nullptr;
};
