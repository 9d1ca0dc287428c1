#include "RealFft.h"

#include <mutex>

namespace {

// FFTW's planner is not thread-safe; analyses run on worker threads.
std::mutex &fftwPlannerMutex()
{
    static std::mutex m;
    return m;
}

} // namespace

RealFft::RealFft(int size) : m_size(size), m_in(size_t(size)), m_out(size_t(size / 2 + 1))
{
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    m_plan = fftwf_plan_dft_r2c_1d(size, m_in.data, m_out.data, FFTW_ESTIMATE);
}

RealFft::~RealFft()
{
    std::lock_guard<std::mutex> lock(fftwPlannerMutex());
    if (m_plan)
        fftwf_destroy_plan(m_plan);
}
