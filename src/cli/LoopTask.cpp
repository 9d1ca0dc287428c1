#include "LoopTask.h"

#include "AudioFile.h"
#include "AudioFileSndFile.h"
#include "BpmDetectorWorker.h"
#include "OnsetAnalysisService.h"
#include "OnsetAnalysisWorker.h"
#include "SliceTemplate.h"
#include "Trevant.h"

#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include "FfmpegLibrary.h"

LoopTask::LoopTask() : m_pSlicer(new Trevant) {}

LoopTask::~LoopTask() {
    // The loop may still be filling when a run is interrupted: it must not keep reading.
    if (m_pLoop && m_pLoop->cache())
        m_pLoop->cache()->cancelFill();
}

bool LoopTask::checkInput(const QString &path, QString *error) {
    *error = AudioFile::pathProblem(path);
    // A name whose bytes are not UTF-8 (a Latin-1 "café" from an old archive) reaches
    // the program with U+FFFD in their place and names no file; "no such file" would
    // send the user looking for a file that is plainly there.
    if (!error->isEmpty() && path.contains(QChar::ReplacementCharacter) && !QFileInfo(path).isSymLink() &&
        !QFileInfo::exists(path))
        *error = QStringLiteral("its name is not valid UTF-8, so it cannot be opened; rename it");
    return error->isEmpty();
}

bool LoopTask::open(const QString &path, const std::atomic<bool> &stop, QString *error) {
    if (!checkInput(path, error))
        return false;
    if (!m_pSlicer->slotLoadLoop(QFileInfo(path).absoluteFilePath())) {
        // A stop during the open leaves the reader empty: that says nothing of the file.
        *error = stop.load() ? QStringLiteral("interrupted") : unopenedReason(path);
        return false;
    }
    m_pLoop = m_pSlicer->currentSlice();
    const AudioCachePtr cache = m_pLoop->cache();
    // Filled here, so that the jobs read their files side by side rather than one after
    // another on the window's single background reader. Should that reader have taken
    // the fill first, this returns at once; its completion signal would need an event
    // loop on this thread, so the flags are polled instead.
    cache->fill();
    // A one-bar loop fills in about a millisecond, a song in a good part of a second:
    // short naps first, so that a fill that is nearly done is not overslept.
    unsigned long nap = 50;
    while (!cache->isFilled()) {
        if (stop.load() || cache->isFillCancelled()) {
            *error = stop.load() ? QStringLiteral("interrupted") : QStringLiteral("could not be read completely");
            return false;
        }
        QThread::usleep(nap);
        nap = std::min(nap * 2, 2000ul);
    }
    return true;
}

double LoopTask::detectTempo() {
    if (m_dTempo < 0.0) {
        // The window's own detection, run here on the calling thread.
        BpmDetectorWorker worker;
        worker.detectBpm(m_pLoop);
        m_dTempo = m_pLoop->bpm();
    }
    return m_dTempo;
}

