// The main window over the engine, offscreen: start-up fills every control
// from the settings; the list commands; the idle-only answers and tool tips;
// the exit question; the transport and display commands; the skin requests.
#include "gui_test_support.h"

#include "engine/libraries/lib_mp3enc.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/lib_orvomp4dec.h"
#include "engine/libraries/lib_orvoplay.h"
#include "engine/playback/display_thread.h"
#include "engine/playback/texts_players.h"
#include "gui/aac_page.h"
#include "gui/banner.h"
#include "gui/display_view.h"
#include "gui/gui_ports.h"
#include "gui/media_page.h"
#include "gui/mp3_page.h"
#include "gui/output_manager_window.h"
#include "gui/skin_dialog.h"
#include "gui/startup_checks.h"
#include "gui/texts.h"
#include "gui/wma_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <QFileDialog>
#include <QFileSystemModel>

#include <cstdio>
#include <filesystem>
#include <sstream>

using namespace kestrel;
using namespace kestrel::gui;
using kestrel::test::WindowTest;

namespace {

QPushButton* buttonOf(MainWindow& w, int id) {
    return qobject_cast<QPushButton*>(w.control(id));
}
QSlider* sliderOf(MainWindow& w, int id) {
    return qobject_cast<QSlider*>(w.control(id));
}

} // namespace

TEST_F(WindowTest, StartFillsEveryControlFromTheSettings) {
    loadSettings(); // a fresh file with every default
    writeKey("转换文件类型", "2");
    writeKey("转换MP3音频模式", "1");
    writeKey("转换MP3恒定速率", "64");
    writeKey("转换MP3音频采样速率", "24000");
    writeKey("转换MP3编码类型", "1");
    writeKey("转换MP3音频通道数", "1");
    writeKey("转换MP3音频通道模式", "2");
    writeKey("转换MP3方式", "2");
    writeKey("转换文件保存方式", "1");
    writeKey("音频播放EXE密码控制[0：播放 1：密码播放]", "1");
    writeKey("音频播放EXE密码", "abcd");
    writeKey("转换AAC编码速率", "96000");
    writeKey("转换AAC音频通道数", "1");
    writeKey("转换AMR编码速率", "7");
    MainWindow& w = open();

    EXPECT_EQ(qobject_cast<QComboBox*>(w.control(kOutputTypeList))->currentIndex(), 2);
    EXPECT_EQ(w.statusText().toStdString(), gui::text::kWelcome);
    Mp3Page& m = *w.mp3Page();
    EXPECT_EQ(m.version->currentIndex(), 1);
    EXPECT_EQ(m.cbr->count(), 14);
    EXPECT_EQ(m.cbr->itemText(0).toStdString(), "8K bps");
    EXPECT_EQ(m.cbr->currentData().toInt(), 64);
    EXPECT_EQ(m.sampleRate->currentData().toInt(), 24000);
    EXPECT_EQ(m.rateMode->currentIndex(), 1);
    // VBR: quality, minimum and maximum only.
    EXPECT_TRUE(m.vbrQuality->isEnabled());
    EXPECT_TRUE(m.vbrMin->isEnabled());
    EXPECT_FALSE(m.cbr->isEnabled());
    EXPECT_FALSE(m.abr->isEnabled());
    EXPECT_EQ(m.channels->currentIndex(), 1);
    EXPECT_TRUE(m.monoMode->isEnabled());
    EXPECT_EQ(m.monoMode->currentIndex(), 2);
    EXPECT_EQ(m.conversionMode->currentIndex(), 2);
    EXPECT_EQ(m.saveMode->currentIndex(), 1);
    EXPECT_EQ(m.savePath->text().toStdString(), settings.save_path);
    WmaPage& x = *w.wmaPage();
    EXPECT_TRUE(x.passwordOn->isChecked());
    EXPECT_TRUE(x.password->isEnabled());
    EXPECT_EQ(x.password->text(), "abcd");
    EXPECT_TRUE(x.variableSpeed->isChecked());
    AacPage& a = *w.aacPage();
    EXPECT_EQ(a.bitRate->currentData().toInt(), 96000);
    EXPECT_EQ(a.profile->currentIndex(), 1);
    EXPECT_TRUE(a.monoMode->isEnabled());
    EXPECT_EQ(a.amrMode->currentIndex(), 7);
    // Sliders and the progress bar as the window starts them.
    EXPECT_EQ(sliderOf(w, kPositionSlider)->value(), 32000);
    EXPECT_EQ(sliderOf(w, kVolumeLeft)->maximum(), 65500);
    EXPECT_EQ(sliderOf(w, kGainRight)->value(), 40);
    auto* bar = qobject_cast<QProgressBar*>(w.control(kProgressBar));
    EXPECT_EQ(bar->maximum(), 1000);
    EXPECT_EQ(bar->value(), 500);
    // The output manager exists from the start, hidden.
    ASSERT_NE(w.outputManager(), nullptr);
    EXPECT_FALSE(w.outputManager()->isVisible());
    EXPECT_EQ(w.tabs()->count(), 4);
    EXPECT_EQ(w.tabs()->tabText(3).toStdString(), gui::text::kTabMp4);
}

