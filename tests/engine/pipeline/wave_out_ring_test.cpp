// The buffer ring on a hand-driven device: the test plays the part of the sound
// card and decides when bytes are consumed.
#include "engine/pipeline/wave_out_ring.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

class HandDevice : public WaveOutDevice {
  public:
    int open(int rate, int channels, WaveOutPull pull, void* user) override {
        if (failOpen) return -1;
        this->rate = rate;
        this->channels = channels;
        pull_ = pull;
        user_ = user;
        return 0;
    }
    int start() override {
        if (failStart) return -1;
        started = true;
        return 0;
    }
    void close() override {
        closed = true;
        pull_ = nullptr;
    }
    // The card asks for `len` bytes.
    std::vector<uint8_t> consume(int len) {
        std::vector<uint8_t> out(static_cast<size_t>(len), 0xEE);
        if (pull_) pull_(user_, out.data(), len);
        return out;
    }
    static inline bool failOpen = false;
    static inline bool failStart = false;
    int rate = 0, channels = 0;
    bool closed = false;
    bool started = false;

  private:
    WaveOutPull pull_ = nullptr;
    void* user_ = nullptr;
};

HandDevice* g_device = nullptr;

std::unique_ptr<WaveOutDevice> makeHand() {
    auto d = std::make_unique<HandDevice>();
    g_device = d.get();
    return d;
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

class WaveOutRingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setWaveOutDeviceFactory(&makeHand);
        HandDevice::failOpen = false;
        HandDevice::failStart = false;
        flag = true;
    }
    void TearDown() override { setWaveOutDeviceFactory(nullptr); }
    std::atomic<bool> flag{true};
};

} // namespace

TEST(WaveOutSizing, FollowsChannelsTimesRate) {
    auto eq = [](RingSize s, uint32_t size, uint32_t count) {
        return s.bufferSize == size && s.bufferCount == count;
    };
    EXPECT_TRUE(eq(waveOutSizing(44100, 2), 4096, 20));
    EXPECT_TRUE(eq(waveOutSizing(44100, 1), 4096, 10));
    EXPECT_TRUE(eq(waveOutSizing(22050, 2), 4096, 10)); // p = 44100 exactly
    EXPECT_TRUE(eq(waveOutSizing(11025, 1), 2048, 10));
    EXPECT_TRUE(eq(waveOutSizing(8000, 1), 1024, 10));
    EXPECT_TRUE(eq(waveOutSizing(8001, 1), 1024, 10));
    EXPECT_TRUE(eq(waveOutSizing(8002, 1), 2048, 10));
    EXPECT_TRUE(eq(waveOutSizing(11025, 2), 2048, 10)); // p = 22050
    EXPECT_TRUE(eq(waveOutSizing(48000, 2), 4096, 20));
}

TEST_F(WaveOutRingTest, OutputManagerRingIsAlways20x2048) {
    WaveOutRing ring(flag, RingSizing::Fixed20x2048);
    ASSERT_EQ(ring.open({8000, 1}), 0);
    EXPECT_EQ(ring.bufferSize(), 2048u);
    EXPECT_EQ(ring.bufferCount(), 20u);
    EXPECT_EQ(ring.freeCount(), 20);
    EXPECT_EQ(g_device->rate, 8000);
    EXPECT_EQ(g_device->channels, 1);
    EXPECT_EQ(ring.close(), 0);
}

TEST_F(WaveOutRingTest, ShortRunIsOnlyCopiedAndSentWhenTheBufferFills) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    ASSERT_EQ(ring.open({8000, 1}), 0); // 10 x 1024
    const auto data = pattern(1024);
    ring.write(data.data(), 1000);
    EXPECT_EQ(ring.freeCount(), 10);
    EXPECT_EQ(ring.fillLevel(), 1000u);
    EXPECT_FALSE(g_device->started);
    EXPECT_EQ(g_device->consume(64), std::vector<uint8_t>(64, 0)); // nothing sent: silence

    ring.write(data.data() + 1000, 24); // exactly fills the buffer: sent
    EXPECT_EQ(ring.freeCount(), 9);
    EXPECT_EQ(ring.current(), 1u);
    EXPECT_EQ(ring.fillLevel(), 0u);
    EXPECT_TRUE(g_device->started);
    EXPECT_EQ(g_device->consume(1024), data);
    EXPECT_EQ(ring.freeCount(), 10);
    ring.close();
}

