// The Corvopcmchange class of orvopcmchange.so (linked at build time): rate
// change quality, exact channel changes and picks, and streaming without
// clicks at block edges.
#include "orvopcmchange.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<int16_t> sine(double hz, int rate, int frames, int channels, double amplitude) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i) * channels + c] = int16_t(
                std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * (c + 1) * i / rate)));
    return s;
}

// Runs the samples through a fresh stream in pieces of `step` bytes with
// `capacity` bytes of room per call (0: the N x 8 bytes pcm_init asks for),
// and flushes at the end.
std::vector<int16_t> change(const std::vector<int16_t>& in, double ratio, int inChannels,
                            int outChannels, size_t step, int capacity = 0) {
    Corvopcmchange pc;
    int n = pc.pcm_init(ratio, 0, inChannels, 16);
    EXPECT_GT(n, 0);
    pc.pcm_setch(outChannels);
    pc.pcm_setbit(16);
    if (capacity == 0) capacity = n * 8;
    std::vector<uint8_t> out(capacity);
    std::vector<int16_t> result;
    auto keep = [&](int got) {
        EXPECT_GE(got, 0);
        EXPECT_LE(got, capacity);
        for (int i = 0; i + 1 < got; i += 2) {
            int16_t v;
            std::memcpy(&v, &out[i], 2);
            result.push_back(v);
        }
    };
    const auto* bytes = reinterpret_cast<const uint8_t*>(in.data());
    size_t total = in.size() * 2;
    for (size_t at = 0; at < total; at += step) {
        size_t len = std::min(step, total - at);
        keep(pc.pcm_change(bytes + at, int(len), out.data(), capacity, true));
    }
    // Flush, then empty what did not fit.
    keep(pc.pcm_change(nullptr, 0, out.data(), capacity, false));
    for (int got; (got = pc.pcm_change(nullptr, 0, out.data(), capacity, true)) > 0;)
        keep(got);
    pc.pcm_close();
    return result;
}

// Best SNR of `got` against `ref` (one channel of interleaved data) over a lag
// of -maxLag .. maxLag frames, away from the ends.
double bestSnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, int channels,
                 int maxLag, int* lagOut = nullptr) {
    double best = -1e9;
    size_t frames = std::min(ref.size(), got.size()) / channels;
    size_t lo = 4000, hi = frames - 4000;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double sig = 0, err = 0;
        for (size_t i = lo; i < hi; ++i)
            for (int c = 0; c < channels; ++c) {
                double r = ref[i * channels + c], g = got[(i + lag) * channels + c];
                sig += r * r;
                err += (r - g) * (r - g);
            }
        double snr = err == 0 ? 200 : 10 * std::log10(sig / err);
        if (snr > best) {
            best = snr;
            if (lagOut) *lagOut = lag;
        }
    }
    return best;
}

} // namespace

TEST(OrvoPcmChange, DownAndUpAgainKeeps80dB) {
    const int frames = 44100 * 2;
    auto src = sine(1000, 44100, frames, 2, 0.5); // 1 kHz left, 2 kHz right
    auto half = change(src, 0.5, 2, 2, 4096);
    EXPECT_NEAR(double(half.size()) / 2, frames / 2.0, 2);
    auto back = change(half, 2.0, 2, 2, 4096);
    EXPECT_NEAR(double(back.size()) / 2, frames, 4);
    int lag = 99;
    double snr = bestSnrDb(src, back, 2, 50, &lag);
    std::printf("44100 -> 22050 -> 44100 Hz: %.1f dB SNR at a lag of %d\n", snr, lag);
    EXPECT_GE(snr, 80.0);
    EXPECT_EQ(lag, 0); // the resampler keeps the time base
}

TEST(OrvoPcmChange, ManySmallBlocksGiveTheSameSamplesAsOneBlock) {
    auto src = sine(440, 44100, 44100, 2, 0.7);
    for (double ratio : {0.5, 22050.0 / 44100 * 0.98, 48000.0 / 44100, 2.0, 8000.0 / 44100}) {
        SCOPED_TRACE(ratio);
        auto whole = change(src, ratio, 2, 2, src.size() * 2, 1 << 22);
        auto blocks = change(src, ratio, 2, 2, 2000);
        auto odd = change(src, ratio, 2, 2, 1001); // cuts frames and samples
        ASSERT_EQ(whole.size(), blocks.size());
        ASSERT_EQ(whole.size(), odd.size());
        int worst = 0;
        for (size_t i = 0; i < whole.size(); ++i) {
            worst = std::max(worst, std::abs(whole[i] - blocks[i]));
            worst = std::max(worst, std::abs(whole[i] - odd[i]));
        }
        EXPECT_LE(worst, 1);
    }
}

