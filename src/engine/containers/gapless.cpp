#include "engine/containers/gapless.h"

#include "engine/core/mpeg_audio_header.h"

#include <cstring>

namespace kestrel {

GaplessInfo parseGaplessTag(const uint8_t* f, size_t n) {
    GaplessInfo g;
    MpegAudioHeader h;
    if (n < 4 || !parseMpegAudioHeader(f, h) || h.layer != 3 || h.frameBytes == 0) return g;
    g.samplesPerFrame = h.samplesPerFrame;
    int frameBytes = h.frameBytes;
    size_t at = size_t(h.headerBytes + h.sideInfoBytes);
    if (at + 8 > n) return g;
    if (std::memcmp(f + at, "Xing", 4) != 0 && std::memcmp(f + at, "Info", 4) != 0) return g;
    g.tagFrame = true;
    g.frameBytes = frameBytes;
    uint32_t flags = (uint32_t(f[at + 4]) << 24) | (f[at + 5] << 16) | (f[at + 6] << 8) | f[at + 7];
    size_t p = at + 8;
    if (flags & 1) {
        if (p + 4 > n) return g;
        g.frames = (uint32_t(f[p]) << 24) | (f[p + 1] << 16) | (f[p + 2] << 8) | f[p + 3];
        p += 4;
    }
    if (flags & 2) p += 4;
    if (flags & 4) p += 100;
    if (flags & 8) p += 4;
    // LAME extension: a 9-byte encoder name, then the delay and padding as
    // two 12-bit values 21 bytes in.
    if (p + 24 > n || static_cast<int>(p + 24) > frameBytes) return g;
    if (std::memcmp(f + p, "LAME", 4) != 0 && std::memcmp(f + p, "Lavc", 4) != 0 &&
        std::memcmp(f + p, "Lavf", 4) != 0 && std::memcmp(f + p, "L3.9", 4) != 0)
        return g;
    const uint8_t* d = f + p + 21;
    g.delay = (d[0] << 4) | (d[1] >> 4);
    g.padding = ((d[1] & 15) << 8) | d[2];
    return g;
}

} // namespace kestrel
