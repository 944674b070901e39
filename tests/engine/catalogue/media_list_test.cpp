#include "engine/catalogue/media_list.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace kestrel;

namespace {

MediaRecord makeRecord(const std::string& path, const char* type, int kind, double rate) {
    MediaRecord r = emptyRecord();
    setField(r.path, sizeof r.path, path.c_str());
    setField(r.typeName, sizeof r.typeName, type);
    r.kind = kind;
    r.sampleRate = rate;
    r.channels = 2;
    r.fileSize = 2000;
    r.durationSec = 12;
    return r;
}

class MediaListTest : public ::testing::Test {
  protected:
    void SetUp() override { resetMediaList(); }
    std::string bigFile(const std::string& name, size_t size = 1001) {
        std::string p = dir.file(name);
        test::writeFile(p, std::string(size, 'x'));
        return p;
    }
    test::TempDir dir;
    test::RecordingMessages msgs;
};

} // namespace

TEST_F(MediaListTest, ColumnTextsAndIcons) {
    auto r = makeRecord("/m/a.rmvb", "RM/RMVB", 6000, 22050.5);
    r.serial = 7;
    auto c = columnTexts(r);
    EXPECT_EQ(c[0], "7");
    EXPECT_EQ(c[1], "/m/a.rmvb");
    EXPECT_EQ(c[2], "2000");
    EXPECT_EQ(c[3], "RM/RMVB");
    EXPECT_EQ(c[4], "12");
    EXPECT_EQ(c[5], "22050");
    EXPECT_EQ(c[6], "2");
    EXPECT_EQ(c[7], "6000");
    EXPECT_EQ(iconFor("RM/RMVB"), 3);
    EXPECT_EQ(iconFor("ASF/WMA/WMV"), 1);
    EXPECT_EQ(iconFor("MOV/QT"), 2);
    EXPECT_EQ(iconFor("MP3"), 0);
}

TEST_F(MediaListTest, SaveLoadRoundTripIsByteCompatible) {
    std::string a = bigFile("a.mpg"), b = bigFile("b.mpg"), small = bigFile("small.mpg", 1000);
    ASSERT_EQ(appendRecord(makeRecord(a, "MPEG1/2 PS", 6, 44100)), 0);
    ASSERT_EQ(appendRecord(makeRecord(small, "MP3", 10, 44100)), 0);
    ASSERT_EQ(appendRecord(makeRecord("/nonexistent/x.mpg", "MP3", 10, 44100)), 0);
    ASSERT_EQ(appendRecord(makeRecord(b, "MPEG2 TS", 3, 48000)), 0);
    std::string file = dir.file("mpginfo.dat");
    ASSERT_EQ(saveMediaListTo(file), 0);
    auto bytes = test::readFile(file);
    ASSERT_EQ(bytes.size(), 4u + 4 * 752);
    int32_t n;
    std::memcpy(&n, bytes.data(), 4);
    EXPECT_EQ(n, 4);
    // Record 3 (b) at 4 + 3*752: serial, path at +4, sampleRate at +528, kind at +556.
    const uint8_t* r3 = bytes.data() + 4 + 3 * 752;
    int32_t serial, kind;
    double rate;
    std::memcpy(&serial, r3, 4);
    std::memcpy(&rate, r3 + 528, 8);
    std::memcpy(&kind, r3 + 556, 4);
    EXPECT_EQ(serial, 3);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(kind, 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(r3 + 4), b.c_str());
    EXPECT_STREQ(reinterpret_cast<const char*>(r3 + 720), "MPEG2 TS");

    // Loading drops the missing file and the one of exactly 1000 bytes.
    resetMediaList();
    mediaList.serialCounter = 5; // serials continue from the counter
    EXPECT_EQ(loadMediaListFrom(file), 2);
    ASSERT_EQ(mediaList.rows.size(), 2u);
    EXPECT_EQ(mediaList.rows[0].columns[1], a);
    EXPECT_EQ(mediaList.records[0].serial, 5);
    EXPECT_EQ(mediaList.rows[1].columns[0], "6");
    EXPECT_EQ(mediaList.rows[1].itemData, 7);

    // Records of missing files vanish from the file at the next save.
    ASSERT_EQ(saveMediaListTo(file), 0);
    EXPECT_EQ(test::readFile(file).size(), 4u + 2 * 752);
}

