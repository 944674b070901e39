// Program-side binding of inflator.so: zlib-format decompression (per SWF parse).
// The function pointers are set by loadInflator() and cleared by
// unloadInflator(); the contract of each call is in libs/inflator/inflator.h.
#pragma once

#include "inflator/inflator.h"

namespace kestrel {

// Exports of inflator.so in loader order.
struct InflatorExports {
    decltype(&::uncompress) uncompress = nullptr;
};
extern InflatorExports inflator;

// Loads inflator.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadInflator();
void unloadInflator();
bool inflatorLoaded();

} // namespace kestrel
