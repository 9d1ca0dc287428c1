#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

// Every FFmpeg function the program calls.
#define QUILLORY_FFMPEG_FUNCTIONS(X)                                                                         \
    X(av_dict_free)                                                                                          \
    X(av_dict_set)                                                                                           \
    X(av_find_best_stream)                                                                                   \
    X(av_find_input_format)                                                                                  \
    X(av_frame_alloc)                                                                                        \
    X(av_frame_free)                                                                                         \
    X(av_frame_make_writable)                                                                                \
    X(av_frame_unref)                                                                                        \
    X(av_free)                                                                                               \
    X(av_freep)                                                                                              \
    X(av_get_bytes_per_sample)                                                                               \
    X(av_log_set_level)                                                                                      \
    X(av_malloc)                                                                                             \
    X(av_packet_alloc)                                                                                       \
    X(av_packet_free)                                                                                        \
    X(av_packet_get_side_data)                                                                               \
    X(av_packet_unref)                                                                                       \
    X(av_read_frame)                                                                                         \
    X(av_rescale)                                                                                            \
    X(av_rescale_q)                                                                                          \
    X(av_rescale_q_rnd)                                                                                      \
    X(av_rescale_rnd)                                                                                        \
    X(av_sample_fmt_is_planar)                                                                               \
    X(av_strerror)                                                                                           \
    X(avcodec_alloc_context3)                                                                                \
    X(avcodec_descriptor_get)                                                                                \
    X(avcodec_find_decoder)                                                                                  \
    X(avcodec_flush_buffers)                                                                                 \
    X(avcodec_free_context)                                                                                  \
    X(avcodec_get_name)                                                                                      \
    X(avcodec_open2)                                                                                         \
    X(avcodec_parameters_to_context)                                                                         \
    X(avcodec_receive_frame)                                                                                 \
    X(avcodec_send_packet)                                                                                   \
    X(avformat_alloc_context)                                                                                \
    X(avformat_close_input)                                                                                  \
    X(avformat_find_stream_info)                                                                             \
    X(avformat_open_input)                                                                                   \
    X(avformat_seek_file)                                                                                    \
    X(avio_alloc_context)                                                                                    \
    X(avio_context_free)                                                                                     \
    X(swr_alloc_set_opts2)                                                                                   \
    X(swr_convert)                                                                                           \
    X(swr_free)                                                                                              \
    X(swr_init)

// FFmpeg's libraries, loaded the first time compressed audio is opened instead of when
// the program starts. They bring in well over a hundred shared libraries of codecs,
// network and image formats; loading and relocating those costs more than a short
// command-line run of a WAV file does in all.
//
// Threads: any; the first call loads, later calls return the same table.
struct FfmpegLibrary {
#define QUILLORY_FFMPEG_POINTER(name) decltype(&::name) name = nullptr;
    QUILLORY_FFMPEG_FUNCTIONS(QUILLORY_FFMPEG_POINTER)
#undef QUILLORY_FFMPEG_POINTER

    // The functions, or null when the libraries (of the major versions this program was
    // built against) cannot be loaded or lack one of them.
    static const FfmpegLibrary *get();
};
