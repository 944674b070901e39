// A silent conversion never plays, so it opens no sound device: it neither
// starts the device's thread nor waits for it to end when the job is over.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "platform/wave_out.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace kestrel;

namespace {

std::atomic<int> g_opens{0};

// A device that counts its opens and never pulls.
class CountingDevice : public WaveOutDevice {
  public:
    int open(int, int, WaveOutPull, void*) override {
        ++g_opens;
        return 0;
    }
    int start() override { return 0; }
    void close() override {}
};

std::unique_ptr<WaveOutDevice> makeCounting() {
    return std::make_unique<CountingDevice>();
}

} // namespace

TEST(SilentConversion, OpensNoSoundDevice) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    test::TempDir home, out;
    test::RecordingMessages msgs;
    setLibraryFolder(KESTREL_BIN_DIR);
    setProgramFolder(home.path());
    loadSettings();
    setWaveOutDeviceFactory(&makeCounting);
    settings.output_type = kOutWav;
    settings.conversion_mode = 2; // silent, as fast as possible
    settings.save_path = out.path() + "/";
    resetMediaList();
    ASSERT_EQ(addMediaFile(test::fixture("mpeg_l3_cbr_44k.mp3")), 0);
    for (auto& r : mediaList.rows)
        r.selected = true;
    g_opens = 0;
    ASSERT_EQ(start_conversion(), 0);
    waitConversion();
    EXPECT_EQ(g_opens.load(), 0);
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    EXPECT_GT(test::readFile(mainJob().outputRecords[0].outputPath).size(), 100000u);
    EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
    setWaveOutDeviceFactory(nullptr);
    setProgramFolder("");
}