bool LoopTask::slice(const CliOptions &options, const std::atomic<bool> &stop, QString *error) {
    using M = CliOptions::SliceMode;
    double tempo = options.tempo;
    if ((options.mode == M::Beats || options.mode == M::Bars) && tempo <= 0.0) {
        tempo = detectTempo();
        if (tempo <= 0.0) {
            *error = QStringLiteral("no tempo could be detected; give one with --tempo");
            return false;
        }
    }
    if (options.mode == M::Beats || options.mode == M::Bars) {
        // The same limits as --equal: a slice at least one frame long, at most 100000 slices.
        const double beats = options.mode == M::Bars ? options.interval * 4 : options.interval;
        const double frames = m_pLoop->fileSampleRate() * beats / tempo * 60.0;
        const double slices = std::ceil(m_pLoop->length() / 2.0 / std::max(frames, 1.0));
        const QString what = options.mode == M::Bars ? QStringLiteral("--bars") : QStringLiteral("--beats");
        // Two decimals as everywhere, but a tempo of 1e308 is not spelt out in 309 digits.
        const QString bpm = tempo < 1e6 ? QString::number(tempo, 'f', 2) : QString::number(tempo, 'g', 3);
        if (frames < 1.0) {
            *error = QStringLiteral("%1 %2 at %3 BPM is shorter than one frame")
                         .arg(what, QString::number(options.interval), bpm);
            return false;
        }
        if (slices > CliOptions::kMostSlices) {
            *error = QStringLiteral("%1 %2 at %3 BPM makes %4 slices, more than %5")
                         .arg(what, QString::number(options.interval), bpm)
                         .arg(qint64(slices))
                         .arg(CliOptions::kMostSlices);
            return false;
        }
    }
    switch (options.mode) {
    case M::Equal:
        m_pSlicer->sliceEvenly(unsigned(options.equalSlices));
        return true;
    case M::Beats:
        m_pSlicer->sliceEveryBeats(tempo, options.interval);
        return true;
    case M::Bars:
        // The window's slicing dialog starts with 4/4.
        m_pSlicer->sliceEveryBars(tempo, 4, 4, options.interval);
        return true;
    case M::Template: {
        QList<int> points;
        QString why;
        if (!SliceTemplate::fittedPoints(m_pSlicer.get(), options.templatePath, &points, &why)) {
            *error = QStringLiteral("template %1: %2").arg(options.templatePath, why);
            return false;
        }
        m_pSlicer->setSlicePoints(points);
        return true;
    }
    case M::Transients: {
        // The window's detection and placement, run here on the calling thread.
        const OnsetAnalysis analysis =
            OnsetAnalysisWorker::analyseLoop(m_pLoop, [&stop] { return !stop.load(); });
        if (stop.load()) {
            *error = QStringLiteral("interrupted");
            return false;
        }
        m_pSlicer->setSlicePoints(OnsetAnalysisService::slicePoints(
            m_pSlicer.get(), analysis, options.sensitivity, options.minLengthMs));
        return true;
    }
    case M::None:
        break;
    }
    *error = QStringLiteral("no slicing chosen");
    return false;
}

QList<qint64> LoopTask::pointFrames() const {
    QList<qint64> frames;
    const int trimStart = m_pSlicer->trimStart();
    const int trimEnd = m_pSlicer->trimEnd();
    for (int p : m_pSlicer->slicePoints()) {
        if (p <= trimStart || p >= trimEnd)
            continue;
        const qint64 frame = p / 2;
        if (frames.isEmpty() || frames.last() != frame)
            frames.append(frame);
    }
    return frames;
}

bool detectFileTempo(const QString &path, const std::atomic<bool> &stop, FileTempo *tempo, QString *error) {
    if (!LoopTask::checkInput(path, error))
        return false;
    // The reader the window's loop would get, without the loop around it.
    const AudioFilePtr file = AudioFile::createForPath(QFileInfo(path).absoluteFilePath());
    if (file->length() <= 0 || file->sampleRate() <= 0) {
        *error = stop.load() ? QStringLiteral("interrupted") : unopenedReason(path);
        return false;
    }
    tempo->sampleRate = file->sampleRate();
    tempo->frames = file->length() / 2;
    tempo->channels = file->channels();
    BpmDetectorWorker worker;
    BpmDetectorWorker::Result result;
    if (!worker.detectFile(file, stop, &result)) {
        *error = QStringLiteral("interrupted");
        return false;
    }
    // A fresh loop's tempo is 0 until detection stores one.
    tempo->bpm = result.hasBpm ? result.bpm : 0.0;
    tempo->analysis = result.analysis;
    // The detection has read to the end of what the file holds.
    tempo->missingFrames = file->missingFrames();
    return true;
}

long long LoopTask::missingFrames() const {
    return m_pLoop ? m_pLoop->missingFrames() : 0;
}

