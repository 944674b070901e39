// Fuzz target of the AMR ring-tone header: the input is the whole file; the
// first two bytes also stand for a claimed file size larger than the data.
#include "engine/containers/amr_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kestrel;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0;
    uint64_t claimed = size;
    if (size >= 2) claimed += (uint64_t(data[0]) << 24 | uint64_t(data[1]) << 8);
    AmrFileInfo info;
    int rc = amrFileInfo(f, claimed, info);
    std::fclose(f);
    if (rc == kAmrInfoOk) {
        if (info.frameBytes < 1 || info.frameBytes > 32 || info.durationSec < 0) std::abort();
        if (info.frames * static_cast<uint64_t>(info.frameBytes) + kAmrMagicBytes > claimed)
            std::abort();
    } else if (rc != kAmrNotRingTone) {
        std::abort();
    }
    return 0;
}
