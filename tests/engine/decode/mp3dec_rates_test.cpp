// Half- and quarter-rate output against the full-rate output low-passed and
// decimated, and the reduced-rate synthesis against the full-rate one.
#include "mp3dec_helpers.h"

#include "engine/decode/mpa_synth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Windowed-sinc low-pass (Blackman), cutoff as a fraction of the input rate.
std::vector<double> lowpass(int taps, double cutoff) {
    std::vector<double> h(static_cast<size_t>(taps), 0.0);
    const double pi = 3.14159265358979323846;
    int m = taps - 1;
    double sum = 0;
    for (int i = 0; i <= m; ++i) {
        double x = i - m / 2.0;
        double sinc = x == 0 ? 2 * cutoff : std::sin(2 * pi * cutoff * x) / (pi * x);
        double w = 0.42 - 0.5 * std::cos(2 * pi * i / m) + 0.08 * std::cos(4 * pi * i / m);
        h[size_t(i)] = sinc * w;
        sum += h[size_t(i)];
    }
    for (double& v : h)
        v /= sum;
    return h;
}

// SNR (dB) of `reduced` (one channel of `channels`) against `full` filtered
// and decimated by `factor`, over the best of a few alignments.
double reducedRateSnr(const Pcm& full, const Pcm& reduced, int factor) {
    int ch = full.channels;
    size_t n = full.samples.size() / size_t(ch);
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = full.samples[i * size_t(ch)];
    auto h = lowpass(511, 0.5 / factor);
    size_t delay = (h.size() - 1) / 2;
    size_t m = reduced.samples.size() / size_t(ch);
    double best = -1e9;
    for (int lag = -2 * factor; lag <= 2 * factor; ++lag) {
        double sig = 0, err = 0;
        for (size_t k = 2000 / size_t(factor); k + 2000 / size_t(factor) < m; ++k) {
            long centre = long(k) * factor + lag;
            if (centre < long(delay) || centre + long(delay) >= long(n)) continue;
            double y = 0;
            for (size_t t = 0; t < h.size(); ++t)
                y += h[t] * x[size_t(centre - long(delay) + long(t))];
            double e = reduced.samples[k * size_t(ch)] - y;
            sig += y * y;
            err += e * e;
        }
        if (err > 0) best = std::max(best, 10 * std::log10(sig / err));
    }
    return best;
}

TEST(Mp3decRates, HalfAndQuarterRateMatchTheFilteredFullRate) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_44_lowband.mp3"));
    Pcm full = decodeStream(data, 0);
    Pcm half = decodeStream(data, 1);
    Pcm quarter = decodeStream(data, 2);
    ASSERT_EQ(half.rate, 22050);
    ASSERT_EQ(quarter.rate, 11025);
    ASSERT_EQ(half.samples.size() * 2, full.samples.size());
    ASSERT_EQ(quarter.samples.size() * 4, full.samples.size());
    double snrHalf = reducedRateSnr(full, half, 2);
    double snrQuarter = reducedRateSnr(full, quarter, 4);
    RecordProperty("snr_half_db", int(snrHalf));
    RecordProperty("snr_quarter_db", int(snrQuarter));
    std::printf("reduced-rate SNR: half %.1f dB, quarter %.1f dB\n", snrHalf, snrQuarter);
    EXPECT_GE(snrHalf, 40.0);
    EXPECT_GE(snrQuarter, 40.0);
}

TEST(Mp3decRates, ReducedSynthesisIsTheFullSynthesisOfTheLowBandsAtEverySecondSample) {
    // With only the lowest 16 (8) sub-bands carrying signal, the 16-point
    // (8-point) synthesis gives the full-rate samples of those bands.
    static mpa::SynthState full, reduced;
    for (int step = 1; step <= 2; ++step) {
        mpa::resetSynth(full);
        mpa::resetSynth(reduced);
        int bands = 32 >> step;
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> u(-0.3f, 0.3f);
        std::vector<int16_t> a, b;
        for (int slot = 0; slot < 200; ++slot) {
            float sb[32] = {};
            for (int k = 0; k < bands; ++k)
                sb[k] = u(rng) / float(k + 1);
            int16_t fo[32], ro[32];
            mpa::synthSlot(full, 0, 0, sb, fo, 1);
            mpa::synthSlot(reduced, 0, step, sb, ro, 1);
            a.insert(a.end(), fo, fo + 32);
            b.insert(b.end(), ro, ro + bands);
        }
        int factor = 1 << step;
        int bestWorst = 1 << 20;
        for (int phase = 0; phase < factor; ++phase) {
            int worst = 0;
            for (size_t k = 64; k < b.size(); ++k)
                worst =
                    std::max(worst, std::abs(int(b[k]) - a[k * size_t(factor) + size_t(phase)]));
            bestWorst = std::min(bestWorst, worst);
        }
        EXPECT_LE(bestWorst, 1) << "step " << step;
    }
}

TEST(Mp3decRates, DctMatchesTheDefinition) {
    const double pi = 3.14159265358979323846;
    for (int n : {8, 16, 32}) {
        float in[32], out[32];
        for (int k = 0; k < n; ++k)
            in[k] = float(std::sin(k * 1.3) + 0.1 * k);
        mpa::dct2(in, out, n);
        for (int m = 0; m < n; ++m) {
            double ref = 0;
            for (int k = 0; k < n; ++k)
                ref += in[k] * std::cos(pi * m * (2 * k + 1) / (2.0 * n));
            EXPECT_NEAR(out[m], ref, 1e-4) << n << " " << m;
        }
    }
}

} // namespace
