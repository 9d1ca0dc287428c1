#include "AudioDecoder.h"

#include "AudioLogging.h"

#include "FfmpegPcmReader.h"

#include "FfmpegLibrary.h"

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <iostream>

namespace {

// Where a warning comes from, printed ahead of it.
std::ostream &warningAt(int line) {
    return std::cerr << "src/audio/AudioDecoder.cpp, line " << line << ": ";
}

const char *const kAbandonWarning = "WARNING: Expected frames needed to be 0. Abandoning this file.";

} // namespace

AudioDecoder::AudioDecoder(const std::string &fileName)
    : AudioDecoder(fileName, std::make_unique<FfmpegPcmReader>()) {}

AudioDecoder::AudioDecoder(const std::string &fileName, std::unique_ptr<PcmSource> source)
    : AudioDecoderBase(fileName), m_source(std::move(source)) {
    // Used until open() has read the file's own values.
    m_iChannels = 2;
    m_iSampleRate = 44100;
    m_bitsPerSample = 16;
}

AudioDecoder::~AudioDecoder() = default;

int AudioDecoder::open() {
    // File names are handed on as they are: FFmpeg opens UTF-8 paths with '/' separators.
    std::string error;
    if (!m_source || !m_source->open(m_filename, &error)) {
        std::cerr << "SSMF: Error opening input file:" << m_filename << ", with error: " << error
                  << std::endl;
        return -1;
    }
    if (!configureAudioStream()) {
        std::cerr << "SSMF: Error configuring audio stream." << std::endl;
        return -1;
    }
    if (!readProperties()) {
        std::cerr << "SSMF::readProperties failed" << std::endl;
        return -1;
    }
    m_opened = true;
    seek(0);
    return 0;
}

bool AudioDecoder::configureAudioStream() {
    const PcmSource::Format format = m_source->format();
    // Diagnostics go to the log, not to standard output, which belongs to the programs'
    // results (the command line prints tempo and slice points there).
    qCDebug(lcAudio).nospace() << "allSamplesIndependent: " << (format.allBuffersIndependent ? 1 : 0)
                       << " fixedSizeSamples: " << (format.fixedSizeBuffers ? 1 : 0)
                       << " sampleSize: " << format.bufferBytes
                       << " bitsPerSample: " << format.nativeBitsPerSample
                       << " blockAlignment: " << format.channels * format.outputBitsPerSample / 8
                       << " numChannels: " << format.channels << " samplesPerSecond: " << format.sampleRate;
    if (format.channels <= 0 || format.sampleRate <= 0 || format.outputBitsPerSample != 16) {
        std::cerr << "SSMF: unsupported audio format" << std::endl;
        return false;
    }
    m_iChannels = format.channels;
    m_iSampleRate = format.sampleRate;
    // The samples arrive as 16-bit integers whatever the source's own depth (24-bit ALAC
    // included), so they are scaled as 16-bit.
    m_bitsPerSample = format.outputBitsPerSample;

    int bufferBytes = format.bufferBytes;
    if (bufferBytes <= 0) {
        std::cerr << "SSMF: failed to get buffer size" << std::endl;
        bufferBytes = 32;
    }
    m_leftoverCapacity = bufferBytes / 2;
    m_leftover = std::make_unique<int16_t[]>(size_t(m_leftoverCapacity));
    m_leftoverFrames = 0;
    return true;
}

bool AudioDecoder::readProperties() {
    const int64_t duration = m_source->duration();
    if (duration < 0) {
        std::cerr << "SSMF: error getting duration" << std::endl;
        return false;
    }
    m_mediaDuration = duration;
    m_fDuration = float(secondsFromTime(m_mediaDuration));
    qCDebug(lcAudio) << "SSMF: Duration:" << m_fDuration;
    return true;
}

int64_t AudioDecoder::missingFrames() const {
    return m_opened ? m_source->missingFrames() : 0;
}

bool AudioDecoder::durationExact() const {
    return m_opened && m_source->durationExact();
}

int AudioDecoder::numSamples() const {
    const double samples = double(m_mediaDuration) / 1e7 * m_iSampleRate * m_iChannels;
    // A header may claim any length; never let it overflow the sample count.
    const int limit = INT_MAX - INT_MAX % std::max(1, m_iChannels);
    if (!(samples < double(limit)))
        return limit;
    int result = int(samples);
    if (m_iChannels > 0 && result % m_iChannels != 0)
        ++result;
    return result;
}

