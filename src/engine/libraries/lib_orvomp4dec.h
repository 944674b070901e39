// Program side of orvomp4dec.so (MP4/3GP/M4A demultiplexer): typed entry points bound at load
// time. Loaded at start-up for the whole run.
#pragma once

#include "orvomp4dec/orvomp4dec.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct Orvomp4decApi {
    decltype(&::mp4de_init) mp4de_init = nullptr;
    decltype(&::mp4_getvideo) mp4_getvideo = nullptr;
    decltype(&::mp4_getaudionum) mp4_getaudionum = nullptr;
    decltype(&::mp4_getaudio) mp4_getaudio = nullptr;
    decltype(&::mp4_getmp4aconfig) mp4_getmp4aconfig = nullptr;
    decltype(&::mp4_readvideo) mp4_readvideo = nullptr;
    decltype(&::mp4_readaudio) mp4_readaudio = nullptr;
    decltype(&::mp4_gettrackinfo) mp4_gettrackinfo = nullptr;
    decltype(&::mp4_gettracknum) mp4_gettracknum = nullptr;
    decltype(&::mp4de_close) mp4de_close = nullptr;
    decltype(&::mp4_getaudioname) mp4_getaudioname = nullptr;
    decltype(&::mp4_getaudiotrim) mp4_getaudiotrim = nullptr;
};
extern Orvomp4decApi orvomp4dec;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadOrvomp4dec();
void unloadOrvomp4dec();

} // namespace kestrel
