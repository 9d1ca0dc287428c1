#include "FfmpegLibrary.h"

#include "AudioLogging.h"

#include <QDebug>

#include <iterator>

#include <dlfcn.h>

namespace {

// The sonames of the major versions the headers describe: an ABI the calls match.
#define QUILLORY_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)
const char *const kLibraries[] = {
    QUILLORY_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
    QUILLORY_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
    QUILLORY_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
    QUILLORY_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR),
};
#undef QUILLORY_SONAME

const FfmpegLibrary *load() {
    static FfmpegLibrary library;
    void *handles[std::size(kLibraries)] = {};
    for (size_t i = 0; i < std::size(kLibraries); ++i) {
        // Never unloaded: the table lives as long as the process.
        handles[i] = dlopen(kLibraries[i], RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) {
            qCWarning(lcAudio) << "Compressed audio cannot be opened:" << dlerror();
            return nullptr;
        }
    }
    const auto find = [&handles](const char *name) -> void * {
        for (void *handle : handles)
            if (void *symbol = dlsym(handle, name))
                return symbol;
        qCWarning(lcAudio) << "Compressed audio cannot be opened: FFmpeg lacks" << name;
        return nullptr;
    };
    bool complete = true;
#define QUILLORY_FFMPEG_RESOLVE(name)                                                                        \
    library.name = reinterpret_cast<decltype(library.name)>(find(#name));                                    \
    complete = complete && library.name;
    QUILLORY_FFMPEG_FUNCTIONS(QUILLORY_FFMPEG_RESOLVE)
#undef QUILLORY_FFMPEG_RESOLVE
    if (!complete)
        return nullptr;
    // Corrupt files make the codecs and demuxers log a line per damaged packet (and the
    // demuxers chat about tags) on standard error, which the command line keeps for its
    // own messages; whoever opens a file reports what matters. Set here, where the
    // library is first reached, so that no caller can see it before it is quiet.
    library.av_log_set_level(AV_LOG_FATAL);
    return &library;
}

} // namespace

const FfmpegLibrary *FfmpegLibrary::get() {
    static const FfmpegLibrary *const library = load();
    return library;
}
