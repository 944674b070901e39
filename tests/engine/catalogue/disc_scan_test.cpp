#include "engine/catalogue/disc_scan.h"
#include "engine/catalogue/media_list.h"
#include "engine/catalogue/texts.h"
#include "platform/mounts.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace kestrel;
namespace fs = std::filesystem;

namespace {

// Folders laid out like a VCD and a DVD, announced as mounted optical file
// systems through a mount table of the test's own.
class DiscScan : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::haveFixture("mpeg_vcd.mpg") || !test::haveFixture("mpeg_dvd.vob"))
            GTEST_SKIP() << "fixtures missing";
        resetMediaList();
        setLibraryFolder(KESTREL_BIN_DIR);
        vcd = dir.file("media/VCD 1");
        dvd = dir.file("media/dvd");
        fs::create_directories(vcd + "/MPEGAV");
        fs::create_directories(vcd + "/SEGMENT");
        fs::create_directories(dvd + "/VIDEO_TS");
        const auto ps = test::readFile(test::fixture("mpeg_vcd.mpg"));
        test::writeFile(vcd + "/MPEGAV/AVSEQ02.DAT", test::cdxaTrack(ps));
        test::writeFile(vcd + "/MPEGAV/avseq01.dat", test::cdxaTrack(ps));
        test::writeFile(vcd + "/MPEGAV/README.TXT", std::string(2000, 'x'));
        fs::copy_file(test::fixture("mpeg_dvd.vob"), dvd + "/VIDEO_TS/VTS_01_1.VOB");
        test::writeFile(dvd + "/VIDEO_TS/VIDEO_TS.IFO", std::string(2000, 'x'));
        table = dir.file("mounts");
        setDiscs(true);
        setenv("KESTREL_MOUNT_TABLE", table.c_str(), 1);
    }
    void TearDown() override { unsetenv("KESTREL_MOUNT_TABLE"); }
    void setDiscs(bool inserted) {
        std::string t = "/dev/sda1 / ext4 rw 0 0\n";
        if (inserted) {
            std::string escaped = vcd;
            escaped.replace(escaped.find(' '), 1, "\\040");
            t += "/dev/sr0 " + escaped + " iso9660 ro 0 0\n";
            t += "/dev/sr1 " + dvd + " udf ro 0 0\n";
        }
        test::writeFile(table, t);
    }
    std::string storedFile(const std::string& name) {
        const std::string p = dir.file(name);
        fs::copy_file(test::fixture("mpeg_vcd.mpg"), p);
        return p;
    }
    test::TempDir dir;
    test::RecordingMessages msgs;
    std::string vcd, dvd, table;
};

} // namespace

TEST(OpticalMounts, OnlyOpticalFileSystemsInTableOrder) {
    const auto points = parseOpticalMounts("proc /proc proc rw 0 0\n"
                                           "/dev/sr1 /media/b\\040disc udf ro 0 0\n"
                                           "/dev/sda1 /home ext4 rw 0 0\n"
                                           "/dev/sr0 /media/a/ iso9660 ro 0 0\n"
                                           "/dev/sr1 /media/b\\040disc udf ro 0 0\n"
                                           "garbage\n");
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[0], "/media/b disc");
    EXPECT_EQ(points[1], "/media/a");
}

TEST_F(DiscScan, StartUpListsDiscTracksFirstThenStoredRecords) {
    const std::string a = storedFile("a.mpg"), b = storedFile("b.mpg");
    ASSERT_EQ(addMediaFile(a), 0);
    ASSERT_EQ(addMediaFile(b), 0);
    const std::string list = dir.file("mpginfo.dat");
    ASSERT_GE(saveMediaListTo(list), 0);
    resetMediaList();

    EXPECT_EQ(scanDiscs(), 3);
    ASSERT_GE(loadMediaListFrom(list), 0);
    ASSERT_EQ(mediaList.rows.size(), 5u);
    const char* types[] = {"VCD", "VCD", "DVD", "MPEG1/2 PS", "MPEG1/2 PS"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(mediaList.rows[i].serial, i);
        EXPECT_EQ(mediaList.rows[i].columns[0], std::to_string(i));
        EXPECT_EQ(mediaList.rows[i].columns[3], types[i]) << i;
    }
    // Tracks in their numbered order, whatever case the disc writes.
    EXPECT_EQ(mediaList.rows[0].columns[1], vcd + "/MPEGAV/avseq01.dat");
    EXPECT_EQ(mediaList.rows[1].columns[1], vcd + "/MPEGAV/AVSEQ02.DAT");
    EXPECT_EQ(mediaList.rows[2].columns[1], dvd + "/VIDEO_TS/VTS_01_1.VOB");
    EXPECT_GT(std::stoi(mediaList.rows[0].columns[4]), 0);
    EXPECT_EQ(mediaList.count, 2);
    EXPECT_EQ(recordForSerial(0), nullptr); // a disc row has no record

    // Disc rows never reach the list file.
    const std::string again = dir.file("again.dat");
    ASSERT_GE(saveMediaListTo(again), 0);
    resetMediaList();
    ASSERT_EQ(loadMediaListFrom(again), 2);
    EXPECT_EQ(mediaList.rows[0].columns[1], a);
    EXPECT_EQ(mediaList.rows[1].columns[1], b);
}

TEST_F(DiscScan, RefreshAfterTheDiscIsGoneAndAFileWasDeleted) {
    const std::string a = storedFile("a.mpg"), b = storedFile("b.mpg");
    scanDiscs();
    ASSERT_EQ(addMediaFile(a), 0);
    ASSERT_EQ(addMediaFile(b), 0);
    ASSERT_EQ(mediaList.rows.size(), 5u);
    EXPECT_EQ(mediaList.rows[4].serial, 4);

    setDiscs(false);
    fs::remove(a);
    EXPECT_EQ(refreshMediaList(), 1);
    ASSERT_EQ(mediaList.count, 1);
    EXPECT_EQ(mediaList.rows[0].serial, 0);
    EXPECT_EQ(mediaList.rows[0].columns[1], b);
    EXPECT_EQ(mediaList.records[0].serial, 0);
    EXPECT_NE(recordForSerial(0), nullptr);

    const std::string list = dir.file("after.dat");
    ASSERT_GE(saveMediaListTo(list), 0);
    resetMediaList();
    ASSERT_EQ(loadMediaListFrom(list), 1);
    EXPECT_EQ(mediaList.rows[0].columns[1], b);

    // The disc comes back: its rows come first again, numbered from 0.
    setDiscs(true);
    EXPECT_EQ(refreshMediaList(), 4);
    EXPECT_EQ(mediaList.rows[3].columns[1], b);
    EXPECT_EQ(mediaList.rows[3].serial, 3);
}

TEST_F(DiscScan, AddingAFileFromADiscIsRefused) {
    EXPECT_EQ(addMediaFile(dvd + "/VIDEO_TS/VTS_01_1.VOB"), -1);
    EXPECT_EQ(msgs.lastText(), text::kOpticalDriveFile);
    EXPECT_EQ(mediaList.count, 0);
    EXPECT_FALSE(isOnOpticalDisc(dvd + "x/file.vob"));
    EXPECT_TRUE(isOnOpticalDisc(vcd + "/MPEGAV/AVSEQ02.DAT"));
}

TEST_F(DiscScan, UnreadableDiscFilesAreSkippedAfterTheirMessage) {
    test::writeFile(vcd + "/MPEGAV/AVSEQ03.DAT", std::string(5000, '\0'));
    EXPECT_EQ(scanDiscs(), 3);
    EXPECT_FALSE(msgs.entries().empty());
}
