// The ring on SDL's dummy driver, which consumes sound at the real rate.
#include "engine/pipeline/wave_out_ring.h"
#include "engine/core/run_state.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>

using namespace kestrel;
using namespace std::chrono;

namespace {

class WaveOutDummy : public ::testing::Test {
  protected:
    void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

// Plays `bytes` of a tone through `ring` and returns how long write + close took.
double playSeconds(WaveOutRing& ring, const WaveFormat& f, size_t bytes) {
    std::vector<int16_t> pcm(bytes / 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>((i * 37) % 2000 - 1000);
    EXPECT_EQ(ring.open(f), 0);
    const auto t0 = steady_clock::now();
    for (size_t off = 0; off < bytes; off += 1000)
        ring.write(reinterpret_cast<const uint8_t*>(pcm.data()) + off,
                   static_cast<uint32_t>(std::min<size_t>(1000, bytes - off)));
    EXPECT_EQ(ring.close(), 0);
    return duration<double>(steady_clock::now() - t0).count();
}

} // namespace

TEST_F(WaveOutDummy, CountsTheDummyDevice) {
    EXPECT_GE(waveOutDeviceCount(), 1);
}

TEST_F(WaveOutDummy, WritesArePacedByTheDevice) {
    running = true;
    WaveOutRing& ring = mainWaveOut();
    // 16000 Hz mono: 10 x 2048-byte buffers of 64 ms; 15 whole buffers are played.
    const WaveFormat f{16000, 1};
    const double secs = playSeconds(ring, f, 15 * 2048 + 700);
    EXPECT_GT(secs, 0.96 * 0.85);
    EXPECT_LT(secs, 0.96 + 0.5); // slack for a busy machine
    EXPECT_FALSE(ring.isOpen());
}

TEST_F(WaveOutDummy, CloseLetsTheQueuedBuffersPlayOut) {
    running = true;
    WaveOutRing& ring = mainWaveOut();
    ASSERT_EQ(ring.open({16000, 1}), 0);
    std::vector<uint8_t> pcm(8 * 2048, 0x11);
    ring.write(pcm.data(), static_cast<uint32_t>(pcm.size())); // fits: 8 sent, no wait
    const auto t0 = steady_clock::now();
    ring.close();
    const double secs = duration<double>(steady_clock::now() - t0).count();
    EXPECT_GT(secs, 8 * 0.064 * 0.8);
    EXPECT_LT(secs, 8 * 0.064 + 0.4);
}

TEST_F(WaveOutDummy, StopReturnsAtOnceAndCloseDrains) {
    running = true;
    WaveOutRing& ring = mainWaveOut();
    ASSERT_EQ(ring.open({16000, 1}), 0);
    std::vector<uint8_t> pcm(16000 * 2 * 10, 0x22); // 10 s
    auto writer = std::async(std::launch::async,
                             [&] { ring.write(pcm.data(), static_cast<uint32_t>(pcm.size())); });
    ASSERT_EQ(writer.wait_for(200ms), std::future_status::timeout);
    const auto t0 = steady_clock::now();
    running = false;
    writer.get();
    EXPECT_LT(steady_clock::now() - t0, 100ms);
    ring.close(); // at most 9 buffers of 64 ms
    EXPECT_LT(steady_clock::now() - t0, 1000ms);
}

TEST_F(WaveOutDummy, MainPlayerAndOutputManagerRingsTakeTurns) {
    running = true;
    std::atomic<bool> managerRunning{true};
    WaveOutRing manager(managerRunning, RingSizing::Fixed20x2048);
    // Each plays its whole buffers at the device's pace (a device period of
    // slack for starting and stopping).
    const double a = playSeconds(mainWaveOut(), {22050, 2}, 11 * 4096);
    EXPECT_GT(a, 11 * 4096 / 88200.0 * 0.85);
    EXPECT_LT(a, 11 * 4096 / 88200.0 + 0.35);
    const double b = playSeconds(manager, {8000, 2}, 12 * 2048);
    EXPECT_GT(b, 12 * 2048 / 32000.0 * 0.85);
    EXPECT_LT(b, 12 * 2048 / 32000.0 + 0.35);
}

TEST_F(WaveOutDummy, ASecondRingOpenAtTheSameTimeNeverDisturbsTheFirst) {
    // Sound servers take both at once; SDL's dummy driver takes one device at
    // a time, and then the second ring is simply not open.
    running = true;
    std::atomic<bool> managerRunning{true};
    WaveOutRing manager(managerRunning, RingSizing::Fixed20x2048);
    WaveOutRing& player = mainWaveOut();
    ASSERT_EQ(player.open({16000, 1}), 0);
    const int second = manager.open({8000, 1});
    EXPECT_TRUE(second == 0 || second == kWaveOutOpenFailed);
    EXPECT_EQ(manager.isOpen(), second == 0);
    std::vector<uint8_t> pcm(4 * 2048, 0x33);
    manager.write(pcm.data(), static_cast<uint32_t>(pcm.size()));
    player.write(pcm.data(), static_cast<uint32_t>(pcm.size()));
    EXPECT_EQ(manager.close(), 0);
    const auto t0 = steady_clock::now();
    EXPECT_EQ(player.close(), 0);
    // Four buffers of 64 ms, give or take a device period.
    const double secs = duration<double>(steady_clock::now() - t0).count();
    EXPECT_GT(secs, 3 * 0.064);
    EXPECT_LT(secs, 6 * 0.064 + 0.3);
}

TEST(WaveOutNoDevice, NoDriverMeansNoDeviceAndAClosedRing) {
    // A driver that cannot start stands for a machine without a sound card.
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_EQ(waveOutDeviceCount(), 0);
    running = true;
    WaveOutRing& ring = mainWaveOut();
    EXPECT_EQ(ring.open({44100, 2}), kWaveOutOpenFailed);
    std::vector<uint8_t> pcm(1 << 20, 1);
    const auto t0 = steady_clock::now();
    ring.write(pcm.data(), static_cast<uint32_t>(pcm.size()));
    EXPECT_EQ(ring.close(), 0);
    EXPECT_LT(steady_clock::now() - t0, 50ms);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}
