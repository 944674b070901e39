#include "engine/convert/output_naming.h"
#include "engine/convert/wav_writer.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace kestrel;

namespace {

std::tm when() {
    std::tm t{};
    t.tm_year = 2011 - 1900;
    t.tm_mon = 6;
    t.tm_mday = 5;
    t.tm_hour = 14;
    t.tm_min = 3;
    t.tm_sec = 9;
    return t;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

} // namespace

TEST(OutputNaming, PerFileAndJoinedNamesForEveryType) {
    const char* ext[10] = {".mp3", ".exe", ".wav", ".wma", ".aac",
                           ".aac", ".m4a", ".amr", ".flv", ".avi"};
    for (int t = 0; t < 10; ++t) {
        EXPECT_EQ(make_output_name(0, "/mv/song.dat", t, 0, when(), "/out/"),
                  std::string("/out/20110705140309song") + ext[t]);
        EXPECT_EQ(make_output_name(3, "/mv/song.dat", t, 1, when(), "/out/"),
                  std::string("/out/合并20110705140309") + ext[t]);
    }
    EXPECT_EQ(make_output_name(0, "/mv/clip", 0, 0, when(), "/out/"), "/out/20110705140309.mp3");
    EXPECT_EQ(make_output_name(0, "/mv/a.b.mp3", 0, 0, when(), "/out/"),
              "/out/20110705140309a.b.mp3");
    EXPECT_EQ(make_output_name(0, "/mv.d/clip", 0, 0, when(), "/out/"), "/out/20110705140309.mp3");
    // The save path is used as stored.
    EXPECT_EQ(make_output_name(0, "/mv/x.dat", 0, 0, when(), "/out"), "/out20110705140309x.mp3");
    std::string longPath(600, 'p');
    EXPECT_EQ(make_output_name(0, "/mv/x.dat", 0, 0, when(), longPath).size(), 511u);
}

TEST(OutputNaming, SameNameInOneJobGetsASuffix) {
    JobNames job;
    EXPECT_EQ(uniqueInJob(job, "/out/2011song.mp3"), "/out/2011song.mp3");
    EXPECT_EQ(uniqueInJob(job, "/out/2011song.mp3"), "/out/2011song_2.mp3");
    EXPECT_EQ(uniqueInJob(job, "/out/2011song.mp3"), "/out/2011song_3.mp3");
    EXPECT_EQ(uniqueInJob(job, "/o.d/noext"), "/o.d/noext");
    EXPECT_EQ(uniqueInJob(job, "/o.d/noext"), "/o.d/noext_2");
}

TEST(OutputNaming, OutputMayNotBeASource) {
    test::TempDir dir;
    std::string src = dir.file("a.mp3");
    test::writeFile(src, std::string("x"));
    EXPECT_TRUE(outputIsSource(src, {dir.file("b.mp3"), src}));
    EXPECT_TRUE(outputIsSource(dir.path() + "/./a.mp3", {src}));
    EXPECT_FALSE(outputIsSource(dir.file("c.mp3"), {src}));
}

TEST(WavWriter, HeaderBytesMonoAndStereo) {
    uint8_t h[44];
    wavHeaderBytes(h, 1000, 2, 44100);
    const uint8_t stereo[44] = {'R', 'I', 'F',  'F',  0x0C, 0x04, 0,    0,    'W',  'A', 'V',
                                'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,   0,
                                2,   0,   0x44, 0xAC, 0,    0,    0x10, 0xB1, 0x02, 0,   4,
                                0,   16,  0,    'd',  'a',  't',  'a',  0xE8, 0x03, 0,   0};
    EXPECT_EQ(std::memcmp(h, stereo, 44), 0);
    wavHeaderBytes(h, 0, 1, 22050);
    EXPECT_EQ(h[22], 1);
    EXPECT_EQ(h[32], 2); // block align
    uint32_t byteRate;
    std::memcpy(&byteRate, h + 28, 4);
    EXPECT_EQ(byteRate, 44100u);
}

TEST(WavWriter, EmptyOutputAndJoinedCount) {
    test::TempDir dir;
    std::string p = dir.file("e.wav");
    WavWriter wav;
    FILE* f = std::fopen(p.c_str(), "wb");
    ASSERT_EQ(wav.writeHeader(f, 2, 44100), 0);
    ASSERT_EQ(wav.finish(f), 0);
    auto b = test::readFile(p);
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(le32(b, 4), 36u);
    EXPECT_EQ(le32(b, 40), 0u);

    // Two entries into one joined output: one header, the sum of both.
    std::vector<uint8_t> pcm(4000, 7);
    wav.reset();
    f = std::fopen(p.c_str(), "wb");
    wav.writeHeader(f, 2, 44100);
    wav.append(f, pcm.data(), 4000, 2, p);
    wav.append(f, pcm.data(), 1000, 2, p);
    wav.finish(f);
    b = test::readFile(p);
    EXPECT_EQ(b.size(), 44u + 5000);
    EXPECT_EQ(le32(b, 40), 5000u);
    EXPECT_EQ(le32(b, 4), 5036u);
    EXPECT_EQ(wav.finish(nullptr), -1);
}

TEST(WavWriter, StopsAtThe32BitLimit) {
    test::RecordingMessages msgs;
    test::TempDir dir;
    std::string p = dir.file("big.wav");
    FILE* f = std::fopen(p.c_str(), "wb");
    WavWriter wav;
    wav.dataBytes = kWavMaxDataBytes - 10; // as if 4 GiB had been written
    std::vector<uint8_t> pcm(100, 1);
    EXPECT_EQ(wav.append(f, pcm.data(), 100, 2, p), 8u); // whole frames only
    EXPECT_EQ(wav.append(f, pcm.data(), 100, 2, p), 0u);
    EXPECT_EQ(msgs.entries().size(), 1u);
    EXPECT_LE(static_cast<uint64_t>(wav.dataBytes) + 36, 0xFFFFFFFFull);
    std::fclose(f);
}

// The reasons of failed writes name the two the user can act on.
TEST(OutputNaming, WriteFailureReasons) {
    EXPECT_FALSE(writeFailureReason(ENOSPC).empty());
    EXPECT_NE(writeFailureReason(ENOSPC), writeFailureReason(EFBIG));
}