TEST_F(WindowTest, StoredAmrModeEightIsKeptAndAacProfileFourSelectsTheDefault) {
    loadSettings();
    writeKey("转换AMR编码速率", "8");
    writeKey("转换AAC编码类型", "4");
    MainWindow& w = open();
    ASSERT_EQ(settings.amr_mode, 8); // the loader's ranges let them through
    ASSERT_EQ(settings.aac_profile, 4);
    AacPage& a = *w.aacPage();
    EXPECT_EQ(a.amrMode->currentIndex(), 0);
    EXPECT_EQ(a.profile->currentIndex(), 1);
    w.tabs()->setCurrentWidget(&a);
    w.show();
    // The unchanged AMR list keeps the stored mode (it encodes as the default
    // mode the list shows); a mode the user chooses replaces it.
    ASSERT_EQ(a.apply(true), 0);
    EXPECT_EQ(settings.amr_mode, 8);
    EXPECT_EQ(settings.aac_profile, 1);
    EXPECT_EQ(readKey("转换AMR编码速率"), 8);
    EXPECT_EQ(readKey("转换AAC编码类型"), 1);
    a.amrMode->setCurrentIndex(0);
    emit a.amrMode->activated(0);
    ASSERT_EQ(a.apply(true), 0);
    EXPECT_EQ(readKey("转换AMR编码速率"), 0);
}

TEST_F(WindowTest, WmaListsAreTheEncodersCodecsAndFormats) {
    // What the command line lists: "codec N: name", then "  value<TAB>description".
    const std::string listed =
        test::capture(std::string(KESTREL_BIN_DIR) + "/kestrel-cli formats wma");
    std::vector<std::string> codecs;
    std::vector<std::vector<std::string>> formats;
    std::istringstream in(listed);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("codec ", 0) == 0) {
            codecs.push_back(line.substr(line.find(": ") + 2));
            formats.emplace_back();
        } else if (!line.empty() && !formats.empty()) {
            formats.back().push_back(line.substr(2));
        }
    }
    ASSERT_EQ(codecs.size(), 2u) << listed;
    MainWindow& w = open();
    WmaPage& p = *w.wmaPage();
    ASSERT_EQ(p.codec->count(), static_cast<int>(codecs.size()));
    size_t total = 0;
    for (int c = 0; c < p.codec->count(); ++c) {
        EXPECT_EQ(p.codec->itemText(c).toStdString(), codecs[static_cast<size_t>(c)]);
        p.codec->setCurrentIndex(c);
        emit p.codec->activated(c);
        // A new codec starts on its first format.
        EXPECT_EQ(p.format->currentIndex(), 0);
        std::vector<std::string> shown;
        for (int f = 0; f < p.format->count(); ++f)
            shown.push_back(std::to_string(p.format->itemData(f).toInt()) + "\t" +
                            p.format->itemText(f).toStdString());
        EXPECT_EQ(shown, formats[static_cast<size_t>(c)]);
        total += shown.size();
    }
    EXPECT_EQ(total, 34u);
    // A chosen format is what the page applies.
    w.tabs()->setCurrentWidget(&p);
    w.show();
    p.format->setCurrentIndex(5);
    emit p.format->activated(5);
    ASSERT_EQ(p.apply(false), 0);
    EXPECT_EQ(settings.wma_codec, 1);
    EXPECT_EQ(settings.wma_format, 5);
}

