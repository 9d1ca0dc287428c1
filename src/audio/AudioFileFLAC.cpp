#include "AudioFileFLAC.h"

#include "AudioLogging.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

AudioFileFLAC::AudioFileFLAC(const QString &path) {
    if (init(QFile::encodeName(path).constData()) != FLAC__STREAM_DECODER_INIT_STATUS_OK) {
        qCDebug(lcAudio) << "Error initializing FLAC decoder for file" << path;
        return;
    }
    const bool metadataRead = process_until_end_of_metadata();
    // A declared length of 0 means "unknown" and is counted below.
    const long long declaredSamples =
        (long long)std::min<uint64_t>(m_declaredFrames, uint64_t(INT_MAX)) * outputChannels();
    if (!metadataRead || !m_gotStreamInfo || m_maxBlockSize == 0 || m_channels == 0 ||
        !isLoadable(m_declaredFrames == 0 ? outputChannels() : declaredSamples, m_sampleRate)) {
        // A stream too long for an int sample index, without a usable STREAMINFO or
        // with an impossible sample rate is refused rather than wrapped or guessed.
        refuse(path, "(STREAMINFO missing or impossible)");
        return;
    }
    m_frameCapacity = outputChannels() * int(m_maxBlockSize);
    const size_t bytes = (size_t(m_frameCapacity) * sizeof(float) + 15) / 16 * 16;
    m_frameBuffer = static_cast<float *>(std::aligned_alloc(16, bytes));
    if (!m_frameBuffer) {
        refuse(path, "(out of memory)");
        return;
    }
    std::memset(m_frameBuffer, 0, bytes);

    // A whole file costs one seek to its end; only a file cut off, damaged at its end or
    // of unknown length is decoded through on opening.
    const uint64_t frames =
        m_declaredFrames > 0 && lastDeclaredFrameDecodes() ? m_declaredFrames : countDecodableFrames();
    // A count cut short by a stopping program is no length.
    if (openingStopped()) {
        refuse(path, "(opening stopped)");
        return;
    }
    if (!isLoadable((long long)std::min<uint64_t>(frames, uint64_t(INT_MAX)) * outputChannels(),
                    m_sampleRate)) {
        refuse(path, "(no decodable audio, or more than an int index can hold)");
        return;
    }
    m_length = int(frames) * outputChannels();
    m_declaredMissing = m_declaredFrames > frames ? (long long)(m_declaredFrames - frames) : 0;
    m_missingFrames.store(m_declaredMissing);
    if (m_declaredMissing > 0)
        qCDebug(lcAudio) << path << "is truncated:" << m_declaredMissing
                         << "frames declared in its STREAMINFO are missing";
    if (seek(0) != 0)
        refuse(path, "(cannot return to its start)");
}

void AudioFileFLAC::refuse(const QString &path, const char *why) {
    qCDebug(lcAudio) << "Error opening file" << path << why << "frames:" << quint64(m_declaredFrames)
                     << "samplerate:" << m_sampleRate;
    finish();
    m_length = 0;
    m_sampleRate = 0;
    m_declaredMissing = 0;
    m_missingFrames.store(0);
}

bool AudioFileFLAC::lastDeclaredFrameDecodes() {
    // libFLAC's seek finds the frame holding the sample and checks it whole (CRC
    // included); it fails when the file ends before that frame does.
    return seek_absolute(FLAC__uint64(m_declaredFrames - 1));
}

uint64_t AudioFileFLAC::countDecodableFrames() {
    m_countedFrames = 0;
    // Rewinds the file (also after a failed seek) and reads the metadata again, which
    // the metadata callback ignores.
    if (!reset() || !process_until_end_of_metadata())
        return 0;
    m_counting = true;
    // Ends at the end of the stream, or where a frame is refused, as read() would.
    process_until_end_of_stream();
    m_counting = false;
    return m_countedFrames;
}

AudioFileFLAC::~AudioFileFLAC() {
    finish();
    std::free(m_frameBuffer);
}

void AudioFileFLAC::metadata_callback(const ::FLAC__StreamMetadata *metadata) {
    // Only the first STREAMINFO counts: the frame buffer is sized from it.
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO || m_gotStreamInfo)
        return;
    const FLAC__StreamMetadata_StreamInfo &info = metadata->data.stream_info;
    m_sampleRate = info.sample_rate;
    m_channels = info.channels;
    m_bitsPerSample = info.bits_per_sample;
    m_maxBlockSize = info.max_blocksize;
    m_declaredFrames = info.total_samples;
    m_gotStreamInfo = true;
    qCDebug(lcAudio) << "sample rate:" << m_sampleRate << "Hz, channels:" << m_channels
                     << "bits per sample:" << m_bitsPerSample << "max block size:" << m_maxBlockSize
                     << "total frames:" << quint64(m_declaredFrames);
}

void AudioFileFLAC::error_callback(::FLAC__StreamDecoderErrorStatus status) {
    qCDebug(lcAudio) << "FLAC decoder error:" << FLAC__StreamDecoderErrorStatusString[status];
}

