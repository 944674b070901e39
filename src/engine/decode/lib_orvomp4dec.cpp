#include "engine/decode/lib_orvomp4dec.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

Orvomp4decApi orvomp4dec;

namespace {

std::mutex g_mutex;
int g_loads = 0;

LibraryBinding& binding() {
    static LibraryBinding b{"orvomp4dec.so",
                            LoaderStyle::Standard,
                            "%d",
                            1,
                            {
                                bindExport("mp4de_init", orvomp4dec.mp4de_init),
                                bindExport("mp4_getvideo", orvomp4dec.mp4_getvideo),
                                bindExport("mp4_getaudionum", orvomp4dec.mp4_getaudionum),
                                bindExport("mp4_getaudio", orvomp4dec.mp4_getaudio),
                                bindExport("mp4_getmp4aconfig", orvomp4dec.mp4_getmp4aconfig),
                                bindExport("mp4_readvideo", orvomp4dec.mp4_readvideo),
                                bindExport("mp4_readaudio", orvomp4dec.mp4_readaudio),
                                bindExport("mp4_gettrackinfo", orvomp4dec.mp4_gettrackinfo),
                                bindExport("mp4_gettracknum", orvomp4dec.mp4_gettracknum),
                                bindExport("mp4de_close", orvomp4dec.mp4de_close),
                                bindExport("mp4_getaudioname", orvomp4dec.mp4_getaudioname),
                            }};
    return b;
}

} // namespace

int load_orvomp4dec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_orvomp4dec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
