// Fuzz target for the stream probe: the input is written to a file and the
// probe's parser analyses it as open_stream would.
#include "mxscan/probe.cpp" // the probe is a separate library; its parser is built in here

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = fuzz::scratchFile();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    mxscan::ProbeResult r;
    if (mxscan::probeFile(path, r) < 0) return 0;
    if (r.fileLen != int64_t(size)) std::abort();
    if (r.channels < 0 || r.channels > 2 || r.ac3Channels < 0 || r.ac3Channels > 6) std::abort();
    return 0;
}
