#include "engine/libraries/lib_mpadec_ext.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

MpadecExtExports mpadec_ext;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"mpadec_ext.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("mp3_init", mpadec_ext.mp3_init),
                                bindExport("mp3_open", mpadec_ext.mp3_open),
                                bindExport("mp3_play", mpadec_ext.mp3_play),
                                bindExport("mp3_close", mpadec_ext.mp3_close),
                            }};
    return b;
}

} // namespace

int loadMpadecExt() {
    return loadLibrary(binding());
}

void unloadMpadecExt() {
    unloadLibrary(binding());
}

bool mpadecExtLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
