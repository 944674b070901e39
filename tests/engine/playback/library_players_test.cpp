// The playback threads of raw AAC, AMR ring tones and MP4-family files: what
// is heard is what a WAV conversion writes, and pause, stop and seek (MP4
// only: the AAC and AMR threads drop a seek) reach the thread.
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
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

void prepare(const test::TempDir& home, int rate) {
    setLibraryFolder(KESTREL_BIN_DIR);
    setProgramFolder(home.path());
    loadSettings();
    settings.output_type = kOutWav;
    settings.mp3_sample_rate = rate;
    settings.mp3_version = 0;
    settings.mp3_channels = 2;
    resetMediaList();
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

} // namespace

TEST(LibraryPlayers, PlaybackWritesWhatAConversionWrites) {
    struct Case {
        const char* fixture;
        int rate;
    };
    for (const Case& c : {Case{"mp4_adts_44k.aac", 44100}, Case{"mp4_aac_22k_mono.mp4", 44100},
                          Case{"mp4_ring_122.amr", 11025}}) {
        SCOPED_TRACE(c.fixture);
        test::TempDir home, out;
        std::string src = test::fixture(c.fixture);
        std::string cmd = "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                          "/kestrel-cli' --home '" + home.path() + "' convert -t wav -r " +
                          std::to_string(c.rate) + " -o '" + out.path() + "' '" + src +
                          "' 2>/dev/null";
        std::string listing = test::capture(cmd);
        ASSERT_NE(listing.find('\t'), std::string::npos) << listing;
        auto wav = test::wavSamples(listing.substr(0, listing.find('\t')));
        ASSERT_FALSE(wav.empty());

        std::string disk = home.file("disk.raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
        prepare(home, c.rate);
        ASSERT_EQ(addMediaFile(src), 0);
        ASSERT_EQ(playRequest(0), 0);
        waitPlayback();
        EXPECT_EQ(playbackResult(), 0);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setProgramFolder("");

        // The device ring drops its last, partly filled buffer.
        const auto r =
            test::comparePlayback(wav, test::diskSamples(disk), 4096 / 2 * c.rate / 44100);
        EXPECT_TRUE(r.complete);
        EXPECT_GT(r.compared, static_cast<size_t>(c.rate));
        EXPECT_EQ(r.mismatches, 0u);
    }
}

TEST(LibraryPlayers, StopEndsEveryThread) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (const char* f : {"mp4_adts_44k.aac", "mp4_aac_44k.m4a", "mp4_ring_122.amr"}) {
        SCOPED_TRACE(f);
        test::TempDir home;
        prepare(home, 44100);
        ASSERT_EQ(addMediaFile(test::fixture(f)), 0);
        auto t0 = Clock::now();
        ASSERT_EQ(playRequest(0), 0);
        std::this_thread::sleep_for(300ms);
        stopCommand();
        waitPlayback();
        EXPECT_LT(secondsSince(t0), 2.5); // the files last 4 s
        EXPECT_FALSE(running.load());
        setProgramFolder("");
    }
}

TEST(LibraryPlayers, PauseHoldsTheThread) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    for (const char* f : {"mp4_adts_22k_mono.aac", "mp4_amrnb.3gp", "mp4_ring_475.amr"}) {
        SCOPED_TRACE(f);
        test::TempDir home;
        prepare(home, 44100);
        ASSERT_EQ(addMediaFile(test::fixture(f)), 0);
        ASSERT_EQ(playRequest(0), 0);
        std::this_thread::sleep_for(200ms);
        pauseCommand();
        EXPECT_TRUE(paused.load());
        // Paused for longer than the whole file lasts: still playing.
        std::this_thread::sleep_for(4500ms);
        EXPECT_TRUE(playbackActive());
        pauseCommand();
        EXPECT_FALSE(paused.load());
        stopCommand();
        waitPlayback();
        setProgramFolder("");
    }
}

TEST(LibraryPlayers, SeekMovesMp4AndIsDroppedByAacAndAmr) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    struct Case {
        const char* fixture;
        bool seeks;
    };
    for (const Case& c : {Case{"mp4_aac_44k.m4a", true}, Case{"mp4_mp3_44k.mp4", true},
                          Case{"mp4_adts_44k.aac", false}, Case{"mp4_ring_122.amr", false}}) {
        SCOPED_TRACE(c.fixture);
        test::TempDir home;
        prepare(home, 44100);
        ASSERT_EQ(addMediaFile(test::fixture(c.fixture)), 0);
        auto t0 = Clock::now();
        ASSERT_EQ(playRequest(0), 0);
        std::this_thread::sleep_for(300ms);
        seekCommand(3);
        std::this_thread::sleep_for(200ms);
        // The thread serves or drops the request either way.
        EXPECT_EQ(seek_request.load(), 0);
        EXPECT_FALSE(seek_dragging.load());
        waitPlayback();
        double took = secondsSince(t0);
        if (c.seeks)
            EXPECT_LT(took, 3.0); // 0.3 s, then the last second of 4
        else
            EXPECT_GT(took, 3.5); // the whole file
        setProgramFolder("");
    }
}
