// The AVI playback thread: playing an MPEG-4 AVI into SDL's disk driver gives
// the PCM of a WAV conversion of it, and stop ends it early.
#include "engine/catalogue/media_list.h"
#include "engine/core/run_state.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace kestrel;

namespace {

class PlayAvi : public ::testing::Test {
  protected:
    void SetUp() override {
        src = test::fixture("avi_mp3_44k.avi");
        ASSERT_TRUE(test::haveFixture("avi_mp3_44k.avi"));
        disk = home.file("disk.raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        settings.output_type = kOutWav;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        resetMediaList();
        ASSERT_EQ(addMediaFile(src), 0);
    }
    void TearDown() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setProgramFolder("");
    }
    std::vector<int16_t> played() { return test::diskSamples(disk); }
    test::TempDir home, out;
    std::string src, disk;
};

} // namespace

TEST_F(PlayAvi, PlaybackWritesWhatAConversionWrites) {
    std::string cmd = "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                      "/kestrel-cli' --home '" + home.path() + "' convert -t wav -r 44100 -o '" +
                      out.path() + "' '" + src + "' 2>/dev/null";
    std::string listing = test::capture(cmd);
    ASSERT_NE(listing.find('\t'), std::string::npos) << listing;
    auto wav = test::wavSamples(listing.substr(0, listing.find('\t')));
    ASSERT_FALSE(wav.empty());

    ASSERT_EQ(playRequest(0), 0);
    waitPlayback();
    EXPECT_EQ(playbackResult(), 0);
    const auto r = test::comparePlayback(wav, played(), 4096 / 2);
    EXPECT_TRUE(r.complete);
    EXPECT_GT(r.compared, 44100u);
    EXPECT_EQ(r.mismatches, 0u);
}

TEST_F(PlayAvi, StopEndsThePlayback) {
    ASSERT_EQ(playRequest(0), 0);
    // Stop once the thread is playing (it sets `running` when it starts).
    for (int i = 0; i < 500 && !running.load() && playbackActive(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(running.load());
    stopCommand();
    waitPlayback();
    EXPECT_FALSE(running.load());
    // Far less than the 6 seconds of the file.
    EXPECT_LT(played().size(), size_t(44100) * 2 * 3);
}
