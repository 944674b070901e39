#include "engine/playback/display_thread.h"
#include "engine/core/run_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

class RecordingPainter : public DisplayPainter {
  public:
    DisplayGeometry measure() override {
        ++measured;
        return geometry;
    }
    void paint(const DisplayFrame& f) override {
        std::lock_guard<std::mutex> g(m);
        frames.push_back(f);
    }
    size_t count() {
        std::lock_guard<std::mutex> g(m);
        return frames.size();
    }
    DisplayGeometry geometry{100, 60, 123, 80};
    int measured = 0;
    std::mutex m;
    std::vector<DisplayFrame> frames;
};

class DisplayPassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        running = true;
        display_on = true;
        paused = false;
        spectrum_width = 123; // the view's width, set by the window before the thread starts
        spectrum_zoom = 1;
        displaySetupTransform(44100); // n = 245
    }
    void TearDown() override { running = false; }
    // `blocks` + 1 whole blocks of a stereo cosine at bin 10: `blocks` spectra.
    void feedTone(int blocks, double amplitude = 16000) {
        const int n = 245;
        std::vector<int16_t> pcm(static_cast<size_t>(n) * (blocks + 1) * 2);
        for (size_t f = 0; f < pcm.size() / 2; ++f) {
            const double t = 2 * std::acos(-1.0) * 10 * (f % n) / n;
            pcm[2 * f] = static_cast<int16_t>(std::lround(amplitude * std::cos(t)));
            pcm[2 * f + 1] = static_cast<int16_t>(f % 2 ? 2560 : -2560);
        }
        displayFeed(pcm.data(), static_cast<int>(pcm.size() * 2), 2, 1.0);
    }
    RecordingPainter painter;
    DisplayPassState state;
};

} // namespace

TEST(DisplayZoom, StaysWithinOneToTenAndRecomputesTheBars) {
    spectrum_width = 123;
    spectrum_zoom = 1;
    spectrumZoomOut();
    EXPECT_EQ(spectrum_zoom.load(), 1);
    spectrumZoomIn();
    EXPECT_EQ(spectrum_zoom.load(), 2);
    EXPECT_EQ(spectrum_bars.load(), 61);
    for (int i = 0; i < 20; ++i)
        spectrumZoomIn();
    EXPECT_EQ(spectrum_zoom.load(), 10);
    EXPECT_EQ(spectrum_bars.load(), 12);
    spectrumZoomOut();
    EXPECT_EQ(spectrum_zoom.load(), 9);
    EXPECT_EQ(spectrum_bars.load(), 13);
}

TEST(DisplayPieces, EnergyBarsAndBands) {
    std::vector<float> x = {3.9f, -5.0f, 0.9f, 10.0f, -1.0f, 0.0f};
    EXPECT_EQ(spectrumEnergy(x, 4), 1 + 2 + 0 + 5);
    EXPECT_EQ(spectrumEnergy(x, 100), 1 + 2 + 0 + 5 + 0);
    // e = 61: factor (61 - 20) x 0.5 = 20.5
    EXPECT_EQ(spectrumBarHeight(x, 1, 1, 61), 61); // 102 clipped
    EXPECT_EQ(spectrumBarHeight(x, 2, 1, 61), 18);
    EXPECT_EQ(spectrumBarHeight(x, 2, 2, 61), (18 + 205) / 2 > 61 ? 61 : (18 + 205) / 2);
    EXPECT_EQ(spectrumBarHeight(x, 5, 3, 61), 0); // past the end counts as 0
    EXPECT_EQ(waveformBandValue(0, 1, 1), 255);
    EXPECT_EQ(waveformBandValue(10, 1, 3), 175);
    EXPECT_EQ(waveformBandValue(10, 6, 2), 120); // 10 x 6 x 2
    EXPECT_EQ(waveformBandValue(100, 1, 4), 255);
    EXPECT_EQ(waveformBandValue(100, 1, 1), 0);
    EXPECT_EQ(spectrumBandValue(0, 100, 1, 1), 255);
    EXPECT_EQ(spectrumBandValue(50, 100, 1, 2), 127);
    EXPECT_EQ(spectrumBandValue(50, 100, 1, 3), 255);
    EXPECT_EQ(spectrumBandValue(60, 100, 1, 3), 205);
    EXPECT_EQ(spectrumBandValue(60, 100, 1, 4), 20);
}

