// Transport commands during a conversion with sound (real time on SDL's dummy
// driver): pause-recording, seeking and stopping.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
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
using namespace std::chrono_literals;

namespace {

class Transport : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        settings.output_type = kOutWav;
        settings.conversion_mode = 0; // real time with sound
        settings.save_mode = 0;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        settings.save_path = out.path() + "/";
        resetMediaList();
    }
    void TearDown() override {
        running = false;
        waitConversion();
        setProgramFolder("");
    }
    void start(std::initializer_list<const char*> fixtures) {
        for (auto f : fixtures)
            ASSERT_EQ(addMediaFile(test::fixture(f)), 0);
        for (auto& r : mediaList.rows)
            r.selected = true;
        ASSERT_EQ(start_conversion(), 0);
        // Wait until the job has reached its first entry.
        for (int i = 0; i < 300 && job_wait(); ++i)
            std::this_thread::sleep_for(10ms);
    }
    static bool job_wait() { return !converting.load(); }
    double seconds(const std::string& wav) {
        int rate = 0, ch = 0;
        auto s = test::wavSamples(wav, &rate, &ch);
        return rate && ch ? double(s.size()) / ch / rate : 0;
    }
    test::TempDir home, out;
    test::RecordingMessages msgs;
};

} // namespace

TEST_F(Transport, PauseRecordingCutsTheStretchOut) {
    start({"mpeg_vcd.mpg"});
    std::this_thread::sleep_for(1000ms);
    converting = false;
    std::this_thread::sleep_for(1500ms);
    converting = true;
    waitConversion();
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    double s = seconds(mainJob().outputRecords[0].outputPath);
    EXPECT_NEAR(s, 4.0 - 1.5, 0.6);
}

TEST_F(Transport, SeekMovesPlaybackAndOutput) {
    start({"mpeg_vcd.mpg"});
    std::this_thread::sleep_for(500ms);
    seek_request = 3 + 100;
    waitConversion();
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    // About half a second (plus what the device ring holds ahead) before the
    // seek, then the last second of the source: well short of its 4 s.
    double s = seconds(mainJob().outputRecords[0].outputPath);
    EXPECT_GT(s, 1.2);
    EXPECT_LT(s, 2.8);
}

TEST_F(Transport, StopFinishesTheOutputAndSkipsTheRest) {
    start({"mpeg_vcd.mpg", "mpeg_ts_mp2.ts"});
    std::this_thread::sleep_for(1000ms);
    running = false;
    waitConversion();
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    auto bytes = test::readFile(mainJob().outputRecords[0].outputPath);
    ASSERT_GT(bytes.size(), 44u);
    uint32_t riff, data;
    std::memcpy(&riff, bytes.data() + 4, 4);
    std::memcpy(&data, bytes.data() + 40, 4);
    EXPECT_EQ(data + 44, bytes.size());
    EXPECT_EQ(riff, data + 36);
    EXPECT_NEAR(seconds(mainJob().outputRecords[0].outputPath), 1.0, 0.6);
}
