// FFmpeg, bound at the first call of one of its functions (lazy_library.h).
//
// Every FFmpeg function the program calls is defined here under its own name
// and passes the call on to the library, so that the code calling FFmpeg reads
// as usual and links against these definitions instead of the libraries.
// They are hidden: each module that links them binds for itself, and FFmpeg's
// own calls between its libraries never come here. The list is
// ffmpeg_functions.inc (tools/gen-ffmpeg-binding.py writes it).
//
// When the libraries are bound, their log is set to the level named by the
// environment variable KESTREL_FFMPEG_LOG ("quiet" when unset): a damaged
// file is reported by result codes, and FFmpeg's lines would flood the
// terminal.

#include "common/lazy_library.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <cstdlib>
#include <cstring>

namespace {

enum Slot {
#define KESTREL_FF(ret, name, params, args) kSlot_##name,
#include "common/ffmpeg_functions.inc"
#undef KESTREL_FF
    kSlotCount
};

const char* const kNames[] = {
#define KESTREL_FF(ret, name, params, args) #name,
#include "common/ffmpeg_functions.inc"
#undef KESTREL_FF
};

#define KESTREL_SONAME(lib, major) "lib" #lib ".so." AV_STRINGIFY(major)

int logLevel() {
    const char* v = std::getenv("KESTREL_FFMPEG_LOG");
    if (!v || !*v || std::strcmp(v, "quiet") == 0) return AV_LOG_QUIET;
    if (std::strcmp(v, "error") == 0) return AV_LOG_ERROR;
    if (std::strcmp(v, "warning") == 0) return AV_LOG_WARNING;
    if (std::strcmp(v, "verbose") == 0) return AV_LOG_VERBOSE;
    if (std::strcmp(v, "debug") == 0) return AV_LOG_DEBUG;
    return AV_LOG_INFO;
}

void* const* ffmpeg() {
    static orvo::LazyLibrary lib("FFmpeg",
                                 {KESTREL_SONAME(avutil, LIBAVUTIL_VERSION_MAJOR),
                                  KESTREL_SONAME(swresample, LIBSWRESAMPLE_VERSION_MAJOR),
                                  KESTREL_SONAME(avcodec, LIBAVCODEC_VERSION_MAJOR),
                                  KESTREL_SONAME(avformat, LIBAVFORMAT_VERSION_MAJOR)},
                                 kNames, kSlotCount);
    static void* const* fn = [] {
        void* const* f = lib.functions();
        if (f) reinterpret_cast<void (*)(int)>(f[kSlot_av_log_set_level])(logLevel());
        return f;
    }();
    return fn;
}

} // namespace

#define KESTREL_FF(ret, name, params, args)                                                        \
    extern "C" ret name params {                                                                   \
        void* const* fn = ffmpeg();                                                                \
        if (!fn) return orvo::unboundResult<ret>();                                                \
        return reinterpret_cast<ret(*) params>(fn[kSlot_##name]) args;                             \
    }
#include "common/ffmpeg_functions.inc"
#undef KESTREL_FF