TEST_F(WaveOutRingTest, LongRunSendsFullBuffersInOrderAndKeepsTheRest) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    ASSERT_EQ(ring.open({11025, 1}), 0); // 10 x 2048
    const auto data = pattern(3 * 2048 + 500, 9);
    ring.write(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(ring.freeCount(), 7);
    EXPECT_EQ(ring.current(), 3u);
    EXPECT_EQ(ring.fillLevel(), 500u);
    // Consumed in odd-sized periods, the bytes come out in order.
    std::vector<uint8_t> heard;
    while (heard.size() < 3 * 2048) {
        auto part = g_device->consume(300);
        heard.insert(heard.end(), part.begin(), part.end());
    }
    heard.resize(3 * 2048); // the tail past the sent buffers is silence
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), data.begin()));
    EXPECT_EQ(ring.freeCount(), 10);
    ring.close(); // the 500 bytes of the partly filled buffer are dropped
    EXPECT_FALSE(ring.isOpen());
}

TEST_F(WaveOutRingTest, WrapsAroundTheRingWithoutLosingBytes) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    ASSERT_EQ(ring.open({8000, 1}), 0);
    const auto data = pattern(25 * 1024, 3);
    std::vector<uint8_t> heard;
    for (size_t off = 0; off < data.size(); off += 700) {
        ring.write(data.data() + off,
                   static_cast<uint32_t>(std::min<size_t>(700, data.size() - off)));
        while (ring.freeCount() < 5) {
            auto part = g_device->consume(512);
            heard.insert(heard.end(), part.begin(), part.end());
        }
    }
    while (ring.freeCount() < 10) {
        auto part = g_device->consume(512);
        heard.insert(heard.end(), part.begin(), part.end());
    }
    ASSERT_EQ(heard.size(), data.size());
    EXPECT_EQ(heard, data);
    ring.close();
}

TEST_F(WaveOutRingTest, NotOpenRingWritesAndClosesAtOnce) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    EXPECT_EQ(ring.close(), 0); // close without open
    const auto data = pattern(100000);
    ring.write(data.data(), static_cast<uint32_t>(data.size()));
    HandDevice::failOpen = true;
    EXPECT_EQ(ring.open({44100, 2}), kWaveOutOpenFailed);
    EXPECT_FALSE(ring.isOpen());
    const auto t0 = std::chrono::steady_clock::now();
    ring.write(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(ring.close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);
    HandDevice::failOpen = false;
    EXPECT_EQ(ring.open({44100, 3}), kWaveOutOpenFailed); // not a 16-bit mono/stereo format
    EXPECT_EQ(ring.open({0, 2}), kWaveOutOpenFailed);
}

