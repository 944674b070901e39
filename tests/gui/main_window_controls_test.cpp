// The main window's controls show what the workers report: each event maps to
// its controls, and a conversion, a fast conversion and the idle answers of
// the switches leave the buttons, sliders and texts as the window keeps them.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/fast_conversion.h"
#include "engine/core/run_state.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "gui/main_window_controls.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

using namespace kestrel;
using namespace kestrel::gui;

namespace {

// Keeps each control's state and a log of every call.
class FakeSurface : public ControlSurface {
  public:
    struct Control {
        std::string text;
        int pos = 0, lo = 0, hi = 0;
        bool enabled = true, pressed = false;
    };
    void setText(int id, const std::string& text) override {
        std::lock_guard<std::mutex> g(m);
        controls[id].text = text;
        texts.push_back(text);
        log.push_back("text " + std::to_string(id));
        if (text.rfind(snapshotAt, 0) == 0 && !snapshotAt.empty() && snapshot.empty())
            snapshot = controls;
    }
    void setPos(int id, int pos) override {
        std::lock_guard<std::mutex> g(m);
        controls[id].pos = pos;
        log.push_back("pos " + std::to_string(id) + " " + std::to_string(pos));
    }
    void setRange(int id, int lo, int hi) override {
        std::lock_guard<std::mutex> g(m);
        controls[id].lo = lo;
        controls[id].hi = hi;
        log.push_back("range " + std::to_string(id) + " " + std::to_string(lo) + " " +
                      std::to_string(hi));
    }
    void enable(int id, bool on) override {
        std::lock_guard<std::mutex> g(m);
        controls[id].enabled = on;
        log.push_back("enable " + std::to_string(id) + " " + std::to_string(on));
    }
    void setCheck(int id, bool pressed) override {
        std::lock_guard<std::mutex> g(m);
        controls[id].pressed = pressed;
        log.push_back("check " + std::to_string(id) + " " + std::to_string(pressed));
    }
    void notify(int code, long value) override {
        std::lock_guard<std::mutex> g(m);
        notes.emplace_back(code, value);
        log.push_back("notify " + std::to_string(code) + " " + std::to_string(value));
    }

    std::mutex m;
    std::map<int, Control> controls;
    std::map<int, Control> snapshot; // the states when a text starting so was shown
    std::string snapshotAt;
    std::vector<std::string> texts, log;
    std::vector<std::pair<int, long>> notes;
};

const int kManagedControls[] = {kConvertButton, kPauseRecordButton, kPlayButton,   kStopButton,
                                kFastButton,    kSoundSwitch,       kDisplaySwitch};

// The managed buttons that are enabled in `states`, in control order.
std::vector<int> enabledIn(std::map<int, FakeSurface::Control>& states) {
    std::vector<int> on;
    for (int id : kManagedControls)
        if (states[id].enabled) on.push_back(id);
    return on;
}

} // namespace

TEST(ControlWindow, EachEventChangesItsControls) {
    FakeSurface s;
    ControlWindow w(s);
    w.statusText("x");
    w.busy(Command::PauseRecord | Command::Stop);
    w.progress(3, 40);
    w.position(5, 60);
    w.clock(7);
    w.levels(1000, 2000);
    w.volume(11, 12);
    w.gainsReset();
    w.switchesOn(Command::DisplaySwitch);
    w.wmaProgress(0);
    w.wmaProgress(100);
    const std::vector<std::string> expected = {
        "text 1001",        "enable 1014 0",
        "enable 1015 1",    "enable 1016 0",
        "enable 1018 1",    "enable 1022 0",
        "enable 1028 0",    "enable 1030 0",
        "range 1003 0 40",  "pos 1003 3",
        "range 1002 0 60",  "pos 1002 5",
        "notify 88 7",      "notify 12 " + std::to_string((1000L << 16) + 2000),
        "pos 1006 11",      "pos 1007 12",
        "pos 1008 40",      "pos 1009 40",
        "check 1030 0",     "notify 4444 0",
        "range 4445 0 100", "pos 4445 0",
        "notify 4444 1"};
    EXPECT_EQ(s.log, expected);
    EXPECT_EQ(s.controls[kStatusLine].text, "x");
}

// The WMA encoding's progress: "begins" once, then the dialog's bar takes the
// percentages, then "ended".
TEST(ControlWindow, WmaProgressBeginsOnceThenMovesTheDialogsBar) {
    FakeSurface s;
    ControlWindow w(s);
    for (int p : {0, 1, 37, 99, 100})
        w.wmaProgress(p);
    const std::vector<std::string> expected = {"notify 4444 0", "range 4445 0 100", "pos 4445 0",
                                               "pos 4445 1",    "pos 4445 37",      "pos 4445 99",
                                               "notify 4444 1"};
    EXPECT_EQ(s.log, expected);
}

// The Windows Media reader's end reaches the window as its own message.
TEST(ControlWindow, WindowsMediaEndIsTheReadersMessage) {
    FakeSurface s;
    ControlWindow w(s);
    w.wmPlaybackEnded();
    ASSERT_EQ(s.notes.size(), 1u);
    EXPECT_EQ(s.notes[0], std::make_pair(0x1001, 99L));
    EXPECT_TRUE(s.texts.empty());
}

class ControlWindowJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        setMessagePort(&msgs);
        setWindowPort(&window);
    }
    void TearDown() override {
        running = false;
        waitConversion();
        setWindowPort(nullptr);
        setMessagePort(nullptr);
        setProgramFolder("");
    }

    test::TempDir home, out;
    test::RecordingMessages msgs;
    FakeSurface surface;
    ControlWindow window{surface};
};

// A silent conversion: while it runs, convert, play and fast conversion are
// disabled, pause-recording and stop enabled, the sound switch disabled (the
// job is silent); afterwards every command is enabled again, both switches
// show "on", the encode gains are neutral and the status line names the output.
TEST_F(ControlWindowJobs, ASilentConversionKeepsTheWindowsStates) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    loadSettings();
    settings.output_type = kOutWav;
    settings.conversion_mode = 2;
    settings.save_mode = 0;
    settings.save_path = out.path() + "/";
    resetMediaList();
    ASSERT_EQ(addMediaFile(test::fixture("mpeg_l3_cbr_44k.mp3")), 0);
    for (auto& r : mediaList.rows)
        r.selected = true;
    surface.snapshotAt = "开始录制文件";
    surface.controls[kSoundSwitch].pressed = true;
    surface.controls[kDisplaySwitch].pressed = true;
    ASSERT_EQ(start_conversion(), 0);
    waitConversion();
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    const JobEntry& e = mainJob().jobTable.at(0);

    ASSERT_FALSE(surface.snapshot.empty());
    EXPECT_EQ(enabledIn(surface.snapshot),
              (std::vector<int>{kPauseRecordButton, kStopButton, kDisplaySwitch}));
    EXPECT_EQ(surface.snapshot[kProgressBar].hi, e.durationSec);
    EXPECT_EQ(surface.snapshot[kProgressBar].pos, 0);

    EXPECT_EQ(enabledIn(surface.controls),
              (std::vector<int>(std::begin(kManagedControls), std::end(kManagedControls))));
    EXPECT_FALSE(surface.controls[kSoundSwitch].pressed);
    EXPECT_FALSE(surface.controls[kDisplaySwitch].pressed);
    EXPECT_EQ(surface.controls[kGainLeft].pos, 40);
    EXPECT_EQ(surface.controls[kGainRight].pos, 40);
    EXPECT_EQ(surface.controls[kStatusLine].text,
              "文件[" + mainJob().outputRecords[0].outputPath + "]转换完成");
    EXPECT_EQ(surface.controls[kPositionSlider].hi, e.durationSec);
    EXPECT_EQ(surface.controls[kPositionSlider].pos, 0);
    EXPECT_EQ(surface.controls[kProgressBar].pos, 0);
    // The clock follows the position: second 0 first, then each second.
    std::vector<long> clock;
    for (auto& n : surface.notes)
        if (n.first == kNotifyClock) clock.push_back(n.second);
    ASSERT_FALSE(clock.empty());
    EXPECT_EQ(clock.front(), 0);
    for (size_t i = 1; i < clock.size(); ++i)
        EXPECT_GT(clock[i], clock[i - 1]);
}

// Fast conversion leaves only stop usable while it copies.
TEST_F(ControlWindowJobs, AFastConversionLeavesOnlyStop) {
    ASSERT_TRUE(test::haveFixture("mpeg_vcd.mpg"));
    surface.snapshotAt = "开始快速转换文件";
    FastSource src;
    src.path = test::fixture("mpeg_vcd.mpg");
    src.kind = 6;
    src.durationSec = 4;
    src.savePath = out.path() + "/";
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.status, FastStatus::Done);
    ASSERT_FALSE(surface.snapshot.empty());
    EXPECT_EQ(enabledIn(surface.snapshot), (std::vector<int>{kStopButton}));
    EXPECT_EQ(surface.snapshot[kProgressBar].hi, 4);
    EXPECT_EQ(enabledIn(surface.controls),
              (std::vector<int>(std::begin(kManagedControls), std::end(kManagedControls))));
    EXPECT_EQ(surface.controls[kStatusLine].text, "快速转换文件" + src.path + "结束");
}

// While idle, the switches return to "on" and say why; the effects button
// only says why.
TEST_F(ControlWindowJobs, IdleSwitchesReturnToOnWithTheirTexts) {
    running = false;
    surface.controls[kSoundSwitch].pressed = true;
    surface.controls[kDisplaySwitch].pressed = true;
    soundSwitchCommand(true);
    EXPECT_FALSE(surface.controls[kSoundSwitch].pressed);
    EXPECT_TRUE(surface.controls[kDisplaySwitch].pressed);
    EXPECT_EQ(surface.controls[kStatusLine].text, "只有播放或转换状态下才能开启或关闭声音播放开关");
    displaySwitchCommand(true);
    EXPECT_FALSE(surface.controls[kDisplaySwitch].pressed);
    EXPECT_EQ(surface.controls[kStatusLine].text,
              "只有播放或转换状态下才能开启或关闭频谱及波形显示开关");
    effectsWindowCommand();
    EXPECT_EQ(surface.controls[kStatusLine].text, "只有播放或转换状态下才能开启音频效果窗口");
}
