#include "DrumLoopFile.h"

#include "TestAudio.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cmath>

namespace DrumLoopFile {

QString write(const QString &folder, const QString &name, double seconds, int rate) {
    const QString path = QDir(folder).filePath(name);
    if (QFile::exists(path))
        return path;
    const long long frames = static_cast<long long>(seconds * rate);
    const long long beat = rate / 2;
    TestAudio::writeWav(
        path, 2, rate, frames,
        [=](long long f, int c) {
            const long long k = f % beat;
            const unsigned noise = static_cast<unsigned>((f * 1103515245LL + 12345LL) >> 8) & 0xFFFF;
            const float hit = float(std::exp(-double(k) / (rate * 0.03))) * (float(noise) / 32768.0f - 1.0f);
            return 0.3f * hit + 0.2f * float(std::sin(2.0 * M_PI * 110.0 * double(f) / rate)) * (c ? 0.8f : 1.0f);
        },
        false);
    return path;
}

void waitFor(const std::function<bool()> &done, qint64 timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

} // namespace DrumLoopFile