TEST_F(MediaListTest, EmptyAndShortListFiles) {
    std::string file = dir.file("mpginfo.dat");
    EXPECT_EQ(loadMediaListFrom(file), 0); // missing file: empty list
    test::writeFile(file, std::vector<uint8_t>{0, 0, 0, 0});
    EXPECT_EQ(loadMediaListFrom(file), 0);

    // The count says 3 but only one and a half records follow.
    std::string a = bigFile("a.dat");
    MediaRecord r = makeRecord(a, "MPEG1/2 PS", 6, 44100);
    std::vector<uint8_t> bytes{3, 0, 0, 0};
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
    bytes.insert(bytes.end(), p, p + 752);
    bytes.insert(bytes.end(), p, p + 400);
    test::writeFile(file, bytes);
    resetMediaList();
    EXPECT_EQ(loadMediaListFrom(file), 1);

    // A hostile count is not trusted.
    bytes[0] = 0xff;
    bytes[1] = 0xff;
    bytes[2] = 0xff;
    bytes[3] = 0x7f;
    test::writeFile(file, bytes);
    resetMediaList();
    EXPECT_EQ(loadMediaListFrom(file), 1);

    // Every record names a missing file: empty list, and a 4-byte file after a save.
    r = makeRecord(dir.file("gone.dat"), "MPEG1/2 PS", 6, 44100);
    bytes.assign({1, 0, 0, 0});
    bytes.insert(bytes.end(), p, p + 752);
    test::writeFile(file, bytes);
    resetMediaList();
    EXPECT_EQ(loadMediaListFrom(file), 0);
    ASSERT_EQ(saveMediaListTo(file), 0);
    EXPECT_EQ(test::readFile(file).size(), 4u);
}

TEST_F(MediaListTest, CapacityIs128) {
    std::string a = bigFile("a.dat");
    for (int i = 0; i < 128; ++i)
        ASSERT_EQ(appendRecord(makeRecord(a, "MP3", 10, 44100)), 0);
    EXPECT_EQ(appendRecord(makeRecord(a, "MP3", 10, 44100)), -3);
    EXPECT_EQ(mediaList.count, 128);
    ASSERT_FALSE(msgs.entries().empty());
    EXPECT_EQ(msgs.entries().back().caption, "多媒体文件增加");

    // A file of 130 records loads the first 128.
    std::string file = dir.file("mpginfo.dat");
    ASSERT_EQ(saveMediaListTo(file), 0);
    std::vector<uint8_t> bytes = test::readFile(file);
    bytes[0] = 130;
    for (int i = 0; i < 2; ++i)
        bytes.insert(bytes.end(), bytes.begin() + 4, bytes.begin() + 756);
    test::writeFile(file, bytes);
    resetMediaList();
    EXPECT_EQ(loadMediaListFrom(file), 128);
}

TEST_F(MediaListTest, DeleteKeepsOrderAndSerials) {
    std::string a = bigFile("a.dat");
    for (int i = 0; i < 6; ++i) {
        auto r = makeRecord(a, "MP3", 10, 44100);
        r.durationSec = i;
        appendRecord(r);
    }
    EXPECT_EQ(deleteSelectedRows(), -1);
    EXPECT_EQ(msgs.lastText(), "没有选择删除的多媒体文件记录");
    EXPECT_EQ(msgs.entries().back().caption, "多媒体文件记录删除");
    mediaList.rows[1].selected = true;
    mediaList.rows[4].selected = true;
    EXPECT_EQ(deleteSelectedRows(), 2);
    ASSERT_EQ(mediaList.count, 4);
    int expect[4] = {0, 2, 3, 5};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(mediaList.records[i].serial, expect[i]);
        EXPECT_EQ(mediaList.records[i].durationSec, expect[i]);
        EXPECT_EQ(mediaList.rows[static_cast<size_t>(i)].serial, expect[i]);
    }
}