TEST_F(WindowTest, WmaPageShowsTheStoredChoiceAndAnUnchangedPageAppliesItUnchanged) {
    struct Case {
        int codec, format;
        int shownCodec;  // -1: no item stands for it
        int shownFormat; // the selected item's code, -1 none
    } cases[] = {
        {0, 0, 0, 0},     {1, 3, 1, 3},   {0, 5003, 0, 3}, // a VBR code shows its format
        {1, 10002, 1, 2}, {0, 21, 0, 21}, {0, 99, 0, -1},  // no such format
        {7, 2, -1, -1},                                    // no such codec
    };
    for (const Case& c : cases) {
        writeKey("转换WMA编码类型", std::to_string(c.codec));
        writeKey("转换WMA编码参数", std::to_string(c.format));
        MainWindow& w = open();
        WmaPage& p = *w.wmaPage();
        EXPECT_EQ(p.codec->currentIndex(), c.shownCodec) << c.codec << "/" << c.format;
        EXPECT_EQ(p.format->currentIndex() < 0 ? -1 : p.format->currentData().toInt(),
                  c.shownFormat)
            << c.codec << "/" << c.format;
        w.tabs()->setCurrentWidget(&p);
        w.show();
        w.saveCommand();
        EXPECT_EQ(readKey("转换WMA编码类型"), c.codec);
        EXPECT_EQ(readKey("转换WMA编码参数"), c.format);
        window.reset();
    }
}

TEST_F(WindowTest, AddDialogStartsOnEveryTypeAndTakesSeveralFiles) {
    test::TempDir folder;
    for (const char* n : {"song.mp3", "film.VOB", "clip.3gp", "notes.txt", "tone.amr"})
        std::fclose(std::fopen((folder.path() + "/" + n).c_str(), "wb"));
    MainWindow& w = open();
    std::unique_ptr<QFileDialog> d(makeAddDialog(&w));
    EXPECT_EQ(d->fileMode(), QFileDialog::ExistingFiles);
    EXPECT_TRUE(d->nameFilters().first().startsWith(d->selectedNameFilter()));
    // Every pattern of the list's types is in the first filter, the family
    // filters follow, all files last.
    EXPECT_EQ(d->nameFilters().size(), 13);
    EXPECT_TRUE(d->nameFilters().last().endsWith("(*)"));
    d->setOption(QFileDialog::DontUseNativeDialog);
    d->setDirectory(QString::fromStdString(folder.path()));
    d->show();
    auto* model = d->findChild<QFileSystemModel*>();
    ASSERT_NE(model, nullptr);
    const QModelIndex root = model->index(QString::fromStdString(folder.path()));
    QStringList listed;
    auto shown = [&] {
        listed.clear();
        for (int i = 0; i < model->rowCount(root); ++i)
            listed << model->index(i, 0, root).data().toString();
        listed.sort();
        return listed.size() >= 4;
    };
    test::processUntil(shown, 10);
    EXPECT_EQ(listed, QStringList({"clip.3gp", "film.VOB", "song.mp3", "tone.amr"}));
}

TEST_F(WindowTest, VersionSwitchKeepsOrResetsTheRates) {
    MainWindow& w = open();
    Mp3Page& m = *w.mp3Page();
    m.cbr->setCurrentIndex(m.cbr->findData(320));
    m.sampleRate->setCurrentIndex(m.sampleRate->findData(48000));
    m.vbrMin->setCurrentIndex(m.vbrMin->findData(64));
    m.version->setCurrentIndex(1);
    EXPECT_EQ(m.cbr->currentData().toInt(), 128);
    EXPECT_EQ(m.sampleRate->currentData().toInt(), 22050);
    EXPECT_EQ(m.vbrMin->currentData().toInt(), 64); // MPEG-2 has 64 too
    m.version->setCurrentIndex(0);
    EXPECT_EQ(m.sampleRate->currentData().toInt(), 44100);
    EXPECT_EQ(m.cbr->currentData().toInt(), 128);
    m.version->setCurrentIndex(2);
    EXPECT_EQ(m.sampleRate->itemText(0), "11025");
}

TEST_F(WindowTest, RateModeAndChannelsEnableTheirControls) {
    MainWindow& w = open();
    Mp3Page& m = *w.mp3Page();
    m.rateMode->setCurrentIndex(2);
    EXPECT_TRUE(m.abr->isEnabled());
    EXPECT_FALSE(m.vbrMin->isEnabled());
    EXPECT_FALSE(m.cbr->isEnabled());
    m.rateMode->setCurrentIndex(0);
    EXPECT_TRUE(m.cbr->isEnabled());
    EXPECT_FALSE(m.abr->isEnabled());
    m.channels->setCurrentIndex(0);
    EXPECT_FALSE(m.monoMode->isEnabled());
    m.channels->setCurrentIndex(1);
    EXPECT_TRUE(m.monoMode->isEnabled());
    m.takeChosenFile("/music/a.mp3");
    EXPECT_EQ(m.savePath->text(), "/music/");
}