int AudioDecoder::seek(int sampleIdx) {
    if (m_dead || !m_opened)
        return m_iPositionInSamples;
    sampleIdx = std::max(0, sampleIdx);
    const int64_t frame = sampleIdx / m_iChannels;
    // One tick before the frame's time, so that rounding cannot put the target after it.
    const int64_t target = std::max<int64_t>(0, timeFromFrame(frame) - 1);

    if (!m_source->flush())
        std::cerr << "SSMF: failed to flush before seek" << std::endl;
    int result = sampleIdx;
    if (!m_source->setPosition(target)) {
        std::cerr << "SSMF: failed to seek" << std::endl;
        result = m_iPositionInSamples;
    }
    m_nextFrame = frame;
    m_seeking = true;
    // Leftovers belong to the old read position; even when the seek returns to exactly
    // that frame the source now delivers those frames again.
    m_leftoverFrames = 0;
    m_iPositionInSamples = result;
    return result;
}

int AudioDecoder::read(int size, float *buffer) {
    if (!buffer || size <= 0)
        return 0;
    int done = 0;
    while (done < size) {
        const int chunk = std::min(size - done, kMaxReadSamples);
        const int got = readChunk(chunk, buffer + done);
        done += got;
        if (got < chunk)
            break;
    }
    return done;
}

int AudioDecoder::readChunk(int size, float *buffer) {
    if (!m_opened)
        return 0;
    const int channels = m_iChannels;
    const int64_t framesRequested = size / channels;
    int64_t framesNeeded = framesRequested;
    int16_t *dest = m_sampleBuffer;
    // Frames of silence written to pad a seek that landed late.
    int64_t silenceFrames = 0;

    if (m_leftoverFrames > 0 && m_nextFrame == m_leftoverPosition) {
        copyFrames(dest, &framesNeeded, m_leftover.get(), m_leftoverFrames);
        if (m_leftoverFrames > 0 && framesNeeded > 0) {
            warningAt(__LINE__) << kAbandonWarning << std::endl;
            m_dead = true;
        }
        m_leftoverPosition += framesRequested;
    } else {
        m_leftoverFrames = 0;
    }

    while (!m_dead && framesNeeded > 0) {
        PcmSource::Buffer pcm;
        const int flags = m_source->readBuffer(&pcm);
        if (flags & PcmSource::Error) {
            std::cerr << "SSMF: ReadSample set ERROR, SourceReader is now dead" << std::endl;
            m_dead = true;
            break;
        }
        if (flags & PcmSource::EndOfStream) {
            qCDebug(lcAudio) << "SSMF: End of input file.";
            break;
        }
        if (flags & PcmSource::FormatChanged) {
            std::cerr << "SSMF: Type change" << std::endl;
            break;
        }
        if (!pcm.data) {
            std::cerr << "SSMF: No sample" << std::endl;
            continue;
        }

        const int16_t *src = pcm.data;
        int64_t bufferFrames = pcm.byteLength / (channels * m_bitsPerSample / 8);

        if (m_seeking) {
            const int64_t bufferFrame = frameFromTime(pcm.time);
            if (m_nextFrame < bufferFrame) {
                // The source landed after the target.
                const int64_t offshoot = bufferFrame - m_nextFrame;
                if (framesNeeded < offshoot) {
                    warningAt(__LINE__) << "Seek offshoot is too drastic. Cutting losses and pretending the "
                                           "current decoded audio buffer is the right seek point."
                                        << std::endl;
                    m_seeking = false;
                    m_nextFrame = bufferFrame;
                } else {
                    warningAt(__LINE__) << "Working around inaccurate seeking. Writing silence for "
                                        << offshoot << " frames" << std::endl;
                    const int64_t written = framesRequested - framesNeeded;
                    std::memset(dest + written * channels, 0, size_t(offshoot * channels) * sizeof(int16_t));
                    m_nextFrame += offshoot;
                    framesNeeded -= offshoot;
                    silenceFrames += offshoot;
                }
            }
            if (m_nextFrame < bufferFrame || m_nextFrame >= bufferFrame + bufferFrames)
                continue; // entirely before the target
            m_seeking = false;
            const int64_t skip = m_nextFrame - bufferFrame;
            src += skip * channels;
            bufferFrames -= skip;
        }

        if (m_leftoverCapacity < bufferFrames * channels) {
            int64_t capacity = std::max<int64_t>(m_leftoverCapacity, 1);
            while (capacity < bufferFrames * channels)
                capacity *= 2;
            auto grown = std::make_unique<int16_t[]>(size_t(capacity));
            std::memcpy(grown.get(), m_leftover.get(), size_t(m_leftoverFrames * channels) * sizeof(int16_t));
            m_leftover = std::move(grown);
            m_leftoverCapacity = capacity;
        }

        const int64_t written = framesRequested - framesNeeded;
        copyFrames(dest + written * channels, &framesNeeded, src, bufferFrames);
    }

    // Padding written for an inaccurate seek has already moved the next frame on.
    m_nextFrame += framesRequested - framesNeeded - silenceFrames;
    if (m_leftoverFrames > 0 && framesNeeded != 0) {
        warningAt(__LINE__) << kAbandonWarning << std::endl;
        m_dead = true;
    }
    m_leftoverPosition = m_nextFrame;

    const int result = int(size - framesNeeded * channels - size % channels);
    m_iPositionInSamples += result;
    if (result == 0)
        return 0;
    const float scale = 1.0f / float(1 << (m_bitsPerSample - 1));
    for (int i = 0; i < result; ++i)
        buffer[i] = float(m_sampleBuffer[i]) * scale;
    return result;
}

