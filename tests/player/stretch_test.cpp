// The player's speed control: at 0.5x and 2x the sound lasts twice and half
// as long and keeps its pitch; at 1x it is the source unchanged; a seek
// restarts at the asked frame.
#include "../../player/stretch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 44100;

std::vector<int16_t> tone(double hz, double seconds, int channels) {
    std::vector<int16_t> pcm;
    const int frames = static_cast<int>(seconds * kRate);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm.push_back(static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / kRate)));
    return pcm;
}

std::vector<int16_t> readAll(kplayer::Stretcher& s, int channels) {
    std::vector<int16_t> out, block(4410 * channels);
    for (int n; (n = s.read(block.data(), 4410)) > 0;)
        out.insert(out.end(), block.begin(), block.begin() + n * channels);
    return out;
}

// The frequency of the first channel from its rising zero crossings, over
// the middle of the signal.
double pitch(const std::vector<int16_t>& pcm, int channels) {
    const size_t frames = pcm.size() / channels;
    const size_t from = frames / 4, to = frames * 3 / 4;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (pcm[(i - 1) * channels] < 0 && pcm[i * channels] >= 0) ++crossings;
    return crossings * static_cast<double>(kRate) / static_cast<double>(to - from);
}

} // namespace

TEST(PlayerSpeed, HalfAndDoubleSpeedKeepThePitch) {
    for (int channels : {1, 2}) {
        std::vector<int16_t> src = tone(440, 4.0, channels);
        kplayer::Stretcher s;
        s.attach(src.data(), static_cast<int64_t>(src.size()) / channels, channels, kRate);
        for (double speed : {0.5, 2.0}) {
            s.setSpeed(speed);
            s.seek(0);
            std::vector<int16_t> out = readAll(s, channels);
            const double seconds = static_cast<double>(out.size()) / channels / kRate;
            EXPECT_NEAR(seconds, 4.0 / speed, 0.1) << speed << " x, " << channels << " ch";
            EXPECT_NEAR(pitch(out, channels), 440.0, 5.0) << speed << " x, " << channels << " ch";
            // No clicks: neighbouring samples of a 440 Hz tone differ little.
            int worst = 0;
            for (size_t i = channels; i < out.size(); ++i)
                worst = std::max(worst, std::abs(out[i] - out[i - channels]));
            EXPECT_LT(worst, 1500) << speed << " x";
        }
    }
}

TEST(PlayerSpeed, NormalSpeedIsTheSourceAndSeekRestarts) {
    std::vector<int16_t> src = tone(1000, 1.0, 2);
    kplayer::Stretcher s;
    s.attach(src.data(), static_cast<int64_t>(src.size()) / 2, 2, kRate);
    EXPECT_EQ(readAll(s, 2), src);
    s.seek(kRate / 2);
    EXPECT_EQ(s.position(), kRate / 2);
    std::vector<int16_t> rest = readAll(s, 2);
    EXPECT_EQ(rest, std::vector<int16_t>(src.begin() + kRate, src.end()));
    // Changing speed mid-way goes on from where it was.
    s.seek(kRate / 4);
    s.setSpeed(1.5);
    EXPECT_EQ(s.position(), kRate / 4);
}