TEST_F(WindowTest, VbrMinimumAboveMaximumRefusesAndWritesNoneOfThatPage) {
    MainWindow& w = open();
    w.show();
    for (int i = 0; i < 4; ++i)
        w.tabs()->setCurrentIndex(i);
    Mp3Page& m = *w.mp3Page();
    m.vbrMin->setCurrentIndex(m.vbrMin->findData(192));
    m.vbrMax->setCurrentIndex(m.vbrMax->findData(128));
    m.cbr->setCurrentIndex(m.cbr->findData(320));
    w.aacPage()->quality->setCurrentIndex(w.aacPage()->quality->findData(200));
    w.wmaPage()->passwordOn->setChecked(true);
    w.saveCommand();
    ASSERT_EQ(messages->entries().size(), 1u);
    EXPECT_EQ(messages->lastText(), "MP3可变速率(VBR)的最小编码速率不能大于最大编码速率");
    EXPECT_EQ(messages->entries()[0].caption, "岚石多媒体MP3转换器");
    EXPECT_EQ(readKey("转换MP3恒定速率"), 128);
    EXPECT_EQ(readKey("转换MP3可变速率最小值"), 32);
    EXPECT_EQ(settings.mp3_cbr_kbps, 128);
    // The other two pages are written.
    EXPECT_EQ(readKey("转换AAC编码质量"), 200);
    EXPECT_EQ(readKey("音频播放EXE密码控制[0：播放 1：密码播放]"), 1);
}

TEST_F(WindowTest, AbrOutsideItsRangeIsRefused) {
    MainWindow& w = open();
    w.tabs()->setCurrentIndex(1);
    w.show();
    w.mp3Page()->abr->setText("500");
    EXPECT_LT(w.mp3Page()->apply(false), 0);
    EXPECT_EQ(messages->entries().size(), 1u);
    w.mp3Page()->abr->setText("200");
    EXPECT_EQ(w.mp3Page()->apply(false), 0);
    EXPECT_EQ(settings.mp3_abr_kbps, 200);
}

TEST_F(WindowTest, APageNeverShownWritesNothing) {
    MainWindow& w = open();
    w.show(); // the list page only
    // Held values differ from the file, as a page's apply would leave them.
    settings.aac_quality = 300;
    settings.mp3_cbr_kbps = 320;
    w.aacPage()->quality->setCurrentIndex(w.aacPage()->quality->findData(200));
    w.saveCommand();
    EXPECT_EQ(readKey("转换AAC编码质量"), 100);
    EXPECT_EQ(readKey("转换MP3恒定速率"), 128);
    EXPECT_EQ(settings.aac_quality, 300);
    EXPECT_TRUE(messages->entries().empty());
}

TEST_F(WindowTest, SaveMakesTheSoundSwitchFollowTheConversionMode) {
    MainWindow& w = open();
    w.tabs()->setCurrentIndex(1);
    w.show();
    w.mp3Page()->conversionMode->setCurrentIndex(2);
    w.saveCommand();
    EXPECT_FALSE(sound_on.load());
    EXPECT_TRUE(buttonOf(w, kSoundSwitch)->isChecked());
    EXPECT_EQ(readKey("转换MP3方式"), 2);
    w.mp3Page()->conversionMode->setCurrentIndex(0);
    w.saveCommand();
    EXPECT_TRUE(sound_on.load());
    EXPECT_FALSE(buttonOf(w, kSoundSwitch)->isChecked());
}

// The start ends (the program with status 1) with the message of a missing
// sound device, or of the first start-up library that cannot be loaded.
TEST(WindowStart, EndsWithTheMessageOfAMissingDeviceOrLibrary) {
    namespace fs = std::filesystem;
    test::RecordingMessages msgs;
    struct Case {
        const char* driver;
        const char* removed; // the library taken out of the program's folder
        const char* message;
    };
    const Case cases[] = {
        {"dummy", nullptr, nullptr},
        {"no-such-driver", nullptr, "无声卡，或检测声卡失败，程序无法运行"},
        {"dummy", "orvomp4dec.so", "orvomp4dec.so"},
        {"dummy", "mxscan.so", "mxscan.so"},
        {"dummy", "orvoplay.so", "orvoplay.so"},
        {"dummy", "mp3enc.so", "mp3enc.so"},
    };
    const char* driverBefore = std::getenv("SDL_AUDIODRIVER");
    const std::string driverKept = driverBefore ? driverBefore : "";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.removed ? c.removed : c.driver);
        test::TempDir folder;
        for (const auto& f : fs::directory_iterator(KESTREL_BIN_DIR))
            if (f.path().extension() == ".so" &&
                f.path().filename() != (c.removed ? c.removed : ""))
                fs::create_symlink(f.path(), folder.file(f.path().filename().string()));
        setLibraryFolder(folder.path());
        setenv("SDL_AUDIODRIVER", c.driver, 1);
        msgs.clear();
        const int rc = checkStart();
        EXPECT_EQ(rc, c.message ? -1 : 0);
        if (c.message) {
            EXPECT_NE(msgs.lastText().find(c.message), std::string::npos) << msgs.lastText();
        } else {
            EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
            EXPECT_TRUE(mp3encLoaded());
        }
        unloadMp3enc();
        unloadOrvoplay();
        unloadMxscan();
        if (rc == 0 || (c.removed && std::string(c.removed) != "orvomp4dec.so")) unloadOrvomp4dec();
    }
    setLibraryFolder("");
    if (driverBefore)
        setenv("SDL_AUDIODRIVER", driverKept.c_str(), 1);
    else
        unsetenv("SDL_AUDIODRIVER");
}

