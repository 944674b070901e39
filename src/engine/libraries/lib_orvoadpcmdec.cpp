#include "engine/libraries/lib_orvoadpcmdec.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoadpcmdecApi orvoadpcmdec;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"orvoadpcmdec.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("orvo_adpcm_init", orvoadpcmdec.orvo_adpcm_init),
                                bindExport("orvo_adpcm_decode", orvoadpcmdec.orvo_adpcm_decode),
                                bindExport("orvo_adpcm_close", orvoadpcmdec.orvo_adpcm_close),
                            }};
    return b;
}

} // namespace

int loadOrvoadpcmdec() {
    return loadLibrary(binding());
}

void unloadOrvoadpcmdec() {
    unloadLibrary(binding());
}

} // namespace kestrel
