// Resident memory of the program with a long loop: a 10-minute 16-bit 48 kHz stereo WAV
// loaded and drawn, the same in edit mode with 10 edits (played and read through once
// in full, as an export would), and a 60-minute file opened, drawn, sliced, played,
// edited and read through. Each case runs in a child process of its own (this program
// started again with --case), so that one case's peak cannot hide in another's; the
// child reports VmRSS and VmHWM from /proc/self/status. The figures are set against the
// file's PCM size and against a child that only starts the engine.
//
//   bench_memory                 every case
//   bench_memory --case NAME     one case in this process (idle, bare, cache10, loaded10,
//                                edit10, hour60)
//
// "bare" and "cache10" leave the engine out: the 10-minute loop's cache alone, set against
// a process that only starts, shows what the samples themselves take.

#include "AudioCache.h"
#include "AudioEditFactory.h"
#include "AudioFile.h"
#include "AudioEditGain.h"
#include "EditableAudioCache.h"
#include "PeakSummary.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "TestAudio.h"
#include "Trevant.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kDrawColumns = 1920;

// Kilobytes of one line of /proc/self/status ("VmRSS", "VmHWM").
long statusKb(const char *key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

void waitFor(const std::function<bool()> &done, int timeoutMs = 600000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

QString writeLongWav(const QString &path, long long frames) {
    if (QFile::exists(path))
        return path;
    unsigned seed = 12345;
    const TestAudio::Generator gen = [&seed](long long f, int c) {
        seed = seed * 1664525u + 1013904223u;
        const double t = double(f) / kRate;
        return float(0.3 * std::sin(2 * M_PI * 110.0 * t + c) + 0.05 * (double(seed >> 8) / double(1 << 24) - 0.5));
    };
    if (!TestAudio::writeSndFile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, kRate, frames, gen)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

// What the waveform view reads for one full redraw at kDrawColumns columns.
void draw(const AudioCachePtr &cache) {
    const PeakSummary *peaks = cache->peakSummary();
    const int length = cache->length();
    std::vector<float> scratch;
    const PeakSummary::SampleReader read = [&cache](float *dst, int start, int count) {
        for (int i = 0; i < count; ++i)
            dst[i] = cache->getSample(start + i);
    };
    float sum = 0.0f;
    for (int x = 0; x < kDrawColumns; ++x) {
        const int from = int(qint64(length) * x / kDrawColumns) & ~1;
        const int to = int(qint64(length) * (x + 1) / kDrawColumns) & ~1;
        PeakSummary::Range range;
        if (peaks && peaks->query(from, to, read, range)) {
            sum += range.maximum - range.minimum;
        } else {
            for (int i = from; i < to; i += 64)
                sum += std::fabs(cache->getSample(i));
        }
    }
    if (sum < 0)
        std::puts("");
}

// Ten edits of every kind but Normalize, four seconds each, one of them a Delete of a
// second, spread over the loop.
void addEdits(const QSharedPointer<EditableAudioCache> &cache, int count) {
    static const int kinds[] = {TypeFadeIn, TypeGain, TypeFadeOut, TypeMute, TypeReverse,
                                TypeDuplicate, TypeGain, TypeDelete, TypeGain, TypeFadeIn};
    const qint64 length = cache->length();
    for (int k = 0; k < count; ++k) {
        const int type = kinds[k % 10];
        const int start = int((length - 8 * kRate * 2) * (k + 1) / (count + 1)) & ~1;
        const int end = start + (type == TypeDelete ? 2 * kRate : 8 * kRate);
        const AudioEditPtr edit =
            AudioEditFactory::createEdit(type, type == TypeDuplicate ? start + 2 * kRate : -1, start, end, cache);
        if (auto gain = edit.objectCast<AudioEditGain>())
            gain->setGain(0.7f);
        cache->addEdit(edit);
    }
    waitFor([&] { return !cache->isResetting(); });
}

// Plays the loop through the engine's mix, as the sound-card callback would, for the
// given seconds of audio.
void play(SliceEngine &engine, double seconds) {
    constexpr int kFrames = 1024;
    std::vector<float> buffer(2 * kFrames);
    const int calls = int(seconds * kRate / kFrames);
    for (int i = 0; i < calls; ++i) {
        std::fill(buffer.begin(), buffer.end(), 0.0f);
        engine.processAudio(buffer.data(), kFrames);
    }
}

float readThrough(const AudioCachePtr &cache) {
    float sum = 0.0f;
    const int length = cache->length();
    while (!cache->tryLock())
        QThread::usleep(100);
    for (int i = 0; i < length; ++i)
        sum += cache->getSample(i);
    cache->unlock();
    return sum;
}

int runCase(const QString &name, const QString &path) {
    if (name == "bare" || name == "cache10") {
        AudioCachePtr cache;
        if (name == "cache10") {
            cache.reset(new AudioCache(AudioFile::createForPath(path)));
            cache->preallocate();
            cache->startBackgroundFill();
            waitFor([&] { return cache->isFilled(); });
            draw(cache);
        }
        std::printf("rss_kb %ld\nhwm_kb %ld\n", statusKb("VmRSS"), statusKb("VmHWM"));
        return 0;
    }
    EditableAudioCache::installInLoopModel();
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    Settings::instance().set("MidiDevice", "None");
    SliceEngine engine;
    engine.slicer()->setEngineSampleRate(kRate);
    engine.setSampleRate(kRate);
    if (name != "idle") {
        Trevant *slicer = engine.slicer();
        slicer->slotLoadLoop(path);
        SlicePtr loop = slicer->currentSlice();
        waitFor([&] { return loop->isLoadingComplete(); });
        draw(loop->cache());
        std::printf("loaded_rss_kb %ld\n", statusKb("VmRSS"));
        if (name == "hour60") {
            slicer->sliceEvenly(64);
            draw(loop->cache());
        }
        if (name != "loaded10") {
            loop->setLoopMode(2);
            slicer->togglePlayback(true);
            play(engine, 30.0);
            loop->setEditMode(true);
            const auto editable = loop->cache().objectCast<EditableAudioCache>();
            if (!editable) {
                std::fprintf(stderr, "edit mode has no editable cache\n");
                return 1;
            }
            addEdits(editable, 10);
            draw(loop->cache());
            play(engine, 30.0);
            if (readThrough(loop->cache()) == 12345.0f)
                std::puts("");
        }
    }
    std::printf("rss_kb %ld\nhwm_kb %ld\n", statusKb("VmRSS"), statusKb("VmHWM"));
    return 0;
}

std::map<QString, long> runChild(const QString &name, const QString &path) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--case", name, path});
    child.waitForFinished(-1);
    std::map<QString, long> figures;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split(' ');
        if (parts.size() == 2)
            figures[QString::fromLatin1(parts[0])] = parts[1].toLong();
    }
    if (child.exitCode() != 0 || !figures.count("hwm_kb"))
        std::fprintf(stderr, "case %s failed\n", qPrintable(name));
    return figures;
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == "--case")
        return runCase(args.at(2), args.value(3));

    QTemporaryDir dir;
    const long long frames10 = 10LL * 60 * kRate;
    const long long frames60 = 60LL * 60 * kRate;
    const QString path10 = writeLongWav(dir.filePath("ten.wav"), frames10);
    const double pcm10 = double(frames10) * 4 / 1e6;
    const double pcm60 = double(frames60) * 4 / 1e6;

    const auto idle = runChild("idle", QString());
    const double idleMb = idle.count("rss_kb") ? idle.at("rss_kb") / 1e3 : 0.0;
    std::printf("idle program: VmRSS %.0f MB\n", idleMb);

    const auto report = [&](const char *what, const std::map<QString, long> &f, double pcm, double target) {
        if (!f.count("hwm_kb"))
            return;
        const double rss = f.at("rss_kb") / 1e3, hwm = f.at("hwm_kb") / 1e3;
        std::printf("%s: VmRSS %.0f MB, VmHWM %.0f MB; PCM %.0f MB; VmRSS / PCM = %.2f (target %.2f), "
                    "above the idle program = %.2f\n",
                    what, rss, hwm, pcm, rss / pcm, target, (rss - idleMb) / pcm);
    };
    const auto bare = runChild("bare", QString());
    const double bareMb = bare.count("rss_kb") ? bare.at("rss_kb") / 1e3 : 0.0;
    const auto cacheOnly = runChild("cache10", path10);
    if (cacheOnly.count("rss_kb"))
        std::printf("10 min cache alone: VmRSS %.0f MB, of which %.0f MB above a bare process: %.2f x PCM\n",
                    cacheOnly.at("rss_kb") / 1e3, cacheOnly.at("rss_kb") / 1e3 - bareMb,
                    (cacheOnly.at("rss_kb") / 1e3 - bareMb) / pcm10);
    const auto loaded = runChild("loaded10", path10);
    report("10 min loaded", loaded, pcm10, 1.3);
    const auto edit = runChild("edit10", path10);
    if (edit.count("loaded_rss_kb"))
        std::printf("10 min before edit mode: VmRSS %.0f MB\n", edit.at("loaded_rss_kb") / 1e3);
    report("10 min in edit mode, 10 edits, played and read through", edit, pcm10, 1.5);

    QFile::remove(path10);
    const QString path60 = writeLongWav(dir.filePath("hour.wav"), frames60);
    const auto hour = runChild("hour60", path60);
    report("60 min opened, drawn, sliced, played, edited", hour, pcm60, 1200.0 / pcm60);
    if (hour.count("hwm_kb"))
        std::printf("60 min peak: VmHWM %.0f MB (target 1200 MB)\n", hour.at("hwm_kb") / 1e3);
    return 0;
}
