#include "FfmpegPcmReader.h"

#include "AudioFile.h"
#include "FfmpegLibrary.h"
#include "FiniteSamples.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstring>

namespace {

// Only reached once FfmpegLibrary::get() has been checked on the way in (opening,
// scanning, repositioning, closing).
const FfmpegLibrary &ff() {
    return *FfmpegLibrary::get();
}

// Decoding pre-roll after a reposition: enough for MP3's bit reservoir and AAC's overlap.
constexpr double kPrerollSeconds = 0.5;

// Opens a local file and nothing else: a name such as "data:x.mp3" or "concat:..." is a
// file name here, and a playlist inside a file may not reach out to the network.
int openLocalFile(AVFormatContext **context, const std::string &fileName) {
    AVDictionary *options = nullptr;
    ff().av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int rc = ff().avformat_open_input(context, ("file:" + fileName).c_str(), nullptr, &options);
    ff().av_dict_free(&options);
    return rc;
}

// Bytes in memory read through a custom AVIOContext: one cursor per opened context, so
// the stream can be opened again (to rewind, to count packets) over the same bytes.
struct MemoryCursor {
    const uint8_t *data;
    size_t size;
    size_t position;
};

constexpr int kIoBufferBytes = 32768;

int readMemory(void *opaque, uint8_t *buffer, int size) {
    auto *cursor = static_cast<MemoryCursor *>(opaque);
    const size_t left = cursor->size - cursor->position;
    if (left == 0 || size <= 0)
        return AVERROR_EOF;
    const size_t n = std::min(left, size_t(size));
    std::memcpy(buffer, cursor->data + cursor->position, n);
    cursor->position += n;
    return int(n);
}

int64_t seekMemory(void *opaque, int64_t offset, int whence) {
    auto *cursor = static_cast<MemoryCursor *>(opaque);
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE)
        return int64_t(cursor->size);
    int64_t base;
    switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = int64_t(cursor->position); break;
    case SEEK_END: base = int64_t(cursor->size); break;
    default: return AVERROR(EINVAL);
    }
    // Demuxers seek by offsets read from the stream: any value may come.
    if (offset > int64_t(cursor->size) || offset < -int64_t(cursor->size))
        return AVERROR(EINVAL);
    const int64_t target = base + offset;
    if (target < 0 || target > int64_t(cursor->size))
        return AVERROR(EINVAL);
    cursor->position = size_t(target);
    return target;
}

void freeMemoryIo(AVIOContext **io) {
    if (!*io)
        return;
    delete static_cast<MemoryCursor *>((*io)->opaque);
    ff().av_freep(&(*io)->buffer);
    ff().avio_context_free(io);
}

// What a reader opens: a local file, or bytes in memory when data is set.
struct Input {
    std::string fileName;
    const uint8_t *data = nullptr;
    size_t size = 0;
};

int openInput(AVFormatContext **context, const Input &input) {
    if (!input.data)
        return openLocalFile(context, input.fileName);
    auto *buffer = static_cast<unsigned char *>(ff().av_malloc(kIoBufferBytes));
    AVIOContext *io = buffer ? ff().avio_alloc_context(buffer, kIoBufferBytes, 0,
                                                       new MemoryCursor{input.data, input.size, 0},
                                                       readMemory, nullptr, seekMemory)
                             : nullptr;
    if (!io) {
        ff().av_free(buffer);
        return AVERROR(ENOMEM);
    }
    *context = ff().avformat_alloc_context();
    if (!*context) {
        freeMemoryIo(&io);
        return AVERROR(ENOMEM);
    }
    (*context)->pb = io;
    (*context)->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Bytes from memory reach nothing else: no playlist or reference inside them may
    // open a file or the network.
    AVDictionary *options = nullptr;
    ff().av_dict_set(&options, "protocol_whitelist", "none", 0);
    const int rc = ff().avformat_open_input(context, nullptr, nullptr, &options);
    ff().av_dict_free(&options);
    if (rc < 0)
        freeMemoryIo(&io); // a failed open frees the context but never a caller's I/O
    return rc;
}

