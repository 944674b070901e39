// Playback from the window into SDL's disk driver: the play button plays the
// selected entry to its end; the sound lands in the driver's file.
#include "gui_test_support.h"

#include "engine/playback/players.h"
#include "gui/media_page.h"

#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>

using namespace kestrel;
using namespace kestrel::gui;
using kestrel::test::WindowTest;

TEST_F(WindowTest, PlayButtonPlaysTheSelectedEntryIntoTheDevice) {
    if (!test::haveFixture("dec_l3_8_cbr.mp3")) GTEST_SKIP() << "no fixtures";
    const std::string sink = home.file("sound.raw");
    // Before the device is opened for the first time in this program.
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", sink.c_str(), 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1);
    setLibraryFolder(KESTREL_BIN_DIR);
    MainWindow& w = open();
    w.show();
    w.dropFiles({QString::fromStdString(test::fixture("dec_l3_8_cbr.mp3"))});
    ASSERT_EQ(w.mediaPage()->list->topLevelItemCount(), 1);
    qobject_cast<QPushButton*>(w.control(kPlayButton))->click();
    ASSERT_TRUE(test::processUntil([] { return running.load() || !playbackActive(); }, 10));
    EXPECT_EQ(playbackResult(), 0);
    ASSERT_TRUE(test::processUntil([] { return !playbackActive(); }, 60));
    waitPlayback();
    test::processUntil([] { return false; }, 0.2);
    EXPECT_TRUE(messages->entries().empty()) << messages->lastText();
    // About four seconds at 44100 Hz, 2 channels, 16 bits.
    const auto bytes = test::readFile(sink).size();
    EXPECT_GT(bytes, 44100u * 4 * 3);
    // The status line tells the end of the playback.
    EXPECT_FALSE(w.statusText().isEmpty());
}
