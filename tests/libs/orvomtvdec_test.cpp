#include "engine/libraries/lib_orvomtvdec.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

void wl16(std::vector<uint8_t>& b, size_t at, unsigned v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// An MTV file from its published layout: 512-byte header, then per frame
// `subBlocks` audio sub-blocks (12 bytes of padding + 500 bytes of MPEG
// audio) and one 16-bit RGB picture.
std::vector<uint8_t> makeMtv(const std::vector<uint8_t>& mp3, int subBlocks, int width, int height,
                             int bitRateKbps, size_t frames) {
    const size_t picture = size_t(width) * height * 2;
    std::vector<uint8_t> f(512, 0);
    memcpy(f.data(), "AMV", 3);
    memcpy(f.data() + 43, "MP3", 3);
    wl16(f, 46, unsigned(bitRateKbps));
    f[48] = 0x65, f[49] = 0x05; // RGB 565
    f[51] = 16;
    wl16(f, 52, unsigned(width));
    wl16(f, 54, unsigned(height));
    wl16(f, 56, unsigned(picture));
    wl16(f, 62, unsigned(subBlocks));
    size_t src = 0;
    for (size_t i = 0; i < frames; ++i) {
        for (int k = 0; k < subBlocks; ++k) {
            f.insert(f.end(), 12, 0);
            for (int j = 0; j < 500; ++j)
                f.push_back(src < mp3.size() ? mp3[src++] : 0);
        }
        for (size_t j = 0; j < picture; ++j)
            f.push_back(uint8_t(i + j));
    }
    uint32_t size = uint32_t(f.size());
    f[3] = uint8_t(size), f[4] = uint8_t(size >> 8), f[5] = uint8_t(size >> 16),
    f[6] = uint8_t(size >> 24);
    return f;
}

class MtvAmvDemuxer : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadOrvomtvdec(), 0);
    }
    void TearDown() override {
        if (d.mtv_close) d.mtv_close(), d.amv_close();
        unloadOrvomtvdec();
    }
    OrvomtvdecApi& d = orvomtvdec;
    TempDir tmp;
};

TEST_F(MtvAmvDemuxer, MtvBlocksGiveBackTheMpegAudioStream) {
    auto mp3 = readFile(fixture("libav_mtv.mp3"));
    ASSERT_GT(mp3.size(), 32000u);
    const size_t frames = mp3.size() / 2000; // 4 sub-blocks of 500 bytes a frame
    std::string path = tmp.file("clip.mtv");
    writeFile(path, makeMtv(mp3, 4, 16, 12, 128, frames));

    ASSERT_EQ(d.mtv_init(path.c_str()), 0);
    int w = 0, h = 0, fps = 0, pic = 0;
    double sec = 0;
    EXPECT_EQ(d.mtv_getvideo(&w, &h, &fps, &pic, &sec), int(frames));
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 12);
    EXPECT_EQ(fps, 8); // 128 kbit/s = 32 sub-blocks a second, 4 a frame
    EXPECT_EQ(pic, 16 * 12 * 2);
    EXPECT_DOUBLE_EQ(sec, double(frames) / 8);
    int rate = 0, ch = 0, blocks = 0;
    ASSERT_EQ(d.mtv_getaudio(&rate, &ch, &blocks), 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(ch, 2);
    EXPECT_EQ(blocks, int(frames));

    std::vector<uint8_t> joined, block(MTVDEC_MAX_BLOCK);
    for (int i = 0; i < blocks; ++i) {
        int n = d.mtv_getdata(i, block.data(), int(block.size()));
        ASSERT_EQ(n, 2000);
        joined.insert(joined.end(), block.begin(), block.begin() + n);
    }
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), mp3.begin()));
    EXPECT_EQ(d.mtv_getdata(blocks, block.data(), int(block.size())), -1);
    EXPECT_EQ(d.mtv_getdata(0, block.data(), 1999), -2);

    // FFmpeg's MTV reader finds the same audio bytes.
    auto ref = capture("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -c copy -f data -");
    EXPECT_EQ(std::string(joined.begin(), joined.end()), ref);
}

