// Program-side binding of mpadec_ext.so: MPEG audio frame decoder (per job, per playback).
// The function pointers are set by loadMpadecExt() and cleared by
// unloadMpadecExt(); the contract of each call is in libs/mpadec_ext/mpadec_ext.h.
#pragma once

#include "mpadec_ext/mpadec_ext.h"

namespace kestrel {

// Exports of mpadec_ext.so in loader order.
struct MpadecExtExports {
    decltype(&::mp3_init) mp3_init = nullptr;
    decltype(&::mp3_open) mp3_open = nullptr;
    decltype(&::mp3_play) mp3_play = nullptr;
    decltype(&::mp3_close) mp3_close = nullptr;
};
extern MpadecExtExports mpadec_ext;

// Loads mpadec_ext.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadMpadecExt();
void unloadMpadecExt();
bool mpadecExtLoaded();

} // namespace kestrel
