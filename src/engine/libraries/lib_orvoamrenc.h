// Program-side binding of orvoamrenc.so: AMR encoder writing ring-tone files (per job).
// The function pointers are set by loadOrvoamrenc() and cleared by
// unloadOrvoamrenc(); the contract of each call is in libs/orvoamrenc/orvoamrenc.h.
#pragma once

#include "orvoamrenc/orvoamrenc.h"

namespace kestrel {

// Exports of orvoamrenc.so in loader order.
struct OrvoAmrEncExports {
    decltype(&::amr_init) amr_init = nullptr;
    decltype(&::amr_encode) amr_encode = nullptr;
    decltype(&::amr_close) amr_close = nullptr;
};
extern OrvoAmrEncExports orvoamrenc;

// Loads orvoamrenc.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadOrvoamrenc();
void unloadOrvoamrenc();
bool orvoamrencLoaded();

} // namespace kestrel
