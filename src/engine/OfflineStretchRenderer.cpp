#include "OfflineStretchRenderer.h"

#include "EngineLogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>
#include <cmath>
#include <rubberband/RubberBandStretcher.h>
#include <sndfile.h>
#include <vector>

using RubberBand::RubberBandStretcher;

namespace {

constexpr int kBlockFrames = 4096;
// Studying costs a fraction of stretching; this share of the progress bar goes to it.
constexpr float kStudyShare = 0.2f;

// The option bits the dialog may choose; anything else (real-time mode, engine
// selection) is decided here.
constexpr int kDialogOptionMask =
    RubberBandStretcher::OptionTransientsMixed | RubberBandStretcher::OptionTransientsSmooth |
    RubberBandStretcher::OptionDetectorPercussive | RubberBandStretcher::OptionDetectorSoft |
    RubberBandStretcher::OptionWindowShort | RubberBandStretcher::OptionWindowLong |
    RubberBandStretcher::OptionSmoothingOn | RubberBandStretcher::OptionFormantPreserved |
    RubberBandStretcher::OptionChannelsTogether;

QString safeBaseName(const QString &base)
{
    QString s = base;
    s.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9 _.()-]")), QStringLiteral("_"));
    s = s.trimmed();
    if (s.isEmpty())
        s = QStringLiteral("loop");
    return s.left(64);
}

// Reserves a unique file name in dir without keeping the file open.
QString reserveTemporaryFile(const QString &dir, const QString &base)
{
    QTemporaryFile file(QDir(dir).filePath(safeBaseName(base) + QStringLiteral("-XXXXXX.wav")));
    file.setAutoRemove(false);
    if (!file.open())
        return QString();
    const QString name = file.fileName();
    file.close();
    return name;
}

// Reads one block of the job's region and splits it into the two channels.
void readBlock(const OfflineStretchRenderer::Job &job, int frameOffset, int frames, std::vector<float> &interleaved,
              float *left, float *right)
{
    std::fill(interleaved.begin(), interleaved.begin() + 2 * frames, 0.0f);
    // Whatever the reader does not deliver stays silent.
    if (job.reader)
        job.reader(interleaved.data(), job.start + 2 * frameOffset, 2 * frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = interleaved[size_t(2 * i)];
        right[i] = interleaved[size_t(2 * i + 1)];
    }
}

} // namespace

int OfflineStretchRenderer::offlineOptions(int dialogOptions)
{
    return (dialogOptions & kDialogOptionMask) | RubberBandStretcher::OptionProcessOffline |
           RubberBandStretcher::OptionPitchHighQuality | RubberBandStretcher::OptionEngineFiner;
}

namespace {

// Why a job cannot be rendered, or empty when it can.
QString jobError(const OfflineStretchRenderer::Job &job)
{
    if ((job.end - job.start) / 2 <= 0 || job.start < 0)
        return QObject::tr("There is no audio to render.");
    if (!std::isfinite(job.timeRatio) || job.timeRatio <= 0.0)
        return QObject::tr("The time stretch ratio %1 is not usable.").arg(job.timeRatio);
    if (job.sampleRate <= 0)
        return QObject::tr("The sample rate %1 is not usable.").arg(job.sampleRate);
    return QString();
}

// Studies and stretches the job's region, handing every retrieved block (interleaved
// stereo) to write, which returns false when it could not keep it.
OfflineStretchRenderer::Outcome stretchRegion(const OfflineStretchRenderer::Job &job,
                                              const std::function<bool()> &cancelRequested,
                                              const std::function<void(float)> &progress,
                                              const std::function<bool(const float *, int)> &write,
                                              qint64 &framesWritten)
{
    using Outcome = OfflineStretchRenderer::Outcome;
    const int totalFrames = (job.end - job.start) / 2;
    const double pitchScale = std::pow(2.0, qBound(-48, job.pitchSemitones, 48) / 12.0);
    auto isCancelled = [&] { return cancelRequested && cancelRequested(); };
    float lastReported = -1.0f;
    auto report = [&](float fraction) {
        // A hundred updates are plenty for a progress bar and keep the GUI queue short.
        if (progress && fraction - lastReported >= 0.01f) {
            lastReported = fraction;
            progress(fraction);
        }
    };

    RubberBandStretcher stretcher(size_t(job.sampleRate), 2, OfflineStretchRenderer::offlineOptions(job.options),
                                  job.timeRatio, pitchScale);
    stretcher.setExpectedInputDuration(size_t(totalFrames));
    stretcher.setMaxProcessSize(kBlockFrames);

    std::vector<float> interleaved(2 * kBlockFrames);
    std::vector<float> left(kBlockFrames), right(kBlockFrames);
    float *channels[2] = {left.data(), right.data()};
    report(0.0f);

    for (int pos = 0; pos < totalFrames; pos += kBlockFrames) {
        if (isCancelled())
            return Outcome::Cancelled;
        const int n = std::min(kBlockFrames, totalFrames - pos);
        readBlock(job, pos, n, interleaved, left.data(), right.data());
        stretcher.study(channels, size_t(n), pos + n >= totalFrames);
        report(kStudyShare * float(pos + n) / float(totalFrames));
    }

    const qint64 expectedOut = qint64(std::llround(double(totalFrames) * job.timeRatio));
    auto drain = [&]() -> bool {
        int avail;
        while ((avail = stretcher.available()) > 0) {
            const int want = std::min(avail, kBlockFrames);
            const int got = int(stretcher.retrieve(channels, size_t(want)));
            for (int i = 0; i < got; ++i) {
                interleaved[size_t(2 * i)] = left[size_t(i)];
                interleaved[size_t(2 * i + 1)] = right[size_t(i)];
            }
            if (!write(interleaved.data(), got))
                return false;
            framesWritten += got;
        }
        return true;
    };

    for (int pos = 0; pos < totalFrames; pos += kBlockFrames) {
        if (isCancelled())
            return Outcome::Cancelled;
        const int n = std::min(kBlockFrames, totalFrames - pos);
        readBlock(job, pos, n, interleaved, left.data(), right.data());
        stretcher.process(channels, size_t(n), pos + n >= totalFrames);
        if (!drain())
            return Outcome::Failed;
        const float done = expectedOut > 0 ? float(framesWritten) / float(expectedOut) : 1.0f;
        report(kStudyShare + (1.0f - kStudyShare) * std::min(1.0f, done));
    }
    // With threading the last frames may still be in flight after the final block;
    // a stretcher that never reports its end is given five seconds.
    int idlePolls = 0;
    while (stretcher.available() >= 0 && idlePolls < 25000) {
        if (isCancelled())
            return Outcome::Cancelled;
        if (stretcher.available() == 0) {
            ++idlePolls;
            QThread::usleep(200);
            continue;
        }
        idlePolls = 0;
        if (!drain())
            return Outcome::Failed;
    }
    return Outcome::Finished;
}

} // namespace

