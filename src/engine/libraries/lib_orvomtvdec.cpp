#include "engine/libraries/lib_orvomtvdec.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvomtvdecApi orvomtvdec;

namespace {

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

int loadOrvomtvdec() {
    return loadLibrary(binding());
}

void unloadOrvomtvdec() {
    unloadLibrary(binding());
}

} // namespace kestrel
