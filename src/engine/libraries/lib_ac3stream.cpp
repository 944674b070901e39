#include "engine/libraries/lib_ac3stream.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

Ac3streamApi ac3stream;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"ac3stream.so",
                            LoaderStyle::Ac3,
                            "%d",
                            1,
                            {
                                bindExport("ac3buf_init", ac3stream.ac3buf_init),
                                bindExport("ac3buf_close", ac3stream.ac3buf_close),
                                bindExport("ac3buf_readdata", ac3stream.ac3buf_readdata),
                                bindExport("ac3buf_get_handle", ac3stream.ac3buf_get_handle),
                            }};
    return b;
}

} // namespace

int loadAc3stream() {
    return loadLibrary(binding());
}

void unloadAc3stream() {
    unloadLibrary(binding());
}

} // namespace kestrel
