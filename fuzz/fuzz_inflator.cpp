// Fuzz target for the inflator library: the first byte of the input chooses
// the room given for the result, the rest is the zlib stream.
#include "inflator/inflator.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    unsigned long room = (static_cast<unsigned long>(data[0]) + 1) * 1024;
    std::vector<unsigned char> out(room);
    unsigned long len = room;
    int rc = uncompress(out.data(), &len, data + 1, size - 1);
    if (len > room) std::abort();
    if (rc == INFLATOR_OK && len == 0 && size > 12) (void)rc;
    // A null argument is refused, never followed.
    len = room;
    if (uncompress(nullptr, &len, data + 1, size - 1) != INFLATOR_DATA_ERROR) std::abort();
    return 0;
}
