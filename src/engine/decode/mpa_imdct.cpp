#include "engine/decode/mpa_imdct.h"

#include "engine/decode/mpa_simd.h"
#include "engine/decode/mpa_tables.h"

#include <algorithm>

namespace kestrel::mpa {
namespace {

// The transforms are written once for a scalar (one sub-band) and for F8
// (eight sub-bands side by side).

// DCT-II of 9 points, D[k] = sum_n v[n] cos(pi (2n + 1) k / 18): the mirrored
// sums of the input give the even outputs, the mirrored differences the odd
// ones (the middle input adds (-1)^m to D[2m] and nothing to the odd ones).
template <typename V> KESTREL_MPA_INLINE void dct2x9(const Tables& t, const V* v, V* D) {
    const V s0 = v[0] + v[8], s1 = v[1] + v[7], s2 = v[2] + v[6], s3 = v[3] + v[5];
    const V d0 = v[0] - v[8], d1 = v[1] - v[7], d2 = v[2] - v[6], d3 = v[3] - v[5];
    const V c = v[4];
    D[0] = s0 + s1 + s2 + s3 + c;
#pragma GCC unroll 4
    for (int m = 1; m < 5; ++m) {
        const float* e = t.dct9Even[m];
        V acc = s0 * e[0] + s1 * e[1] + s2 * e[2] + s3 * e[3];
        D[2 * m] = (m & 1) ? acc - c : acc + c;
    }
#pragma GCC unroll 4
    for (int m = 0; m < 4; ++m) {
        const float* o = t.dct9Odd[m];
        D[2 * m + 1] = d0 * o[0] + d1 * o[1] + d2 * o[2] + d3 * o[3];
    }
}

// DCT-II of 3 points, D[k] = sum_n v[n] cos(pi (2n + 1) k / 6).
template <typename V> KESTREL_MPA_INLINE void dct2x3(const Tables&, const V* v, V* D) {
    constexpr float kCos30 = 0.86602540378443865f;
    D[0] = v[0] + v[1] + v[2];
    D[1] = (v[0] - v[2]) * kCos30;
    D[2] = (v[0] + v[2]) * 0.5f - v[1];
}

// DCT-IV of N = 2H points from a DCT-II of N points: with u[n] = 2 cos(pi
// (2n + 1) / 4N) x[n], the DCT-II of u is C[k] = y[k] + y[k - 1] (y[-1] =
// y[0]). The DCT-II splits (B. G. Lee) into the DCT-IIs of the mirrored sums
// and of the scaled mirrored differences, which give the even and the odd
// outputs.
template <int H, typename V, void (*Half)(const Tables&, const V*, V*)>
KESTREL_MPA_INLINE void dct4(const Tables& t, const V* in, V* y, const float* pre,
                             const float* split) {
    constexpr int N = 2 * H;
    V a[H], b[H], ea[H], eb[H];
#pragma GCC unroll 9
    for (int i = 0; i < H; ++i) {
        V lo = in[i] * pre[i];
        V hi = in[N - 1 - i] * pre[N - 1 - i];
        a[i] = lo + hi;
        b[i] = (lo - hi) * split[i];
    }
    Half(t, a, ea);
    Half(t, b, eb);
    V prev = ea[0] * 0.5f;
    y[0] = prev;
#pragma GCC unroll 9
    for (int k = 0; k < H; ++k) {
        // C[2k + 1] = eb[k] + eb[k + 1] (eb[H] = 0), C[2k + 2] = ea[k + 1].
        prev = (k + 1 < H ? eb[k] + eb[k + 1] : eb[k]) - prev;
        y[2 * k + 1] = prev;
        if (k + 1 < H) {
            prev = ea[k + 1] - prev;
            y[2 * k + 2] = prev;
        }
    }
}

template <typename V> KESTREL_MPA_INLINE void dct4x18(const Tables& t, const V* in, V* y) {
    dct4<9, V, dct2x9<V>>(t, in, y, t.imdctPre18, t.imdctSplit18);
}

template <typename V> KESTREL_MPA_INLINE void dct4x6(const Tables& t, const V* in, V* y) {
    dct4<3, V, dct2x3<V>>(t, in, y, t.imdctPre6, t.imdctSplit6);
}

// One sub-band of a long block; out and overlap with a stride of 32. The 36
// outputs of the IMDCT follow from y = DCT-IV(in) by symmetry: x[0..8] =
// y[9..17], x[9..26] = -y[17..0], x[27..35] = -y[0..8].
KESTREL_MPA_INLINE void longBlock(const Tables& t, const float* in, const float* win,
                                  float* overlap, float* out) {
    float y[18];
    dct4x18<float>(t, in, y);
    for (int i = 0; i < 9; ++i) {
        out[i * 32] = y[i + 9] * win[i] + overlap[i * 32];
        out[(i + 9) * 32] = -y[17 - i] * win[i + 9] + overlap[(i + 9) * 32];
        overlap[i * 32] = -y[8 - i] * win[i + 18];
        overlap[(i + 9) * 32] = -y[i] * win[i + 27];
    }
}

// Eight sub-bands of long blocks at once, `in` transposed (line k of the
// eight sub-bands at in[k]); out and overlap rows of 32.
KESTREL_MPA_INLINE void longBlock8(const Tables& t, const F8* in, const float* win, float* overlap,
                                   float* out) {
    F8 y[18];
    dct4x18<F8>(t, in, y);
#pragma GCC unroll 9
    for (int i = 0; i < 9; ++i) {
        storeF8(out + i * 32, y[i + 9] * win[i] + loadF8(overlap + i * 32));
        storeF8(out + (i + 9) * 32, loadF8(overlap + (i + 9) * 32) - y[17 - i] * win[i + 9]);
        storeF8(overlap + i * 32, y[8 - i] * -win[i + 18]);
        storeF8(overlap + (i + 9) * 32, y[i] * -win[i + 27]);
    }
}

// One sub-band of a short block: three 12-point IMDCTs, windowed and
// overlapped at 6 + 6w; the 12 outputs of each follow from its 6-point DCT-IV
// y: x[0..2] = y[3..5], x[3..8] = -y[5..0], x[9..11] = -y[0..2].
KESTREL_MPA_INLINE void shortBlock(const Tables& t, const float* in, float* overlap, float* out) {
    const float* win = t.imdctWin[2];
    float z[36] = {};
    for (int w = 0; w < 3; ++w) {
        float y[6];
        dct4x6<float>(t, in + w * 6, y);
        float* zw = z + 6 + 6 * w;
        for (int i = 0; i < 3; ++i) {
            zw[i] += y[i + 3] * win[i];
            zw[i + 3] -= y[5 - i] * win[i + 3];
            zw[i + 6] -= y[2 - i] * win[i + 6];
            zw[i + 9] -= y[i] * win[i + 9];
        }
    }
    for (int i = 0; i < 18; ++i) {
        out[i * 32] = z[i] + overlap[i * 32];
        overlap[i * 32] = z[i + 18];
    }
}

KESTREL_MPA_SIMD void filterbank(const Tables& t, int blockType, bool mixed, const float* xr,
                                 int active, float (*overlap)[32], int sblimit, float (*hyb)[32]) {
    for (int sb0 = 0; sb0 < sblimit; sb0 += 8) {
        const int n = std::min(8, sblimit - sb0);
        if (sb0 >= active) {
            // Nothing but zeros from here on: the output is the overlap.
            for (int i = 0; i < 18; ++i)
                for (int j = 0; j < n; ++j) {
                    hyb[i][sb0 + j] = overlap[i][sb0 + j];
                    overlap[i][sb0 + j] = 0.0f;
                }
        } else if (n == 8 && blockType != 2 && !(mixed && sb0 == 0)) {
            F8 in[18];
            for (int k = 0; k < 18; ++k)
                for (int j = 0; j < 8; ++j)
                    in[k][j] = xr[(sb0 + j) * 18 + k];
            longBlock8(t, in, t.imdctWin[blockType], &overlap[0][sb0], &hyb[0][sb0]);
        } else {
            for (int sb = sb0; sb < sb0 + n; ++sb) {
                const int type = mixed && sb < 2 ? 0 : blockType;
                if (type == 2)
                    shortBlock(t, xr + sb * 18, &overlap[0][sb], &hyb[0][sb]);
                else
                    longBlock(t, xr + sb * 18, t.imdctWin[type], &overlap[0][sb], &hyb[0][sb]);
            }
        }
    }
    // Frequency inversion: every odd sample of every odd sub-band.
    for (int i = 1; i < 18; i += 2)
        for (int sb = 1; sb < sblimit; sb += 2)
            hyb[i][sb] = -hyb[i][sb];
}

} // namespace

void dct4x18(const float* in, float* y) {
    dct4x18<float>(tables(), in, y);
}

void dct4x6(const float* in, float* y) {
    dct4x6<float>(tables(), in, y);
}

void hybridFilterbank(int blockType, bool mixed, const float* xr, int liveLines,
                      float (*overlap)[32], int sblimit, float (*hyb)[32]) {
    sblimit = std::clamp(sblimit, 0, 32);
    const int active = std::min((std::clamp(liveLines, 0, 576) + 17) / 18, sblimit);
    filterbank(tables(), blockType & 3, mixed, xr, active, overlap, sblimit, hyb);
}

} // namespace kestrel::mpa
