// The fast transforms of the Layer III decoder against the straightforward
// forms of ISO/IEC 11172-3 (computed here in double precision): the hybrid
// filterbank (IMDCT, windows, overlap-add, frequency inversion) for long,
// short and mixed blocks, and the polyphase synthesis, on random input.
#include "engine/decode/mpa_imdct.h"
#include "engine/decode/mpa_synth.h"
#include "engine/decode/mpa_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace kestrel;

namespace {

const double kPi = 3.14159265358979323846;

// ---- Hybrid filterbank, straightforward form (2.4.3.4.10.2-3) ----

double imdctWindow(int blockType, int i) {
    switch (blockType) {
    case 1:
        if (i < 18) return std::sin(kPi / 36 * (i + 0.5));
        if (i < 24) return 1.0;
        if (i < 30) return std::sin(kPi / 12 * (i - 18 + 0.5));
        return 0.0;
    case 3:
        if (i < 6) return 0.0;
        if (i < 12) return std::sin(kPi / 12 * (i - 6 + 0.5));
        if (i < 18) return 1.0;
        return std::sin(kPi / 36 * (i + 0.5));
    default:
        return std::sin(kPi / 36 * (i + 0.5));
    }
}

struct ReferenceHybrid {
    double overlap[18][32] = {};

    void run(int blockType, bool mixed, const float* xr, int sblimit, double (*out)[32]) {
        for (int sb = 0; sb < sblimit; ++sb) {
            const int type = mixed && sb < 2 ? 0 : blockType;
            double z[36] = {};
            if (type == 2) {
                for (int w = 0; w < 3; ++w)
                    for (int i = 0; i < 12; ++i) {
                        double x = 0;
                        for (int k = 0; k < 6; ++k)
                            x += xr[sb * 18 + w * 6 + k] *
                                 std::cos(kPi / 24 * (2 * i + 1 + 6) * (2 * k + 1));
                        z[6 + 6 * w + i] += x * std::sin(kPi / 12 * (i + 0.5));
                    }
            } else {
                for (int i = 0; i < 36; ++i) {
                    double x = 0;
                    for (int k = 0; k < 18; ++k)
                        x += xr[sb * 18 + k] * std::cos(kPi / 72 * (2 * i + 1 + 18) * (2 * k + 1));
                    z[i] = x * imdctWindow(type, i);
                }
            }
            for (int i = 0; i < 18; ++i) {
                double v = z[i] + overlap[i][sb];
                overlap[i][sb] = z[i + 18];
                out[i][sb] = (sb & 1) && (i & 1) ? -v : v;
            }
        }
    }
};

// ---- Polyphase synthesis, straightforward form (Figure A.2) ----

struct ReferenceSynth {
    std::vector<double> v = std::vector<double>(1024, 0.0);
    double d[512];

    ReferenceSynth() {
        for (int i = 0; i < 257; ++i) {
            double w = mpa::kSynthWindowHalf[i] / 65536.0;
            d[i] = w;
            if (i != 0) d[512 - i] = (i % 64) ? -w : w;
        }
    }
    // 32 samples of one slot, in 16-bit units.
    void slot(const float* s, double* out) {
        std::memmove(v.data() + 64, v.data(), sizeof(double) * 960);
        for (int i = 0; i < 64; ++i) {
            double sum = 0;
            for (int k = 0; k < 32; ++k)
                sum += std::cos((16 + i) * (2 * k + 1) * kPi / 64) * s[k];
            v[i] = sum;
        }
        double u[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                u[i * 64 + j] = v[i * 128 + j];
                u[i * 64 + 32 + j] = v[i * 128 + 96 + j];
            }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 16; ++i)
                sum += u[j + 32 * i] * d[j + 32 * i];
            out[j] = sum * 32768.0;
        }
    }
};

double maxAbs(const double* v, int n) {
    double m = 0;
    for (int i = 0; i < n; ++i)
        m = std::max(m, std::fabs(v[i]));
    return m;
}

} // namespace

TEST(MpaTransforms, DctIvMatchesTheDefinition) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int n : {18, 6}) {
        for (int round = 0; round < 20; ++round) {
            float in[18], y[18];
            double ref[18];
            for (int k = 0; k < n; ++k)
                in[k] = u(rng);
            if (n == 18)
                mpa::dct4x18(in, y);
            else
                mpa::dct4x6(in, y);
            for (int j = 0; j < n; ++j) {
                ref[j] = 0;
                for (int k = 0; k < n; ++k)
                    ref[j] += in[k] * std::cos(kPi / (4 * n) * (2 * j + 1) * (2 * k + 1));
            }
            const double scale = maxAbs(ref, n);
            for (int j = 0; j < n; ++j)
                ASSERT_NEAR(y[j], ref[j], 1e-4 * scale) << n << " " << j;
        }
    }
}

