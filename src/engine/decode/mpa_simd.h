// Vector support of the decoders' inner loops.
//
// KESTREL_MPA_SIMD marks a function that gains from wider vector units: on
// x86-64 Linux with GCC it is built twice, for the baseline and for x86-64-v3
// (AVX2, FMA), and the variant is picked at load time. Code that runs inside
// such a function uses F8, eight floats in one GCC vector (two SSE registers
// in the baseline variant, one AVX register in the other), through inline
// helpers that are compiled into each variant.
#pragma once

#include <cstring>

// Not under ThreadSanitizer: the variant resolvers run while the program is
// being relocated, before the sanitizer's run time is ready, and crash.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define KESTREL_MPA_SIMD __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define KESTREL_MPA_SIMD
#endif

#if defined(__GNUC__)
// F8 values are passed by value only to always-inlined helpers, never between
// functions built for different targets: the note that AVX vector arguments
// change the ABI does not apply to files that include this header.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#define KESTREL_MPA_INLINE inline __attribute__((always_inline))
#else
#define KESTREL_MPA_INLINE inline
#endif

namespace kestrel::mpa {

#if defined(__GNUC__)
typedef float F8 __attribute__((vector_size(32)));
#else
// Eight floats with element-wise arithmetic, for compilers without vector
// extensions.
struct F8 {
    float v[8];
    float& operator[](int i) { return v[i]; }
    float operator[](int i) const { return v[i]; }
};
#define KESTREL_F8_OP(op)                                                                          \
    inline F8 operator op(F8 a, F8 b) {                                                            \
        for (int i = 0; i < 8; ++i)                                                                \
            a.v[i] = a.v[i] op b.v[i];                                                             \
        return a;                                                                                  \
    }                                                                                              \
    inline F8 operator op(F8 a, float b) {                                                         \
        for (int i = 0; i < 8; ++i)                                                                \
            a.v[i] = a.v[i] op b;                                                                  \
        return a;                                                                                  \
    }
KESTREL_F8_OP(+)
KESTREL_F8_OP(-)
KESTREL_F8_OP(*)
#undef KESTREL_F8_OP
inline F8 operator-(F8 a) {
    for (int i = 0; i < 8; ++i)
        a.v[i] = -a.v[i];
    return a;
}
#endif

KESTREL_MPA_INLINE F8 loadF8(const float* p) {
    F8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
KESTREL_MPA_INLINE void storeF8(float* p, F8 v) {
    std::memcpy(p, &v, sizeof v);
}
KESTREL_MPA_INLINE F8 splatF8(float x) {
    F8 v;
    for (int i = 0; i < 8; ++i)
        v[i] = x;
    return v;
}

} // namespace kestrel::mpa
