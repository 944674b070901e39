// Fuzz target for the AC-3 stream library: the input is cut into frames at the
// lengths its own bytes give, as the demultiplexer hands them over.
#include "ac3stream/ac3stream.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (ac3buf_init() < 0) return 0;
    std::vector<unsigned char> pcm(6144 * 4);
    size_t at = 0;
    while (at + 2 <= size) {
        size_t len = 2 + (static_cast<size_t>(data[at]) << 4 | data[at + 1] >> 4);
        at += 2;
        if (len > size - at) len = size - at;
        int got = -1;
        int capacity = static_cast<int>(pcm.size()) - (data[at - 1] & 0x0F) * 1024;
        int rc = ac3buf_readdata(data + at, static_cast<int>(len), pcm.data(), capacity, &got);
        if (rc > capacity || (rc >= 0 && got != rc)) std::abort();
        at += len;
    }
    ac3buf_close();
    return 0;
}
