// A scratch file for fuzz targets that hand their input to code reading a
// path; removed when the fuzzer exits. It lives in memory where the system
// has a file system there: writing each input then costs no disk work.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace fuzz {

// The folder of scratch files.
inline const char* scratchFolder() {
    return access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

inline char gScratchName[64];

inline void removeScratch() {
    unlink(gScratchName);
}

inline std::string scratchFile() {
    std::snprintf(gScratchName, sizeof gScratchName, "%s/kestrel_fuzz_XXXXXX", scratchFolder());
    int fd = mkstemp(gScratchName);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit(removeScratch);
    return gScratchName;
}

} // namespace fuzz
