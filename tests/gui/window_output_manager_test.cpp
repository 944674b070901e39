// The output manager's window: shown by the end of a conversion with the
// job's outputs in four columns; plays an output into the sound device (SDL's
// disk driver here), stops, deletes with its question (refused while playing)
// and hides with the last record; the main window's start commands do nothing
// while it is shown and its status line says why.
#include "gui_test_support.h"

#include "engine/convert/conversion_driver.h"
#include "engine/playback/players.h"
#include "engine/playback/texts_output_manager.h"
#include "gui/media_page.h"
#include "gui/mp3_page.h"
#include "gui/output_manager_window.h"
#include "support/audio_compare.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <sys/stat.h>

#include <cstring>
#include <dirent.h>
#include <regex>

using namespace kestrel;
using namespace kestrel::gui;
using kestrel::test::WindowTest;

namespace {

bool exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

class ManagerWindowTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        setLibraryFolder(KESTREL_BIN_DIR);
        disk = home.file("disk.raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
    }
    void TearDown() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        WindowTest::TearDown();
    }
    // Converts the two sources from the window into WAV outputs in `out`.
    MainWindow& convertTwo(const test::TempDir& out) {
        MainWindow& w = open();
        Mp3Page& m = *w.mp3Page();
        m.savePath->setText(QString::fromStdString(out.path() + "/"));
        m.conversionMode->setCurrentIndex(2);
        auto* type = qobject_cast<QComboBox*>(w.control(kOutputTypeList));
        type->setCurrentIndex(kOutWav);
        emit type->activated(kOutWav);
        w.saveCommand();
        // A drop takes its first file.
        w.dropFiles({QString::fromStdString(test::fixture("dec_l3_22_js.mp3"))});
        w.dropFiles({QString::fromStdString(test::fixture("dec_l3_11_cbr.mp3"))});
        if (w.mediaPage()->list->topLevelItemCount() != 2) {
            ADD_FAILURE() << "two list rows expected";
            return w;
        }
        w.mediaPage()->list->topLevelItem(0)->setSelected(true);
        w.mediaPage()->list->topLevelItem(1)->setSelected(true);
        qobject_cast<QPushButton*>(w.control(kConvertButton))->click();
        EXPECT_TRUE(w.conversionStarted());
        EXPECT_TRUE(test::processUntil([] { return !running.load(); }, 120));
        waitConversion();
        test::processUntil([&] { return w.outputManager()->isVisible(); }, 5);
        return w;
    }
    std::string disk;
};

} // namespace

