// Whole-buffer zlib decompression. Written on zlib's stream interface rather
// than its own uncompress(), whose name this library exports.
#include "inflator.h"

#include <zlib.h>

#include <climits>

extern "C" {

INFLATOR_API int uncompress(unsigned char* dest, unsigned long* dest_len,
                            const unsigned char* source, unsigned long source_len) {
    if (!dest_len || (!dest && *dest_len > 0) || (!source && source_len > 0))
        return INFLATOR_DATA_ERROR;
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return INFLATOR_MEM_ERROR;
    const unsigned long room = *dest_len;
    unsigned long inLeft = source_len, outLeft = room;
    zs.next_in = const_cast<Bytef*>(source);
    zs.next_out = dest;
    int rc = Z_OK;
    // avail_in and avail_out are 32-bit: feed larger buffers in pieces.
    do {
        if (zs.avail_in == 0 && inLeft > 0) {
            zs.avail_in = inLeft > UINT_MAX ? UINT_MAX : static_cast<uInt>(inLeft);
            inLeft -= zs.avail_in;
        }
        if (zs.avail_out == 0 && outLeft > 0) {
            zs.avail_out = outLeft > UINT_MAX ? UINT_MAX : static_cast<uInt>(outLeft);
            outLeft -= zs.avail_out;
        }
        rc = inflate(&zs, Z_NO_FLUSH);
    } while (rc == Z_OK);
    *dest_len = zs.total_out;
    inflateEnd(&zs);
    switch (rc) {
    case Z_STREAM_END:
        return INFLATOR_OK;
    case Z_NEED_DICT:
    case Z_DATA_ERROR:
        return INFLATOR_DATA_ERROR;
    case Z_MEM_ERROR:
        return INFLATOR_MEM_ERROR;
    default: // Z_BUF_ERROR: no room left, or the input ended before the stream
        return INFLATOR_BUF_ERROR;
    }
}

} // extern "C"