// The files of the command line (an "Open with" of the desktop gives paths or
// file URLs): each is added as a drop adds it, with the same refusals.
TEST_F(WindowTest, CommandLineFilesAreAddedAsDropsAre) {
    const std::string a = test::fixture("dec_l3_44_stereo.mp3");
    const std::string b = test::fixture("dec_l3_11_cbr.mp3");
    if (!test::haveFixture("dec_l3_11_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    MainWindow& w = open();
    w.openFiles({QString::fromStdString(a),
                 QUrl::fromLocalFile(QString::fromStdString(b)).toString(),
                 QString::fromStdString(a)});
    QTreeWidget* list = w.mediaPage()->list;
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), absolutePath(a));
    EXPECT_EQ(list->topLevelItem(1)->text(1).toStdString(), absolutePath(b));
    EXPECT_EQ(messages->lastText(), "多媒体文件已在列表中存在");
}

TEST_F(WindowTest, DropAddsOnlyTheFirstFileAndDeleteAndSaveKeepTheList) {
    const std::string a = test::fixture("dec_l3_44_stereo.mp3");
    const std::string b = test::fixture("dec_l3_11_cbr.mp3");
    if (!test::haveFixture("dec_l3_44_stereo.mp3")) GTEST_SKIP() << "no fixtures";
    MainWindow& w = open();
    w.dropFiles({"x", QString::fromStdString(a), QString::fromStdString(b)});
    ASSERT_EQ(mediaList.rows.size(), 1u);
    QTreeWidget* list = w.mediaPage()->list;
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), absolutePath(a));
    EXPECT_EQ(list->topLevelItem(0)->text(3), "MP3");
    EXPECT_EQ(list->headerItem()->text(7).toStdString(), "其它");
    // A path already listed is refused with its message.
    w.dropFiles({QString::fromStdString(a)});
    EXPECT_EQ(mediaList.rows.size(), 1u);
    EXPECT_EQ(messages->lastText(), "多媒体文件已在列表中存在");
    w.dropFiles({QString::fromStdString(b)});
    ASSERT_EQ(list->topLevelItemCount(), 2);
    // Delete without a selection: the message; with one: that row.
    messages->clear();
    w.deleteCommand();
    EXPECT_EQ(messages->lastText(), "没有选择删除的多媒体文件记录");
    list->topLevelItem(0)->setSelected(true);
    w.deleteCommand();
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), absolutePath(b));
    w.saveCommand();
    resetMediaList();
    loadMediaList();
    ASSERT_EQ(mediaList.count, 1);
    EXPECT_EQ(std::string(mediaList.records[0].path), absolutePath(b));
}

TEST_F(WindowTest, SwitchesAndEffectsAnswerOnlyWithStatusTextsWhileIdle) {
    MainWindow& w = open();
    QPushButton* sound = buttonOf(w, kSoundSwitch);
    sound->click();
    EXPECT_EQ(w.statusText().toStdString(), kestrel::text::kSoundSwitchIdle);
    EXPECT_FALSE(sound->isChecked());
    EXPECT_TRUE(sound_on.load());
    QPushButton* disp = buttonOf(w, kDisplaySwitch);
    disp->click();
    EXPECT_EQ(w.statusText().toStdString(), kestrel::text::kDisplaySwitchIdle);
    EXPECT_FALSE(disp->isChecked());
    buttonOf(w, kEffectsButton)->click();
    EXPECT_EQ(w.statusText().toStdString(), kestrel::text::kEffectsIdle);
    // While something runs the switches switch.
    running = true;
    sound->click();
    EXPECT_TRUE(sound->isChecked());
    EXPECT_FALSE(sound_on.load());
    disp->click();
    EXPECT_FALSE(display_on.load());
    sound->click();
    disp->click();
    EXPECT_TRUE(sound_on.load());
    EXPECT_TRUE(display_on.load());
}

