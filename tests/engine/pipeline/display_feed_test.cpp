#include "engine/pipeline/display_feed.h"
#include "engine/core/run_state.h"
#include "platform/ports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

using namespace kestrel;

namespace {

// Records each level report as the value the window's notification carries.
class RecordingWindow : public WindowPort {
  public:
    void levels(int left, int right) override {
        std::lock_guard<std::mutex> g(m);
        reports.push_back(meterReportValue(left, right));
    }
    std::mutex m;
    std::vector<long> reports;
};

class DisplayFeedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWindowPort(&win);
        running = true;
        meterWindowFree();
    }
    void TearDown() override { setWindowPort(nullptr); }
    RecordingWindow win;
};

std::vector<int16_t> stereo(int frames, int16_t l, int16_t r) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * 2);
    for (int f = 0; f < frames; ++f) {
        v[2 * f] = l;
        v[2 * f + 1] = r;
    }
    return v;
}

} // namespace

TEST(DisplayTransform, SizeFollowsTheRate) {
    int32_t step = 0;
    EXPECT_EQ(displayTransformSize(44100, &step), 245);
    EXPECT_EQ(step, 18);
    EXPECT_EQ(displayTransformSize(22050, &step), 245);
    EXPECT_EQ(step, 9);
    EXPECT_EQ(displayTransformSize(48000), 240);
    EXPECT_EQ(displayTransformSize(32000), 200);
    EXPECT_EQ(displayTransformSize(8000), 200);
    EXPECT_EQ(displayTransformSize(11025, &step), 58);
    EXPECT_EQ(step, 19);
    EXPECT_EQ(displayTransformSize(88200), 252); // double-speed playback
    EXPECT_EQ(displayTransformSize(5), 0);
    EXPECT_EQ(displayTransformSize(0), 0);
    // A rate whose tenth has no divisor in range still gets a usable size.
    EXPECT_GT(displayTransformSize(2621430), 0); // 262143 = 3^3 x 7 x 19 x 73
}

TEST_F(DisplayFeedTest, MeterReportsTheMeanOfEachThirtiethOfASecond) {
    meterWindowPrepare(44100, 2); // 1470 frames
    auto block = stereo(3000, 1000, -2000);
    meter_feed(block.data(), 3000, 2, 44100);
    ASSERT_EQ(win.reports.size(), 2u);
    EXPECT_EQ(win.reports[0], (1000L << 16) + 2000);
    EXPECT_EQ(meterReportLeft(win.reports[1]), 1000);
    EXPECT_EQ(meterReportRight(win.reports[1]), 2000);
    // 60 frames wait in the window; 1410 more complete it.
    auto loud = stereo(1410, -32768, 32767);
    meter_feed(loud.data(), 1410, 2, 44100);
    ASSERT_EQ(win.reports.size(), 3u);
    EXPECT_EQ(meterReportLeft(win.reports[2]), (60 * 1000 + 1410 * 32768) / 1470);
    EXPECT_EQ(meterReportRight(win.reports[2]), (60 * 2000 + 1410 * 32767) / 1470);
}

TEST_F(DisplayFeedTest, MeterTakesBlocksOfAnyLengthAndMono) {
    // Ten seconds in one block: 300 reports, no overrun of the window.
    std::vector<int16_t> mono(80000);
    for (size_t i = 0; i < mono.size(); ++i)
        mono[i] = static_cast<int16_t>(i % 2 ? -300 : 500);
    meter_feed(mono.data(), static_cast<int>(mono.size()), 1, 8000); // prepares itself: 266 frames
    ASSERT_EQ(win.reports.size(), 80000u / 266);
    EXPECT_EQ(meterReportLeft(win.reports[0]), (133 * 500 + 133 * 300) / 266);
    EXPECT_EQ(meterReportRight(win.reports[0]), 0);
    EXPECT_EQ(meter_window.frames, 266);

    // A format change re-prepares the window.
    win.reports.clear();
    auto block = stereo(800, 7, 9);
    meter_feed(block.data(), 800, 2, 24000);
    ASSERT_EQ(win.reports.size(), 1u);
    EXPECT_EQ(win.reports[0], (7L << 16) + 9);
}

