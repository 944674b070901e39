#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvoaacenc.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

// The PCM of a 16-bit WAV fixture.
std::vector<uint8_t> wavData(const std::string& name) {
    auto f = readFile(fixture(name));
    size_t pos = 12;
    while (pos + 8 <= f.size()) {
        uint32_t size =
            f[pos + 4] | f[pos + 5] << 8 | f[pos + 6] << 16 | uint32_t(f[pos + 7]) << 24;
        if (!memcmp(&f[pos], "data", 4))
            return std::vector<uint8_t>(f.begin() + long(pos + 8),
                                        f.begin() + long(std::min(f.size(), pos + 8 + size)));
        pos += 8 + size + (size & 1);
    }
    return {};
}

class AacEncoder : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadOrvoaacenc(), 0);
    }
    void TearDown() override {
        if (e.aac_close) e.aac_close();
        unloadOrvoaacenc();
    }

    // Encodes `pcm` in blocks of `block` bytes into a new file.
    std::string encode(const std::vector<uint8_t>& pcm, int rate, int ch, int bitRate, int type,
                       int profile, size_t block = 4608) {
        std::string path =
            tmp.file("out" + std::to_string(counter++) + (type == 6 ? ".m4a" : ".aac"));
        EXPECT_EQ(e.aac_init(rate, ch, bitRate, type, profile, path.c_str(), "kestrel"), 0);
        for (size_t p = 0; p < pcm.size(); p += block)
            EXPECT_GE(e.aac_encode(pcm.data() + p, int(std::min(block, pcm.size() - p))), 0);
        EXPECT_EQ(e.aac_close(), 0);
        return path;
    }

    OrvoaacencApi& e = orvoaacenc;
    TempDir tmp;
    int counter = 0;
};

TEST_F(AacEncoder, AdtsFilesAreMpeg2WithTheAskedProfileRateAndLength) {
    auto pcm = wavData("libav_src_44k_st.wav");
    pcm.resize(44100 * 4);
    const size_t samples = pcm.size() / 4;
    struct Case {
        int profile;
        const char* expect;
    } cases[] = {{AACENC_PROFILE_LC, "LC"},
                 {AACENC_PROFILE_MAIN, "Main"},
                 {AACENC_PROFILE_SSR, "LC"},
                 {AACENC_PROFILE_LTP, "Main"}};
    for (auto c : cases) {
        SCOPED_TRACE(c.profile);
        auto path = encode(pcm, 44100, 2, 128000, AACENC_ADTS_MPEG2, c.profile);
        auto bytes = readFile(path);
        ASSERT_GT(bytes.size(), 100u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xF9); // MPEG-2 ID, no CRC
        auto info =
            probeAll(path, "stream=profile,sample_rate,channels,nb_read_frames", "-count_frames");
        EXPECT_EQ(info["profile"], c.expect);
        EXPECT_EQ(info["sample_rate"], "44100");
        EXPECT_EQ(info["channels"], "2");
        // Every sample is in the file, plus the encoder's priming and padding
        // of less than two frames.
        long frames = std::stol(info["nb_read_frames"]);
        long coded = frames * 1024;
        EXPECT_GE(coded, long(samples));
        EXPECT_LT(coded, long(samples) + 3 * 1024);
        double kbps = bytes.size() * 8.0 / (double(samples) / 44100) / 1000;
        EXPECT_NEAR(kbps, 128, 128 * 0.2);
    }
}

TEST_F(AacEncoder, Mp4FilesCarryProfileDurationAndBrand) {
    auto pcm = wavData("libav_src_44k_st.wav");
    pcm.resize(44100 * 4); // one second: Main and LTP encode slowly
    for (int profile : {AACENC_PROFILE_LC, AACENC_PROFILE_MAIN, AACENC_PROFILE_LTP}) {
        SCOPED_TRACE(profile);
        auto path = encode(pcm, 44100, 2, 160000, AACENC_MP4, profile);
        auto info = probeAll(
            path, "stream=profile,sample_rate,channels,bit_rate:format=format_name,duration:"
                  "format_tags=major_brand");
        EXPECT_EQ(info["profile"], profile == 0 ? "LC" : profile == 1 ? "Main" : "LTP");
        EXPECT_EQ(info["sample_rate"], "44100");
        EXPECT_EQ(info["channels"], "2");
        EXPECT_NE(info["format_name"].find("mp4"), std::string::npos);
        EXPECT_EQ(info["TAG:major_brand"], "M4A ");
        double dur = std::stod(info["duration"]);
        EXPECT_NEAR(dur, double(pcm.size() / 4) / 44100, 1024.0 / 44100);
        long br = std::stol(info["bit_rate"]);
        EXPECT_NEAR(br, 160000, 160000 * 0.2);
        // It decodes back to the signal: compare with the source after the
        // edit list has removed the encoder delay.
        // (ffmpeg trims the encoder delay but decodes the last frame whole.)
        auto back = ffmpegDecode(path);
        EXPECT_GE(back.size(), pcm.size() / 2);
        EXPECT_LT(back.size(), pcm.size() / 2 + 1024 * 2);
        EXPECT_GT(snrDb(toSamples(pcm, pcm.size()), back), 15.0);
    }
}

