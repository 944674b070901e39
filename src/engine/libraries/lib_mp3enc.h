// Program-side binding of mp3enc.so: MP3 encoder (from start-up until exit).
// The function pointers are set by loadMp3enc() and cleared by
// unloadMp3enc(); the contract of each call is in libs/mp3enc/mp3enc.h.
#pragma once

#include "mp3enc/mp3enc.h"

namespace kestrel {

// Exports of mp3enc.so in loader order.
struct Mp3EncExports {
    decltype(&::wave_enmp3init_new) wave_enmp3init_new = nullptr;
    decltype(&::wave_enmp3init_abr) wave_enmp3init_abr = nullptr;
    decltype(&::wave_enmp3init_vbr) wave_enmp3init_vbr = nullptr;
    decltype(&::wave_enmp3code) wave_enmp3code = nullptr;
    decltype(&::wave_enmp3end) wave_enmp3end = nullptr;
    decltype(&::wave_enmp3_vbrheader) wave_enmp3_vbrheader = nullptr;
    // Later additions, bound when the library has them.
    decltype(&::wave_enmp3_threads) wave_enmp3_threads = nullptr;
    decltype(&::wave_enmp3_joins) wave_enmp3_joins = nullptr;
};
extern Mp3EncExports mp3enc;

// Loads mp3enc.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadMp3enc();
void unloadMp3enc();
bool mp3encLoaded();

} // namespace kestrel
