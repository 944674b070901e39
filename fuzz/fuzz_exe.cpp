// Fuzz target for the reader of self-playing EXE outputs (extract): the input
// is the file, read with and without its sound data.
#include "engine/convert/exe_output.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (bool withData : {false, true}) {
        kestrel::ExeContents c;
        if (kestrel::readExeOutput(path, c, withData) == kestrel::kExeOk && c.mp3.size() > size)
            std::abort();
    }
    return 0;
}
