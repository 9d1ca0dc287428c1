#pragma once

#include "PcmSource.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct AVFormatContext;
struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct SwrContext;

// PcmSource backed by FFmpeg: libavformat demuxes the first audio stream of any file
// it recognises (other streams, such as cover art or video, are discarded), libavcodec
// decodes it, and libswresample converts the decoder's samples to interleaved 16-bit
// integers in the stream's own channel layout and rate. Encoder delay and padding are
// trimmed exactly as the ffmpeg command trims them.
//
// Used by one thread at a time.
class FfmpegPcmReader : public PcmSource {
public:
    FfmpegPcmReader();
    // Reads these bytes (which must outlive the reader) instead of the file that open()
    // names; the name is then only a label.
    FfmpegPcmReader(const uint8_t *data, size_t size);
    ~FfmpegPcmReader() override;
    FfmpegPcmReader(const FfmpegPcmReader &) = delete;
    FfmpegPcmReader &operator=(const FfmpegPcmReader &) = delete;

    bool open(const std::string &fileName, std::string *error) override;
    Format format() const override { return m_format; }
    int64_t duration() const override { return m_duration; }
    int64_t missingFrames() const override { return m_missingFrames; }
    bool durationExact() const override { return m_durationExact; }
    int readBuffer(Buffer *buffer) override;
    bool flush() override;
    bool setPosition(int64_t time) override;

    // Frames of audio the stream really holds, found by reading every packet without
    // decoding; negative when the packets do not say (no durations) or cannot be read.
    static int64_t scanFrames(const std::string &fileName, int sampleRate);

private:
    // Opens demuxer and decoder and decodes the first frame, which is kept pending.
    bool openStream(std::string *error);
    void closeStream();
    // Fetches the next decoded frame into m_frame; returns NoFlags or the flags that end it.
    int decodeNextFrame();
    bool convertFrame(Buffer *buffer);
    int64_t containerDuration() const;
    // Frames the whole stream decodes to, counted by decoding it; negative on an error.
    int64_t decodedFrames() const;

    std::string m_fileName;
    const uint8_t *m_memory = nullptr;
    size_t m_memorySize = 0;
    Format m_format;
    int64_t m_duration = -1;
    int64_t m_missingFrames = 0;
    bool m_durationExact = false;

    AVFormatContext *m_formatContext = nullptr;
    AVCodecContext *m_codecContext = nullptr;
    SwrContext *m_resampler = nullptr;
    int m_resamplerInputFormat = -1;
    AVPacket *m_packet = nullptr;
    AVFrame *m_frame = nullptr;
    int m_streamIndex = -1;
    std::vector<int16_t> m_pcm;

    int64_t m_originPts = 0;      // pts of the first decoded frame: stream time zero
    int64_t m_nextFrame = 0;      // frame index of the next decoded frame
    bool m_needTimestamp = false; // after a reposition: take the next frame's index from its pts
    bool m_framePending = false;  // m_frame holds a decoded frame not yet delivered
    bool m_atStart = false;       // nothing delivered since the stream was opened
    bool m_draining = false;      // the demuxer is exhausted; the decoder is being emptied
    bool m_readError = false;     // the demuxer stopped on an error rather than at the end
    bool m_stopped = false;       // a format change ended the stream
};
