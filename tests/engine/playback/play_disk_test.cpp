// What is heard is what is written: playing a file into SDL's disk driver
// gives the same PCM as a WAV conversion of it, up to the partly filled last
// ring buffer that the device ring drops.
#include "engine/catalogue/media_list.h"
#include "engine/playback/players.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace kestrel;

TEST(PlayDisk, PlaybackWritesWhatAConversionWrites) {
    // wild_join_44k_48k.mp3: joined files whose rate changes midway.
    for (const char* name :
         {"mpeg_l3_cbr_44k.mp3", "mpeg_vcd.mpg", "flash_mp3_44k_st.flv", "flash_adpcm_stream.swf",
          "flash_clip.mtv", "flash_22k.amv", "wild_join_44k_48k.mp3"}) {
        SCOPED_TRACE(name);
        test::TempDir home, out;
        std::string src = test::fixture(name);
        // The reference: a silent WAV conversion at the source's own format.
        std::string cmd = "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                          "/kestrel-cli' --home '" + home.path() +
                          "' convert -t wav -r 44100 -o '" + out.path() + "' '" + src +
                          "' 2>/dev/null";
        std::string listing = test::capture(cmd);
        ASSERT_NE(listing.find('\t'), std::string::npos) << listing;
        auto wav = test::wavSamples(listing.substr(0, listing.find('\t')));
        ASSERT_FALSE(wav.empty());

        std::string disk = home.file("disk.raw");
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
        ASSERT_EQ(playRequest(0), 0);
        waitPlayback();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setProgramFolder("");

        // The device may add silence before the first and after the last
        // buffer (and in between when it ran dry); the sound itself must be
        // the same samples.
        const auto r = test::comparePlayback(wav, test::diskSamples(disk), 4096 / 2);
        EXPECT_TRUE(r.complete);
        EXPECT_GT(r.compared, 44100u);
        EXPECT_EQ(r.mismatches, 0u);
    }
}
