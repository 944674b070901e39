#include "engine/decode/mpa_synth.h"

#include "engine/decode/mpa_simd.h"
#include "engine/decode/mpa_tables.h"

#include <cmath>
#include <cstring>
#include <mutex>

namespace kestrel::mpa {
namespace {

// 1 / (2 cos(pi (2i + 1) / (2n))) for the butterflies of each size n = 32..2,
// stored at offset n / 2 - 1 (n = 2: 0, 4: 1, 8: 3, 16: 7, 32: 15).
float gButterfly[31];
std::once_flag gOnce;

void initButterfly() {
    const double pi = 3.14159265358979323846;
    for (int n = 2; n <= 32; n *= 2)
        for (int i = 0; i < n / 2; ++i)
            gButterfly[n / 2 - 1 + i] = float(0.5 / std::cos(pi * (2 * i + 1) / (2 * n)));
}

// Recursive split of the DCT-II (B. G. Lee): from the sums and the scaled
// differences of mirrored inputs, two half-size transforms give the even and
// odd outputs. V is a float (one time slot) or F8 (eight time slots side by
// side).
template <int N, typename V> struct Dct {
    static KESTREL_MPA_INLINE void run(const V* in, V* out) {
        constexpr int H = N / 2;
        V a[H], b[H], ea[H], eb[H];
        const float* c = gButterfly + H - 1;
#pragma GCC unroll 16
        for (int i = 0; i < H; ++i) {
            a[i] = in[i] + in[N - 1 - i];
            b[i] = (in[i] - in[N - 1 - i]) * c[i];
        }
        Dct<H, V>::run(a, ea);
        Dct<H, V>::run(b, eb);
#pragma GCC unroll 16
        for (int k = 0; k < H; ++k)
            out[2 * k] = ea[k];
#pragma GCC unroll 16
        for (int k = 0; k < H - 1; ++k)
            out[2 * k + 1] = eb[k] + eb[k + 1];
        out[N - 1] = eb[H - 1];
    }
};
template <typename V> struct Dct<1, V> {
    static KESTREL_MPA_INLINE void run(const V* in, V* out) { out[0] = in[0]; }
};

// Moves the ring back by one slot and stores the slot's V vector from its
// DCT output x (x[m] at x[m * xs]). V[i] for i < N/2 is x[i + N/2]; V[N/2] is
// 0; V[N/2 + 1 .. 3N/2] is -x[3N/2 - i]; V[3N/2 + 1 .. 2N - 1] is
// -x[i - 3N/2]. The ring's first half holds V[0..N-1], its second half
// V[N..2N-1].
template <int N> KESTREL_MPA_INLINE int pushV(SynthState& s, int ch, const float* x, int xs) {
    int p = s.pos[ch] = (s.pos[ch] - 1) & 15;
    float* A = s.ringA[ch][p];
    float* B = s.ringB[ch][p];
#pragma GCC unroll 32
    for (int i = 0; i < N / 2; ++i)
        A[i] = x[(i + N / 2) * xs];
    A[N / 2] = 0.0f;
#pragma GCC unroll 32
    for (int i = N / 2 + 1; i < N; ++i)
        A[i] = -x[(3 * N / 2 - i) * xs];
#pragma GCC unroll 32
    for (int i = N; i <= 3 * N / 2; ++i)
        B[i - N] = -x[(3 * N / 2 - i) * xs];
#pragma GCC unroll 32
    for (int i = 3 * N / 2 + 1; i < 2 * N; ++i)
        B[i - N] = -x[(i - 3 * N / 2) * xs];
    return p;
}

// Windowing of the last 16 slots into N samples: sample j is the sum over the
// taps of the even-aged slots' first halves and the odd-aged slots' second
// halves, eight samples at a time.
template <int N>
KESTREL_MPA_INLINE void windowSlot(const SynthState& s, int ch, int p, const float (*win)[32],
                                   F8* acc) {
    constexpr int G = N / 8;
    for (int g = 0; g < G; ++g)
        acc[g] = splatF8(0.0f);
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        const float* va = s.ringA[ch][(p + 2 * i) & 15];
        const float* vb = s.ringB[ch][(p + 2 * i + 1) & 15];
        const float* wa = win[2 * i];
        const float* wb = win[2 * i + 1];
#pragma GCC unroll 4
        for (int g = 0; g < G; ++g)
            acc[g] = acc[g] + loadF8(va + 8 * g) * loadF8(wa + 8 * g) +
                     loadF8(vb + 8 * g) * loadF8(wb + 8 * g);
    }
}

// Eight samples to 16-bit: clipped to the 16-bit range, rounded to nearest
// (ties to even) through the float mantissa.
KESTREL_MPA_INLINE void toPcm8(F8 v, int16_t* out, int stride) {
#if defined(__GNUC__)
    const F8 hi = splatF8(32767.0f), lo = splatF8(-32768.0f);
    v = v > hi ? hi : v;
    v = v < lo ? lo : v;
    typedef int32_t I8 __attribute__((vector_size(32)));
    typedef int16_t S8 __attribute__((vector_size(16)));
    I8 bits;
    F8 r = v + splatF8(12582912.0f);
    std::memcpy(&bits, &r, sizeof bits);
    S8 pcm = __builtin_convertvector(bits - 0x4B400000, S8);
    if (stride == 1) {
        std::memcpy(out, &pcm, sizeof pcm);
        return;
    }
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j)
        out[j * stride] = pcm[j];
#else
    for (int j = 0; j < 8; ++j) {
        float x = v[j] > 32767.0f ? 32767.0f : (v[j] < -32768.0f ? -32768.0f : v[j]);
        float r = x + 12582912.0f;
        int32_t bits;
        std::memcpy(&bits, &r, 4);
        out[j * stride] = int16_t(bits - 0x4B400000);
    }
#endif
}