TEST_F(WindowTest, ToolTipsShowOnlyWhileIdle) {
    MainWindow& w = open();
    w.show();
    QPushButton* play = buttonOf(w, kPlayButton);
    EXPECT_EQ(play->toolTip().toStdString(), gui::text::kTipPlay);
    QHelpEvent idleTip(QEvent::ToolTip, QPoint(2, 2), play->mapToGlobal(QPoint(2, 2)));
    EXPECT_FALSE(w.eventFilter(play, &idleTip));
    running = true;
    QHelpEvent busyTip(QEvent::ToolTip, QPoint(2, 2), play->mapToGlobal(QPoint(2, 2)));
    EXPECT_TRUE(w.eventFilter(play, &busyTip));
    EXPECT_TRUE(w.eventFilter(w.control(kPositionSlider), &busyTip));
}

TEST_F(WindowTest, ExitAsksWhileRunningAndNoLeavesItRunning) {
    MainWindow& w = open();
    w.show();
    running = true;
    messages->answer = MsgAnswer::No;
    EXPECT_FALSE(w.exitCommand());
    ASSERT_EQ(messages->entries().size(), 1u);
    EXPECT_EQ(messages->lastText(), "岚石多媒体MP3转换器正在运行，是否退出");
    EXPECT_EQ(messages->entries()[0].caption, "岚石多媒体MP3转换器 标准版");
    EXPECT_TRUE(running.load());
    EXPECT_TRUE(w.isVisible());
    messages->answer = MsgAnswer::Yes;
    EXPECT_TRUE(w.exitCommand());
    EXPECT_FALSE(running.load());
    EXPECT_FALSE(w.isVisible());
    // Without a conversion started, no page is opened at exit.
    EXPECT_TRUE(opened.empty());
}

TEST_F(WindowTest, ExitWhileIdleAsksNothing) {
    MainWindow& w = open();
    w.show();
    EXPECT_TRUE(w.exitCommand());
    EXPECT_TRUE(messages->entries().empty());
}

TEST_F(WindowTest, PositionSliderSeeksAndPauseRecordingFlipsWriting) {
    MainWindow& w = open();
    running = true;
    converting = true;
    QSlider* pos = sliderOf(w, kPositionSlider);
    emit pos->sliderPressed();
    pos->setValue(37);
    emit pos->sliderMoved(37);
    EXPECT_TRUE(seek_dragging.load());
    // While dragged, the workers' positions do not move the slider.
    w.setPos(kPositionSlider, 5);
    EXPECT_EQ(pos->value(), 37);
    emit pos->sliderReleased();
    EXPECT_EQ(seek_request.load(), 137);
    w.setPos(kPositionSlider, 5);
    EXPECT_EQ(pos->value(), 5);
    seek_request = 0;
    buttonOf(w, kPauseRecordButton)->setEnabled(true);
    buttonOf(w, kPauseRecordButton)->click();
    EXPECT_FALSE(converting.load());
    buttonOf(w, kPauseRecordButton)->click();
    EXPECT_TRUE(converting.load());
    buttonOf(w, kPauseButton)->click();
    EXPECT_TRUE(paused.load());
    buttonOf(w, kStopButton)->click();
    EXPECT_FALSE(running.load());
}

TEST_F(WindowTest, GainSlidersSetTheEncodeGains) {
    MainWindow& w = open();
    sliderOf(w, kGainLeft)->setValue(80);
    EXPECT_NEAR(gain_left.load(), std::pow(10.0, 1.0), 1e-9);
    sliderOf(w, kGainLeft)->setValue(40);
    EXPECT_EQ(gain_left.load(), 1.0);
    w.notify(kNotifyClock, 3725);
    EXPECT_EQ(w.clockText(), "01:02:05");
}

TEST_F(WindowTest, OutputTypeListSetsTheTypeWithoutWritingIt) {
    MainWindow& w = open();
    auto* list = qobject_cast<QComboBox*>(w.control(kOutputTypeList));
    ASSERT_EQ(list->count(), 10);
    EXPECT_EQ(list->itemText(8).toStdString(), "生成FLASH的FLV文件");
    list->setCurrentIndex(3);
    emit list->activated(3);
    EXPECT_EQ(settings.output_type, 3);
    EXPECT_EQ(readKey("转换文件类型"), 1);
}

