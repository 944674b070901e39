// Fuzz target of the AAC stream information: the input is the whole file
// (ID3 tag, ADIF header or ADTS frames). The record's fields must stay in
// their ranges, and the scan must end.
#include "engine/containers/aac_info.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kestrel;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return 0; // an empty input cannot be opened
    AacInfo info;
    std::vector<int64_t> table;
    int rc = aacStreamInfo(f, info, &table);
    std::fclose(f);
    if (rc < kAacInfoBadHeader || rc > 0) std::abort();
    if (rc == 0) {
        if (info.headerType < kAacNoHeader || info.headerType > kAacAdts) std::abort();
        if (info.bitRate < 0 || info.lengthMs < 0 || info.channels < 0 || info.channels > 7)
            std::abort();
        if (info.headerType != kAacNoHeader && info.samplingRate != 0 &&
            aacSamplingRate(0) < info.samplingRate)
            std::abort();
        for (int64_t p : table)
            if (p < 0 || static_cast<uint64_t>(p) >= size) std::abort();
    }
    return 0;
}
