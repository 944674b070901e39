#include "engine/libraries/lib_orvoamrenc.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoAmrEncExports orvoamrenc;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"orvoamrenc.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("amr_init", orvoamrenc.amr_init),
                                bindExport("amr_encode", orvoamrenc.amr_encode),
                                bindExport("amr_close", orvoamrenc.amr_close),
                            }};
    return b;
}

} // namespace

int loadOrvoamrenc() {
    return loadLibrary(binding());
}

void unloadOrvoamrenc() {
    unloadLibrary(binding());
}

bool orvoamrencLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