void closeInput(AVFormatContext **context) {
    AVIOContext *io = *context && ((*context)->flags & AVFMT_FLAG_CUSTOM_IO) ? (*context)->pb : nullptr;
    ff().avformat_close_input(context);
    freeMemoryIo(&io);
}

std::string errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    ff().av_strerror(code, text, sizeof text);
    return text;
}

int firstAudioStream(const AVFormatContext *context) {
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            return int(i);
    return -1;
}

int64_t ticksFromFrames(int64_t frames, int rate) {
    // Rounded up, so that truncating ticks * rate / 10^7 yields the frame again.
    return ff().av_rescale_rnd(frames, PcmSource::kTicksPerSecond, rate, AV_ROUND_UP);
}

// Samples the decoder will drop from a packet, as libavformat announces them.
int64_t skippedSamples(const AVPacket *packet) {
    size_t size = 0;
    const uint8_t *data = ff().av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (!data || size < 8)
        return 0;
    uint32_t start = 0, end = 0;
    std::memcpy(&start, data, 4); // little-endian on every platform we build for
    std::memcpy(&end, data + 4, 4);
    return int64_t(start) + int64_t(end);
}

// Silences the NaN and infinite values of a decoded float frame, which the conversion to
// 16 bits would turn into full-scale values. The frame is only made writable (copied if
// the decoder still shares its buffers) when it holds such a value. False when that fails.
template <typename Sample> bool silenceNonFinite(AVFrame *frame, int planes, size_t perPlane) {
    bool found = false;
    for (int p = 0; p < planes; ++p)
        found |=
            FiniteSamples::anyNonFinite(reinterpret_cast<const Sample *>(frame->extended_data[p]), perPlane);
    if (!found)
        return true;
    if (ff().av_frame_make_writable(frame) < 0)
        return false;
    for (int p = 0; p < planes; ++p)
        FiniteSamples::zeroNonFinite(reinterpret_cast<Sample *>(frame->extended_data[p]), perPlane);
    return true;
}

bool silenceNonFinite(AVFrame *frame, int channels) {
    const bool planar = ff().av_sample_fmt_is_planar(AVSampleFormat(frame->format));
    const int planes = planar ? channels : 1;
    const size_t perPlane = size_t(frame->nb_samples) * size_t(planar ? 1 : channels);
    switch (frame->format) {
    case AV_SAMPLE_FMT_FLT:
    case AV_SAMPLE_FMT_FLTP:
        return silenceNonFinite<float>(frame, planes, perPlane);
    case AV_SAMPLE_FMT_DBL:
    case AV_SAMPLE_FMT_DBLP:
        return silenceNonFinite<double>(frame, planes, perPlane);
    default:
        return true; // integers are always finite
    }
}

// Counts the frames the packets of the first audio stream hold, without decoding.
int64_t scanInput(const Input &input, int sampleRate);

} // namespace

FfmpegPcmReader::FfmpegPcmReader() = default;

FfmpegPcmReader::FfmpegPcmReader(const uint8_t *data, size_t size) : m_memory(data), m_memorySize(size) {}

FfmpegPcmReader::~FfmpegPcmReader() {
    closeStream();
}