TEST_F(WindowTest, ZoomButtonsStayWithinOneToTen) {
    MainWindow& w = open();
    spectrum_zoom = 1;
    for (int i = 0; i < 14; ++i)
        buttonOf(w, kWidenButton)->click();
    EXPECT_EQ(spectrum_zoom.load(), 10);
    for (int i = 0; i < 14; ++i)
        buttonOf(w, kNarrowButton)->click();
    EXPECT_EQ(spectrum_zoom.load(), 1);
}

TEST_F(WindowTest, DisplayStyleButtonWritesItsKeyAtOnce) {
    MainWindow& w = open();
    ASSERT_EQ(settings.display_mode, 1);
    for (int expect : {2, 3, 4, 1}) {
        buttonOf(w, kDisplayStyleButton)->click();
        EXPECT_EQ(settings.display_mode, expect);
        EXPECT_EQ(readKey("界面显示"), expect);
    }
}

TEST_F(WindowTest, TitleBarRequestsAndTheSkinDialog) {
    MainWindow& w = open();
    w.show();
    w.notify(kNotifyTitleBar, 2);
    EXPECT_TRUE(w.skinDialog()->isVisible());
    EXPECT_DOUBLE_EQ(w.skinDialog()->windowOpacity(), 1.0);
    // A colour button sets the colour at once.
    w.skinDialog()->colourButtons[1]->click();
    EXPECT_EQ(settings.skin_colour, 0x205C08);
    // The opacity slider: released at 200 the main window takes it.
    QSlider* o = w.skinDialog()->opacity;
    o->setValue(200);
    emit o->sliderMoved(200);
    EXPECT_NEAR(w.skinDialog()->windowOpacity(), 200 / 255.0, 0.01);
    emit o->sliderReleased();
    EXPECT_EQ(settings.window_alpha, 200);
    EXPECT_NEAR(w.windowOpacity(), 200 / 255.0, 0.01);
    EXPECT_DOUBLE_EQ(w.skinDialog()->windowOpacity(), 1.0);
    o->setValue(254);
    emit o->sliderReleased();
    EXPECT_DOUBLE_EQ(w.windowOpacity(), 1.0);
    w.skinDialog()->titleStyle->click();
    EXPECT_EQ(settings.title_style, 1);
    for (int i = 0; i < 7; ++i)
        w.skinDialog()->borderStyle->click();
    EXPECT_EQ(settings.border_style, 0);
    w.skinDialog()->save->click();
    EXPECT_FALSE(w.skinDialog()->isVisible());
    EXPECT_EQ(readKey("软件界面颜色"), 0x085C20);
    EXPECT_EQ(readKey("主窗口透明度"), 254);
    w.notify(kNotifyTitleBar, 4);
    EXPECT_TRUE(w.skinDialog()->isVisible());
    w.notify(kNotifyTitleBar, 4);
    EXPECT_FALSE(w.skinDialog()->isVisible());
    w.notify(kNotifyTitleBar, 1);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(WindowTest, StoredOpacityIsNotAppliedAtStart) {
    loadSettings();
    writeKey("主窗口透明度", "200");
    MainWindow& w = open();
    EXPECT_EQ(settings.window_alpha, 200);
    EXPECT_DOUBLE_EQ(w.windowOpacity(), 1.0);
}

TEST_F(WindowTest, WmaEncodingWindowFollowsItsNotification) {
    MainWindow& w = open();
    w.show();
    w.notify(kNotifyWmaProgress, 0);
    EXPECT_TRUE(w.wmaDialog()->isVisible());
    EXPECT_EQ(w.wmaDialog()->windowTitle().toStdString(), "WMA编码");
    w.notify(kNotifyWmaProgress, 1);
    EXPECT_FALSE(w.wmaDialog()->isVisible());
}

// A worker's WMA progress: the dialog shows at the start, its bar then takes
// each percentage (the dialog stays up), and it hides at the end.
TEST_F(WindowTest, WmaEncodingDialogBarTakesTheWorkersPercentages) {
    MainWindow& w = open();
    w.show();
    std::thread worker([] {
        kestrel::window().wmaProgress(0);
        kestrel::window().wmaProgress(37);
    });
    worker.join();
    ASSERT_TRUE(test::processUntil([&] { return w.wmaProgressBar()->value() == 37; }, 5));
    EXPECT_TRUE(w.wmaDialog()->isVisible());
    EXPECT_EQ(w.wmaProgressBar()->minimum(), 0);
    EXPECT_EQ(w.wmaProgressBar()->maximum(), 100);
    kestrel::window().wmaProgress(100);
    test::processUntil([&] { return !w.wmaDialog()->isVisible(); }, 5);
    EXPECT_FALSE(w.wmaDialog()->isVisible());
}

// The Windows Media reader's end of a file, from its own thread, puts the
// reader's end-of-playback message on the status line.
TEST_F(WindowTest, WindowsMediaEndShowsItsEndOfPlaybackMessage) {
    MainWindow& w = open();
    std::thread worker([] { kestrel::window().wmPlaybackEnded(); });
    worker.join();
    const QString ended = QString::fromUtf8("播放结束，请选择其它功能");
    EXPECT_TRUE(test::processUntil([&] { return w.statusText() == ended; }, 5));
    // Only the reader's own value carries that meaning.
    w.setText(kStatusLine, "x");
    w.notify(kNotifyWmEnded, 98);
    EXPECT_EQ(w.statusText().toStdString(), "x");
}

TEST_F(WindowTest, WorkerEventsReachTheControlsOnTheWindowThread) {
    MainWindow& w = open();
    std::thread worker([] {
        kestrel::window().statusText("工作中");
        kestrel::window().progress(3, 10);
        kestrel::window().busy(Command::Stop | Command::PauseRecord);
    });
    worker.join();
    // Nothing is touched from the worker: the events wait for the window.
    EXPECT_EQ(w.statusText().toStdString(), gui::text::kWelcome);
    test::processUntil([&] { return w.statusText() == QString::fromUtf8("工作中"); });
    auto* bar = qobject_cast<QProgressBar*>(w.control(kProgressBar));
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), 3);
    EXPECT_FALSE(w.control(kConvertButton)->isEnabled());
    EXPECT_TRUE(w.control(kStopButton)->isEnabled());
    EXPECT_TRUE(w.control(kPauseRecordButton)->isEnabled());
}

