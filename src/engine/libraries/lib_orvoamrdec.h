// Program-side binding of orvoamrdec.so: AMR decoder (per job, per playback).
// The function pointers are set by loadOrvoamrdec() and cleared by
// unloadOrvoamrdec(); the contract of each call is in libs/orvoamrdec/orvoamrdec.h.
#pragma once

#include "orvoamrdec/orvoamrdec.h"

namespace kestrel {

// Exports of orvoamrdec.so in loader order.
struct OrvoAmrDecExports {
    decltype(&::amrdecode_init) amrdecode_init = nullptr;
    decltype(&::amr_decode) amr_decode = nullptr;
    decltype(&::amrdecode_close) amrdecode_close = nullptr;
};
extern OrvoAmrDecExports orvoamrdec;

// Loads orvoamrdec.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadOrvoamrdec();
void unloadOrvoamrdec();
bool orvoamrdecLoaded();

} // namespace kestrel
