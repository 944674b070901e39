// Program side of orvoaacdec.so (AAC decoder, file and buffer forms): typed entry points bound at
// load time. Loaded per analysis of an MP4 or FLV entry, per conversion job and per playback.
#pragma once

#include "orvoaacdec/orvoaacdec.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct OrvoaacdecApi {
    decltype(&::aacdecode_init) aacdecode_init = nullptr;
    decltype(&::aac_decode) aac_decode = nullptr;
    decltype(&::get_mp4info) get_mp4info = nullptr;
    decltype(&::aacdecode_close) aacdecode_close = nullptr;
    decltype(&::aacdecodebuf_init) aacdecodebuf_init = nullptr;
    decltype(&::aacbuf_decode) aacbuf_decode = nullptr;
    decltype(&::aacdecodebuf_close) aacdecodebuf_close = nullptr;
};
extern OrvoaacdecApi orvoaacdec;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadOrvoaacdec();
void unloadOrvoaacdec();

} // namespace kestrel
