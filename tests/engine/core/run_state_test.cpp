#include "engine/core/run_state.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(RunState, GainSliderIsHalfDecibelPerStepAndSnapsNearUnity) {
    EXPECT_EQ(gainFromSlider(40), 1.0);
    EXPECT_NEAR(gainFromSlider(41), 1.0593, 1e-4); // +0.5 dB is just outside 0.95..1.05
    EXPECT_NEAR(gainFromSlider(39), 0.9441, 1e-4);
    EXPECT_NEAR(gainFromSlider(60), 3.1623, 1e-3); // +10 dB
    EXPECT_NEAR(gainFromSlider(0), 0.1, 1e-9);     // -20 dB
}

TEST(RunState, RateRatioIsExactlyOneForEqualRates) {
    EXPECT_EQ(makeRateRatio(44100, 44100), 1.0);
    EXPECT_DOUBLE_EQ(makeRateRatio(22050, 44100), 0.5);
    EXPECT_EQ(makeRateRatio(22050, 0), 1.0);
}