TEST(OrvoPcmChange, ChannelChangesAndPicksAreExact) {
    std::vector<int16_t> stereo = {100, -200, 32767, 32767, -32768, -32768, 1, 2, -3, 0};
    std::vector<int16_t> mono = {5, -7, 32767, -32768};

    auto up = change(mono, 1.0, 1, 2, 3);
    EXPECT_EQ(up, (std::vector<int16_t>{5, 5, -7, -7, 32767, 32767, -32768, -32768}));
    auto down = change(stereo, 1.0, 2, 1, 4096);
    EXPECT_EQ(down, (std::vector<int16_t>{-50, 32767, -32768, 1, -2}));
    auto same = change(stereo, 1.0, 2, 2, 5);
    EXPECT_EQ(same, stereo);

    Corvopcmchange pc;
    std::vector<int16_t> out(5);
    auto* in = reinterpret_cast<const uint8_t*>(stereo.data());
    auto* o = reinterpret_cast<uint8_t*>(out.data());
    EXPECT_EQ(pc.pcm_getch(in, o, 20, 2, 0, 16), 10);
    EXPECT_EQ(out, (std::vector<int16_t>{100, 32767, -32768, 1, -3}));
    EXPECT_EQ(pc.pcm_getch(in, o, 20, 2, 1, 16), 10);
    EXPECT_EQ(out, (std::vector<int16_t>{-200, 32767, -32768, 2, 0}));
    auto copy = stereo;
    auto* c = reinterpret_cast<uint8_t*>(copy.data());
    EXPECT_EQ(pc.pcm_getch(c, c, 20, 2, 1, 16), 10); // in place
    EXPECT_EQ(std::vector<int16_t>(copy.begin(), copy.begin() + 5), out);
    EXPECT_EQ(pc.pcm_getch(in, o, 20, 2, 2, 16), -1);
    EXPECT_EQ(pc.pcm_getch(in, o, 20, 2, 0, 8), -1);
}

TEST(OrvoPcmChange, RightChannelPickAfterARateChangeIsTheResampledRightChannel) {
    auto src = sine(700, 44100, 20000, 2, 0.6);
    std::vector<int16_t> right(src.size() / 2);
    for (size_t i = 0; i < right.size(); ++i)
        right[i] = src[2 * i + 1];
    auto both = change(src, 8000.0 / 44100, 2, 2, 4096);
    Corvopcmchange pc;
    std::vector<int16_t> picked(both.size() / 2);
    ASSERT_EQ(pc.pcm_getch(reinterpret_cast<uint8_t*>(both.data()),
                           reinterpret_cast<uint8_t*>(picked.data()), int(both.size() * 2), 2, 1,
                           16),
              int(picked.size() * 2));
    auto alone = change(right, 8000.0 / 44100, 1, 1, 4096);
    ASSERT_EQ(picked.size(), alone.size());
    int worst = 0;
    for (size_t i = 0; i < alone.size(); ++i)
        worst = std::max(worst, std::abs(picked[i] - alone[i]));
    EXPECT_LE(worst, 1);
}

TEST(OrvoPcmChange, OutputThatDoesNotFitIsKeptForTheNextCall) {
    auto src = sine(1000, 22050, 22050, 1, 0.5);
    auto roomy = change(src, 2.0, 1, 2, 4096);
    auto tight = change(src, 2.0, 1, 2, 4096, 1002); // room for 250 frames and a half
    EXPECT_EQ(roomy, tight);
    EXPECT_NEAR(double(roomy.size()) / 2, 44100, 4);
}

TEST(OrvoPcmChange, TheSizeFromInitCoversAFullCallAndBadCallsAreRefused) {
    Corvopcmchange pc;
    std::vector<uint8_t> out(16);
    std::vector<uint8_t> in(Corvopcmchange::kMaxInputPerCall);
    EXPECT_EQ(pc.pcm_change(in.data(), 16, out.data(), 16, true), -1); // no stream
    EXPECT_EQ(pc.pcm_init(0.0, 0, 2, 16), 0);
    EXPECT_EQ(pc.pcm_init(2.0, 0, 3, 16), 0);
    EXPECT_EQ(pc.pcm_init(2.0, 0, 2, 8), 0);
    EXPECT_EQ(pc.pcm_change(in.data(), 16, out.data(), 16, true), -1);

    for (int ch : {1, 2}) {
        int n = pc.pcm_init(6.0, 0, ch, 16); // 8000 -> 48000 Hz
        ASSERT_GT(n, 0);
        pc.pcm_setch(2);
        std::vector<uint8_t> big(size_t(n) * 8);
        auto tone = sine(300, 8000, int(in.size()) / 2 / ch, ch, 0.5);
        std::memcpy(in.data(), tone.data(), in.size());
        for (int k = 0; k < 4; ++k) {
            int got = pc.pcm_change(in.data(), int(in.size()), big.data(), int(big.size()), true);
            EXPECT_GT(got, 0);
            EXPECT_LE(got, n * 8);
        }
        EXPECT_EQ(pc.pcm_change(nullptr, 5, big.data(), 100, true), -1);
        EXPECT_EQ(pc.pcm_change(in.data(), -1, big.data(), 100, true), -1);
        pc.pcm_close();
    }
}