QString truncationWarning(long long missingFrames, int sampleRate) {
    const QString seconds =
        sampleRate > 0
            ? QStringLiteral(" (%1 s)").arg(QString::number(double(missingFrames) / sampleRate, 'f', 3))
            : QString();
    return QStringLiteral("truncated: %1 frames%2 of audio missing at the end; used as far as it goes")
        .arg(missingFrames)
        .arg(seconds);
}

namespace {
QString sndfileEncoding(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8: return QStringLiteral("pcm8");
    case SF_FORMAT_PCM_U8: return QStringLiteral("pcm8u");
    case SF_FORMAT_PCM_16: return QStringLiteral("pcm16");
    case SF_FORMAT_PCM_24: return QStringLiteral("pcm24");
    case SF_FORMAT_PCM_32: return QStringLiteral("pcm32");
    case SF_FORMAT_FLOAT: return QStringLiteral("float32");
    case SF_FORMAT_DOUBLE: return QStringLiteral("float64");
    case SF_FORMAT_ULAW: return QStringLiteral("ulaw");
    case SF_FORMAT_ALAW: return QStringLiteral("alaw");
    default: return QStringLiteral("other");
    }
}

QString sndfileContainer(int format) {
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
    case SF_FORMAT_WAVEX: return QStringLiteral("wav");
    case SF_FORMAT_RF64: return QStringLiteral("rf64");
    case SF_FORMAT_AIFF: return QStringLiteral("aiff");
    case SF_FORMAT_FLAC: return QStringLiteral("flac");
    default: return QStringLiteral("other");
    }
}
} // namespace

namespace {
// The file's description as libsndfile reads its header; empty format when libsndfile
// does not open it.
StreamDescription sndfileDescription(const QByteArray &encoded) {
    StreamDescription d;
    SF_INFO info{};
    // As the readers open the file: a WAV in a deep folder is described as libsndfile
    // reads it, not by FFmpeg's names ("wav-pcm_s16le").
    if (SNDFILE *f = AudioFileSndFile::openForReading(QFile::decodeName(encoded), &info)) {
        d.format = sndfileContainer(info.format) + QLatin1Char('-') + sndfileEncoding(info.format);
        d.channels = info.channels;
        d.frames = info.frames;
        d.sampleRate = info.samplerate;
        d.seconds = info.samplerate > 0 ? double(info.frames) / info.samplerate : 0.0;
        sf_close(f);
    }
    return d;
}

// The name info gives a container FFmpeg found in a file whose extension is not one of
// its own: the extension such files usually have.
QString containerLabel(const AVInputFormat *format) {
    const QString name = QString::fromLatin1(format->name).section(QLatin1Char(','), 0, 0);
    static const QHash<QString, QString> labels{{QStringLiteral("mov"), QStringLiteral("m4a")},
                                                {QStringLiteral("asf"), QStringLiteral("wma")},
                                                {QStringLiteral("matroska"), QStringLiteral("mka")}};
    return labels.value(name, name);
}

// Whether suffix is an extension files of this container have: FFmpeg's own list for it,
// or one the decoder is known to open it under (".opus" and ".oga" for Ogg).
bool suffixFits(const QString &suffix, const AVInputFormat *format) {
    const QStringList names = QString::fromLatin1(format->name).split(QLatin1Char(','));
    if (names.contains(suffix) || containerLabel(format) == suffix)
        return true;
    if (format->extensions &&
        QString::fromLatin1(format->extensions).split(QLatin1Char(',')).contains(suffix))
        return true;
    static const QHash<QString, QString> known{
        {QStringLiteral("opus"), QStringLiteral("ogg")},     {QStringLiteral("oga"), QStringLiteral("ogg")},
        {QStringLiteral("webm"), QStringLiteral("matroska")}, {QStringLiteral("mka"), QStringLiteral("matroska")},
        {QStringLiteral("m4a"), QStringLiteral("mov")},       {QStringLiteral("mp4"), QStringLiteral("mov")},
        {QStringLiteral("aifc"), QStringLiteral("aiff")},     {QStringLiteral("wave"), QStringLiteral("wav")}};
    return names.contains(known.value(suffix));
}
} // namespace