TEST(DisplayMeter, FigureAndLength) {
    EXPECT_EQ(meterFigure(0), "0.0dB");
    EXPECT_EQ(meterFigure(1), "0.0dB");
    EXPECT_EQ(meterFigure(1000), "30.0dB");
    EXPECT_EQ(meterFigure(32768), "45.2dB");
    EXPECT_EQ(meterLength(10000, 200), 100);
    EXPECT_EQ(meterLength(32768, 200), 200);
    EXPECT_EQ(meterLength(0, 200), 0);
}

TEST_F(DisplayFeedTest, LevelsArePerFrameMagnitudesOverTwoFiftySix) {
    displaySetupTransform(44100);
    std::vector<int16_t> block(2048); // 1024 stereo frames
    for (int f = 0; f < 1024; ++f) {
        block[2 * f] = static_cast<int16_t>(f * 32 - 16384);
        block[2 * f + 1] = f == 5 ? -32768 : static_cast<int16_t>(f);
    }
    displayFeed(block.data(), 4096, 2, 1.0);
    LevelSnapshot s;
    ASSERT_TRUE(displayLevels(s));
    ASSERT_EQ(s.count, 1024);
    long sumL = 0, sumR = 0;
    for (int f = 0; f < 1024; ++f) {
        EXPECT_EQ(s.left[f], std::abs(f * 32 - 16384) / 256) << f;
        EXPECT_EQ(s.right[f], f == 5 ? 128 : f / 256) << f;
        sumL += s.left[f];
        sumR += s.right[f];
    }
    EXPECT_EQ(s.average_left, sumL / 1024);
    EXPECT_EQ(s.average_right, sumR / 1024);
    displayLevelsDrawn();
    EXPECT_FALSE(displayLevels(s));

    // Mono: the second channel reads 0; at most 8190 frames are kept.
    std::vector<int16_t> mono(10000, -1000);
    displayFeed(mono.data(), 20000, 1, 1.0);
    ASSERT_TRUE(displayLevels(s));
    EXPECT_EQ(s.count, kLevelMaxFrames);
    EXPECT_EQ(s.left[8189], 1000 / 256);
    EXPECT_EQ(s.right[8189], 0);
}

TEST_F(DisplayFeedTest, SmallBlocksAreGatheredUntilEightKilobytesWereTogether) {
    displaySetupTransform(22050);
    auto block = stereo(250, 512, 1024); // 1000 bytes
    LevelSnapshot s;
    for (int i = 0; i < 9; ++i) {
        displayFeed(block.data(), 1000, 2, 1.0);
        EXPECT_FALSE(displayLevels(s)) << i; // store held less than 8192 before
    }
    displayFeed(block.data(), 1000, 2, 1.0); // held 9000: all 10000 bytes measured
    ASSERT_TRUE(displayLevels(s));
    EXPECT_EQ(s.count, 2500);
    EXPECT_EQ(s.average_left, 2);
    EXPECT_EQ(s.average_right, 4);
    displayLevelsDrawn();
    displayFeed(block.data(), 1000, 2, 1.0); // the store starts again
    EXPECT_FALSE(displayLevels(s));
}