// Where the samples of the slots go: 16-bit PCM with a stride, or the
// unrounded sums.
struct PcmOut {
    int16_t* out;
    int stride;
    KESTREL_MPA_INLINE void put(int slot, int n, const F8* acc) const {
        for (int g = 0; g < n / 8; ++g)
            toPcm8(acc[g], out + (size_t(slot) * n + 8 * g) * stride, stride);
    }
};
struct FloatOut {
    float* out;
    KESTREL_MPA_INLINE void put(int slot, int n, const F8* acc) const {
        for (int g = 0; g < n / 8; ++g)
            storeF8(out + size_t(slot) * n + 8 * g, acc[g]);
    }
};

// The slots of one channel: the DCTs of eight slots at a time side by side,
// then per slot the ring update and the windowing.
template <int N, typename Out>
KESTREL_MPA_INLINE void synthN(SynthState& s, int ch, int step, const float (*slots)[32], int count,
                               const Out& out) {
    const float(*win)[32] = tables().synthWin[step];
    F8 acc[N / 8];
    int ts = 0;
    for (; ts + 8 <= count; ts += 8) {
        alignas(32) float tin[N][8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j)
#pragma GCC unroll 32
            for (int k = 0; k < N; ++k)
                tin[k][j] = slots[ts + j][k];
        F8 in[N], x[N];
        for (int k = 0; k < N; ++k)
            in[k] = loadF8(tin[k]);
        Dct<N, F8>::run(in, x);
        alignas(32) float xt[N][8];
        for (int m = 0; m < N; ++m)
            storeF8(xt[m], x[m]);
        for (int j = 0; j < 8; ++j) {
            int p = pushV<N>(s, ch, &xt[0][j], 8);
            windowSlot<N>(s, ch, p, win, acc);
            out.put(ts + j, N, acc);
        }
    }
    for (; ts < count; ++ts) {
        float x[N];
        Dct<N, float>::run(slots[ts], x);
        int p = pushV<N>(s, ch, x, 1);
        windowSlot<N>(s, ch, p, win, acc);
        out.put(ts, N, acc);
    }
}

template <typename Out>
KESTREL_MPA_INLINE void synthesize(SynthState& s, int ch, int step, const float (*slots)[32],
                                   int count, const Out& out) {
    switch (step) {
    case 0:
        synthN<32>(s, ch, 0, slots, count, out);
        break;
    case 1:
        synthN<16>(s, ch, 1, slots, count, out);
        break;
    default:
        synthN<8>(s, ch, 2, slots, count, out);
        break;
    }
}

KESTREL_MPA_SIMD void synthPcm(SynthState& s, int ch, int step, const float (*slots)[32], int count,
                               int16_t* out, int stride) {
    synthesize(s, ch, step, slots, count, PcmOut{out, stride});
}

KESTREL_MPA_SIMD void synthFloat(SynthState& s, int ch, int step, const float (*slots)[32],
                                 int count, float* out) {
    synthesize(s, ch, step, slots, count, FloatOut{out});
}

} // namespace

void resetSynth(SynthState& s) {
    std::call_once(gOnce, initButterfly);
    std::memset(&s, 0, sizeof s);
}

void synthSlot(SynthState& s, int ch, int step, const float* subbands, int16_t* out, int stride) {
    synthPcm(s, ch, step, reinterpret_cast<const float(*)[32]>(subbands), 1, out, stride);
}

void synthSlots(SynthState& s, int ch, int step, const float (*slots)[32], int count, int16_t* out,
                int stride) {
    synthPcm(s, ch, step, slots, count, out, stride);
}

void synthSlotsFloat(SynthState& s, int ch, int step, const float (*slots)[32], int count,
                     float* out) {
    synthFloat(s, ch, step, slots, count, out);
}

void dct2(const float* in, float* x, int n) {
    std::call_once(gOnce, initButterfly);
    if (n == 32)
        Dct<32, float>::run(in, x);
    else if (n == 16)
        Dct<16, float>::run(in, x);
    else
        Dct<8, float>::run(in, x);
}

} // namespace kestrel::mpa