bool FfmpegPcmReader::open(const std::string &fileName, std::string *error) {
    closeStream();
    m_fileName = fileName;
    m_format = Format();
    m_duration = -1;
    m_missingFrames = 0;
    m_durationExact = false;
    if (!openStream(error))
        return false;

    const AVStream *stream = m_formatContext->streams[m_streamIndex];
    const AVCodecParameters *par = stream->codecpar;
    m_format.nativeBitsPerSample = par->bits_per_raw_sample;
    if (m_format.nativeBitsPerSample <= 0 && !ff().av_sample_fmt_is_planar(AVSampleFormat(par->format)) &&
        par->format != AV_SAMPLE_FMT_FLT && par->format != AV_SAMPLE_FMT_DBL)
        m_format.nativeBitsPerSample = ff().av_get_bytes_per_sample(AVSampleFormat(par->format)) * 8;
    m_format.fixedSizeBuffers = par->frame_size > 0;
    m_format.bufferBytes = par->frame_size > 0 ? par->frame_size * m_format.channels * 2 : 0;
    const AVCodecDescriptor *descriptor = ff().avcodec_descriptor_get(par->codec_id);
    m_format.allBuffersIndependent = descriptor && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY);

    if (m_format.bufferBytes == 0)
        m_format.bufferBytes = m_frame->nb_samples * m_format.channels * 2;

    // How much audio is there? An MP3's header (if it has one) counts whole frames, and
    // without one its duration is estimated from the bit rate, as is raw AAC's; an MP4's
    // duration may simply be wrong. For these the packets themselves, read without
    // decoding, say exactly what the decoder will deliver. Other containers time their
    // packets coarsely (Matroska and ASF in milliseconds) or overlap them (Vorbis), and
    // their own duration is the better figure, unless it claims more than the packets hold.
    const int64_t scanned = scanInput(Input{fileName, m_memory, m_memorySize}, m_format.sampleRate);
    const int64_t container = containerDuration();
    const std::string demuxer = m_formatContext->iformat->name;
    const bool packetsExact = demuxer == "mp3" || demuxer == "aac" || demuxer == "ac3" || demuxer == "eac3" ||
                              demuxer.find("mp4") != std::string::npos;
    // Uncompressed audio in AIFF, AIFC or CAF: the header's frame count (the stream's
    // nb_frames) is exact, and so are the packets, whose sizes say what they hold; a file
    // cut off ends where its packets do, and the header's frames beyond them are missing,
    // as a cut-off WAV's are.
    const AVCodecID codec = stream->codecpar->codec_id;
    const bool pcm = codec >= AV_CODEC_ID_PCM_S16LE && codec < AV_CODEC_ID_ADPCM_IMA_QT;
    // FLAC (read here when libFLAC cannot find its way into the file) declares its frames
    // in STREAMINFO, which is the stream's duration, and its packets say what they hold.
    const bool flac = demuxer == "flac" && codec == AV_CODEC_ID_FLAC;
    const bool declaresFrames = (pcm && (demuxer == "aiff" || demuxer == "caf")) || flac;
    const int64_t declared = flac ? container : stream->nb_frames;
    int64_t frames = container;
    // ASF times its packets in milliseconds, rounded down (a 10-minute WMA's packets add
    // up to 9 seconds less than it holds), and its own duration counts the preroll and
    // the last block's padding, which the decoder does not deliver: only decoding says
    // how much there is. WMA decodes at hundreds of times real time.
    const int64_t decoded = demuxer == "asf" ? decodedFrames() : -1;
    // A scan or count cut short by a stopping program says nothing of the length: the
    // open is abandoned with it rather than guessed.
    if (AudioFile::openingStopped()) {
        if (error)
            *error = "interrupted";
        closeStream();
        return false;
    }
    if (decoded > 0) {
        m_duration = ticksFromFrames(decoded, m_format.sampleRate);
        m_durationExact = true;
        return true;
    }
    if (scanned >= 0 &&
        (packetsExact || declaresFrames || container < 0 || container > scanned + m_format.sampleRate))
        frames = scanned;
    m_durationExact = scanned >= 0 && (packetsExact || declaresFrames);
    if (declaresFrames && scanned >= 0 && declared > scanned)
        m_missingFrames = declared - scanned;
    if (frames >= 0)
        m_duration = ticksFromFrames(frames, m_format.sampleRate);
    return true;
}