OfflineStretchRenderer::Result OfflineStretchRenderer::render(const Job &job,
                                                              const std::function<bool()> &cancelRequested,
                                                              const std::function<void(float)> &progress)
{
    Result result;
    result.error = jobError(job);
    if (!result.error.isEmpty())
        return result;

    // QDir::tempPath() is empty when TMPDIR names a missing folder; an empty folder
    // would put the file in the working directory.
    const QString dir = job.outputDir.isEmpty() ? QDir::tempPath() : job.outputDir;
    const QString path = QFileInfo(dir).isDir() ? reserveTemporaryFile(dir, job.baseName) : QString();
    if (path.isEmpty()) {
        result.error = QObject::tr("Could not create a temporary file in %1.")
                           .arg(dir.isEmpty() ? QObject::tr("the temporary folder") : QDir::toNativeSeparators(dir));
        return result;
    }

    SF_INFO info{};
    info.samplerate = job.sampleRate;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *out = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!out) {
        result.error = QObject::tr("Could not write %1: %2").arg(QDir::toNativeSeparators(path),
                                                                 QString::fromLocal8Bit(sf_strerror(nullptr)));
        QFile::remove(path);
        return result;
    }

    const QString writeError = QObject::tr("Could not write %1 (is the disk full?)").arg(QDir::toNativeSeparators(path));
    const Outcome outcome = stretchRegion(
        job, cancelRequested, progress,
        [out](const float *interleaved, int frames) { return sf_writef_float(out, interleaved, frames) == frames; },
        result.framesWritten);
    if (outcome != Outcome::Finished) {
        sf_close(out);
        QFile::remove(path);
        result.outcome = outcome;
        result.error = outcome == Outcome::Failed ? writeError : QString();
        result.framesWritten = 0;
        return result;
    }

    if (sf_close(out) != 0) {
        QFile::remove(path);
        result.outcome = Outcome::Failed;
        result.error = writeError;
        result.framesWritten = 0;
        return result;
    }
    if (progress)
        progress(1.0f);
    qCDebug(lcEngine) << "Offline stretch rendered" << (job.end - job.start) / 2 << "frames into"
                      << result.framesWritten << "frames:" << path;
    result.outcome = Outcome::Finished;
    result.filePath = path;
    return result;
}

OfflineStretchRenderer::Result OfflineStretchRenderer::renderToMemory(const Job &job,
                                                                      const std::function<bool()> &cancelRequested,
                                                                      std::vector<float> &samples)
{
    samples.clear();
    Result result;
    result.error = jobError(job);
    if (!result.error.isEmpty())
        return result;
    const qint64 expectedFrames = qint64(std::llround(double((job.end - job.start) / 2) * job.timeRatio));
    samples.reserve(size_t(2 * std::max<qint64>(0, expectedFrames)));
    result.outcome = stretchRegion(
        job, cancelRequested, {},
        [&samples](const float *interleaved, int frames) {
            samples.insert(samples.end(), interleaved, interleaved + 2 * frames);
            return true;
        },
        result.framesWritten);
    if (result.outcome != Outcome::Finished) {
        samples.clear();
        result.framesWritten = 0;
    }
    return result;
}

OfflineStretchRenderer::OfflineStretchRenderer(QObject *parent) : QObject(parent) {}

OfflineStretchRenderer::~OfflineStretchRenderer()
{
    cancel();
    wait();
}

bool OfflineStretchRenderer::start(const Job &job, std::function<bool()> externalCancel)
{
    if (m_running.load())
        return false;
    if (m_thread.joinable())
        m_thread.join();
    m_cancel.store(false);
    m_running.store(true);
    m_thread = std::thread([this, job, externalCancel = std::move(externalCancel)] {
        const Result r = render(
            job, [&] { return m_cancel.load() || (externalCancel && externalCancel()); },
            [this](float f) { emit progressChanged(f); });
        m_running.store(false);
        switch (r.outcome) {
        case Outcome::Finished:
            emit finished(r.filePath);
            break;
        case Outcome::Cancelled:
            emit cancelled();
            break;
        case Outcome::Failed:
            qCDebug(lcEngine) << "Offline stretch failed:" << r.error;
            emit failed(r.error);
            break;
        }
    });
    return true;
}

void OfflineStretchRenderer::cancel() { m_cancel.store(true); }

void OfflineStretchRenderer::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
