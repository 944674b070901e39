// The level meters and the display feed cost time only while a window shows
// them (`meters_on`): a conversion writes the same bytes either way, sends no
// level report and queues no spectrum when they are off.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/pipeline/display_feed.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kestrel;

namespace {

// Counts the level reports a worker sends.
class CountingWindow : public WindowPort {
  public:
    void levels(int, int) override { ++levelReports; }
    std::atomic<int> levelReports{0};
};

class Meters : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        setWindowPort(&win);
    }
    void TearDown() override {
        running = false;
        waitConversion();
        meters_on = false;
        setWindowPort(nullptr);
        setProgramFolder("");
    }

    // Converts `fixture` silently to `type` at 44.1 kHz stereo and returns the
    // bytes of the one output.
    std::vector<uint8_t> convert(const char* fixture, int type, bool meters) {
        test::TempDir out;
        loadSettings();
        settings.output_type = type;
        settings.conversion_mode = 2; // silent, as fast as possible
        settings.save_mode = 0;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        settings.save_path = out.path() + "/";
        resetMediaList();
        EXPECT_EQ(addMediaFile(test::fixture(fixture)), 0);
        for (auto& r : mediaList.rows)
            r.selected = true;
        meters_on = meters;
        win.levelReports = 0;
        EXPECT_EQ(start_conversion(), 0);
        waitConversion();
        EXPECT_EQ(mainJob().outputRecords.size(), 1u);
        if (mainJob().outputRecords.size() != 1) return {};
        return test::readFile(mainJob().outputRecords[0].outputPath);
    }

    test::TempDir home;
    test::RecordingMessages msgs;
    CountingWindow win;
};

} // namespace

TEST_F(Meters, OutputIsTheSameWithTheMetersOnOrOff) {
    struct Case {
        const char* fixture;
        int type;
    };
    // Our decoder resampled to 44.1 kHz into WAV; a 44.1 kHz source passed
    // through unchanged into WAV and into MP3.
    const Case cases[] = {{"mpeg_l3_mpeg2_22k.mp3", kOutWav},
                          {"mpeg_l3_cbr_44k.mp3", kOutWav},
                          {"mpeg_l3_cbr_44k.mp3", kOutMp3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " type " + std::to_string(c.type));
        ASSERT_TRUE(test::haveFixture(c.fixture));

        auto watched = convert(c.fixture, c.type, true);
        EXPECT_GT(win.levelReports.load(), 0);
        EXPECT_GT(displaySpectraCount(), 0);

        auto unwatched = convert(c.fixture, c.type, false);
        EXPECT_EQ(win.levelReports.load(), 0);
        EXPECT_EQ(displaySpectraCount(), 0);

        ASSERT_GT(watched.size(), 10000u);
        EXPECT_TRUE(watched == unwatched) << watched.size() << " vs " << unwatched.size();
    }
}