TEST_F(DisplayPassTest, DrawsOnlyWhileAWorkerRunsWithTheDisplayOnAndNotPaused) {
    EXPECT_FALSE(displayPass(state, painter)); // nothing queued
    feedTone(3);
    running = false;
    EXPECT_FALSE(displayPass(state, painter));
    running = true;
    display_on = false;
    EXPECT_FALSE(displayPass(state, painter));
    display_on = true;
    paused = true;
    EXPECT_FALSE(displayPass(state, painter));
    paused = false;
    EXPECT_TRUE(displayPass(state, painter));
    EXPECT_EQ(painter.measured, 1);
}

TEST_F(DisplayPassTest, FirstPassFixesTheGeometryAndLaterPassesDrawTheNewestSpectrum) {
    feedTone(3);
    ASSERT_TRUE(displayPass(state, painter));
    ASSERT_TRUE(displayPass(state, painter));
    ASSERT_EQ(painter.frames.size(), 2u);
    const DisplayFrame& f1 = painter.frames[0];
    EXPECT_TRUE(f1.first);
    EXPECT_EQ(f1.fft_size, 245);
    EXPECT_EQ(f1.width, 123);
    EXPECT_EQ(f1.bars, 123);
    EXPECT_EQ(f1.zoom, 1);
    EXPECT_EQ(f1.e, 61);
    EXPECT_EQ(f1.queued, 3);
    // The cosine's bin holds 16000/32767 x 245/2 = 59.8.
    EXPECT_EQ(f1.bar_heights[10], 61);
    EXPECT_EQ(f1.bar_heights[30], 0);
    EXPECT_EQ(f1.energy, 0); // summed over 3 values (the queue), below the tone's bin

    const DisplayFrame& f2 = painter.frames[1];
    EXPECT_FALSE(f2.first);
    EXPECT_EQ(painter.measured, 1);
    EXPECT_EQ(f2.width, 3); // never more than the spectra queued
    EXPECT_EQ(f2.energy, 0);
    EXPECT_EQ(f2.energy_length, 0);
}

TEST_F(DisplayPassTest, WaveformEveryFourthPassWithTheMeanLevelOfEachColumn) {
    feedTone(5); // 1470 level frames: 14 per column of 100
    ASSERT_TRUE(displayPass(state, painter));
    const DisplayFrame& f = painter.frames[0];
    ASSERT_TRUE(f.waveform);
    ASSERT_EQ(f.wave_left.size(), 100u);
    EXPECT_EQ(f.wave_right[0], 10); // 2560 / 256
    EXPECT_EQ(f.wave_right[99], 10);
    LevelSnapshot s;
    EXPECT_FALSE(displayLevels(s)); // drawn: the count went back to 0

    feedTone(5);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(displayPass(state, painter));
        EXPECT_FALSE(painter.frames.back().waveform);
    }
    ASSERT_TRUE(displayPass(state, painter));
    EXPECT_TRUE(painter.frames.back().waveform);
}

TEST_F(DisplayPassTest, EnergyBarIsScaledByTheLargestEnergySeen) {
    feedTone(50);
    ASSERT_TRUE(displayPass(state, painter)); // width 123 on the first pass
    spectrum_width = 123;                     // as the first pass left it
    ASSERT_TRUE(displayPass(state, painter)); // lowered to the 50 queued
    const DisplayFrame& f = painter.frames[1];
    EXPECT_EQ(f.width, 50);
    EXPECT_EQ(f.energy, 29);
    EXPECT_EQ(f.energy_length, 40); // the largest so far: full length width - 10
    feedTone(50, 8000);             // half as loud
    ASSERT_TRUE(displayPass(state, painter));
    EXPECT_EQ(painter.frames.back().energy, 14);
    EXPECT_EQ(painter.frames.back().energy_length, 14 * 41 / 29);
}

TEST_F(DisplayPassTest, ThreadPaintsAndStops) {
    setDisplayPainter(&painter);
    displayThreadStart();
    displayThreadStart(); // already running: nothing new
    EXPECT_TRUE(display_thread_running.load());
    feedTone(3);
    for (int i = 0; i < 200 && painter.count() == 0; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_GT(painter.count(), 0u);
    displayThreadStop();
    EXPECT_FALSE(display_thread_running.load());
    const size_t n = painter.count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(painter.count(), n);
    setDisplayPainter(nullptr);
}
