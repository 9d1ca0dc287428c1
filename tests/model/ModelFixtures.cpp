#include "ModelFixtures.h"

#include "Settings.h"

#include <QSignalSpy>
#include <QtTest>
#include <cmath>

namespace ModelFixtures {

QString writeStaircase(QTemporaryDir &dir, const QString &name, int rate, long long frames) {
    const QString path = dir.filePath(name);
    if (!TestAudio::writeWav(path, 2, rate, frames,
                             [](long long f, int c) { return TestAudio::staircase(2 * f + c); }))
        return QString();
    return path;
}

QString writeSine(QTemporaryDir &dir, const QString &name, int rate, long long frames, double freq, float amp,
                  float dc) {
    const QString path = dir.filePath(name);
    const auto gen = TestAudio::sine(freq, rate, amp);
    if (!TestAudio::writeWav(path, 2, rate, frames, [&](long long f, int c) { return gen(f, c) + dc; }))
        return QString();
    return path;
}

SlicePtr loadFilled(const QString &path, int engineRate) {
    SlicePtr slice = Slice::create(path, engineRate);
    for (int i = 0; i < 2000 && !slice->isLoadingComplete(); ++i)
        QTest::qWait(5);
    return slice;
}

std::vector<float> renderAll(Slice &slice, int blockFrames, long long maxFrames) {
    std::vector<float> out;
    std::vector<float> block(size_t(2 * blockFrames));
    while (out.size() / 2 < size_t(maxFrames)) {
        std::fill(block.begin(), block.end(), 0.0f);
        const int n = slice.render(block.data(), 2 * blockFrames);
        if (n <= 0)
            break;
        out.insert(out.end(), block.begin(), block.begin() + n);
    }
    return out;
}

void setSetting(const char *key, const char *value) {
    Settings::instance().set(QString::fromLatin1(key), QString::fromLatin1(value));
}

} // namespace ModelFixtures