bool FfmpegPcmReader::openStream(std::string *error) {
    std::string dummy;
    if (!error)
        error = &dummy;
    if (!FfmpegLibrary::get()) {
        *error = "the FFmpeg libraries could not be loaded";
        return false;
    }
    int rc = openInput(&m_formatContext, Input{m_fileName, m_memory, m_memorySize});
    if (rc < 0) {
        *error = errorText(rc);
        return false;
    }
    rc = ff().avformat_find_stream_info(m_formatContext, nullptr);
    if (rc < 0) {
        *error = errorText(rc);
        closeStream();
        return false;
    }
    m_streamIndex = firstAudioStream(m_formatContext);
    if (m_streamIndex < 0) {
        *error = "no audio stream";
        closeStream();
        return false;
    }
    for (unsigned i = 0; i < m_formatContext->nb_streams; ++i)
        m_formatContext->streams[i]->discard = int(i) == m_streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    AVStream *stream = m_formatContext->streams[m_streamIndex];
    const AVCodec *codec = ff().avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        *error = "no decoder for " + std::string(ff().avcodec_get_name(stream->codecpar->codec_id));
        closeStream();
        return false;
    }
    m_codecContext = ff().avcodec_alloc_context3(codec);
    m_packet = ff().av_packet_alloc();
    m_frame = ff().av_frame_alloc();
    if (!m_codecContext || !m_packet || !m_frame) {
        *error = "out of memory";
        closeStream();
        return false;
    }
    ff().avcodec_parameters_to_context(m_codecContext, stream->codecpar);
    m_codecContext->pkt_timebase = stream->time_base;
    rc = ff().avcodec_open2(m_codecContext, codec, nullptr);
    if (rc < 0) {
        *error = errorText(rc);
        closeStream();
        return false;
    }

    // The first decoded frame fixes the format actually delivered and the stream's time zero.
    m_draining = m_readError = m_stopped = false;
    m_framePending = false;
    const int flags = decodeNextFrame();
    if (flags != NoFlags) {
        *error = (flags & Error) ? "cannot decode audio" : "no audio";
        closeStream();
        return false;
    }
    const int channels = m_frame->ch_layout.nb_channels;
    const int rate = m_frame->sample_rate;
    if (channels <= 0 || rate <= 0) {
        *error = "invalid audio format";
        closeStream();
        return false;
    }
    if (m_format.channels == 0) {
        m_format.channels = channels;
        m_format.sampleRate = rate;
    } else if (channels != m_format.channels || rate != m_format.sampleRate) {
        *error = "format changed on reopening";
        closeStream();
        return false;
    }
    m_originPts = m_frame->best_effort_timestamp != AV_NOPTS_VALUE ? m_frame->best_effort_timestamp : 0;
    m_nextFrame = 0;
    m_needTimestamp = false;
    m_framePending = true;
    m_atStart = true;
    return true;
}

void FfmpegPcmReader::closeStream() {
    if (!FfmpegLibrary::get())
        return; // nothing was ever opened
    ff().swr_free(&m_resampler);
    m_resamplerInputFormat = -1;
    ff().av_frame_free(&m_frame);
    ff().av_packet_free(&m_packet);
    ff().avcodec_free_context(&m_codecContext);
    closeInput(&m_formatContext);
    m_streamIndex = -1;
    m_framePending = false;
    m_atStart = false;
}

int64_t FfmpegPcmReader::decodedFrames() const {
    FfmpegPcmReader counter(m_memory, m_memorySize);
    counter.m_fileName = m_fileName;
    std::string error;
    if (!counter.openStream(&error))
        return -1;
    int64_t frames = counter.m_frame->nb_samples;
    for (;;) {
        if (AudioFile::openingStopped())
            return -1;
        ff().av_frame_unref(counter.m_frame);
        const int flags = counter.decodeNextFrame();
        if (flags != NoFlags)
            return (flags & Error) ? -1 : frames;
        // A format change ends what is delivered, as it ends the reading.
        if (counter.m_frame->ch_layout.nb_channels != m_format.channels ||
            counter.m_frame->sample_rate != m_format.sampleRate)
            return frames;
        frames += counter.m_frame->nb_samples;
    }
}

