#include "engine/decode/lib_orvoadpcmdec.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

OrvoadpcmdecApi orvoadpcmdec;

namespace {

std::mutex g_mutex;
int g_loads = 0;

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

int load_orvoadpcmdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_orvoadpcmdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
