// Fast conversion against a reference: the MPEG audio frames that
// `ffmpeg -vn -c:a copy -f mp2` extracts from the same source.
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/convert/fast_conversion.h"
#include "engine/convert/fast_texts.h"
#include "engine/playback/run_state.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::readFile;
using kestrel::test::TempDir;

namespace {

std::vector<uint8_t> ffmpegFrames(const std::string& src, const std::string& out) {
    int rc = test::run("ffmpeg -nostdin -hide_banner -loglevel error -y -i '" + src +
                       "' -vn -c:a copy -f mp2 '" + out + "'");
    EXPECT_EQ(rc, 0);
    return readFile(out);
}

bool isInfoFrame(const std::vector<uint8_t>& b) {
    MpegAudioHeader h;
    if (b.size() < 200 || !parseMpegAudioHeader(b.data(), h)) return false;
    for (size_t i = 4; i < 64; ++i)
        if (!std::memcmp(&b[i], "Xing", 4) || !std::memcmp(&b[i], "Info", 4) ||
            !std::memcmp(&b[i], "VBRI", 4))
            return true;
    return false;
}

struct Case {
    const char* file;
    int kind;
};

class FastConversionReference : public ::testing::TestWithParam<Case> {};

} // namespace

TEST_P(FastConversionReference, CopiesExactlyTheFramesFfmpegExtracts) {
    const Case c = GetParam();
    ASSERT_TRUE(test::haveFixture(c.file)) << c.file;
    TempDir dir;
    FastSource src;
    src.path = fixture(c.file);
    src.kind = c.kind;
    src.durationSec = 4;
    src.savePath = dir.path() + "/";
    FastOutcome outcome;
    ASSERT_EQ(fast_conversion_thread(src, &outcome), 0);
    ASSERT_EQ(outcome.status, FastStatus::Done);
    std::vector<uint8_t> ours = readFile(outcome.outputPath);
    std::vector<uint8_t> ref = ffmpegFrames(src.path, dir.file("ref.mp2"));
    ASSERT_GT(ref.size(), 1000u);

    // ffmpeg leaves out the Xing/Info frame of an MP3 file; we keep it, as
    // the output is an MP3 file whose players use it.
    if (c.kind == 10 && isInfoFrame(ours)) {
        MpegAudioHeader h;
        ASSERT_TRUE(parseMpegAudioHeader(ours.data(), h));
        ASSERT_TRUE(!isInfoFrame(ref));
        ours.erase(ours.begin(), ours.begin() + h.frameBytes);
    }
    // ffmpeg may pass on a truncated last frame; we stop at the last whole one.
    ASSERT_LE(ours.size(), ref.size());
    ASSERT_TRUE(std::equal(ours.begin(), ours.end(), ref.begin())) << "frame data differs";
    size_t tail = ref.size() - ours.size();
    if (tail > 0) {
        MpegAudioHeader h;
        ASSERT_TRUE(parseMpegAudioHeader(ref.data() + ours.size(), h));
        EXPECT_LT(tail, size_t(h.frameBytes)) << "a whole frame is missing at the end";
    }
}

INSTANTIATE_TEST_SUITE_P(
    MpegSources, FastConversionReference,
    ::testing::Values(Case{"mpeg_vcd.mpg", 6}, Case{"mpeg_mpeg2.mpg", 6}, Case{"mpeg_ts_mp2.ts", 3},
                      Case{"mpeg_ts_audio.ts", 3}, Case{"mpeg_l2_48k.mp2", 10},
                      Case{"mpeg_l2_mpeg2_24k.mp2", 10}, Case{"mpeg_l3_cbr_44k.mp3", 10},
                      Case{"mpeg_l3_vbr_44k.mp3", 10}, Case{"mpeg_l3_cbr_32k_mono.mp3", 10},
                      Case{"mpeg_l3_mpeg2_22k.mp3", 10}, Case{"mpeg_l3_mpeg2_vbr_22k.mp3", 10},
                      Case{"mpeg_l3_mpeg25_11k.mp3", 10}, Case{"mpeg_l3_id3.mp3", 10}),
    [](const ::testing::TestParamInfo<Case>& i) {
        std::string n = i.param.file;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });
