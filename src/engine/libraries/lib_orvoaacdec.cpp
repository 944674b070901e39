#include "engine/libraries/lib_orvoaacdec.h"

#include "engine/libraries/library_loader.h"

namespace kestrel {

OrvoaacdecApi orvoaacdec;

namespace {

LibraryBinding& binding() {
    static LibraryBinding b{"orvoaacdec.so",
                            LoaderStyle::Standard,
                            "%02d",
                            1,
                            {
                                bindExport("aacdecode_init", orvoaacdec.aacdecode_init),
                                bindExport("aac_decode", orvoaacdec.aac_decode),
                                bindExport("get_mp4info", orvoaacdec.get_mp4info),
                                bindExport("aacdecode_close", orvoaacdec.aacdecode_close),
                                bindExport("aacdecodebuf_init", orvoaacdec.aacdecodebuf_init),
                                bindExport("aacbuf_decode", orvoaacdec.aacbuf_decode),
                                bindExport("aacdecodebuf_close", orvoaacdec.aacdecodebuf_close),
                            }};
    return b;
}

} // namespace

int loadOrvoaacdec() {
    return loadLibrary(binding());
}

void unloadOrvoaacdec() {
    unloadLibrary(binding());
}

} // namespace kestrel
