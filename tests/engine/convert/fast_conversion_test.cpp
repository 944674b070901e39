// Fast conversion against a reference: the MPEG audio frames that
// `ffmpeg -vn -c:a copy -f mp2` extracts from the same source.
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/convert/fast_conversion.h"
#include "engine/convert/fast_texts.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

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
                      Case{"mpeg_l3_mpeg25_11k.mp3", 10}, Case{"mpeg_l3_id3.mp3", 10},
                      // Frames longer than 1100 bytes, Layer I without CRC.
                      Case{"mpa_vcd_384k.mpg", 6}, Case{"mpa_l2_384k_44k.mp2", 10},
                      Case{"mpa_l2_384k_32k.mp2", 10}, Case{"mpa_l1_48k.mp1", 10},
                      // FFmpeg's MP3s: a tag frame with status bits of its own.
                      Case{"mpeg_l3_ffmpeg_vbr_art.mp3", 10}, Case{"mpeg_l3_ffmpeg_cbr.mp3", 10}),
    [](const ::testing::TestParamInfo<Case>& i) {
        std::string n = i.param.file;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

namespace {

// A window that stops the copy at the first progress step it is shown.
struct StoppingWindow : WindowPort {
    void statusText(const std::string& text) override {
        texts.push_back(text);
        if (text.find("  [") != std::string::npos) running = false;
    }
    std::vector<std::string> texts;
};

FastSource sourceIn(const TempDir& dir, const std::string& fixtureName, int kind) {
    FastSource src;
    src.path = fixture(fixtureName);
    src.kind = kind;
    src.durationSec = 4;
    src.savePath = dir.path() + "/";
    return src;
}

} // namespace

TEST(FastConversion, RefusesToWriteOverItsOwnSource) {
    TempDir dir;
    test::writeFile(dir.file("song.mp3"), readFile(fixture("mpeg_l3_cbr_44k.mp3")));
    test::RecordingMessages messages;
    FastSource src;
    src.path = dir.file("song.mp3");
    src.kind = 10;
    src.savePath = dir.path() + "/";
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.status, FastStatus::SameAsSource);
    ASSERT_EQ(messages.entries().size(), 1u);
    EXPECT_NE(messages.lastText().find(dir.file("song.mp3")), std::string::npos);
    EXPECT_EQ(readFile(dir.file("song.mp3")), readFile(fixture("mpeg_l3_cbr_44k.mp3")));
    EXPECT_FALSE(running.load());
}

TEST(FastConversion, FailureKeepsTheEarlierOutputAndLeavesNoTemporaryFile) {
    TempDir dir;
    test::RecordingMessages messages;
    test::writeFile(dir.file("gone.mp3"), std::string("earlier output"));
    FastSource src;
    src.path = dir.path() + "/sub/gone.mpg"; // cannot be opened
    src.kind = 6;
    src.savePath = dir.path() + "/";
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.status, FastStatus::SourceFailed);
    EXPECT_EQ(messages.lastText(), "打开文件" + src.path + "错误");
    EXPECT_EQ(test::capture("ls -A '" + dir.path() + "'"), "gone.mp3\n");
    EXPECT_EQ(readFile(dir.file("gone.mp3")),
              std::vector<uint8_t>(
                  {'e', 'a', 'r', 'l', 'i', 'e', 'r', ' ', 'o', 'u', 't', 'p', 'u', 't'}));
    // An output folder that does not exist.
    src = sourceIn(dir, "mpeg_vcd.mpg", 6);
    src.savePath = dir.path() + "/missing/";
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.status, FastStatus::OutputFailed);
    EXPECT_EQ(messages.lastText(), "打开生成文件" + dir.path() + "/missing/mpeg_vcd.mp3错误");
}

TEST(FastConversion, ASourceWithoutMpegAudioNeverReplacesAnEarlierOutput) {
    TempDir dir;
    test::RecordingMessages messages;
    // A transport stream whose only audio is AC-3: nothing to copy.
    FastSource src = sourceIn(dir, "mpeg_ts_ac3.ts", 3);
    test::writeFile(dir.file("mpeg_ts_ac3.mp3"), std::string("earlier output"));
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.frames, 0u);
    EXPECT_TRUE(outcome.keptEarlier);
    EXPECT_EQ(test::capture("ls -A '" + dir.path() + "'"), "mpeg_ts_ac3.mp3\n");
    auto kept = readFile(dir.file("mpeg_ts_ac3.mp3"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "earlier output");
    // Without an earlier file no empty output is left either.
    ASSERT_EQ(::unlink(dir.file("mpeg_ts_ac3.mp3").c_str()), 0);
    fast_conversion_thread(src, &outcome);
    EXPECT_FALSE(outcome.keptEarlier);
    EXPECT_EQ(test::capture("ls -A '" + dir.path() + "'"), "");
}

