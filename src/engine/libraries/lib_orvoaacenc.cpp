#include "engine/libraries/lib_orvoaacenc.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoaacencApi orvoaacenc;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"orvoaacenc.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("aac_init", orvoaacenc.aac_init),
                                bindExport("aac_encode", orvoaacenc.aac_encode),
                                bindExport("aac_close", orvoaacenc.aac_close),
                                bindOptionalExport("aac_threads", orvoaacenc.aac_threads),
                            }};
    return b;
}

} // namespace

int loadOrvoaacenc() {
    return loadLibrary(binding());
}

void unloadOrvoaacenc() {
    unloadLibrary(binding());
}

} // namespace kestrel