int64_t FfmpegPcmReader::containerDuration() const {
    const AVStream *stream = m_formatContext->streams[m_streamIndex];
    int64_t frames = -1;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        frames = ff().av_rescale_q(stream->duration, stream->time_base, AVRational{1, m_format.sampleRate});
    else if (m_formatContext->duration != AV_NOPTS_VALUE && m_formatContext->duration > 0)
        frames = ff().av_rescale(m_formatContext->duration, m_format.sampleRate, AV_TIME_BASE);
    // The decoder drops the codec's start-up delay (Opus pre-skip), which containers count.
    if (frames > 0 && stream->codecpar->initial_padding > 0)
        frames = std::max<int64_t>(0, frames - stream->codecpar->initial_padding);
    return frames;
}

namespace {
int64_t scanInput(const Input &input, int sampleRate) {
    if (sampleRate <= 0 || !FfmpegLibrary::get())
        return -1;
    AVFormatContext *context = nullptr;
    if (openInput(&context, input) < 0)
        return -1;
    int64_t frames = -1;
    AVPacket *packet = ff().av_packet_alloc();
    const int index = ff().avformat_find_stream_info(context, nullptr) >= 0 ? firstAudioStream(context) : -1;
    if (index >= 0 && packet) {
        for (unsigned i = 0; i < context->nb_streams; ++i)
            context->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        const AVRational timeBase = context->streams[index]->time_base;
        frames = 0;
        int rc;
        while ((rc = ff().av_read_frame(context, packet)) >= 0) {
            if (AudioFile::openingStopped()) {
                ff().av_packet_unref(packet);
                frames = -1;
                break;
            }
            if (packet->stream_index == index) {
                if (packet->duration <= 0) {
                    ff().av_packet_unref(packet);
                    frames = -1;
                    break;
                }
                const int64_t packetFrames =
                    ff().av_rescale_q(packet->duration, timeBase, AVRational{1, sampleRate});
                frames += std::max<int64_t>(0, packetFrames - skippedSamples(packet));
            }
            ff().av_packet_unref(packet);
        }
        if (frames >= 0 && rc != AVERROR_EOF && frames == 0)
            frames = -1;
    }
    ff().av_packet_free(&packet);
    closeInput(&context);
    return frames;
}
} // namespace

int64_t FfmpegPcmReader::scanFrames(const std::string &fileName, int sampleRate) {
    return scanInput(Input{fileName}, sampleRate);
}

int FfmpegPcmReader::decodeNextFrame() {
    for (;;) {
        int rc = ff().avcodec_receive_frame(m_codecContext, m_frame);
        if (rc == 0) {
            if (m_frame->nb_samples <= 0) {
                ff().av_frame_unref(m_frame);
                continue;
            }
            return NoFlags;
        }
        // Once the demuxer is exhausted, anything but a frame means the decoder is empty.
        if (rc == AVERROR_EOF || m_draining)
            return m_readError ? Error : EndOfStream;
        // Anything else than "needs input" is a damaged packet the decoder has dropped;
        // like the ffmpeg command we go on with the next one.

        rc = ff().av_read_frame(m_formatContext, m_packet);
        if (rc < 0) {
            if (rc != AVERROR_EOF)
                m_readError = true;
            m_draining = true;
            ff().avcodec_send_packet(m_codecContext, nullptr);
            continue;
        }
        if (m_packet->stream_index == m_streamIndex)
            ff().avcodec_send_packet(m_codecContext, m_packet); // a damaged packet is skipped
        ff().av_packet_unref(m_packet);
    }
}

