// The main window driving the engine: a conversion started from the window
// writes what the command line writes with the same settings; the display
// box draws the display thread's passes (transform sizes 245 at 44100 Hz and
// 58 at 11025 Hz); the fast conversion from the window.
#include "gui_test_support.h"

#include "engine/convert/conversion_driver.h"
#include "engine/pipeline/display_feed.h"
#include "engine/playback/display_thread.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "gui/display_view.h"
#include "gui/effects_window.h"
#include "gui/media_page.h"
#include "gui/mp3_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSlider>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <cmath>
#include <dirent.h>

using namespace kestrel;
using namespace kestrel::gui;
using kestrel::test::WindowTest;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') out.push_back(dir + "/" + e->d_name);
        ::closedir(d);
    }
    return out;
}

// Stereo 16-bit PCM of a sine at `hz`.
std::vector<int16_t> sine(int rate, int frames, double hz) {
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
        pcm[2 * static_cast<size_t>(i)] = v;
        pcm[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(v / 2);
    }
    return pcm;
}

class EngineWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        setLibraryFolder(KESTREL_BIN_DIR);
    }
};

} // namespace

TEST_F(EngineWindowTest, ConversionFromTheWindowWritesWhatTheCommandLineWrites) {
    if (!test::haveFixture("dec_l3_11_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    const std::string source = test::fixture("dec_l3_11_cbr.mp3");
    test::TempDir outWindow, outCli;
    MainWindow& w = open();
    w.tabs()->setCurrentIndex(1);
    w.show();
    Mp3Page& m = *w.mp3Page();
    m.savePath->setText(QString::fromStdString(outWindow.path() + "/"));
    m.conversionMode->setCurrentIndex(2);
    auto* type = qobject_cast<QComboBox*>(w.control(kOutputTypeList));
    type->setCurrentIndex(0);
    emit type->activated(0);
    w.saveCommand();
    w.dropFiles({QString::fromStdString(source)});
    ASSERT_EQ(w.mediaPage()->list->topLevelItemCount(), 1);
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    qobject_cast<QPushButton*>(w.control(kConvertButton))->click();
    EXPECT_TRUE(w.conversionStarted());
    ASSERT_TRUE(test::processUntil([] { return !running.load(); }, 120));
    waitConversion();
    test::processUntil([] { return false; }, 0.2); // the last events
    EXPECT_TRUE(messages->entries().empty()) << messages->lastText();
    const auto made = filesIn(outWindow.path());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].substr(made[0].size() - 4), ".mp3");
    // The idle state is back: the start commands are enabled again.
    EXPECT_TRUE(w.control(kConvertButton)->isEnabled());
    EXPECT_TRUE(w.control(kPlayButton)->isEnabled());

    const std::string cli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli --home '" + home.path() +
                            "' convert -q -t mp3 --mode silent -o '" + outCli.path() + "/' '" +
                            source + "'";
    ASSERT_EQ(test::run(cli), 0) << cli;
    const auto fromCli = filesIn(outCli.path());
    ASSERT_EQ(fromCli.size(), 1u);
    const auto a = test::readFile(made[0]), b = test::readFile(fromCli[0]);
    EXPECT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b) << made[0] << " " << a.size() << " / " << fromCli[0] << " " << b.size();
    // After a conversion, the exit opens the update page.
    EXPECT_TRUE(w.exitCommand());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], "update.html");
}

