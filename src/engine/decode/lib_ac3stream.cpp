#include "engine/decode/lib_ac3stream.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

Ac3streamApi ac3stream;

namespace {

std::mutex g_mutex;
int g_loads = 0;

LibraryBinding& binding() {
    static LibraryBinding b{"ac3stream.so",
                            LoaderStyle::Ac3,
                            "%d",
                            1,
                            {
                                bindExport("ac3buf_init", ac3stream.ac3buf_init),
                                bindExport("ac3buf_close", ac3stream.ac3buf_close),
                                bindExport("ac3buf_readdata", ac3stream.ac3buf_readdata),
                                bindExport("ac3buf_get_handle", ac3stream.ac3buf_get_handle),
                            }};
    return b;
}

} // namespace

int load_ac3stream() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_ac3stream() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