// The banner's background has the display's look: in mode 1 it falls from
// left to right, in mode 2 it rises.
TEST(Banner, TheBackgroundFollowsTheDisplayMode) {
    test::qtApp();
    Banner b;
    b.resize(200, 60);
    const SkinColours c = skinColours(0x5C5C0C);
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        b.setColours(c, mode);
        const QImage img = b.grab().toImage();
        const int left = qGray(img.pixel(3, 1)), right = qGray(img.pixel(196, 1));
        if (mode == 1)
            EXPECT_GT(left, right);
        else
            EXPECT_LT(left, right);
    }
}

TEST(Banner, PhasesAdvanceAndTheLookChangesAfterPhaseSix) {
    BannerState b;
    for (int i = 0; i < 30; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 2);
    EXPECT_EQ(b.ticks, 0);
    QPoint p = b.advance(200, 60);
    EXPECT_EQ(p, QPoint(2, 60 - 60 / 25));
    for (int i = 1; i < 30; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 3);
    p = b.advance(200, 60);
    EXPECT_EQ(p, QPoint(198, 2));
    for (int i = 1; i < 105; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 4);
    for (int i = 0; i < 105; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 5);
    for (int i = 0; i < 105; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 6);
    EXPECT_EQ(b.look, 2);
    for (int i = 0; i < 105; ++i)
        b.advance(200, 60);
    EXPECT_EQ(b.phase, 1);
    EXPECT_EQ(b.look, 3);
}

TEST_F(WindowTest, AWorkersMessageDoesNotWaitForTheWindow) {
    MainWindow& w = open();
    GuiMessagePort port(&w);
    std::thread worker([&] {
        EXPECT_EQ(port.show("标题", "工作线程的消息", MsgButtons::Ok, MsgAnswer::Ok),
                  MsgAnswer::Ok);
    });
    worker.join(); // returns although the window has not shown the box yet
    QString shown;
    QTimer::singleShot(20, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            box->accept();
        }
    });
    test::processUntil([&] { return !shown.isEmpty(); }, 5);
    EXPECT_EQ(shown, QString::fromUtf8("工作线程的消息"));
}

TEST_F(WindowTest, HelpAndLinkButtonsOpenTheHelpPages) {
    MainWindow& w = open();
    buttonOf(w, kHelpButton)->click();
    buttonOf(w, kContactLink)->click();
    buttonOf(w, kSupportLink)->click();
    ASSERT_EQ(opened.size(), 3u);
    EXPECT_EQ(opened[0], "index.html");
    EXPECT_EQ(opened[1], "contact.html");
    EXPECT_EQ(opened[2], "update.html");
    EXPECT_EQ(buttonOf(w, kHelpButton)->toolTip().toStdString(), "打开帮助文件");
}