TEST_F(AacEncoder, MonoAtLowRatesAndRawAccessUnits) {
    auto pcm = wavData("libav_src_22k_mono.wav");
    auto m4a = encode(pcm, 22050, 1, 64000, AACENC_MP4, AACENC_PROFILE_LC, 1001);
    auto info = probeAll(m4a, "stream=sample_rate,channels,bit_rate");
    EXPECT_EQ(info["sample_rate"], "22050");
    EXPECT_EQ(info["channels"], "1");
    EXPECT_NEAR(std::stol(info["bit_rate"]), 64000, 64000 * 0.2);

    // Raw AAC: no headers; decodes with the configuration it was made for
    // (LC, 22050 Hz, mono) and gives every sample back.
    auto raw = encode(pcm, 22050, 1, 64000, AACENC_RAW, AACENC_PROFILE_LC);
    auto bytes = readFile(raw);
    ASSERT_GT(bytes.size(), 1000u);
    EXPECT_FALSE(bytes[0] == 0xFF && (bytes[1] & 0xF0) == 0xF0);
    // The access units follow each other without framing: the decoder takes
    // them one by one from the whole file.
    ASSERT_GE(loadOrvoaacdec(), 0);
    unsigned char asc[2] = {0x13, 0x88}; // LC, index 7 (22050 Hz), 1 channel
    int rate = 0, ch = 0;
    ASSERT_EQ(orvoaacdec.aacdecodebuf_init(asc, 2, 1000, 22050, &rate, &ch), 0);
    EXPECT_EQ(rate, 22050);
    EXPECT_EQ(ch, 1);
    std::vector<uint8_t> out(pcm.size() * 2);
    int n = orvoaacdec.aacbuf_decode(bytes.data(), int(bytes.size()), out.data(), int(out.size()));
    EXPECT_GE(n, int(pcm.size()));
    EXPECT_LT(n, int(pcm.size()) + 3 * 2048);
    orvoaacdec.aacdecodebuf_close();
    unloadOrvoaacdec();
}

TEST_F(AacEncoder, BlockSizesDoNotChangeTheOutput) {
    auto pcm = wavData("libav_src_44k_st.wav");
    pcm.resize(100000);
    auto a =
        readFile(encode(pcm, 44100, 2, 128000, AACENC_ADTS_MPEG2, AACENC_PROFILE_LC, pcm.size()));
    auto b = readFile(encode(pcm, 44100, 2, 128000, AACENC_ADTS_MPEG2, AACENC_PROFILE_LC,
                             777)); // odd: splits samples
    EXPECT_EQ(a, b);
}

TEST_F(AacEncoder, BadArgumentsAreRefused) {
    std::string p = tmp.file("x.aac");
    EXPECT_EQ(e.aac_init(44100, 3, 128000, 5, 0, p.c_str(), nullptr), -1);
    EXPECT_EQ(e.aac_init(44100, 2, 128000, 7, 0, p.c_str(), nullptr), -1);
    EXPECT_EQ(e.aac_init(0, 2, 128000, 5, 0, p.c_str(), nullptr), -1);
    EXPECT_EQ(e.aac_init(44100, 2, 128000, 5, 0, nullptr, nullptr), -1);
    EXPECT_EQ(e.aac_init(44100, 2, 128000, 5, 0, "/nonexistent/dir/x.aac", nullptr), -3);
    EXPECT_EQ(e.aac_init(44100, 2, 128000, 4, 0, "/nonexistent/dir/x.aac", nullptr), -3);
    unsigned char pcm[8] = {};
    EXPECT_EQ(e.aac_encode(pcm, 8), -1);
    EXPECT_EQ(e.aac_close(), -1);
    // A second init finishes the first file.
    ASSERT_EQ(e.aac_init(44100, 2, 128000, 6, 0, p.c_str(), nullptr), 0);
    std::vector<uint8_t> block(44100 * 4);
    e.aac_encode(block.data(), int(block.size()));
    ASSERT_EQ(e.aac_init(44100, 2, 128000, 5, 0, tmp.file("y.aac").c_str(), nullptr), 0);
    EXPECT_NEAR(std::stod(probeFormat(p, "duration")), 1.0, 0.03);
}

} // namespace
