#include "PersistFixtures.h"

#include "Trevant.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <sndfile.h>

namespace PersistFixtures {

QString writeStaircase(const QString &path, int rate, long long frames) {
    return TestAudio::writeWav(path, 2, rate, frames,
                               [](long long f, int c) { return TestAudio::staircase(2 * f + c); })
               ? path
               : QString();
}

QString writeSine(const QString &path, int rate, long long frames, double freq, float amp) {
    return TestAudio::writeWav(path, 2, rate, frames, TestAudio::sine(freq, rate, amp)) ? path : QString();
}

bool waitFilled(const SlicePtr &loop) {
    for (int i = 0; loop && i < 2000 && !loop->isLoadingComplete(); ++i)
        QTest::qWait(5);
    return loop && loop->isLoadingComplete();
}

std::unique_ptr<Trevant> loadedSlicer(const QString &path, int engineRate) {
    std::unique_ptr<Trevant> slicer(new Trevant);
    slicer->setEngineSampleRate(engineRate);
    slicer->slotLoadLoop(path);
    waitFilled(slicer->currentSlice());
    return slicer;
}

Audio readAudio(const QString &path) {
    Audio audio;
    SF_INFO info{};
    SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return audio;
    audio.rate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(size_t(info.frames * info.channels));
    const sf_count_t got = sf_readf_float(f, audio.samples.data(), info.frames);
    audio.samples.resize(size_t(got * info.channels));
    sf_close(f);
    return audio;
}

QStringList folderEntries(const QString &folder) {
    QStringList entries =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.sort();
    return entries;
}

} // namespace PersistFixtures
