// Program side of orvoadpcmdec.so (ADPCM decoder): typed entry points bound at load
// time. Loaded per conversion job and per playback.
#pragma once

#include "orvoadpcmdec/orvoadpcmdec.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct OrvoadpcmdecApi {
    decltype(&::orvo_adpcm_init) orvo_adpcm_init = nullptr;
    decltype(&::orvo_adpcm_decode) orvo_adpcm_decode = nullptr;
    decltype(&::orvo_adpcm_close) orvo_adpcm_close = nullptr;
};
extern OrvoadpcmdecApi orvoadpcmdec;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadOrvoadpcmdec();
void unloadOrvoadpcmdec();

} // namespace kestrel
