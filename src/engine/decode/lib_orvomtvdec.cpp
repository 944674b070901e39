#include "engine/decode/lib_orvomtvdec.h"

#include "engine/decode/library_loader.h"

#include <mutex>

namespace kestrel {

OrvomtvdecApi orvomtvdec;

namespace {

std::mutex g_mutex;
int g_loads = 0;

LibraryBinding& binding() {
    static LibraryBinding b{"orvomtvdec.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("mtv_init", orvomtvdec.mtv_init),
                                bindExport("mtv_getvideo", orvomtvdec.mtv_getvideo),
                                bindExport("mtv_getaudio", orvomtvdec.mtv_getaudio),
                                bindExport("mtv_getpicinfo", orvomtvdec.mtv_getpicinfo),
                                bindExport("mtv_getdata", orvomtvdec.mtv_getdata),
                                bindExport("mtv_close", orvomtvdec.mtv_close),
                                bindExport("amv_init", orvomtvdec.amv_init),
                                bindExport("amv_getvideo", orvomtvdec.amv_getvideo),
                                bindExport("amv_getaudio", orvomtvdec.amv_getaudio),
                                bindExport("amv_getdata", orvomtvdec.amv_getdata),
                                bindExport("amv_close", orvomtvdec.amv_close),
                            }};
    return b;
}

} // namespace

int load_orvomtvdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    int r = loadLibrary(binding());
    if (r >= 0) ++g_loads;
    return r;
}

void unload_orvomtvdec() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_loads > 1) {
        --g_loads;
        return;
    }
    g_loads = 0;
    unloadLibrary(binding());
}

} // namespace kestrel