TEST_F(MtvAmvDemuxer, BadMtvFilesAreRefused) {
    auto mp3 = readFile(fixture("libav_mtv.mp3"));
    std::string path = tmp.file("bad.mtv");
    EXPECT_EQ(d.mtv_init("/nonexistent.mtv"), -1);
    auto f = makeMtv(mp3, 4, 16, 12, 128, 3);
    f[44] = 'X'; // not MP3 audio
    writeFile(path, f);
    EXPECT_EQ(d.mtv_init(path.c_str()), -2);
    writeFile(path, makeMtv(mp3, 41, 16, 12, 128, 1)); // 20500-byte blocks
    EXPECT_EQ(d.mtv_init(path.c_str()), -2);
    writeFile(path, makeMtv(mp3, 4, 16, 12, 128, 0)); // header only
    EXPECT_EQ(d.mtv_init(path.c_str()), -3);
    // A frame cut short is not counted.
    f = makeMtv(mp3, 4, 16, 12, 128, 3);
    f.resize(f.size() - 10);
    writeFile(path, f);
    ASSERT_EQ(d.mtv_init(path.c_str()), 0);
    EXPECT_EQ(d.mtv_getvideo(nullptr, nullptr, nullptr, nullptr, nullptr), 2);
    d.mtv_close();
    EXPECT_EQ(d.mtv_getaudio(nullptr, nullptr, nullptr), -1);

    // Random damage to the header fields: refused or read within the file.
    auto good = makeMtv(mp3, 4, 16, 12, 128, 5);
    std::mt19937 rng(3);
    std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    for (int round = 0; round < 200; ++round) {
        auto bad = good;
        for (int k = 0; k < 4; ++k)
            bad[40 + rng() % 24] = uint8_t(rng());
        writeFile(path, bad);
        if (d.mtv_init(path.c_str()) < 0) continue;
        int blocks = 0;
        d.mtv_getaudio(nullptr, nullptr, &blocks);
        for (int i = 0; i < blocks; ++i)
            EXPECT_GE(d.mtv_getdata(i, block.data(), int(block.size())), 0);
    }
}

TEST_F(MtvAmvDemuxer, AmvFactsAndBlocksMatchFfmpeg) {
    std::string path = fixture("libav_clip.amv");
    ASSERT_EQ(d.amv_init(path.c_str()), 0);
    int w = 0, h = 0, fps = 0, us = 0;
    double sec = 0;
    EXPECT_EQ(d.amv_getvideo(&w, &h, &fps, &us, &sec), 30);
    EXPECT_EQ(w, 160);
    EXPECT_EQ(h, 128);
    EXPECT_EQ(fps, 15);
    EXPECT_NEAR(us, 66667, 1);
    EXPECT_DOUBLE_EQ(sec, 2.0);
    int rate = 0, ch = 0, blocks = 0;
    ASSERT_EQ(d.amv_getaudio(&rate, &ch, &blocks), 0);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(ch, 1);

    auto ref = capture("ffmpeg -nostdin -v error -i '" + path + "' -map 0:a -c copy -f data -");
    std::istringstream sizes(
        capture("ffprobe -v error -select_streams a:0 -show_entries packet=size -of csv=p=0 '" +
                path + "'"));
    std::vector<int> refSizes;
    for (int n; sizes >> n;)
        refSizes.push_back(n);
    ASSERT_EQ(blocks, int(refSizes.size()));
    std::string joined;
    std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    for (int i = 0; i < blocks; ++i) {
        int n = d.amv_getdata(i, block.data(), int(block.size()));
        ASSERT_EQ(n, refSizes[size_t(i)]);
        joined.append(reinterpret_cast<char*>(block.data()), size_t(n));
    }
    EXPECT_EQ(joined, ref);
    // Each block is one IMA ADPCM block: 8 header bytes, two samples a byte,
    // the sample count in the header.
    ASSERT_GT(d.amv_getdata(0, block.data(), int(block.size())), 8);
    uint32_t count = block[4] | block[5] << 8 | block[6] << 16 | uint32_t(block[7]) << 24;
    EXPECT_EQ(count, 22050u / 15);
}

TEST_F(MtvAmvDemuxer, DamagedAmvFilesNeverReadOutOfBounds) {
    auto good = readFile(fixture("libav_clip.amv"));
    std::string path = tmp.file("x.amv");
    // Cut anywhere: fewer blocks, never an error reading them.
    for (size_t cut : {size_t(20), size_t(300), good.size() / 2, good.size() - 3}) {
        writeFile(path, std::vector<uint8_t>(good.begin(), good.begin() + long(cut)));
        int r = d.amv_init(path.c_str());
        if (r < 0) continue;
        int blocks = 0;
        d.amv_getaudio(nullptr, nullptr, &blocks);
        std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
        for (int i = 0; i < blocks; ++i)
            EXPECT_GE(d.amv_getdata(i, block.data(), int(block.size())), 0);
    }
    // Random damage to the headers and the first chunks.
    std::mt19937 rng(7);
    std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    for (int round = 0; round < 300; ++round) {
        auto f = good;
        for (int k = 0; k < 8; ++k)
            f[rng() % 2048] = uint8_t(rng());
        writeFile(path, f);
        if (d.amv_init(path.c_str()) < 0) continue;
        int blocks = 0;
        d.amv_getaudio(nullptr, nullptr, &blocks);
        for (int i = 0; i < blocks; ++i)
            d.amv_getdata(i, block.data(), int(block.size()));
    }
    writeFile(path, std::string("RIFF\0\0\0\0AMV ", 12));
    EXPECT_EQ(d.amv_init(path.c_str()), -2);
    EXPECT_EQ(d.amv_init(fixture("libav_ms_st.wav").c_str()), -2);
}

} // namespace
