// Program side of orvoaacenc.so (AAC encoder writing raw AAC, ADTS or MP4 files): typed entry
// points bound at load time. Loaded per conversion job.
#pragma once

#include "orvoaacenc/orvoaacenc.h"

namespace kestrel {

// Entry points in loader order (the number in a loader message is the
// position here, counting from 1).
struct OrvoaacencApi {
    decltype(&::aac_init) aac_init = nullptr;
    decltype(&::aac_encode) aac_encode = nullptr;
    decltype(&::aac_close) aac_close = nullptr;
    // Optional: encoding on several threads.
    decltype(&::aac_threads) aac_threads = nullptr;
};
extern OrvoaacencApi orvoaacenc;

// Loads the library and binds every entry point; shows the loader message and
// returns a negative value on failure. Loads are counted: the library is
// released when every successful load has been matched by an unload, so a
// playback and an analysis that overlap do not pull it from under each other.
int loadOrvoaacenc();
void unloadOrvoaacenc();

} // namespace kestrel
