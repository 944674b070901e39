#include "engine/libraries/lib_orvomp4dec.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

// Packet sizes of the first audio track by ffprobe, in sample-table order.
std::vector<int> probeSampleSizes(const std::string& file) {
    std::istringstream in(capture("ffprobe -v error -ignore_editlist 1 -select_streams a:0 "
                                  "-show_entries packet=size -of csv=p=0 '" +
                                  file + "'"));
    std::vector<int> sizes;
    for (int n; in >> n;)
        sizes.push_back(n);
    return sizes;
}

class Mp4Demuxer : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadOrvomp4dec(), 0);
    }
    void TearDown() override {
        if (orvomp4dec.mp4de_close) orvomp4dec.mp4de_close();
        unloadOrvomp4dec();
    }
    Orvomp4decApi& m = orvomp4dec;
};

TEST_F(Mp4Demuxer, TracksOfAVideoFileWithAac) {
    ASSERT_EQ(m.mp4de_init(fixture("libav_av.mp4").c_str()), 0);
    ASSERT_EQ(m.mp4_gettracknum(), 2);
    char handler[5], codec[5];
    int value = 0;
    EXPECT_EQ(m.mp4_gettrackinfo(0, handler, codec, &value), 20);
    EXPECT_STREQ(handler, "vide");
    EXPECT_STREQ(codec, "mp4v");
    EXPECT_EQ(value, 1);
    EXPECT_EQ(m.mp4_gettrackinfo(1, handler, codec, &value), 88);
    EXPECT_STREQ(handler, "soun");
    EXPECT_STREQ(codec, "mp4a");
    EXPECT_EQ(value, 2);
    EXPECT_EQ(m.mp4_gettrackinfo(2, handler, codec, &value), -1);
    EXPECT_EQ(m.mp4_gettrackinfo(-1, handler, codec, &value), -1);

    int w = 0, h = 0, frames = 0, vbr = 0;
    double vms = 0;
    char vcodec[16], fps[16];
    EXPECT_EQ(m.mp4_getvideo(&w, &h, &frames, &vbr, &vms, vcodec, fps), 20);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 120);
    EXPECT_NEAR(vms, 2000, 1);
    EXPECT_GT(vbr, 0);
    EXPECT_STREQ(vcodec, "mp4v");
    EXPECT_STREQ(fps, "10.000");

    int rate = 0, ch = 0, abr = 0;
    double ams = 0;
    ASSERT_EQ(m.mp4_getaudio(&rate, &ch, &abr, &ams), 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(ch, 2);
    EXPECT_NEAR(abr, 96000, 20000);
    EXPECT_NEAR(ams, 2000, 50);
    char name[64];
    EXPECT_GT(m.mp4_getaudioname(name), 0);
    EXPECT_STREQ(name, "MPEG-4 Audio (14496-3)");
    unsigned char cfg[1024];
    ASSERT_EQ(m.mp4_getmp4aconfig(cfg, 1024), 5); // LC, 44100 Hz, 2 channels (+ padding bits)
    EXPECT_EQ(cfg[0], 0x12);
    EXPECT_EQ(cfg[1], 0x10);
    EXPECT_EQ(m.mp4_getmp4aconfig(cfg, 1), -2);
}

TEST_F(Mp4Demuxer, AudioSamplesMatchTheSampleTable) {
    for (const char* name : {"libav_aac_lc.m4a", "libav_mp3_44k.mp4", "libav_amr.3gp"}) {
        SCOPED_TRACE(name);
        auto file = fixture(name);
        auto sizes = probeSampleSizes(file);
        ASSERT_EQ(m.mp4de_init(file.c_str()), 0);
        int largest = 0, codec = -1;
        int n = m.mp4_getaudionum(&largest, &codec);
        ASSERT_EQ(n, int(sizes.size()));
        EXPECT_EQ(largest, *std::max_element(sizes.begin(), sizes.end()));
        EXPECT_EQ(codec, std::string(name).find(".3gp") != std::string::npos ? 1 : 3);
        std::vector<unsigned char> buf(largest + 100);
        double last = -1;
        size_t total = 0;
        for (int i = 0; i < n; ++i) {
            double t = -1;
            int r = m.mp4_readaudio(i, buf.data(), int(buf.size()), &t);
            ASSERT_EQ(r, sizes[i]) << "sample " << i;
            EXPECT_GT(t, last);
            last = t;
            total += size_t(r);
        }
        EXPECT_LT(last, 2100);
        EXPECT_GT(total, 0u);
        EXPECT_EQ(m.mp4_readaudio(n, buf.data(), int(buf.size()), nullptr), -1);
        EXPECT_EQ(m.mp4_readaudio(0, buf.data(), sizes[0] - 1, nullptr), -2);
        EXPECT_EQ(m.mp4de_close(), 0);
    }
}