TEST_F(ManagerWindowTest, AJobShowsItsOutputsAndTheStartCommandsWaitForTheManager) {
    if (!test::haveFixture("dec_l3_11_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    test::TempDir out;
    MainWindow& w = convertTwo(out);
    OutputManagerWindow& om = *w.outputManager();
    ASSERT_TRUE(om.isVisible());
    EXPECT_TRUE(om.manager().shown.load());
    EXPECT_EQ(om.statusLine()->text(), QString::fromUtf8("转换完成，请选择"));
    QTreeWidget* list = om.list();
    ASSERT_EQ(list->columnCount(), 4);
    EXPECT_EQ(list->headerItem()->text(0), QString::fromUtf8("序号"));
    EXPECT_EQ(list->headerItem()->text(1), QString::fromUtf8("转换文件"));
    EXPECT_EQ(list->headerItem()->text(2), QString::fromUtf8("输出文件"));
    EXPECT_EQ(list->headerItem()->text(3), QString::fromUtf8("时间"));
    ASSERT_EQ(list->topLevelItemCount(), 2);
    const auto& records = mainJob().outputRecords;
    ASSERT_EQ(records.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        EXPECT_EQ(row->text(0), QString::number(i));
        EXPECT_EQ(row->text(1).toStdString(), records[size_t(i)].sourcePath);
        EXPECT_EQ(row->text(2).toStdString(), records[size_t(i)].outputPath);
        EXPECT_EQ(row->text(3),
                  QString::number(records[size_t(i)].duration) + QString::fromUtf8("秒"));
        EXPECT_TRUE(exists(records[size_t(i)].outputPath));
    }
    EXPECT_EQ(om.pathLine()->text().toStdString(), records[1].outputPath);
    // The last output names the window.
    EXPECT_EQ(om.windowTitle().toStdString(), records[1].outputPath);
    EXPECT_FALSE(om.playButton()->isEnabled());

    // The main window's Play and Convert do nothing meanwhile, and say why.
    w.mediaPage()->list->topLevelItem(0)->setSelected(true);
    w.playCommand();
    EXPECT_FALSE(running.load());
    EXPECT_FALSE(playbackActive());
    EXPECT_EQ(w.statusText(), QString::fromUtf8(text::manager::kStartsBlocked));
    w.convertCommand();
    EXPECT_FALSE(running.load());
    EXPECT_TRUE(om.isVisible());
    // Back hides the manager; Play starts again.
    om.backButton()->click();
    EXPECT_FALSE(om.isVisible());
    EXPECT_FALSE(om.manager().shown.load());
}

TEST_F(ManagerWindowTest, PlayStopAndDelete) {
    if (!test::haveFixture("dec_l3_11_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    test::TempDir out;
    MainWindow& w = convertTwo(out);
    OutputManagerWindow& om = *w.outputManager();
    ASSERT_TRUE(om.isVisible());
    const std::vector<OutputRecord> records = mainJob().outputRecords;
    ASSERT_EQ(records.size(), 2u);

    // A click selects and checks the row; Play plays it into the device.
    om.selectRow(1);
    EXPECT_EQ(om.list()->topLevelItem(1)->checkState(0), Qt::Checked);
    EXPECT_EQ(om.list()->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(om.playButton()->isEnabled());
    EXPECT_EQ(om.pathLine()->text().toStdString(), records[1].outputPath);
    om.playButton()->click();
    EXPECT_TRUE(om.manager().playing());
    // Delete is refused while playing.
    messages->answer = MsgAnswer::Yes;
    om.deleteButton()->click();
    ASSERT_EQ(messages->entries().size(), 1u);
    EXPECT_EQ(messages->entries()[0].text, "正在播放，请结束（停止）后删除");
    EXPECT_TRUE(exists(records[1].outputPath));
    ASSERT_TRUE(test::processUntil([&] { return !om.manager().playing(); }, 60));
    test::processUntil([] { return false; }, 0.2);
    EXPECT_EQ(om.statusLine()->text(), QString::fromUtf8("文件播放完成，请选择其他功能"));
    {
        // What the device played is the output's sound.
        const auto r = test::comparePlayback(test::wavSamples(records[1].outputPath),
                                             test::diskSamples(disk), 2048 / 2);
        EXPECT_TRUE(r.complete);
        EXPECT_GT(r.compared, 2048u);
        EXPECT_EQ(r.mismatches, 0u);
    }

    // Stop ends a playback before its end.
    om.selectRow(0);
    om.playButton()->click();
    ASSERT_TRUE(om.manager().playing());
    om.stopButton()->click();
    ASSERT_TRUE(test::processUntil([&] { return !om.manager().playing(); }, 10));

    // Delete asks; No keeps the file and the row.
    messages->clear();
    messages->answer = MsgAnswer::No;
    om.selectRow(1);
    om.deleteButton()->click();
    ASSERT_EQ(messages->entries().size(), 1u);
    EXPECT_EQ(messages->entries()[0].text, "确定删除文件" + records[1].outputPath);
    EXPECT_TRUE(exists(records[1].outputPath));
    EXPECT_EQ(om.list()->topLevelItemCount(), 2);
    // Yes removes the file, the row and the record.
    messages->answer = MsgAnswer::Yes;
    om.selectRow(1);
    om.deleteButton()->click();
    EXPECT_FALSE(exists(records[1].outputPath));
    ASSERT_EQ(om.list()->topLevelItemCount(), 1);
    EXPECT_EQ(om.manager().records().size(), 1u);
    EXPECT_TRUE(om.isVisible());
    // The last record hides the window.
    om.selectRow(0);
    om.deleteButton()->click();
    EXPECT_FALSE(exists(records[0].outputPath));
    EXPECT_EQ(om.list()->topLevelItemCount(), 0);
    EXPECT_FALSE(om.isVisible());
    EXPECT_FALSE(om.manager().shown.load());
}

TEST_F(ManagerWindowTest, OutputsOfSeveralTypesAndRawAac) {
    test::TempDir out;
    MainWindow& w = open();
    OutputManagerWindow& om = *w.outputManager();
    std::vector<ManagedOutput> records;
    const int types[] = {kManagedMp3, kManagedRawAac, kManagedAmr};
    for (int t : types) {
        ManagedOutput r;
        r.sourcePath = "/src/" + std::to_string(t) + ".mp3";
        r.outputPath = out.file("out" + std::to_string(t));
        test::writeFile(r.outputPath, std::string("x"));
        r.outputType = t;
        r.duration = 3 + t;
        records.push_back(r);
    }
    // Records that arrive without a job are not shown.
    om.jobEnded(records);
    EXPECT_FALSE(om.isVisible());
    EXPECT_EQ(om.windowTitle(), QString::fromUtf8("岚石多媒体MP3转换器输出控制"));
    om.jobStarted();
    om.jobEnded(records);
    ASSERT_TRUE(om.isVisible());
    ASSERT_EQ(om.list()->topLevelItemCount(), 3);
    EXPECT_EQ(om.list()->topLevelItem(2)->text(3), QString::fromUtf8("10秒"));
    // Raw AAC cannot be played: its message, and the window stays idle.
    om.selectRow(1);
    om.playButton()->click();
    EXPECT_FALSE(om.manager().playing());
    ASSERT_EQ(messages->entries().size(), 1u);
    EXPECT_EQ(messages->entries()[0].caption, "岚石MP3编辑器 输出管理");
    EXPECT_EQ(messages->entries()[0].text, "AAC 编码 原始流 暂不能播放");
    // A job start hides the manager and empties its table.
    om.jobStarted();
    EXPECT_FALSE(om.isVisible());
    EXPECT_TRUE(om.manager().records().empty());
}

namespace {

// Converts `src` with kestrel-cli; the path of the one output.
std::string convertOne(const std::string& home, const test::TempDir& out, const std::string& args,
                       const std::string& src) {
    std::string text = test::capture("SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                                     "/kestrel-cli' --home '" + home + "' convert -q -o '" +
                                     out.path() + "/' " + args + " '" + src + "' 2>/dev/null");
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("([^\n\t]+)\t"))) return {};
    return m[1];
}

struct PlayCase {
    const char* name;
    int type;
    const char* args;
    double minSnr;
};

const PlayCase kPlayCases[] = {
    {"mp3", kManagedMp3, "-t mp3", 15},
    {"exe", kManagedExe, "-t exe", 15},
    {"wav", kManagedWav, "-t wav", 60},
    {"wma", kManagedWma, "-t wma --wma-codec 0 --wma-format 5", 12},
    {"adts", kManagedAdts, "-t adts --aac-profile lc --aac-rate 160000", 15},
    {"m4a", kManagedMp4, "-t m4a --aac-profile lc --aac-rate 160000", 15},
    {"amr", kManagedAmr, "-t amr --amr-mode 7", 6},
    {"flv", kManagedFlv, "-t flv", 15},
    {"avi", kManagedAvi, "-t avi", 15},
};

class ManagerWindowPlay : public ManagerWindowTest,
                          public ::testing::WithParamInterface<PlayCase> {};

} // namespace

// Each output type played from the window sounds as the WAV conversion of
// the same source at the output's rate and channels.
TEST_P(ManagerWindowPlay, PlaysTheOutputIntoTheDevice) {
    const PlayCase& c = GetParam();
    const bool amr = c.type == kManagedAmr;
    const int rate = amr ? 8000 : 44100, channels = amr ? 1 : 2;
    const std::string src = test::fixture("mpeg_l3_cbr_44k.mp3");
    test::TempDir out, ref;
    std::string output =
        convertOne(home.path(), out, std::string(c.args) + (amr ? "" : " -r 44100"), src);
    ASSERT_FALSE(output.empty());
    std::string wavRef =
        convertOne(home.path(), ref, amr ? "-t wav -r 8000 --mono mix" : "-t wav -r 44100", src);
    std::vector<int16_t> expected = test::wavSamples(wavRef);
    ASSERT_FALSE(expected.empty());

    MainWindow& w = open();
    OutputManagerWindow& om = *w.outputManager();
    ManagedOutput r;
    r.sourcePath = src;
    r.outputPath = output;
    r.outputType = c.type;
    r.outRate = rate;
    r.outChannels = channels;
    r.duration = static_cast<int>(expected.size() / channels / rate);
    om.jobStarted();
    om.jobEnded({r});
    ASSERT_TRUE(om.isVisible());
    om.selectRow(0);
    om.playButton()->click();
    ASSERT_TRUE(test::processUntil([&] { return !om.manager().playing(); }, 60));
    test::processUntil([] { return false; }, 0.1);
    EXPECT_EQ(om.statusLine()->text(), QString::fromUtf8(text::manager::kPlayDone));
    EXPECT_TRUE(messages->entries().empty()) << messages->lastText();

    // The device's silence before the sound and wherever it ran dry (on a
    // loaded machine) is no part of the output's sound.
    const std::vector<int16_t> played = test::withoutDropouts(test::diskSamples(disk), channels);
    ASSERT_FALSE(played.empty());
    test::Comparison cmp = test::compareAudio(played, test::withoutDropouts(expected, channels),
                                              channels, 6000, rate / 10);
    std::printf("%s: SNR %.1f dB (floor %.0f), lag %ld, length %+ld frames\n", c.name, cmp.snrDb,
                c.minSnr, cmp.lag, cmp.lengthDiff);
    EXPECT_GE(cmp.snrDb, c.minSnr);
    EXPECT_GT(cmp.overlap, static_cast<long>(rate)); // more than a second of it
}

INSTANTIATE_TEST_SUITE_P(Types, ManagerWindowPlay, ::testing::ValuesIn(kPlayCases),
                         [](const auto& info) { return std::string(info.param.name); });
