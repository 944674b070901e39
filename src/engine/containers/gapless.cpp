#include "engine/containers/gapless.h"

#include <cstring>

namespace kestrel {

GaplessInfo parseGaplessTag(const uint8_t* f, size_t n) {
    GaplessInfo g;
    if (n < 4 || f[0] != 0xFF || (f[1] & 0xE0) != 0xE0) return g;
    int version = (f[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = (f[1] >> 1) & 3;   // 1 Layer III
    if (version == 1 || layer != 1) return g;
    bool mpeg1 = version == 3;
    bool mono = ((f[3] >> 6) & 3) == 3;
    int brIndex = (f[2] >> 4) & 15, srIndex = (f[2] >> 2) & 3;
    if (brIndex == 0 || brIndex == 15 || srIndex == 3) return g;
    static const int br1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int br2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int sr[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    int vi = mpeg1 ? 0 : version == 2 ? 1 : 2;
    int rate = sr[vi][srIndex];
    int kbps = mpeg1 ? br1[brIndex] : br2[brIndex];
    int pad = (f[2] >> 1) & 1;
    g.samplesPerFrame = mpeg1 ? 1152 : 576;
    int frameBytes = (mpeg1 ? 144000 : 72000) * kbps / rate + pad;
    size_t side = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    size_t at = 4 + side + ((f[1] & 1) ? 0 : 2);
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
