#include "engine/libraries/lib_mp3enc.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

Mp3EncExports mp3enc;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"mp3enc.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("wave_enmp3init_new", mp3enc.wave_enmp3init_new),
                                bindExport("wave_enmp3init_abr", mp3enc.wave_enmp3init_abr),
                                bindExport("wave_enmp3init_vbr", mp3enc.wave_enmp3init_vbr),
                                bindExport("wave_enmp3code", mp3enc.wave_enmp3code),
                                bindExport("wave_enmp3end", mp3enc.wave_enmp3end),
                                bindExport("wave_enmp3_vbrheader", mp3enc.wave_enmp3_vbrheader),
                                bindOptionalExport("wave_enmp3_threads", mp3enc.wave_enmp3_threads),
                                bindOptionalExport("wave_enmp3_joins", mp3enc.wave_enmp3_joins),
                            }};
    return b;
}

} // namespace

int loadMp3enc() {
    return loadLibrary(binding());
}

void unloadMp3enc() {
    unloadLibrary(binding());
}

bool mp3encLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
