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
// odd outputs.
template <int N> struct Dct {
    static inline void run(const float* in, float* out) {
        constexpr int H = N / 2;
        float a[H], b[H], ea[H], eb[H];
        const float* c = gButterfly + H - 1;
        for (int i = 0; i < H; ++i) {
            a[i] = in[i] + in[N - 1 - i];
            b[i] = (in[i] - in[N - 1 - i]) * c[i];
        }
        Dct<H>::run(a, ea);
        Dct<H>::run(b, eb);
        for (int k = 0; k < H; ++k)
            out[2 * k] = ea[k];
        for (int k = 0; k < H - 1; ++k)
            out[2 * k + 1] = eb[k] + eb[k + 1];
        out[N - 1] = eb[H - 1];
    }
};
template <> struct Dct<1> {
    static inline void run(const float* in, float* out) { out[0] = in[0]; }
};

inline int16_t toPcm(float v) {
    if (v > 32767.0f) return 32767;
    if (v < -32768.0f) return -32768;
    // Round to nearest (ties to even) through the float mantissa.
    float r = v + 12582912.0f;
    int32_t bits;
    std::memcpy(&bits, &r, 4);
    return int16_t(bits - 0x4B400000);
}

// Windowing of the last 16 slots: sample j is the sum over the taps of the
// even-aged slots' first halves and the odd-aged slots' second halves.
template <int N>
KESTREL_MPA_SIMD void window(const float (*ringA)[32], const float (*ringB)[32], int p,
                             const float (*win)[32], int16_t* out, int stride) {
    float acc[N];
    for (int j = 0; j < N; ++j)
        acc[j] = 0.0f;
    for (int i = 0; i < 8; ++i) {
        const float* va = ringA[(p + 2 * i) & 15];
        const float* vb = ringB[(p + 2 * i + 1) & 15];
        const float* wa = win[2 * i];
        const float* wb = win[2 * i + 1];
        for (int j = 0; j < N; ++j)
            acc[j] += va[j] * wa[j] + vb[j] * wb[j];
    }
    for (int j = 0; j < N; ++j)
        out[j * stride] = toPcm(acc[j]);
}

template <int N>
void synthN(SynthState& s, int ch, int step, const float* subbands, int16_t* out, int stride) {
    float x[N];
    Dct<N>::run(subbands, x);
    int p = s.pos[ch] = (s.pos[ch] - 1) & 15;
    float* A = s.ringA[ch][p];
    float* B = s.ringB[ch][p];
    // V[i] for i < N/2 is x[i + N/2]; V[N/2] is 0; V[N/2 + 1 .. 3N/2] is
    // -x[3N/2 - i]; V[3N/2 + 1 .. 2N - 1] is -x[i - 3N/2]. A holds V[0..N-1],
    // B holds V[N..2N-1].
    for (int i = 0; i < N / 2; ++i)
        A[i] = x[i + N / 2];
    A[N / 2] = 0.0f;
    for (int i = N / 2 + 1; i < N; ++i)
        A[i] = -x[3 * N / 2 - i];
    for (int i = N; i <= 3 * N / 2; ++i)
        B[i - N] = -x[3 * N / 2 - i];
    for (int i = 3 * N / 2 + 1; i < 2 * N; ++i)
        B[i - N] = -x[i - 3 * N / 2];

    window<N>(s.ringA[ch], s.ringB[ch], p, tables().synthWin[step], out, stride);
}

} // namespace

void resetSynth(SynthState& s) {
    std::call_once(gOnce, initButterfly);
    std::memset(&s, 0, sizeof s);
}

void synthSlot(SynthState& s, int ch, int step, const float* subbands, int16_t* out, int stride) {
    switch (step) {
    case 0:
        synthN<32>(s, ch, 0, subbands, out, stride);
        break;
    case 1:
        synthN<16>(s, ch, 1, subbands, out, stride);
        break;
    default:
        synthN<8>(s, ch, 2, subbands, out, stride);
        break;
    }
}

void dct2(const float* in, float* x, int n) {
    std::call_once(gOnce, initButterfly);
    if (n == 32)
        Dct<32>::run(in, x);
    else if (n == 16)
        Dct<16>::run(in, x);
    else
        Dct<8>::run(in, x);
}

} // namespace kestrel::mpa
