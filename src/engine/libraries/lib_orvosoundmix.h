// Program-side binding of orvosoundmix.so: Sound effects (from start-up until exit).
// The function pointers are set by loadOrvosoundmix() and cleared by
// unloadOrvosoundmix(); the contract of each call is in libs/orvosoundmix/orvosoundmix.h.
#pragma once

#include "orvosoundmix/orvosoundmix.h"

namespace kestrel {

// Exports of orvosoundmix.so in loader order.
struct OrvoSoundMixExports {
    decltype(&::orvomix_begin) orvomix_begin = nullptr;
    decltype(&::orvomix_close) orvomix_close = nullptr;
    decltype(&::orvomix_init) orvomix_init = nullptr;
    decltype(&::orvomix_change) orvomix_change = nullptr;
    decltype(&::orvomix_setdisp) orvomix_setdisp = nullptr;
    decltype(&::orvomix_setecho) orvomix_setecho = nullptr;
    decltype(&::orvomix_setiir) orvomix_setiir = nullptr;
    decltype(&::orvomix_setlevel) orvomix_setlevel = nullptr;
    decltype(&::orvomix_get_dispstatus) orvomix_get_dispstatus = nullptr;
    decltype(&::orvomix_datarefresh) orvomix_datarefresh = nullptr;
};
extern OrvoSoundMixExports orvosoundmix;

// Loads orvosoundmix.so and binds every export, all or nothing; on failure the
// loader's message has been shown and a negative value is returned. Loading an
// already loaded library returns 0.
int loadOrvosoundmix();
void unloadOrvosoundmix();
bool orvosoundmixLoaded();

// Opens the sound-effects stage for the whole run, as the window does at
// start-up: loads the library (once) and calls its begin function. Negative
// when it cannot be loaded (its message has been shown).
int startSoundEffects();

} // namespace kestrel
