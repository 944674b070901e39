// Marks the inner loops of the decoders that gain from wider vector units:
// on x86-64 GCC and clang build them twice (baseline and AVX2/FMA) and pick
// the variant at load time.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__)
#define KESTREL_MPA_SIMD __attribute__((target_clones("avx2,fma", "default")))
#else
#define KESTREL_MPA_SIMD
#endif
