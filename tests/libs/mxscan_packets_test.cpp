// The stream probe on transport streams in 192-byte packets (a time code
// before each, also one that begins with the sync byte) and 204-byte packets:
// the same answers as for the 188-byte original.
#include "engine/libraries/lib_mxscan.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kestrel;
using kestrel::test::fixture;

namespace {

struct Answers {
    int mainStream, audioMode, videoMode, playTime, audioPid, videoPid;
    int32_t disp[6];
};

Answers probe(const std::string& path) {
    Answers a{};
    mxscan.mux_init();
    EXPECT_GE(mxscan.open_stream(path.c_str()), 0) << path;
    a.mainStream = mxscan.mux_get_main_stream();
    a.audioMode = mxscan.mux_get_audio_mode();
    a.videoMode = mxscan.mux_get_video_mode();
    a.playTime = mxscan.mux_play_time();
    a.audioPid = mxscan.mux_get_audio_pid();
    a.videoPid = mxscan.mux_get_video_pid();
    std::memset(a.disp, 0, sizeof a.disp);
    mxscan.mux_get_audio_disp(reinterpret_cast<MxAudioDisp*>(a.disp));
    return a;
}

} // namespace

TEST(MxscanPackets, SameAnswersForEveryPacketSize) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadMxscan(), 0);
    test::TempDir dir;
    auto ts = test::readFile(fixture("mpeg_ts_mp2.ts"));
    // 192-byte packets whose time code begins with 0x47.
    std::vector<uint8_t> tricky;
    for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
        const uint8_t code[4] = {0x47, 0x10, 0x00, uint8_t(at / 188)};
        tricky.insert(tricky.end(), code, code + 4);
        tricky.insert(tricky.end(), ts.begin() + long(at), ts.begin() + long(at) + 188);
    }
    test::writeFile(dir.file("tricky.m2ts"), tricky);
    Answers ref = probe(fixture("mpeg_ts_mp2.ts"));
    EXPECT_EQ(ref.mainStream, 0);
    EXPECT_EQ(ref.audioMode, 0);
    for (const std::string& p :
         {fixture("mpeg_ts_mp2.m2ts"), fixture("mpeg_ts_mp2_204.ts"), dir.file("tricky.m2ts")}) {
        SCOPED_TRACE(p);
        Answers a = probe(p);
        EXPECT_EQ(a.mainStream, ref.mainStream);
        EXPECT_EQ(a.audioMode, ref.audioMode);
        EXPECT_EQ(a.videoMode, ref.videoMode);
        EXPECT_EQ(a.playTime, ref.playTime);
        EXPECT_EQ(a.audioPid, ref.audioPid);
        EXPECT_EQ(a.videoPid, ref.videoPid);
        EXPECT_EQ(std::memcmp(a.disp, ref.disp, sizeof a.disp), 0);
    }
    unloadMxscan();
}
