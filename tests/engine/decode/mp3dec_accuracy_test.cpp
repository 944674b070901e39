// Accuracy of the decoders against mpg123 on streams made by lame, ffmpeg and
// twolame: after alignment, RMS error below 1 LSB (2^-15 of full scale) and
// no sample more than 4 LSB away.
#include "mp3dec_helpers.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Case {
    const char* file;
    int rate;
    int channels;
};

int samplesPerFrame(const std::string& path) {
    auto frames = splitFrames(readFile(path));
    if (frames.empty()) return 1152;
    MpegAudioHeader h;
    parseMpegAudioHeader(frames[0].data(), h);
    return h.samplesPerFrame;
}

class Mp3decAccuracy : public ::testing::TestWithParam<Case> {};

TEST_P(Mp3decAccuracy, MatchesReferenceDecoder) {
    const Case& c = GetParam();
    std::string path = fixture(c.file);
    ASSERT_TRUE(haveFixture(c.file)) << path;
    Pcm ours = decodeStream(readFile(path));
    ASSERT_GT(ours.frames, 0);
    EXPECT_EQ(ours.rate, c.rate);
    EXPECT_EQ(ours.channels, c.channels);
    std::vector<int16_t> ref = mpg123Decode(path);
    ASSERT_FALSE(ref.empty());
    Difference d = bestAlignment(ours.samples, ref, samplesPerFrame(path), c.channels);
    EXPECT_LT(d.rms, 1.0) << c.file << " offset " << d.offset;
    EXPECT_LE(d.maxAbs, 4) << c.file << " offset " << d.offset;
    EXPECT_GT(d.compared, ref.size() * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    Layer3, Mp3decAccuracy,
    ::testing::Values(Case{"dec_l3_44_cbr128_js.mp3", 44100, 2},
                      Case{"dec_l3_44_vbr.mp3", 44100, 2}, Case{"dec_l3_44_ms.mp3", 44100, 2},
                      Case{"dec_l3_44_stereo.mp3", 44100, 2}, Case{"dec_l3_44_mono.mp3", 44100, 1},
                      Case{"dec_l3_44_crc.mp3", 44100, 2}, Case{"dec_l3_48_cbr.mp3", 48000, 2},
                      Case{"dec_l3_32_cbr.mp3", 32000, 2}, Case{"dec_l3_44_320.mp3", 44100, 2},
                      Case{"dec_l3_44_ffmpeg.mp3", 44100, 2}, Case{"dec_l3_22_js.mp3", 22050, 2},
                      Case{"dec_l3_22_mono.mp3", 22050, 1}, Case{"dec_l3_24_vbr.mp3", 24000, 2},
                      Case{"dec_l3_16_cbr.mp3", 16000, 2}, Case{"dec_l3_11_cbr.mp3", 11025, 2},
                      Case{"dec_l3_12_mono.mp3", 12000, 1}, Case{"dec_l3_8_cbr.mp3", 8000, 2}),
    [](const auto& info) {
        std::string n = info.param.file;
        n = n.substr(4, n.size() - 8);
        for (char& ch : n)
            if (ch == '.') ch = '_';
        return n;
    });

class FrameDecoderAccuracy : public ::testing::TestWithParam<Case> {};

TEST_P(FrameDecoderAccuracy, MatchesReferenceDecoder) {
    const Case& c = GetParam();
    std::string path = fixture(c.file);
    ASSERT_TRUE(haveFixture(c.file)) << path;
    Pcm ours = decodeFrames(splitFrames(readFile(path)));
    ASSERT_GT(ours.frames, 0);
    EXPECT_EQ(ours.rate, c.rate);
    EXPECT_EQ(ours.channels, c.channels);
    std::vector<int16_t> ref = mpg123Decode(path);
    ASSERT_FALSE(ref.empty());
    Difference d = bestAlignment(ours.samples, ref, samplesPerFrame(path), c.channels);
    EXPECT_LT(d.rms, 1.0) << c.file << " offset " << d.offset;
    EXPECT_LE(d.maxAbs, 4) << c.file << " offset " << d.offset;
    EXPECT_GT(d.compared, ref.size() * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(
    Layers, FrameDecoderAccuracy,
    ::testing::Values(Case{"dec_l2_44_192.mp2", 44100, 2}, Case{"dec_l2_48_js.mp2", 48000, 2},
                      Case{"dec_l2_32_mono.mp2", 32000, 1}, Case{"dec_l2_44_crc.mp2", 44100, 2},
                      Case{"dec_l2_44_low.mp2", 44100, 2}, Case{"dec_l2_22_lsf.mp2", 22050, 2},
                      Case{"dec_l2_16_lsf.mp2", 16000, 1}, Case{"dec_l3_44_vbr.mp3", 44100, 2},
                      Case{"dec_l3_22_js.mp3", 22050, 2}),
    [](const auto& info) {
        std::string n = info.param.file;
        n = n.substr(4, n.size() - 8);
        return n;
    });

} // namespace