TEST_F(Mp4Demuxer, AudioNamesOfMpegAudioAndAmr) {
    char name[64];
    ASSERT_EQ(m.mp4de_init(fixture("libav_mp3_44k.mp4").c_str()), 0);
    m.mp4_getaudioname(name);
    EXPECT_STREQ(name, "MPEG-1 Audio (11172-3)");
    ASSERT_EQ(m.mp4de_init(fixture("libav_mp3_22k.mp4").c_str()), 0);
    m.mp4_getaudioname(name);
    EXPECT_STREQ(name, "MPEG-2 Audio (13818-3)");
    unsigned char cfg[16];
    EXPECT_EQ(m.mp4_getmp4aconfig(cfg, 16), 0);
    EXPECT_EQ(m.mp4_getvideo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), -1);

    ASSERT_EQ(m.mp4de_init(fixture("libav_amr.3gp").c_str()), 0);
    m.mp4_getaudioname(name);
    EXPECT_STREQ(name, "AMR Narrowband");
    char handler[5], codec[5];
    int value;
    m.mp4_gettrackinfo(0, handler, codec, &value);
    EXPECT_STREQ(codec, "s263");
    m.mp4_gettrackinfo(1, handler, codec, &value);
    EXPECT_STREQ(codec, "samr");
    int rate = 0, ch = 0;
    m.mp4_getaudio(&rate, &ch, nullptr, nullptr);
    EXPECT_EQ(rate, 8000);
    EXPECT_EQ(ch, 1);
}

TEST_F(Mp4Demuxer, BadFilesAreRefusedAndTruncatedReadsFail) {
    EXPECT_EQ(m.mp4de_init("/nonexistent/x.mp4"), -1);
    EXPECT_EQ(m.mp4de_init(fixture("libav_src_22k_mono.wav").c_str()), -1);
    EXPECT_EQ(m.mp4de_init(nullptr), -1);
    EXPECT_EQ(m.mp4_gettracknum(), 0);
    EXPECT_EQ(m.mp4_getaudio(nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(m.mp4_readaudio(0, nullptr, 0, nullptr), -1);

    // Index first, then cut the media data in half: the index is read, the
    // samples past the cut are not.
    TempDir tmp;
    std::string fast = tmp.file("fast.m4a");
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -i '" + fixture("libav_aac_lc.m4a") +
                  "' -c copy -movflags +faststart '" + fast + "'"),
              0);
    auto bytes = readFile(fast);
    bytes.resize(bytes.size() / 2);
    writeFile(tmp.file("cut.m4a"), bytes);
    ASSERT_EQ(m.mp4de_init(tmp.file("cut.m4a").c_str()), 0);
    int largest = 0;
    int n = m.mp4_getaudionum(&largest, nullptr);
    ASSERT_GT(n, 10);
    std::vector<unsigned char> buf(largest);
    EXPECT_GT(m.mp4_readaudio(0, buf.data(), largest, nullptr), 0);
    EXPECT_EQ(m.mp4_readaudio(n - 1, buf.data(), largest, nullptr), -3);

    // Random bytes after a valid-looking box header.
    std::vector<uint8_t> junk(4096, 0xEE);
    memcpy(junk.data(),
           "\0\0\0\x18"
           "ftypisom",
           12);
    writeFile(tmp.file("junk.mp4"), junk);
    EXPECT_LT(m.mp4de_init(tmp.file("junk.mp4").c_str()), 0);
}

TEST_F(Mp4Demuxer, EachThreadHasItsOwnFile) {
    ASSERT_EQ(m.mp4de_init(fixture("libav_av.mp4").c_str()), 0);
    int otherTracks = -1, otherAfterOpen = -1;
    std::thread t([&] {
        otherTracks = m.mp4_gettracknum();
        if (m.mp4de_init(fixture("libav_aac_lc.m4a").c_str()) == 0)
            otherAfterOpen = m.mp4_gettracknum();
        m.mp4de_close();
    });
    t.join();
    EXPECT_EQ(otherTracks, 0);
    EXPECT_EQ(otherAfterOpen, 1);
    EXPECT_EQ(m.mp4_gettracknum(), 2);
}

TEST(Mp4DemuxerLoader, MissingExportIsNamedByItsNumber) {
    RecordingMessages msgs;
    setLibraryFolder(std::string(KESTREL_BIN_DIR) + "/incomplete");
    EXPECT_LT(loadOrvomp4dec(), 0);
    EXPECT_EQ(msgs.lastText(), "取函数10错误，请检查是否该版本动态库");
    EXPECT_EQ(orvomp4dec.mp4de_init, nullptr);
    TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadOrvomp4dec(), 0);
    EXPECT_EQ(msgs.lastText(), "装载动态库orvomp4dec.so错误");
    setLibraryFolder(KESTREL_BIN_DIR);
}

} // namespace