TEST_F(DisplayFeedTest, SpectraAreHalfcomplexTransformsOfTheFirstChannel) {
    displaySetupTransform(44100);
    const int n = displayFftSize();
    ASSERT_EQ(n, 245);
    // Three whole blocks and a bit: the first two are transformed.
    const int frames = 3 * n + 10;
    std::vector<int16_t> block(static_cast<size_t>(frames) * 2);
    const double pi = std::acos(-1.0);
    for (int f = 0; f < frames; ++f) {
        const double t = 2 * pi * (f % n) / n;
        const double amp = f < n ? 8000 : 16000; // second block louder
        block[2 * f] =
            static_cast<int16_t>(std::lround(amp * std::cos(10 * t) + 4000 * std::sin(3 * t)));
        block[2 * f + 1] = 12345; // the second channel is not transformed
    }
    displayFeed(block.data(), frames * 4, 2, 1.0);
    int queued = 0;
    Spectrum newest = displayNewestSpectrum(&queued);
    ASSERT_EQ(queued, 2);
    ASSERT_TRUE(newest);
    ASSERT_EQ(newest->size(), static_cast<size_t>(n) + 1);
    const auto& x = *newest;
    // Unnormalised: a cosine of amplitude a at bin k gives a * n / 2 at r_k,
    // a sine of amplitude b gives -b * n / 2 at i_k (index n - k).
    const double a = 16000 / 32767.0, b = 4000 / 32767.0;
    EXPECT_NEAR(x[10], a * n / 2, 0.5);
    EXPECT_NEAR(x[n - 3], -b * n / 2, 0.5);
    EXPECT_NEAR(x[0], 0.0, 0.5);
    EXPECT_NEAR(x[20], 0.0, 0.5);
    EXPECT_NEAR(x[n - 10], 0.0, 0.5);
}

TEST_F(DisplayFeedTest, QueueKeepsTheNewestFiftyOne) {
    displaySetupTransform(8000); // n = 200
    const int n = 200;
    std::vector<int16_t> block(static_cast<size_t>(61) * n); // mono: 60 transformed
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<int16_t>(100 * (1 + static_cast<int>(i) / n)); // DC rises per block
    displayFeed(block.data(), static_cast<int>(block.size() * 2), 1, 1.0);
    int queued = 0;
    Spectrum newest = displayNewestSpectrum(&queued);
    EXPECT_EQ(queued, kSpectraLimit);
    ASSERT_TRUE(newest);
    EXPECT_NEAR((*newest)[0], 6000 * n / 32767.0, 0.01); // block 60 (DC 6000)

    // The drawn spectrum stays valid while the queue moves on.
    displayFeed(block.data(), static_cast<int>(block.size() * 2), 1, 1.0);
    EXPECT_NEAR((*newest)[0], 6000 * n / 32767.0, 0.01);
    EXPECT_EQ(displaySpectraCount(), kSpectraLimit);

    displaySetupTransform(8000); // a new run starts empty
    EXPECT_EQ(displaySpectraCount(), 0);
    EXPECT_FALSE(displayNewestSpectrum());
}

TEST_F(DisplayFeedTest, StrongDownsamplingSkipsTheTransformButNotTheLevels) {
    displaySetupTransform(8000);
    std::vector<int16_t> block(5000, 3000);
    displayFeed(block.data(), 10000, 1, 2.0001);
    EXPECT_EQ(displaySpectraCount(), 0);
    LevelSnapshot s;
    EXPECT_TRUE(displayLevels(s));
    displayFeed(block.data(), 10000, 1, 2.0); // exactly 2 still transforms
    EXPECT_EQ(displaySpectraCount(), 5000 / 200 - 1);
}

TEST_F(DisplayFeedTest, StoppingEndsTheLevelLoop) {
    displaySetupTransform(44100);
    running = false;
    auto block = stereo(2000, 5000, 5000);
    displayFeed(block.data(), 8000, 2, 1.0);
    LevelSnapshot s;
    EXPECT_FALSE(displayLevels(s));
    running = true;
}

TEST_F(DisplayFeedTest, BadArgumentsAreIgnored) {
    displaySetupTransform(44100);
    int16_t x[4] = {1, 2, 3, 4};
    displayFeed(nullptr, 4096, 2, 1.0);
    displayFeed(x, -5, 2, 1.0);
    displayFeed(x, 8, 3, 1.0);
    meter_feed(nullptr, 10, 2, 44100);
    meter_feed(x, 2, 0, 44100);
    meter_feed(x, 2, 2, 0);
    EXPECT_EQ(displaySpectraCount(), 0);
    EXPECT_TRUE(win.reports.empty());
}