::FLAC__StreamDecoderWriteStatus AudioFileFLAC::write_callback(const ::FLAC__Frame *frame,
                                                               const FLAC__int32 *const buffer[]) {
    const FLAC__FrameHeader &h = frame->header;
    if (h.channels != m_channels) {
        qCDebug(lcAudio) << "Error: FLAC frame channels mismatch.";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (h.sample_rate != m_sampleRate) {
        qCDebug(lcAudio) << "Error: FLAC frame samplerate mismatch.";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    if (h.bits_per_sample != m_bitsPerSample) {
        qCDebug(lcAudio) << "Error: FLAC frame bits per sample mismatch.";
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    // The frame buffer is sized from STREAMINFO; a larger frame would be written past
    // its end.
    if (!m_frameBuffer || h.blocksize > m_maxBlockSize ||
        (long long)h.blocksize * outputChannels() > m_frameCapacity) {
        qCDebug(lcAudio) << "Error: FLAC frame block size exceeds the stream maximum." << h.blocksize
                         << m_maxBlockSize;
        return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }

    const unsigned n = h.blocksize;
    if (m_counting) {
        if (openingStopped())
            return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
        m_countedFrames += n;
        const bool overflows = m_countedFrames * unsigned(outputChannels()) > uint64_t(INT_MAX);
        return overflows ? FLAC__STREAM_DECODER_WRITE_STATUS_ABORT
                         : FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }

    const unsigned shift = 32 - m_bitsPerSample;
    const auto convert = [shift](FLAC__int32 s) {
        return float(int32_t(uint32_t(s) << shift)) / 2147483648.0f;
    };
    if (m_channels == 2) {
        const FLAC__int32 *left = buffer[0];
        const FLAC__int32 *right = buffer[1];
        for (unsigned i = 0; i < n; ++i) {
            m_frameBuffer[2 * i] = convert(left[i]);
            m_frameBuffer[2 * i + 1] = convert(right[i]);
        }
    } else if (m_channels == 1) {
        const FLAC__int32 *mono = buffer[0];
        for (unsigned i = 0; i < n; ++i)
            m_frameBuffer[2 * i] = m_frameBuffer[2 * i + 1] = convert(mono[i]);
    } else {
        qCDebug(lcAudio) << "Error: Unsupported number of FLAC channels";
    }
    m_available = int(n) * outputChannels();
    m_readOffset = 0;
    m_gotFrame = true;
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
}

bool AudioFileFLAC::decodeNextFrame() {
    m_gotFrame = false;
    // A damaged frame header makes the decoder resynchronise without delivering a
    // frame; every call consumes input, so this ends at the stream's end.
    while (!m_gotFrame) {
        if (!process_single())
            return false;
        const FLAC__StreamDecoderState state = ::FLAC__StreamDecoderState(get_state());
        // End of stream and every state after it (errors, aborted) end decoding.
        if (!m_gotFrame && state >= FLAC__STREAM_DECODER_END_OF_STREAM)
            return false;
    }
    return true;
}

int AudioFileFLAC::read(float *buffer, unsigned count) {
    if (m_length == 0 || !m_frameBuffer)
        return 0;
    // Never deliver beyond the length found on opening: the cache presents no more.
    const unsigned remaining = unsigned(m_length - m_position);
    // Past the end the whole request reads as silence, not just the part that remains.
    const unsigned requested = count;
    if (count > remaining)
        count = remaining;

    unsigned delivered = 0;
    for (;;) {
        const unsigned n = std::min(unsigned(m_available), count - delivered);
        std::memcpy(buffer + delivered, m_frameBuffer + m_readOffset, n * sizeof(float));
        m_readOffset += int(n);
        m_available -= int(n);
        delivered += n;
        if (delivered >= count || !decodeNextFrame())
            break;
    }
    m_position += int(delivered);
    if (delivered < count)
        m_missingFrames.store(m_declaredMissing + (long long)(m_length - m_position) / outputChannels());
    if (delivered < requested)
        std::memset(buffer + delivered, 0, (requested - delivered) * sizeof(float));
    return int(delivered);
}

int AudioFileFLAC::seek(unsigned sampleIndex) {
    if (m_length == 0 || !m_frameBuffer)
        return -1;
    if (sampleIndex > unsigned(m_length))
        sampleIndex = unsigned(m_length);
    m_available = 0;
    m_readOffset = 0;
    if (get_state() == FLAC__STREAM_DECODER_ABORTED || get_state() == FLAC__STREAM_DECODER_SEEK_ERROR)
        flush();
    if (!seek_absolute(FLAC__uint64(sampleIndex / unsigned(outputChannels())))) {
        flush();
        return -1;
    }
    m_position = int(sampleIndex - sampleIndex % unsigned(outputChannels()));
    return m_position;
}

int AudioFileFLAC::integerBits() {
    // Samples are shifted to the top of 32 bits and divided by 2^31, exact up to 24 bits.
    if (m_length == 0 || m_bitsPerSample == 0)
        return 0;
    if (m_bitsPerSample <= 16)
        return 16;
    return m_bitsPerSample <= 24 ? 24 : 0;
}
