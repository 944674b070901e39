#include "engine/libraries/lib_orvoplay.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoplayApi orvoplay;

namespace {

LibraryBinding& binding() {
    static LibraryBinding lib = [] {
        LibraryBinding b;
        b.fileName = "orvoplay.so";
        b.style = LoaderStyle::Player;
        b.numberFormat = "%d";
        b.firstNumber = 0;
        b.exports = {bindExport("orvo_writeexedata", orvoplay.orvo_writeexedata),
                     bindExport("orvo_writeexefile", orvoplay.orvo_writeexefile),
                     bindExport("orvo_getexedata", orvoplay.orvo_getexedata)};
        return b;
    }();
    return lib;
}

} // namespace

int loadOrvoplay() {
    return loadLibrary(binding());
}
void unloadOrvoplay() {
    unloadLibrary(binding());
}
bool orvoplayLoaded() {
    return isLoaded(binding());
}

} // namespace kestrel
