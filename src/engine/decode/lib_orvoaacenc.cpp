#include "engine/decode/lib_orvoaacenc.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

OrvoaacencApi orvoaacenc;

namespace {

std::mutex g_mutex;
int g_loads = 0;

LibraryBinding& binding() {
    static LibraryBinding b{"orvoaacenc.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("aac_init", orvoaacenc.aac_init),
                                bindExport("aac_encode", orvoaacenc.aac_encode),
                                bindExport("aac_close", orvoaacenc.aac_close),
                            }};
    return b;
}

} // namespace

int load_orvoaacenc() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_orvoaacenc() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
