// Decoding a 10-minute compressed file (48 kHz stereo) into the sample cache, against
// the ffmpeg command (`ffmpeg -i FILE -f s16le -y /dev/null`) and against the bare
// FFmpeg decode loop beneath the decoder, all measured in the same iterations.
// Reported counters: fill_vs_ffmpeg (target: at most 1.25) and fill_vs_bare.

#include "AudioCache.h"
#include "AudioDecoder.h"
#include "AudioFile.h"
#include "DecoderFixtures.h"
#include "FfmpegPcmReader.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

QTemporaryDir &workDir() {
    static QTemporaryDir dir;
    return dir;
}

// The 10-minute fixture for a codec, encoded once per run.
QString fixture(const QString &kind) {
    static std::map<QString, QString> made;
    auto it = made.find(kind);
    if (it != made.end())
        return it->second;
    const QString path = workDir().filePath(kind == "mp3" ? "long.mp3" : "long.m4a");
    const QStringList args = kind == "mp3" ? QStringList{"-c:a", "libmp3lame", "-b:a", "192k"}
                                           : QStringList{"-c:a", "aac", "-b:a", "192k"};
    if (!DecoderFixtures::encodeChirp(path, 48000, 600, 2, args))
        return QString();
    made[kind] = path;
    return path;
}

double ffmpegCommandSeconds(const QString &path) {
    QElapsedTimer timer;
    timer.start();
    QProcess p;
    p.start("ffmpeg",
            {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", path, "-f", "s16le", "-y", "/dev/null"});
    p.waitForFinished(-1);
    return timer.nsecsElapsed() / 1e9;
}

double bareDecodeSeconds(const QString &path, long long *frames) {
    QElapsedTimer timer;
    timer.start();
    FfmpegPcmReader reader;
    std::string error;
    *frames = 0;
    if (reader.open(path.toStdString(), &error)) {
        PcmSource::Buffer buffer;
        while (reader.readBuffer(&buffer) == PcmSource::NoFlags)
            *frames += buffer.byteLength / (2 * reader.format().channels);
    }
    return timer.nsecsElapsed() / 1e9;
}

double cacheFillSeconds(const QString &path, int *length) {
    QElapsedTimer timer;
    timer.start();
    const AudioFilePtr file = AudioFile::createForPath(path);
    AudioCachePtr cache(new AudioCache(file));
    cache->preallocate();
    cache->fillSynchronously();
    *length = cache->length();
    return timer.nsecsElapsed() / 1e9;
}

void BM_DecodeIntoCache(benchmark::State &state, const char *kind) {
    const QString path = fixture(kind);
    if (path.isEmpty()) {
        state.SkipWithError("cannot encode the fixture with ffmpeg");
        return;
    }
    // The decoder's progress lines are not what is measured.
    const int savedStdout = dup(fileno(stdout));
    double ffmpeg = 0, bare = 0, fill = 0;
    long long frames = 0;
    int length = 0;
    for (auto _ : state) {
        ffmpeg += ffmpegCommandSeconds(path);
        bare += bareDecodeSeconds(path, &frames);
        fflush(stdout);
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, fileno(stdout));
        const double seconds = cacheFillSeconds(path, &length);
        fflush(stdout);
        dup2(savedStdout, fileno(stdout));
        close(devNull);
        fill += seconds;
        state.SetIterationTime(seconds);
    }
    close(savedStdout);
    state.counters["ffmpeg_s"] = ffmpeg / state.iterations();
    state.counters["bare_s"] = bare / state.iterations();
    state.counters["fill_s"] = fill / state.iterations();
    state.counters["fill_vs_ffmpeg"] = fill / ffmpeg;
    state.counters["fill_vs_bare"] = fill / bare;
    state.counters["frames"] = double(length / 2);
    state.counters["bare_frames"] = double(frames);
}

} // namespace

BENCHMARK_CAPTURE(BM_DecodeIntoCache, mp3_10min, "mp3")
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DecodeIntoCache, aac_10min, "aac")
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
    // The readers' and the cache's debug lines are not what is measured either.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
