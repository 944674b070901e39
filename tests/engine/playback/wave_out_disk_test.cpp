// The ring on SDL's disk driver, which writes what it plays to a file: what
// goes into the ring is what is heard, byte for byte and in order.
#include "engine/pipeline/wave_out_ring.h"
#include "engine/core/run_state.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace kestrel;

namespace {

// The disk file holds silence wherever the ring had nothing queued (before the
// first buffer and after the last); the test sound has no zero sample, so the
// played sound is the file without its zero samples.
std::vector<int16_t> playedSamples(const std::string& path) {
    const auto bytes = test::readFile(path);
    std::vector<int16_t> out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int16_t s;
        std::memcpy(&s, bytes.data() + i, 2);
        if (s != 0) out.push_back(s);
    }
    return out;
}

std::vector<int16_t> testSound(size_t samples) {
    std::vector<int16_t> v(samples);
    uint32_t x = 12345;
    for (auto& s : v) {
        x = x * 1103515245u + 12345u;
        int value = static_cast<int>((x >> 16) & 0xFFFF) - 32768;
        if (value > -8 && value < 8) value = value < 0 ? -8 : 8; // nothing near silence
        s = static_cast<int16_t>(value);
    }
    return v;
}

class WaveOutDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
        running = true;
    }
    void TearDown() override {
        unsetenv("SDL_DISKAUDIOFILE");
        setenv("SDL_AUDIODRIVER", "dummy", 1);
    }
    test::TempDir dir;
    std::string file = dir.file("played.raw");
};

} // namespace

TEST_F(WaveOutDisk, WhatIsWrittenIsWhatIsPlayed) {
    // 22050 Hz stereo: 10 x 4096. 0.6 s in uneven runs; the last partly filled
    // buffer is dropped by close.
    WaveOutRing& ring = mainWaveOut();
    ASSERT_EQ(ring.getVolume(), kWaveOutFullVolume);
    const auto sound = testSound(22050 * 2 * 6 / 10);
    ASSERT_EQ(ring.open({22050, 2}), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(sound.data());
    const size_t total = sound.size() * 2;
    size_t off = 0;
    for (uint32_t run = 1; off < total; run = run * 3 % 9001 + 1) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(run, total - off));
        ring.write(bytes + off, n);
        off += n;
    }
    ASSERT_EQ(ring.close(), 0);
    const size_t sent = total / 4096 * 4096;
    const auto played = playedSamples(file);
    ASSERT_EQ(played.size(), sent / 2);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), sound.begin()));
    // The file is (at most a device period of) silence, the sound, then
    // silence: no gap, nothing repeated.
    const auto raw = test::readFile(file);
    size_t lead = 0;
    while (lead < raw.size() && raw[lead] == 0)
        ++lead;
    lead &= ~size_t{3};
    EXPECT_LE(lead, 1024u * 4);
    ASSERT_GE(raw.size(), lead + sent);
    EXPECT_EQ(std::memcmp(raw.data() + lead, sound.data(), sent), 0);
    EXPECT_TRUE(
        std::all_of(raw.begin() + lead + sent, raw.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(WaveOutDisk, VolumeScalesEachChannelBeforeTheDevice) {
    std::atomic<bool> playing{true};
    WaveOutRing ring(playing, RingSizing::Fixed20x2048);
    ring.setVolume(32768 + (65500u << 16)); // left at half, right at the top (unchanged)
    const auto sound = testSound(10 * 2048 / 2);
    ASSERT_EQ(ring.open({11025, 2}), 0);
    ring.write(sound.data(), static_cast<uint32_t>(sound.size() * 2));
    ASSERT_EQ(ring.close(), 0);
    const auto played = playedSamples(file);
    ASSERT_EQ(played.size(), sound.size());
    for (size_t i = 0; i < sound.size(); i += 2) {
        ASSERT_EQ(played[i], static_cast<int16_t>(sound[i] * (32768.0f / 65535.0f))) << i;
        ASSERT_EQ(played[i + 1], sound[i + 1]) << i;
    }
}