TEST(MpaTransforms, HybridFilterbankMatchesTheStraightforwardForm) {
    struct Case {
        const char* name;
        int types[4]; // block type of four successive granules
        bool mixed;
        int liveLines;
        int sblimit;
    };
    const Case cases[] = {
        {"long", {0, 0, 0, 0}, false, 576, 32},
        {"long start short stop", {0, 1, 2, 3}, false, 576, 32},
        {"short", {2, 2, 2, 2}, false, 576, 32},
        {"mixed", {0, 1, 2, 3}, true, 576, 32},
        {"mixed short", {2, 2, 2, 2}, true, 576, 32},
        {"long, upper sub-bands empty", {0, 0, 1, 3}, false, 200, 32},
        {"short, upper sub-bands empty", {2, 2, 2, 2}, false, 97, 32},
        {"long, half rate", {0, 0, 0, 0}, false, 576, 16},
        {"mixed, quarter rate", {2, 2, 2, 2}, true, 576, 8},
        {"long, odd sub-band count", {0, 1, 3, 0}, false, 576, 21},
    };
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReferenceHybrid ref;
        alignas(32) float overlap[18][32] = {};
        for (int gr = 0; gr < 4; ++gr) {
            alignas(32) float xr[576];
            for (int i = 0; i < 576; ++i)
                xr[i] = i < c.liveLines ? u(rng) * 1000.0f : 0.0f;
            alignas(32) float fast[18][32];
            double slow[18][32];
            std::memset(fast, 0, sizeof fast);
            mpa::hybridFilterbank(c.types[gr], c.mixed, xr, c.liveLines, overlap, c.sblimit, fast);
            ref.run(c.types[gr], c.mixed, xr, c.sblimit, slow);
            double scale = 0;
            for (int i = 0; i < 18; ++i)
                scale = std::max(scale, maxAbs(slow[i], c.sblimit));
            ASSERT_GT(scale, 1.0);
            for (int i = 0; i < 18; ++i)
                for (int sb = 0; sb < c.sblimit; ++sb)
                    ASSERT_NEAR(fast[i][sb], slow[i][sb], 1e-4 * scale)
                        << "granule " << gr << " slot " << i << " sub-band " << sb;
            for (int i = 0; i < 18; ++i)
                for (int sb = 0; sb < c.sblimit; ++sb)
                    ASSERT_NEAR(overlap[i][sb], ref.overlap[i][sb], 1e-4 * scale)
                        << "overlap, granule " << gr;
        }
    }
}

TEST(MpaTransforms, SynthesisMatchesTheStraightforwardForm) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-0.5f, 0.5f);
    static mpa::SynthState fast;
    mpa::resetSynth(fast);
    ReferenceSynth ref;
    // Runs of 18 slots (two groups of eight and two single slots), then runs
    // of 1, 8 and 3 slots; both channels of the state kept apart.
    const int runs[] = {18, 18, 1, 8, 3, 18};
    for (int run : runs) {
        alignas(32) float slots[18][32];
        for (int t = 0; t < run; ++t)
            for (int k = 0; k < 32; ++k)
                slots[t][k] = u(rng) / float(1 + k / 4);
        std::vector<float> got(size_t(run) * 32);
        mpa::synthSlotsFloat(fast, 1, 0, slots, run, got.data());
        for (int t = 0; t < run; ++t) {
            double want[32];
            ref.slot(slots[t], want);
            const double scale = std::max(maxAbs(want, 32), 1000.0);
            for (int j = 0; j < 32; ++j)
                ASSERT_NEAR(got[size_t(t) * 32 + j], want[j], 1e-4 * scale)
                    << "run " << run << " slot " << t << " sample " << j;
        }
    }
    // The 16-bit output is the rounded and clipped float output.
    mpa::SynthState a, b;
    mpa::resetSynth(a);
    mpa::resetSynth(b);
    alignas(32) float slots[18][32];
    for (int t = 0; t < 18; ++t)
        for (int k = 0; k < 32; ++k)
            slots[t][k] = u(rng) * 4.0f;
    float f[18 * 32];
    int16_t pcm[18 * 32 * 2];
    mpa::synthSlotsFloat(a, 0, 0, slots, 18, f);
    mpa::synthSlots(b, 0, 0, slots, 18, pcm, 2);
    for (int i = 0; i < 18 * 32; ++i) {
        const float want = std::nearbyint(std::clamp(f[i], -32768.0f, 32767.0f));
        ASSERT_EQ(pcm[2 * i], int16_t(want)) << i << " " << f[i];
    }
}
