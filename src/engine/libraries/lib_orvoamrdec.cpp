#include "engine/libraries/lib_orvoamrdec.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoAmrDecExports orvoamrdec;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"orvoamrdec.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("amrdecode_init", orvoamrdec.amrdecode_init),
                                bindExport("amr_decode", orvoamrdec.amr_decode),
                                bindExport("amrdecode_close", orvoamrdec.amrdecode_close),
                            }};
    return b;
}

} // namespace

int loadOrvoamrdec() {
    return loadLibrary(binding());
}

void unloadOrvoamrdec() {
    unloadLibrary(binding());
}

bool orvoamrdecLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