bool FfmpegPcmReader::convertFrame(Buffer *buffer) {
    const int frames = m_frame->nb_samples;
    const int channels = m_format.channels;
    if (m_frame->format == AV_SAMPLE_FMT_S16) {
        buffer->data = reinterpret_cast<const int16_t *>(m_frame->data[0]);
        buffer->byteLength = frames * channels * 2;
        return true;
    }
    if (!silenceNonFinite(m_frame, channels))
        return false;
    if (!m_resampler || m_resamplerInputFormat != m_frame->format) {
        ff().swr_free(&m_resampler);
        if (ff().swr_alloc_set_opts2(&m_resampler, &m_frame->ch_layout, AV_SAMPLE_FMT_S16,
                                     m_frame->sample_rate, &m_frame->ch_layout,
                                     AVSampleFormat(m_frame->format), m_frame->sample_rate, 0, nullptr) < 0 ||
            ff().swr_init(m_resampler) < 0) {
            ff().swr_free(&m_resampler);
            return false;
        }
        m_resamplerInputFormat = m_frame->format;
    }
    m_pcm.resize(size_t(frames) * size_t(channels));
    uint8_t *out = reinterpret_cast<uint8_t *>(m_pcm.data());
    const int converted = ff().swr_convert(m_resampler, &out, frames,
                                           const_cast<const uint8_t **>(m_frame->extended_data), frames);
    if (converted < 0)
        return false;
    buffer->data = m_pcm.data();
    buffer->byteLength = converted * channels * 2;
    return true;
}

int FfmpegPcmReader::readBuffer(Buffer *buffer) {
    *buffer = Buffer();
    if (!m_formatContext)
        return Error;
    if (m_stopped)
        return EndOfStream;
    if (!m_framePending) {
        ff().av_frame_unref(m_frame);
        const int flags = decodeNextFrame();
        if (flags != NoFlags)
            return flags;
    }
    m_framePending = false;
    m_atStart = false;

    if (m_frame->ch_layout.nb_channels != m_format.channels || m_frame->sample_rate != m_format.sampleRate) {
        // The rest of the stream cannot be delivered in the format the caller was given.
        m_stopped = true;
        return FormatChanged;
    }
    if (m_needTimestamp) {
        m_needTimestamp = false;
        if (m_frame->best_effort_timestamp != AV_NOPTS_VALUE)
            m_nextFrame = ff().av_rescale_q_rnd(m_frame->best_effort_timestamp - m_originPts,
                                                m_formatContext->streams[m_streamIndex]->time_base,
                                                AVRational{1, m_format.sampleRate},
                                                AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    }
    if (!convertFrame(buffer))
        return Error;
    buffer->time = m_nextFrame >= 0 ? ticksFromFrames(m_nextFrame, m_format.sampleRate)
                                    : -ticksFromFrames(-m_nextFrame, m_format.sampleRate);
    m_nextFrame += m_frame->nb_samples;
    return NoFlags;
}

bool FfmpegPcmReader::flush() {
    if (!m_formatContext)
        return false;
    // At the very start nothing has been delivered: the pending first frame is exactly
    // what a reposition to the start would bring back.
    if (m_atStart)
        return true;
    ff().avcodec_flush_buffers(m_codecContext);
    m_framePending = false;
    m_needTimestamp = true;
    return true;
}

bool FfmpegPcmReader::setPosition(int64_t time) {
    if (!FfmpegLibrary::get())
        return false;
    if (!m_formatContext && m_fileName.empty() && !m_memory)
        return false;
    const int rate = m_format.sampleRate;
    const int64_t targetFrame =
        rate > 0 ? ff().av_rescale(std::max<int64_t>(time, 0), rate, kTicksPerSecond) : 0;
    const int64_t startFrame = targetFrame - int64_t(kPrerollSeconds * rate);
    if (startFrame <= 0) {
        if (m_atStart)
            return true;
        // Rewinding by reopening restores the encoder-delay trimming exactly, which a
        // demuxer seek to zero does not promise for every format.
        closeStream();
        std::string error;
        return openStream(&error);
    }
    if (!m_formatContext)
        return false;
    const AVStream *stream = m_formatContext->streams[m_streamIndex];
    const int64_t ts = m_originPts + ff().av_rescale_q(startFrame, AVRational{1, rate}, stream->time_base);
    if (ff().avformat_seek_file(m_formatContext, m_streamIndex, INT64_MIN, ts, ts, 0) < 0)
        return false;
    ff().avcodec_flush_buffers(m_codecContext);
    m_framePending = false;
    m_needTimestamp = true;
    m_atStart = false;
    m_draining = m_readError = m_stopped = false;
    return true;
}
