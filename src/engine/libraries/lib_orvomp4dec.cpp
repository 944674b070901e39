#include "engine/libraries/lib_orvomp4dec.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

Orvomp4decApi orvomp4dec;

namespace {

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
                                bindExport("mp4_getaudiotrim", orvomp4dec.mp4_getaudiotrim),
                            }};
    return b;
}

} // namespace

int loadOrvomp4dec() {
    return loadLibrary(binding());
}

void unloadOrvomp4dec() {
    unloadLibrary(binding());
}

} // namespace kestrel
