// The AVI writer on chunks made here: the 2048-byte header laid out offset by
// offset, the chunks with their pad byte, the idx1 index, an AVI without
// audio bytes, and the writer's refusals.
#include "engine/convert/avi_output.h"
#include "support/flv_avi_read.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Writes an AVI of the given chunks; returns its bytes.
std::vector<uint8_t> writeAvi(const TempDir& dir, const std::vector<std::vector<uint8_t>>& chunks,
                              int channels = 2, int rate = 44100, int kbps = 128) {
    std::string path = dir.file("out.avi");
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    auto w = avi_open_output(f);
    EXPECT_NE(w, nullptr);
    if (!w) return {};
    EXPECT_EQ(w->position, 2048u);
    avi_set_audio(*w, channels, rate, 16, 0x55, kbps);
    for (const auto& c : chunks)
        EXPECT_EQ(avi_write_audio(*w, c.data(), static_cast<uint32_t>(c.size())), 0);
    EXPECT_EQ(avi_close(*w), 0);
    std::fclose(f);
    return readFile(path);
}

// The header list up to the audio stream, common to every output.
void expectVideoPart(const std::vector<uint8_t>& b, uint32_t streams) {
    EXPECT_EQ(fourcc(b, 0), "RIFF");
    EXPECT_EQ(le32At(b, 4), b.size() - 8);
    EXPECT_EQ(fourcc(b, 8), "AVI ");
    EXPECT_EQ(fourcc(b, 12), "LIST");
    EXPECT_EQ(fourcc(b, 20), "hdrl");
    EXPECT_EQ(fourcc(b, 24), "avih");
    EXPECT_EQ(le32At(b, 28), 56u);
    EXPECT_EQ(le32At(b, 32), 0u);        // microseconds per frame
    EXPECT_EQ(le32At(b, 36), 10000000u); // max bytes per second
    EXPECT_EQ(le32At(b, 40), 0u);
    EXPECT_EQ(le32At(b, 44), 0x10010u); // flags
    EXPECT_EQ(le32At(b, 48), 0u);       // total frames
    EXPECT_EQ(le32At(b, 52), 0u);
    EXPECT_EQ(le32At(b, 56), streams);
    for (size_t at = 60; at < 88; at += 4)
        EXPECT_EQ(le32At(b, at), 0u) << at;
    EXPECT_EQ(fourcc(b, 88), "LIST");
    EXPECT_EQ(le32At(b, 92), 124u);
    EXPECT_EQ(fourcc(b, 96), "strl");
    EXPECT_EQ(fourcc(b, 100), "strh");
    EXPECT_EQ(le32At(b, 104), 64u);
    EXPECT_EQ(fourcc(b, 108), "vids");
    EXPECT_EQ(le32At(b, 112), 0u);          // compressor
    EXPECT_EQ(le32At(b, 128), 0u);          // scale
    EXPECT_EQ(le32At(b, 132), 1000000u);    // rate
    EXPECT_EQ(le32At(b, 140), 0u);          // length
    EXPECT_EQ(le32At(b, 148), 0xFFFFFFFFu); // quality
    EXPECT_EQ(fourcc(b, 172), "strf");
    EXPECT_EQ(le32At(b, 176), 40u);
    EXPECT_EQ(le32At(b, 180), 40u);
    EXPECT_EQ(le16At(b, 192), 1u);  // planes
    EXPECT_EQ(le16At(b, 194), 24u); // bit count
}

void expectMovi(const std::vector<uint8_t>& b, size_t junkAt, const AviFile& avi) {
    EXPECT_EQ(fourcc(b, junkAt), "JUNK");
    EXPECT_EQ(le32At(b, junkAt + 4), 2036 - (junkAt + 8));
    for (size_t i = junkAt + 8; i < 2036; ++i)
        ASSERT_EQ(b[i], 0) << i;
    EXPECT_EQ(fourcc(b, 2036), "LIST");
    EXPECT_EQ(le32At(b, 2040), avi.indexAt - 2044);
    EXPECT_EQ(fourcc(b, 2044), "movi");
}

} // namespace

