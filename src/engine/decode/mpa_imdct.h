// Hybrid filterbank of Layer III (ISO/IEC 11172-3 2.4.3.4.10.2-3): IMDCT of
// each sub-band's 18 spectral lines, windowing by block type, overlap-add
// with the previous granule and frequency inversion of the odd sub-bands.
//
// The 36-point (long) and 12-point (short) IMDCTs are computed through the
// DCT-IV of 18 and 6 points, each reduced to a DCT-II of the same size and
// split into two DCT-IIs of half the size (9 and 3 points).
#pragma once

namespace kestrel::mpa {

// y[j] = sum_k in[k] cos(pi / 72 (2j + 1)(2k + 1)), j = 0..17.
void dct4x18(const float* in, float* y);
// y[j] = sum_k in[k] cos(pi / 24 (2j + 1)(2k + 1)), j = 0..5.
void dct4x6(const float* in, float* y);

// The filterbank of one granule and channel: sub-bands [0, sblimit) of xr
// (576 lines, sub-band order) into hyb[time slot][sub-band]. `overlap`
// [time slot][sub-band] holds the second half of the previous granule's
// IMDCT outputs and receives this granule's. Lines from `liveLines` on are
// zero: the sub-bands that hold only such lines output their overlap alone.
// `blockType` 0..3; with `mixed` the two lowest sub-bands are long blocks of
// type 0. Eight long sub-bands are transformed at once.
void hybridFilterbank(int blockType, bool mixed, const float* xr, int liveLines,
                      float (*overlap)[32], int sblimit, float (*hyb)[32]);

} // namespace kestrel::mpa
