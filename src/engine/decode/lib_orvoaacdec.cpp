#include "engine/decode/lib_orvoaacdec.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

OrvoaacdecApi orvoaacdec;

namespace {

std::mutex g_mutex;
int g_loads = 0;

LibraryBinding& binding() {
    static LibraryBinding b{"orvoaacdec.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("aacdecode_init", orvoaacdec.aacdecode_init),
                                bindExport("aac_decode", orvoaacdec.aac_decode),
                                bindExport("get_mp4info", orvoaacdec.get_mp4info),
                                bindExport("aacdecode_close", orvoaacdec.aacdecode_close),
                                bindExport("aacdecodebuf_init", orvoaacdec.aacdecodebuf_init),
                                bindExport("aacbuf_decode", orvoaacdec.aacbuf_decode),
                                bindExport("aacdecodebuf_close", orvoaacdec.aacdecodebuf_close),
                            }};
    return b;
}

} // namespace

int load_orvoaacdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_orvoaacdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