TEST(AviOutput, HeaderChunksPadAndIndex) {
    TempDir dir;
    std::vector<std::vector<uint8_t>> chunks = {
        std::vector<uint8_t>(417, 0xA1), std::vector<uint8_t>(418, 0xB2),
        std::vector<uint8_t>(3, 0xC3), std::vector<uint8_t>(1, 0xD4)};
    auto b = writeAvi(dir, chunks, 2, 44100, 128);
    AviFile avi = readAvi(b);
    ASSERT_TRUE(avi.ok);
    expectVideoPart(b, 2);
    EXPECT_EQ(le32At(b, 16), 308u); // header list size
    EXPECT_EQ(fourcc(b, 220), "LIST");
    EXPECT_EQ(le32At(b, 224), 100u);
    EXPECT_EQ(fourcc(b, 228), "strl");
    EXPECT_EQ(fourcc(b, 232), "strh");
    EXPECT_EQ(le32At(b, 236), 64u);
    EXPECT_EQ(fourcc(b, 240), "auds");
    EXPECT_EQ(le32At(b, 244), 85u);    // handler
    EXPECT_EQ(le32At(b, 260), 1u);     // scale
    EXPECT_EQ(le32At(b, 264), 16000u); // rate: 128 kbit/s in bytes
    EXPECT_EQ(le32At(b, 268), 0u);     // start
    EXPECT_EQ(le32At(b, 272), 417u + 418 + 3 + 1);
    EXPECT_EQ(le32At(b, 280), 0xFFFFFFFFu);
    EXPECT_EQ(le32At(b, 284), 1u); // sample size
    EXPECT_EQ(fourcc(b, 304), "strf");
    EXPECT_EQ(le32At(b, 308), 16u);
    EXPECT_EQ(le16At(b, 312), 0x55u);
    EXPECT_EQ(le16At(b, 314), 2u);
    EXPECT_EQ(le32At(b, 316), 44100u);
    EXPECT_EQ(le32At(b, 320), 44100u); // average bytes per second: the sample rate
    EXPECT_EQ(le16At(b, 324), 1u);
    EXPECT_EQ(le16At(b, 326), 16u);
    expectMovi(b, 328, avi);

    // Chunks at 2048 with one pad byte after each odd length.
    ASSERT_EQ(avi.chunks.size(), 4u);
    const size_t at[] = {2048, 2048 + 8 + 418, 2048 + 8 + 418 + 8 + 418, 2048 + 852 + 8 + 4};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(avi.chunks[i].at, at[i]) << i;
        EXPECT_EQ(avi.chunks[i].size, chunks[i].size());
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + long(at[i]) + 8,
                                       b.begin() + long(at[i] + 8 + chunks[i].size())),
                  chunks[i]);
        if (chunks[i].size() & 1) {
            EXPECT_EQ(b[at[i] + 8 + chunks[i].size()], 0);
        }
    }
    // The index points at every chunk.
    ASSERT_EQ(avi.index.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(avi.index[i].id, "01wb");
        EXPECT_EQ(avi.index[i].flags, 0u);
        EXPECT_EQ(avi.index[i].offset, avi.chunks[i].at);
        EXPECT_EQ(avi.index[i].size, avi.chunks[i].size);
    }
    EXPECT_EQ(aviMp3(b, avi).size(), 417u + 418 + 3 + 1);
}

// Without MP3 bytes: one stream (the empty video stream), no audio list, an
// empty index.
TEST(AviOutput, NoAudioBytesOneStream) {
    TempDir dir;
    auto b = writeAvi(dir, {}, 1, 22050, 64);
    ASSERT_EQ(b.size(), 2048u + 8);
    AviFile avi = readAvi(b);
    ASSERT_TRUE(avi.ok);
    EXPECT_TRUE(avi.index.empty());
    expectVideoPart(b, 1);
    EXPECT_EQ(le32At(b, 16), 200u);
    expectMovi(b, 220, avi);
    std::string probe = capture("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" +
                                dir.file("out.avi") + "'");
    EXPECT_EQ(probe, "video\n");
}

TEST(AviOutput, StreamHeaderRateFollowsTheBitRateSetting) {
    TempDir dir;
    auto b = writeAvi(dir, {std::vector<uint8_t>(208, 0xFF)}, 1, 22050, 96);
    EXPECT_EQ(le32At(b, 264), 12000u);
    EXPECT_EQ(le16At(b, 314), 1u);
    EXPECT_EQ(le32At(b, 316), 22050u);
    EXPECT_EQ(le32At(b, 320), 22050u);
}

TEST(AviOutput, ErrorTextsAndRefusals) {
    EXPECT_STREQ(aviErrorText(kAviNoError), "avilib - No Error");
    EXPECT_STREQ(aviErrorText(kAviWriteIndex),
                 "avilib - Error writing index (file may still be useable)");
    EXPECT_STREQ(aviErrorText(kAviNoVideo), "avilib - AVI file has no video data");
    EXPECT_EQ(std::size(text::kAviErrors), 13u);

    // The size limit.
    TempDir dir;
    std::string path = dir.file("big.avi");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    auto w = avi_open_output(f);
    ASSERT_NE(w, nullptr);
    w->position = static_cast<uint32_t>(kAviMaxFileBytes - 40);
    uint8_t data[16] = {0xFF};
    EXPECT_EQ(avi_write_audio(*w, data, sizeof data), -1);
    EXPECT_EQ(avi_errno, kAviSizeLimit);
    EXPECT_TRUE(w->index.empty());
    std::fclose(f);

    // A stream that takes no bytes.
    FILE* ro = std::fopen(path.c_str(), "rb");
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(avi_open_output(ro), nullptr);
    EXPECT_EQ(avi_errno, kAviWrite);
    std::fclose(ro);
}