StreamDescription describeStream(const QString &path) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray encoded = QFile::encodeName(path);
    const bool sndfileSuffix = suffix == "wav" || suffix == "aif" || suffix == "aiff" || suffix == "flac";
    // Described as the reader that opens it sees it: by its name first, by its content
    // when the name is not what it is (an MP3 called .wav is "mp3-mp3").
    // libsndfile is asked only about what its readers are for: its MP3 decoder prints
    // its complaints about a damaged file on standard error.
    const StreamDescription header = sndfileSuffix || AudioFile::readerForContent(path) != AudioFile::ReaderKind::Decoder
                                         ? sndfileDescription(encoded)
                                         : StreamDescription();
    const bool headerKnown = !header.format.isEmpty() && !header.format.startsWith(QLatin1String("other-"));
    if (sndfileSuffix && headerKnown)
        return header;
    StreamDescription d;
    const FfmpegLibrary *ffmpeg = FfmpegLibrary::get();
    AVFormatContext *context = nullptr;
    // A local file only, as the decoder opens it: a name such as "http:x.mp3" or
    // "concat:…" is a file name here, and nothing inside the file reaches further.
    AVDictionary *options = nullptr;
    bool opened = false;
    if (ffmpeg) {
        ffmpeg->av_dict_set(&options, "protocol_whitelist", "file", 0);
        opened = ffmpeg->avformat_open_input(&context, ("file:" + encoded).constData(), nullptr, &options) == 0;
        ffmpeg->av_dict_free(&options);
    }
    if (!opened)
        return header;
    if (ffmpeg->avformat_find_stream_info(context, nullptr) >= 0) {
        const int index = ffmpeg->av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        if (index >= 0) {
            const AVCodecParameters *par = context->streams[index]->codecpar;
            const bool named = suffixFits(suffix, context->iformat);
            d.format = (named ? suffix : containerLabel(context->iformat)) + QLatin1Char('-') +
                       QString::fromLatin1(ffmpeg->avcodec_get_name(par->codec_id));
            // A FLAC libsndfile cannot open (an ID3v2 tag with a footer before it) is
            // named as the FLAC it opens is: by its depth.
            if (par->codec_id == AV_CODEC_ID_FLAC &&
                containerLabel(context->iformat) == QLatin1String("flac") && par->bits_per_raw_sample > 0)
                d.format = QStringLiteral("flac-pcm%1").arg(par->bits_per_raw_sample);
            d.channels = par->ch_layout.nb_channels;
            d.sampleRate = par->sample_rate;
            if (context->duration > 0)
                d.seconds = double(context->duration) / AV_TIME_BASE;
            // A WAV, AIFF or FLAC under another name is described as under its own.
            if (!named && headerKnown)
                d = header;
        }
    }
    ffmpeg->avformat_close_input(&context);
    return d.format.isEmpty() ? header : d;
}

namespace {
QString hoursMinutesSeconds(double seconds) {
    const qint64 s = qint64(seconds);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

QString unopenedReason(const QString &path) {
    // A file the system will not open now is not damaged: a batch that ran the process
    // out of file descriptors, or a file deleted since it was checked, gets the system's
    // reason.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    const StreamDescription d = describeStream(path);
    if (d.sampleRate > 0 && d.seconds * d.sampleRate * 2 > double(INT_MAX)) {
        // Every reader holds the stereo stream's samples in an int index.
        const double most = double(INT_MAX / 2) / d.sampleRate;
        return QStringLiteral("too long: %1, more than the %2 the program opens at %3 Hz")
            .arg(hoursMinutesSeconds(d.seconds), hoursMinutesSeconds(most))
            .arg(d.sampleRate);
    }
    return AudioFile::notAudioReason();
}
