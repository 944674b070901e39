// SDL, bound at the first call of one of its functions (common/lazy_library.h):
// only playback opens a sound device, and a conversion or a listing should
// not pay for loading SDL and what it pulls in (X11, Wayland, PulseAudio,
// ALSA). Each SDL function the program calls is defined here under its own
// name and passes the call on; without SDL, each returns its failure value
// (no device, no subsystem).

#include "common/lazy_library.h"

#include <SDL.h>

#define KESTREL_SDL_FUNCTIONS(X)                                                                   \
    X(void, SDL_CloseAudioDevice, (SDL_AudioDeviceID a0), (a0))                                    \
    X(int, SDL_GetNumAudioDevices, (int a0), (a0))                                                 \
    X(void, SDL_GetVersion, (SDL_version * a0), (a0))                                              \
    X(int, SDL_InitSubSystem, (Uint32 a0), (a0))                                                   \
    X(SDL_AudioDeviceID, SDL_OpenAudioDevice,                                                      \
      (const char* a0, int a1, const SDL_AudioSpec* a2, SDL_AudioSpec* a3, int a4),                \
      (a0, a1, a2, a3, a4))                                                                        \
    X(void, SDL_PauseAudioDevice, (SDL_AudioDeviceID a0, int a1), (a0, a1))                        \
    X(void, SDL_QuitSubSystem, (Uint32 a0), (a0))                                                  \
    X(SDL_bool, SDL_SetHint, (const char* a0, const char* a1), (a0, a1))                           \
    X(void, SDL_TLSCleanup, (void), ())

namespace {

enum Slot {
#define KESTREL_SLOT(ret, name, params, args) kSlot_##name,
    KESTREL_SDL_FUNCTIONS(KESTREL_SLOT)
#undef KESTREL_SLOT
        kSlotCount
};

const char* const kNames[] = {
#define KESTREL_NAME(ret, name, params, args) #name,
    KESTREL_SDL_FUNCTIONS(KESTREL_NAME)
#undef KESTREL_NAME
};

void* const* sdl() {
    static orvo::LazyLibrary lib("SDL", {"libSDL2-2.0.so.0"}, kNames, kSlotCount);
    return lib.functions();
}

} // namespace

#define KESTREL_DEFINE(ret, name, params, args)                                                    \
    extern "C" ret SDLCALL name params {                                                           \
        void* const* fn = sdl();                                                                   \
        if (!fn) return orvo::unboundResult<ret>();                                                \
        return reinterpret_cast<ret(SDLCALL*) params>(fn[kSlot_##name]) args;                      \
    }
KESTREL_SDL_FUNCTIONS(KESTREL_DEFINE)
#undef KESTREL_DEFINE
