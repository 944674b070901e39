#include "engine/libraries/lib_inflator.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

InflatorExports inflator;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"inflator.so",
                            LoaderStyle::Inflator,
                            "%02d",
                            1,
                            {
                                bindExport("uncompress", inflator.uncompress),
                            }};
    return b;
}

} // namespace

int loadInflator() {
    return loadLibrary(binding());
}

void unloadInflator() {
    unloadLibrary(binding());
}

bool inflatorLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
