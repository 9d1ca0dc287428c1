#include "LongLoop.h"

#include "TestAudio.h"

#include <QThread>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

SlicePtr LongLoop::writeAndLoad(const QString &path, int rate, long long frames) {
    unsigned seed = 12345;
    const TestAudio::Generator gen = [&seed, rate](long long f, int c) {
        seed = seed * 1664525u + 1013904223u;
        const double t = double(f) / rate;
        return float(0.3 * std::sin(2 * M_PI * 110.0 * t + c) +
                     0.05 * (double(seed >> 8) / double(1 << 24) - 0.5));
    };
    if (!TestAudio::writeSndFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, rate, frames, gen)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        std::exit(1);
    }
    SlicePtr loop = Slice::create(path, rate);
    while (!loop->cache()->isFilled())
        QThread::msleep(20);
    return loop;
}