void AudioDecoder::copyFrames(int16_t *dest, int64_t *framesNeeded, const int16_t *src, int64_t srcFrames) {
    const int channels = m_iChannels;
    if (*framesNeeded < srcFrames) {
        std::memcpy(dest, src, size_t(*framesNeeded * channels) * sizeof(int16_t));
        const int64_t rest = srcFrames - *framesNeeded;
        // The source may be the leftover buffer itself.
        std::memmove(m_leftover.get(), src + *framesNeeded * channels,
                     size_t(rest * channels) * sizeof(int16_t));
        m_leftoverFrames = rest;
        *framesNeeded = 0;
    } else {
        std::memcpy(dest, src, size_t(srcFrames * channels) * sizeof(int16_t));
        *framesNeeded -= srcFrames;
        if (src == m_leftover.get())
            m_leftoverFrames = 0;
    }
}

int64_t AudioDecoder::frameFromTime(int64_t time) const {
    return int64_t(std::floor(double(m_iSampleRate) * double(time) / 1e7));
}

int64_t AudioDecoder::timeFromFrame(int64_t frame) const {
    return int64_t(double(frame) / m_iSampleRate * 1e7);
}

double AudioDecoder::secondsFromTime(int64_t time) {
    return double(time) / 1e7;
}

std::vector<std::string> AudioDecoder::supportedFileExtensions() {
    // An extension is listed when this FFmpeg build has both its demuxer and its decoder.
    struct Candidate {
        const char *extension;
        const char *demuxer;
        AVCodecID codec;
    };
    static const Candidate candidates[] = {
        {"mp3", "mp3", AV_CODEC_ID_MP3},         {"m4a", "mov", AV_CODEC_ID_AAC},
        {"mp4", "mov", AV_CODEC_ID_AAC},         {"aac", "aac", AV_CODEC_ID_AAC},
        {"wma", "asf", AV_CODEC_ID_WMAV2},       {"ogg", "ogg", AV_CODEC_ID_VORBIS},
        {"oga", "ogg", AV_CODEC_ID_VORBIS},      {"opus", "ogg", AV_CODEC_ID_OPUS},
        {"webm", "matroska", AV_CODEC_ID_OPUS},  {"mka", "matroska", AV_CODEC_ID_VORBIS},
        {"ac3", "ac3", AV_CODEC_ID_AC3},         {"caf", "caf", AV_CODEC_ID_ALAC},
        {"wav", "wav", AV_CODEC_ID_PCM_S16LE},   {"aif", "aiff", AV_CODEC_ID_PCM_S16BE},
        {"aiff", "aiff", AV_CODEC_ID_PCM_S16BE}, {"flac", "flac", AV_CODEC_ID_FLAC},
    };
    std::vector<std::string> extensions;
    const FfmpegLibrary *ffmpeg = FfmpegLibrary::get();
    if (!ffmpeg)
        return extensions;
    for (const Candidate &c : candidates)
        if (ffmpeg->av_find_input_format(c.demuxer) && ffmpeg->avcodec_find_decoder(c.codec))
            extensions.push_back(c.extension);
    return extensions;
}