TEST(FastConversion, AFifoSourceIsRefusedNotWaitedOn) {
    ::alarm(30); // opening it for reading used to wait for a writer for ever
    TempDir dir;
    test::RecordingMessages messages;
    FastSource src;
    src.path = dir.file("pipe.mpg");
    ASSERT_EQ(::mkfifo(src.path.c_str(), 0644), 0);
    src.kind = 6;
    src.savePath = dir.path() + "/";
    FastOutcome outcome;
    fast_conversion_thread(src, &outcome);
    EXPECT_EQ(outcome.status, FastStatus::SourceFailed);
    EXPECT_EQ(messages.lastText(), "打开文件" + src.path + "错误");
    EXPECT_EQ(test::capture("ls -A '" + dir.path() + "'"), "pipe.mpg\n"); // no output left
    ::alarm(0);
}

TEST(FastConversion, StopKeepsTheFramesCopiedSoFarAndASecondRunReplaces) {
    TempDir dir;
    StoppingWindow win;
    setWindowPort(&win);
    FastOutcome stopped;
    fast_conversion_thread(sourceIn(dir, "mpeg_vcd.mpg", 6), &stopped);
    setWindowPort(nullptr);
    EXPECT_EQ(stopped.status, FastStatus::Stopped);
    ASSERT_GE(win.texts.size(), 3u);
    EXPECT_EQ(win.texts.front(), "开始快速转换文件" + fixture("mpeg_vcd.mpg"));
    EXPECT_EQ(win.texts.back(), "快速转换文件" + fixture("mpeg_vcd.mpg") + "结束");
    std::vector<uint8_t> part = readFile(stopped.outputPath);

    FastOutcome full;
    fast_conversion_thread(sourceIn(dir, "mpeg_vcd.mpg", 6), &full);
    EXPECT_EQ(full.status, FastStatus::Done);
    std::vector<uint8_t> whole = readFile(full.outputPath);
    EXPECT_EQ(full.outputPath, stopped.outputPath);
    EXPECT_LT(part.size(), whole.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));
    EXPECT_EQ(test::capture("ls -A '" + dir.path() + "'"), "mpeg_vcd.mp3\n");
}

TEST(FastConversion, UnsupportedKindsAreRefused) {
    test::RecordingMessages messages;
    for (int kind : {0, 3, 6, 10})
        EXPECT_EQ(checkFastConversionKind(mediaKind(kind)), 0);
    for (int kind : {5, 11, 99, 8002})
        EXPECT_EQ(checkFastConversionKind(mediaKind(kind)), -1);
    EXPECT_EQ(messages.entries().size(), 4u);
    EXPECT_EQ(messages.lastText(), text::kFastUnsupported);
}

// A VCD track as read from a disc: RIFF/CDXA with raw 2352-byte sectors, each
// holding one 2324-byte pack behind its sync, header and subheader.
TEST(FastConversion, VcdTrackWithCdxaSectorsCopiesLikeItsProgramStream) {
    TempDir dir;
    std::vector<uint8_t> ps = readFile(fixture("mpeg_vcd.mpg"));
    ASSERT_EQ(ps.size() % 2324, 0u);
    std::vector<uint8_t> dat = test::cdxaTrack(ps);
    test::writeFile(dir.file("AVSEQ01.DAT"), dat);
    FastSource src = sourceIn(dir, "mpeg_vcd.mpg", 6);
    src.path = dir.file("AVSEQ01.DAT");
    FastOutcome fromDat, fromMpg;
    fast_conversion_thread(src, &fromDat);
    fast_conversion_thread(sourceIn(dir, "mpeg_vcd.mpg", 6), &fromMpg);
    ASSERT_EQ(fromDat.status, FastStatus::Done);
    EXPECT_GT(fromMpg.bytesWritten, 100000u);
    EXPECT_EQ(readFile(fromDat.outputPath), readFile(fromMpg.outputPath));
}

TEST(FastConversion, FreeFormatIsCopiedWhole) {
    // ffmpeg does not copy free format; the file's own frames are the
    // reference (a bare stream without Xing/Info frame or tags).
    TempDir dir;
    FastSource src = sourceIn(dir, "mpa_free_200k.mp3", 10);
    src.durationSec = 3;
    FastOutcome outcome;
    ASSERT_EQ(fast_conversion_thread(src, &outcome), 0);
    ASSERT_EQ(outcome.status, FastStatus::Done);
    std::vector<uint8_t> source = readFile(src.path);
    EXPECT_EQ(outcome.frames, source.size() / 653);
    EXPECT_TRUE(readFile(outcome.outputPath) == source);
}

// The effects window, shown during the copy, is closed at its end.
TEST(FastConversion, TheEffectsWindowClosesAtTheEnd) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_EQ(loadOrvosoundmix(), 0);
    TempDir dir;
    FastSource src;
    src.path = fixture("mpeg_l3_cbr_44k.mp3");
    src.kind = 10;
    src.durationSec = 4;
    src.savePath = dir.path() + "/";
    orvosoundmix.orvomix_setdisp(1);
    ASSERT_EQ(orvosoundmix.orvomix_get_dispstatus(), 1);
    ASSERT_EQ(fast_conversion_thread(src), 0);
    EXPECT_EQ(orvosoundmix.orvomix_get_dispstatus(), 0);
    unloadOrvosoundmix();
}
