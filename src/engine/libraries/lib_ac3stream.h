// Program side of ac3stream.so (AC-3 frame decoder): typed entry points bound
// at load time. Loaded per conversion job and per playback.
#pragma once

#include "ac3stream/ac3stream.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct Ac3streamApi {
    decltype(&::ac3buf_init) ac3buf_init = nullptr;
    decltype(&::ac3buf_close) ac3buf_close = nullptr;
    decltype(&::ac3buf_readdata) ac3buf_readdata = nullptr;
    decltype(&::ac3buf_get_handle) ac3buf_get_handle = nullptr;
};
extern Ac3streamApi ac3stream;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadAc3stream();
void unloadAc3stream();

} // namespace kestrel