TEST_F(MediaListTest, FailedSaveKeepsTheOldFile) {
    std::string a = bigFile("a.dat");
    appendRecord(makeRecord(a, "MP3", 10, 44100));
    std::string file = dir.file("mpginfo.dat");
    ASSERT_EQ(saveMediaListTo(file), 0);
    auto before = test::readFile(file);
    appendRecord(makeRecord(a, "MP3", 10, 44100));
    // A folder that does not exist cannot take the temporary file.
    EXPECT_LT(saveMediaListTo(dir.file("missing/mpginfo.dat")), 0);
    EXPECT_NE(msgs.lastText().find("失败"), std::string::npos);
    EXPECT_EQ(test::readFile(file), before);
}

namespace {

// An MPEG audio file of the fixtures copied to `path`.
void copyMp3(const std::string& path) {
    std::filesystem::copy_file(test::fixture("mpeg_l3_cbr_44k.mp3"), path);
}

} // namespace

TEST_F(MediaListTest, AddStoresTheAbsolutePathAsTheShellNamesIt) {
    ASSERT_TRUE(makeDirectories(dir.file("music/rel")));
    copyMp3(dir.file("music/rel/song.mp3"));
    ASSERT_EQ(::symlink(dir.file("music").c_str(), dir.file("m").c_str()), 0);
    {
        test::CurrentFolder in(dir.file("m"));
        ASSERT_EQ(addMediaFile("rel/song.mp3"), 0) << msgs.lastText();
        // The same file typed again from here is a duplicate.
        EXPECT_EQ(addMediaFile("./rel//song.mp3"), -2);
    }
    // The link the user went through is kept.
    const std::string abs = dir.file("m/rel/song.mp3");
    ASSERT_EQ(mediaList.rows.size(), 1u);
    EXPECT_EQ(mediaList.rows[0].columns[1], abs);
    EXPECT_STREQ(mediaList.records[0].path, abs.c_str());

    // Loaded from another folder, the entry is still there, and a save keeps it.
    std::string file = dir.file("mpginfo.dat");
    ASSERT_EQ(saveMediaListTo(file), 0);
    test::CurrentFolder elsewhere("/");
    resetMediaList();
    EXPECT_EQ(loadMediaListFrom(file), 1);
    ASSERT_EQ(saveMediaListTo(file), 0);
    resetMediaList();
    ASSERT_EQ(loadMediaListFrom(file), 1);
    EXPECT_EQ(mediaList.rows[0].columns[1], abs);
}

TEST_F(MediaListTest, PathLongerThanTheRecordIsRefused) {
    // 3 x 170 bytes of folder names under the temporary folder: past 511.
    std::string folder = dir.path();
    for (char c : {'a', 'b', 'c'})
        folder += "/" + std::string(170, c);
    ASSERT_TRUE(makeDirectories(folder));
    std::string path = folder + "/song.mp3";
    copyMp3(path);
    ASSERT_GT(path.size(), 511u);
    EXPECT_EQ(addMediaFile(path), -1);
    EXPECT_EQ(mediaList.count, 0);
    ASSERT_FALSE(msgs.entries().empty());
    EXPECT_EQ(msgs.entries().back().caption, "多媒体文件增加");
    EXPECT_NE(msgs.lastText().find("511"), std::string::npos) << msgs.lastText();

    // A path of exactly 511 bytes still fits (folders of 200 bytes at most).
    std::string exact = dir.path();
    while (exact.size() + 1 + 200 < 511 - 10)
        exact += "/" + std::string(200, 'f');
    exact += "/" + std::string(511 - exact.size() - 1 - 4, 'g') + ".mp3";
    ASSERT_EQ(exact.size(), 511u);
    ASSERT_TRUE(makeDirectories(exact.substr(0, exact.rfind('/'))));
    copyMp3(exact);
    EXPECT_EQ(addMediaFile(exact), 0) << msgs.lastText();
    EXPECT_STREQ(mediaList.records[0].path, exact.c_str());
}