TEST_F(EngineWindowTest, StoredAmrModeEightEncodesAtTheDefaultModeInWindowAndCommandLine) {
    if (!test::haveFixture("dec_l3_11_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    const std::string source = test::fixture("dec_l3_11_cbr.mp3");
    test::TempDir outWindow, outCli, outDefault;
    writeKey("转换AMR编码速率", "8"); // the settings file's range allows it
    writeKey("转换文件类型", "7");
    writeKey("转换MP3方式", "2");
    writeKey("转换文件保存路径", outWindow.path() + "/");
    MainWindow& w = open();
    ASSERT_EQ(settings.output_type, 7);
    w.dropFiles({QString::fromStdString(source)});
    ASSERT_EQ(w.mediaPage()->list->topLevelItemCount(), 1);
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    qobject_cast<QPushButton*>(w.control(kConvertButton))->click();
    ASSERT_TRUE(test::processUntil([] { return !running.load(); }, 120));
    waitConversion();
    test::processUntil([] { return false; }, 0.2);
    EXPECT_TRUE(messages->entries().empty()) << messages->lastText();
    EXPECT_EQ(settings.amr_mode, 8); // the stored value stays
    const auto made = filesIn(outWindow.path());
    ASSERT_EQ(made.size(), 1u);

    const std::string cli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli --home '" + home.path() +
                            "' convert -q -t amr --mode silent -o '";
    ASSERT_EQ(test::run(cli + outCli.path() + "/' '" + source + "'"), 0);
    ASSERT_EQ(test::run(cli + outDefault.path() + "/' --amr-mode 0 '" + source + "'"), 0);
    const auto fromCli = filesIn(outCli.path()), fromDefault = filesIn(outDefault.path());
    ASSERT_EQ(fromCli.size(), 1u);
    ASSERT_EQ(fromDefault.size(), 1u);
    const auto a = test::readFile(made[0]);
    EXPECT_GT(a.size(), 100u);
    EXPECT_TRUE(a == test::readFile(fromCli[0]));
    EXPECT_TRUE(a == test::readFile(fromDefault[0]));
    EXPECT_EQ(readKey("转换AMR编码速率"), 8);
}

TEST_F(EngineWindowTest, ConvertWithoutAnEntryStartsNothing) {
    MainWindow& w = open();
    qobject_cast<QPushButton*>(w.control(kConvertButton))->click();
    EXPECT_FALSE(running.load());
    EXPECT_FALSE(messages->entries().empty());
    EXPECT_FALSE(w.conversionStarted());
}

TEST_F(EngineWindowTest, FastConversionFromTheWindowCopiesTheFrames) {
    if (!test::haveFixture("mpeg_vcd.mpg")) GTEST_SKIP() << "no fixtures";
    test::TempDir out;
    MainWindow& w = open();
    w.tabs()->setCurrentIndex(1);
    w.show();
    w.mp3Page()->savePath->setText(QString::fromStdString(out.path() + "/"));
    qobject_cast<QPushButton*>(w.control(kFastButton))->click();
    EXPECT_EQ(messages->lastText(), "没有选择快速转换的多媒体文件");
    w.dropFiles({QString::fromStdString(test::fixture("mpeg_vcd.mpg"))});
    ASSERT_EQ(w.mediaPage()->list->topLevelItemCount(), 1);
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    messages->clear();
    qobject_cast<QPushButton*>(w.control(kFastButton))->click();
    ASSERT_TRUE(
        test::processUntil([&] { return !running.load() && filesIn(out.path()).size() == 1; }, 60));
    const auto made = filesIn(out.path());
    EXPECT_EQ(made[0], out.path() + "/mpeg_vcd.mp3");
    EXPECT_GT(test::readFile(made[0]).size(), 1000u);
    EXPECT_TRUE(messages->entries().empty()) << messages->lastText();
}

class DisplayPassTest : public EngineWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(DisplayPassTest, TheWindowShowsEachPassOfTheDisplayThread) {
    const int rate = GetParam();
    MainWindow& w = open();
    w.show();
    test::processUntil([&] { return w.display()->width() > 200; }, 5);
    displayThreadStop(); // the passes run here instead
    displaySetupTransform(rate);
    EXPECT_EQ(displayFftSize(), rate == 44100 ? 245 : 58);
    running = true;
    display_on = true;
    paused = false;
    const auto pcm = sine(rate, 8192, 1000);
    displayFeed(pcm.data(), static_cast<int>(pcm.size() * 2), 2, 1.0);
    DisplayPassState state;
    ASSERT_TRUE(displayPass(state, *w.display()));
    ASSERT_TRUE(test::processUntil([&] { return w.display()->shownPasses() >= 1; }, 5));
    const QImage spectrum = w.display()->spectrumImage();
    EXPECT_EQ(spectrum.width(), (displayFftSize() + 1) / 2);
    EXPECT_EQ(spectrum.height(), w.display()->height());
    EXPECT_EQ(w.display()->waveformImage().width(), w.display()->width());
    // Paused or with the display off, nothing is drawn.
    paused = true;
    EXPECT_FALSE(displayPass(state, *w.display()));
    paused = false;
    display_on = false;
    EXPECT_FALSE(displayPass(state, *w.display()));
    display_on = true;
    running = false;
}

INSTANTIATE_TEST_SUITE_P(Rates, DisplayPassTest, ::testing::Values(44100, 11025));

TEST_F(EngineWindowTest, EffectsWindowIsShownByTheLibraryAndSetsItsEffects) {
    ASSERT_GE(startSoundEffects(), 0);
    MainWindow& w = open();
    w.show();
    ASSERT_TRUE(w.attachEffects());
    EffectsWindow& fx = *w.effectsWindow();
    EXPECT_FALSE(fx.isVisible());
    running = true;
    qobject_cast<QPushButton*>(w.control(kEffectsButton))->click();
    EXPECT_TRUE(effects_window_on.load());
    ASSERT_TRUE(test::processUntil([&] { return fx.isVisible(); }, 5));
    // The level: -6 dB on a steady signal.
    ASSERT_EQ(orvosoundmix.orvomix_init(44100, 2, 0), 0);
    fx.level->setValue(-60);
    fx.levelOn->setChecked(true);
    std::vector<int16_t> pcm(2048, 10000);
    orvosoundmix.orvomix_change(reinterpret_cast<unsigned char*>(pcm.data()),
                                static_cast<int>(pcm.size() * 2));
    EXPECT_NEAR(pcm[100], 10000 * std::pow(10.0, -6.0 / 20), 2);
    fx.levelOn->setChecked(false);
    std::vector<int16_t> same(2048, 10000);
    orvosoundmix.orvomix_change(reinterpret_cast<unsigned char*>(same.data()),
                                static_cast<int>(same.size() * 2));
    EXPECT_EQ(same[100], 10000);
    // The button again hides it.
    qobject_cast<QPushButton*>(w.control(kEffectsButton))->click();
    ASSERT_TRUE(test::processUntil([&] { return !fx.isVisible(); }, 5));
    running = false;
}

TEST_F(EngineWindowTest, PauseRecordingCutsThePartPlayedMeanwhile) {
    if (!test::haveFixture("dec_l3_44_stereo.mp3")) GTEST_SKIP() << "no fixtures";
    const std::string source = test::fixture("dec_l3_44_stereo.mp3"); // 6 s
    test::TempDir out;
    MainWindow& w = open();
    w.tabs()->setCurrentIndex(1);
    w.show();
    Mp3Page& m = *w.mp3Page();
    m.savePath->setText(QString::fromStdString(out.path() + "/"));
    m.conversionMode->setCurrentIndex(0); // real time: the device sets the pace
    auto* type = qobject_cast<QComboBox*>(w.control(kOutputTypeList));
    type->setCurrentIndex(2); // WAV: its length tells the seconds written
    emit type->activated(2);
    w.dropFiles({QString::fromStdString(source)});
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    qobject_cast<QPushButton*>(w.control(kConvertButton))->click();
    auto* cut = qobject_cast<QPushButton*>(w.control(kPauseRecordButton));
    // As soon as the window shows the conversion running, stop writing ...
    ASSERT_TRUE(test::processUntil([&] { return cut->isEnabled() && converting.load(); }, 30));
    cut->click();
    EXPECT_FALSE(converting.load());
    // ... for about two seconds of sound, then write again.
    auto* pos = qobject_cast<QSlider*>(w.control(kPositionSlider));
    test::processUntil([&] { return !running.load() || pos->value() >= 2; }, 30);
    const bool cutWhileRunning = running.load();
    cut->click();
    ASSERT_TRUE(test::processUntil([] { return !running.load(); }, 60));
    waitConversion();
    const auto made = filesIn(out.path());
    ASSERT_EQ(made.size(), 1u);
    const double seconds = (test::readFile(made[0]).size() - 44) / (44100.0 * 4);
    if (!cutWhileRunning) GTEST_SKIP() << "the device did not keep real time";
    EXPECT_LT(seconds, 6.0 - 1.0);
    EXPECT_GT(seconds, 1.0);
}
