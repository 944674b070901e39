// Constant and computed tables of the MPEG audio decoders.
#pragma once

#include <cstdint>

namespace kestrel::mpa {

// Scale-factor band boundaries per sampling frequency (0..8: 44.1, 48, 32,
// 22.05, 24, 16, 11.025, 12, 8 kHz), in spectral lines; short bands in lines
// of one window.
struct BandTable {
    int longBands[23];
    int shortBands[14];
};
extern const BandTable kBands[9];

extern const int kPretab[22];

// Synthesis window D[i] of ISO/IEC 11172-3 Table 3-B.3 for i = 0..256, in
// units of 2^-16; the rest follows from D[512 - i] = -D[i] (i not a multiple
// of 64) or D[i] (multiples of 64).
extern const int32_t kSynthWindowHalf[257];

struct Tables {
    float pow43[8207];     // |x|^(4/3)
    float pow2q[512];      // 2^((i - 400) / 4)
    float imdctWin[4][36]; // block types 0..3 (2: the 12-point window in 0..11)
    // Fast DCT-IV of 18 and 6 points (mpa_imdct.cpp): pre-twiddles
    // 2 cos(pi (2n + 1) / 4N), split factors 1 / (2 cos(pi (2i + 1) / 2N)) and
    // the 9-point DCT-II folded into even (cos(pi (2n + 1) m / 9)) and odd
    // (cos(pi (2n + 1)(2m + 1) / 18)) outputs.
    float imdctPre18[18];
    float imdctSplit18[9];
    float dct9Even[5][4];
    float dct9Odd[4][4];
    float imdctPre6[6];
    float imdctSplit6[3];
    float aliasCs[8], aliasCa[8];
    float isRatioL[7], isRatioR[7]; // MPEG-1 intensity positions
    float isLsf[2][32];             // MPEG-2 intensity factors per scale
    float synthWin[3][16][32];      // synthesis window per rate step (full/half/quarter),
                                    // rows in tap order, scaled to 16-bit
    float layer12Scale[64];         // Layer I/II scale factors 2^(1 - i/3)
};

// The tables, computed on first use.
const Tables& tables();

} // namespace kestrel::mpa