TEST_F(MediaListTest, SourcesThatAreNoMediaFilesAreRefusedByWhatTheyAre) {
    // A FIFO used to block the analysis for ever: fail instead of hanging.
    ::alarm(60);
    setLibraryFolder(KESTREL_BIN_DIR);
    std::string fifo = dir.file("pipe.mp3"), folder = dir.file("folder.mp3"),
                empty = dir.file("empty.mp3"), mpg = dir.file("pipe.mpg");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(mpg.c_str(), 0644), 0);
    ASSERT_TRUE(makeDirectories(folder));
    test::writeFile(empty, std::string());
    struct Case {
        std::string path;
        const char* says;
        int systemError = 0;
        const char* caption = nullptr; // checked when given
    } cases[] = {
        // Without sound: an FLV under the usual caption, an SWF under the
        // product's name.
        {test::fixture("flash_video_only.flv"), "没有发现音频编码信息", 0,
         "岚石多媒体MP3转换器 标准版"},
        {test::fixture("flash_video_only.swf"), "没有发现音频编码信息", 0, "岚石多媒体MP3转换器"},
        {fifo, "FIFO"},
        {mpg, "FIFO"},
        {folder, "文件夹"},
        {"/dev/null", "字符设备"},
        {empty, "空文件"},
        // The program's own text; the system's reason comes apart.
        {dir.file("missing.mp3"), "打开多媒体文件出错", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        msgs.clear();
        EXPECT_EQ(addMediaFile(c.path), -1);
        ASSERT_EQ(msgs.entries().size(), 1u);
        EXPECT_NE(msgs.lastText().find(c.says), std::string::npos) << msgs.lastText();
        EXPECT_NE(msgs.lastText().find(c.path), std::string::npos) << msgs.lastText();
        EXPECT_EQ(msgs.entries().back().systemError, c.systemError);
        if (c.caption) {
            EXPECT_EQ(msgs.entries().back().caption, c.caption);
        }
    }
    EXPECT_EQ(mediaList.count, 0);
    ::alarm(0);
}

TEST_F(MediaListTest, FilesPast4GiBKeepTheirRealSize) {
    // Real frames, then a sparse tail: 4.8 GB on the column, little on disk.
    std::string big = dir.file("big.mp3");
    copyMp3(big);
    const uint64_t size = 4800000000ull;
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(size)), 0);
    ASSERT_EQ(addMediaFile(big), 0) << msgs.lastText();
    const MediaRecord& r = mediaList.records[0];
    EXPECT_EQ(r.fileSize, 0xFFFFFFFFu); // the record's field holds what it can
    EXPECT_EQ(realFileSize(r), size);
    EXPECT_EQ(mediaList.rows[0].columns[2], "4800000000");
    EXPECT_EQ(entryFacts(mediaList.rows[0]).fileSize, size);
    // 128 kbit/s over 4.8 GB: about 300000 seconds, not the wrapped size's.
    EXPECT_GT(r.durationSec, 290000);

    // The same after the list file's round trip.
    std::string file = dir.file("mpginfo.dat");
    ASSERT_EQ(saveMediaListTo(file), 0);
    resetMediaList();
    ASSERT_EQ(loadMediaListFrom(file), 1);
    EXPECT_EQ(mediaList.rows[0].columns[2], "4800000000");
    EXPECT_EQ(entryFacts(mediaList.rows[0]).fileSize, size);
    // A record of exactly 4 GiB - 2 bytes is no saturated one.
    MediaRecord small = makeRecord(big, "MP3", 10, 44100);
    small.fileSize = 0xFFFFFFFEu;
    EXPECT_EQ(realFileSize(small), 0xFFFFFFFEu);
}
