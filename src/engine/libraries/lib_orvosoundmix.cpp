#include "engine/libraries/lib_orvosoundmix.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoSoundMixExports orvosoundmix;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{
        "orvosoundmix.so",
        LoaderStyle::Effects,
        "%02d",
        1,
        {
            bindExport("orvomix_begin", orvosoundmix.orvomix_begin),
            bindExport("orvomix_close", orvosoundmix.orvomix_close),
            bindExport("orvomix_init", orvosoundmix.orvomix_init),
            bindExport("orvomix_change", orvosoundmix.orvomix_change),
            bindExport("orvomix_setdisp", orvosoundmix.orvomix_setdisp),
            bindExport("orvomix_setecho", orvosoundmix.orvomix_setecho),
            bindExport("orvomix_setiir", orvosoundmix.orvomix_setiir),
            bindExport("orvomix_setlevel", orvosoundmix.orvomix_setlevel),
            bindExport("orvomix_get_dispstatus", orvosoundmix.orvomix_get_dispstatus),
            bindExport("orvomix_datarefresh", orvosoundmix.orvomix_datarefresh),
        }};
    return b;
}

} // namespace

int loadOrvosoundmix() {
    return loadLibrary(binding());
}

void unloadOrvosoundmix() {
    unloadLibrary(binding());
}

bool orvosoundmixLoaded() {
    return isLoaded(binding());
}

int startSoundEffects() {
    if (orvosoundmixLoaded()) return 0;
    if (loadOrvosoundmix() < 0) return -1;
    orvosoundmix.orvomix_begin();
    return 0;
}

} // namespace kestrel
