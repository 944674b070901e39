// A scratch file for fuzz targets that hand their input to code reading a
// path; removed when the fuzzer exits.
#pragma once

#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

inline char gScratchName[] = "/tmp/kestrel_fuzz_XXXXXX";

inline void removeScratch() {
    unlink(gScratchName);
}

inline std::string scratchFile() {
    int fd = mkstemp(gScratchName);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit(removeScratch);
    return gScratchName;
}

} // namespace fuzz
