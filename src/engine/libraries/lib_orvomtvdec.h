// Program side of orvomtvdec.so (MTV and AMV demultiplexer): typed entry points bound at load
// time. Loaded per analysis, per conversion job and per playback.
#pragma once

#include "orvomtvdec/orvomtvdec.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct OrvomtvdecApi {
    decltype(&::mtv_init) mtv_init = nullptr;
    decltype(&::mtv_getvideo) mtv_getvideo = nullptr;
    decltype(&::mtv_getaudio) mtv_getaudio = nullptr;
    decltype(&::mtv_getpicinfo) mtv_getpicinfo = nullptr;
    decltype(&::mtv_getdata) mtv_getdata = nullptr;
    decltype(&::mtv_close) mtv_close = nullptr;
    decltype(&::amv_init) amv_init = nullptr;
    decltype(&::amv_getvideo) amv_getvideo = nullptr;
    decltype(&::amv_getaudio) amv_getaudio = nullptr;
    decltype(&::amv_getdata) amv_getdata = nullptr;
    decltype(&::amv_close) amv_close = nullptr;
};
extern OrvomtvdecApi orvomtvdec;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadOrvomtvdec();
void unloadOrvomtvdec();

} // namespace kestrel