TEST_F(WaveOutRingTest, ADeviceThatCannotStartClosesTheRing) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    HandDevice::failStart = true;
    ASSERT_EQ(ring.open({8000, 1}), 0);
    const auto data = pattern(40 * 1024);
    const auto t0 = std::chrono::steady_clock::now();
    ring.write(data.data(), static_cast<uint32_t>(data.size())); // would wait forever
    EXPECT_FALSE(ring.isOpen());
    ring.write(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(ring.close(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 100ms);
}

TEST_F(WaveOutRingTest, ClearingRunningReleasesAWaitingWriterAndCloseStillDrains) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    ASSERT_EQ(ring.open({8000, 1}), 0);
    const auto data = pattern(20 * 1024, 5);
    auto writer = std::async(std::launch::async,
                             [&] { ring.write(data.data(), static_cast<uint32_t>(data.size())); });
    // The writer holds while fewer than two buffers are free: 9 sent, one free.
    EXPECT_EQ(writer.wait_for(150ms), std::future_status::timeout);
    EXPECT_EQ(ring.freeCount(), 1);
    flag = false;
    EXPECT_EQ(writer.wait_for(200ms), std::future_status::ready);

    // A later write while stopped returns at once and changes nothing.
    ring.write(data.data(), 5000);
    EXPECT_EQ(ring.freeCount(), 1);

    auto closer = std::async(std::launch::async, [&] { return ring.close(); });
    EXPECT_EQ(closer.wait_for(100ms), std::future_status::timeout); // waits for the queue
    std::vector<uint8_t> heard;
    for (int i = 0; i < 9; ++i) {
        auto part = g_device->consume(1024);
        heard.insert(heard.end(), part.begin(), part.end());
    }
    EXPECT_EQ(closer.wait_for(500ms), std::future_status::ready);
    EXPECT_EQ(closer.get(), 0);
    EXPECT_TRUE(std::equal(heard.begin(), heard.end(), data.begin()));
}

TEST_F(WaveOutRingTest, CloseGivesUpOnADeviceThatStopsPlaying) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    ASSERT_EQ(ring.open({8000, 1}), 0);
    const auto data = pattern(3 * 1024);
    ring.write(data.data(), static_cast<uint32_t>(data.size()));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(ring.close(), 0); // nobody consumes
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, 1900ms);
    EXPECT_LT(took, 4s);
    EXPECT_FALSE(ring.isOpen());
}

TEST_F(WaveOutRingTest, VolumeIsAGainPerChannelAndFullAtTheSlidersTop) {
    WaveOutRing ring(flag, RingSizing::ByFormat);
    EXPECT_EQ(ring.getVolume(), kWaveOutFullVolume); // a new ring plays unchanged
    ASSERT_EQ(ring.open({22050, 2}), 0);             // 10 x 4096
    std::vector<int16_t> frames(2048 * 2);
    for (size_t i = 0; i < frames.size(); ++i)
        frames[i] = static_cast<int16_t>((i % 2 ? -1 : 1) * static_cast<int>(i * 15 % 32768));
    frames[0] = 32767;
    frames[1] = -32768;
    auto bytesOf = [](const std::vector<int16_t>& v) {
        std::vector<uint8_t> b(v.size() * 2);
        std::memcpy(b.data(), v.data(), b.size());
        return b;
    };

    ring.setVolume(65500 + (65500u << 16)); // the sliders' top: untouched
    ring.write(frames.data(), 4096);
    const auto all = bytesOf(frames);
    EXPECT_EQ(g_device->consume(4096), std::vector<uint8_t>(all.begin(), all.begin() + 4096));

    ring.setVolume(16384 + (65535u << 16)); // left at a quarter, right full
    ring.write(frames.data(), 4096);
    auto heard = g_device->consume(4096);
    std::vector<int16_t> got(2048);
    std::memcpy(got.data(), heard.data(), 4096);
    for (size_t i = 0; i < got.size(); i += 2) {
        EXPECT_EQ(got[i], static_cast<int16_t>(frames[i] * (16384.0f / 65535.0f))) << i;
        EXPECT_EQ(got[i + 1], frames[i + 1]) << i;
    }
    ring.close();
    EXPECT_EQ(ring.getVolume(), 16384 + (65535u << 16)); // kept like a mixer setting

    // Mono follows the left volume.
    ASSERT_EQ(ring.open({8000, 1}), 0);
    ring.write(frames.data(), 1024);
    heard = g_device->consume(1024);
    std::memcpy(got.data(), heard.data(), 1024);
    for (size_t i = 0; i < 512; ++i)
        EXPECT_EQ(got[i], static_cast<int16_t>(frames[i] * (16384.0f / 65535.0f))) << i;
    ring.close();
}
