// The stream probe through the program's binding: form, audio facts and play
// time of real files against ffprobe, and the loader's messages.
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/media_record.h"
#include "engine/libraries/lib_mxscan.h"
#include "engine/libraries/library_loader.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace kestrel;
using kestrel::test::fixture;

namespace {

class Mxscan : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadMxscan(), 0);
    }
    static void TearDownTestSuite() { unloadMxscan(); }
};

double ffprobeNumber(const std::string& path, const std::string& entries) {
    return std::atof(test::capture("ffprobe -v error -select_streams a:0 -show_entries " + entries +
                                   " -of csv=p=0 '" + path + "'")
                         .c_str());
}

struct Expect {
    const char* file;
    int mainStream;
    int audioMode; // 0 MPEG audio, 1 AC-3, -99 none
    int videoMode;
};

} // namespace

TEST_F(Mxscan, FormsAndAudioFactsOfRealFiles) {
    const Expect cases[] = {
        {"mpeg_vcd.mpg", 1, 0, 1},           {"mpeg_mpeg2.mpg", 1, 0, 1},
        {"mpeg_dvd.vob", 1, 1, 1},           {"mpeg_ts_mp2.ts", 0, 0, 1},
        {"mpeg_ts_audio.ts", 0, 0, 0},       {"mpeg_ts_ac3.ts", 0, 1, 1},
        {"mpeg_l2_48k.mp2", 3, 0, 0},        {"mpeg_l3_vbr_44k.mp3", 3, 0, 0},
        {"mpeg_l3_mpeg25_11k.mp3", 3, 0, 0}, {"mpeg_l3_id3.mp3", 3, 0, 0},
        {"mpeg_ac3.ac3", 3, 1, 0},           {"mpeg_video.m1v", 3, -99, 1},
    };
    for (const Expect& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = fixture(c.file);
        mxscan.mux_init();
        ASSERT_GE(mxscan.open_stream(path.c_str()), 0);
        EXPECT_EQ(mxscan.mux_get_main_stream(), c.mainStream);
        EXPECT_EQ(mxscan.mux_get_audio_mode(), c.audioMode);
        EXPECT_EQ(mxscan.mux_get_video_mode(), c.videoMode);
        EXPECT_EQ(uint64_t(mxscan.mux_get_filelen()), fileSize(path));
        if (c.audioMode == -99) continue;

        double rate = ffprobeNumber(path, "stream=sample_rate");
        int channels = int(ffprobeNumber(path, "stream=channels"));
        MxAudioDisp audio;
        std::memset(&audio, 0x55, sizeof audio);
        mxscan.mux_get_audio_disp(&audio);
        MxAc3Disp ac3;
        mxscan.mux_get_ac3_disp(&ac3);
        if (c.audioMode == 0) {
            EXPECT_GT(audio.bitRate, 0);
            EXPECT_EQ(audio.sampleRate, rate);
            EXPECT_EQ(audio.channels, channels);
            EXPECT_EQ(ac3.bitRate, 0);
        } else {
            EXPECT_EQ(audio.bitRate, 0); // the analysis then reads the AC-3 description
            EXPECT_GT(ac3.bitRate, 0);
            EXPECT_EQ(ac3.sampleRate, float(rate));
            EXPECT_EQ(ac3.channels, channels);
        }
        double seconds =
            std::atof(test::capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" +
                                    path + "'")
                          .c_str());
        EXPECT_NEAR(double(mxscan.mux_play_time()), seconds, 1.0);
        EXPECT_GE(mxscan.mux_play_num(), 1);
    }
}

TEST_F(Mxscan, Mpeg4AviBlocksAndIndexCounts) {
    std::string path = fixture("mpeg_mpeg4.avi");
    mxscan.mux_init();
    ASSERT_GE(mxscan.open_stream(path.c_str()), 0);
    ASSERT_EQ(mxscan.mux_get_main_stream(), 9);
    uint8_t video[80], audio[64];
    mxscan.get_mpeg4_video(video);
    mxscan.get_mpeg4_audio(audio);
    double fps;
    int32_t channels, rate;
    std::memcpy(&fps, video + 48, 8);
    std::memcpy(&channels, audio + 52, 4);
    std::memcpy(&rate, audio + 56, 4);
    EXPECT_DOUBLE_EQ(fps, 25.0);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 44100);
    // 3 s at 25 frames per second; the audio chunks are counted as well.
    EXPECT_NEAR(mxscan.get_mpeg4_vindex_num(), 75, 2);
    EXPECT_GT(mxscan.get_mpeg4_aindex_num(), 0);
}

TEST_F(Mxscan, UnknownMissingAndHostileFiles) {
    test::TempDir dir;
    mxscan.mux_init();
    EXPECT_LT(mxscan.open_stream(dir.file("missing.mpg").c_str()), 0);
    std::vector<uint8_t> noise(50000);
    uint32_t s = 1;
    for (auto& b : noise)
        b = uint8_t((s = s * 1103515245u + 12345u) >> 24);
    test::writeFile(dir.file("noise.dat"), noise);
    mxscan.mux_init();
    ASSERT_GE(mxscan.open_stream(dir.file("noise.dat").c_str()), 0);
    EXPECT_EQ(mxscan.mux_get_main_stream(), 999);
    // A program stream cut off inside a pack, and one whose lengths point far
    // beyond the end: facts or nothing, never a crash.
    std::vector<uint8_t> ps = test::readFile(fixture("mpeg_vcd.mpg"));
    ps.resize(5000);
    for (size_t i = 0; i + 6 < ps.size(); ++i)
        if (ps[i] == 0 && ps[i + 1] == 0 && ps[i + 2] == 1 && ps[i + 3] >= 0xBB) ps[i + 4] = 0xFF;
    test::writeFile(dir.file("cut.mpg"), ps);
    mxscan.mux_init();
    ASSERT_GE(mxscan.open_stream(dir.file("cut.mpg").c_str()), 0);
    EXPECT_EQ(mxscan.mux_get_main_stream(), 1);
    // Exports that are bound but report nothing.
    EXPECT_EQ(mxscan.mux_get_20num(), 0);
    EXPECT_EQ(mxscan.get_mpeg4_index(nullptr, 0), 0);
}

TEST(MxscanLoader, MissingLibraryShowsItsMessage) {
    test::RecordingMessages messages;
    setLibraryFolder("/nonexistent-folder");
    EXPECT_LT(loadMxscan(), 0);
    EXPECT_EQ(messages.lastText(), "装载动态库mxscan.so错误");
    EXPECT_FALSE(mxscanLoaded());
    EXPECT_EQ(mxscan.open_stream, nullptr);
    setLibraryFolder(KESTREL_BIN_DIR);
}

// A VCD track as read from a disc (RIFF/CDXA, 2352-byte raw sectors around
// each 2324-byte pack) is a program stream with the facts of its packs.
TEST_F(Mxscan, VcdSectorFileIsAProgramStream) {
    test::TempDir dir;
    std::vector<uint8_t> ps = test::readFile(fixture("mpeg_vcd.mpg"));
    std::vector<uint8_t> dat = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'C', 'D', 'X', 'A'};
    dat.resize(44, 0);
    for (size_t s = 0; s * 2324 + 2324 <= ps.size(); ++s) {
        const uint8_t head[24] = {0,    0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0,    0,    0x02, uint8_t(s % 75),
                                  2,    1,    1,    0x62, 0x0F,
                                  1,    1,    0x62, 0x0F};
        dat.insert(dat.end(), head, head + 24);
        dat.insert(dat.end(), ps.begin() + long(s * 2324), ps.begin() + long(s * 2324 + 2324));
        dat.insert(dat.end(), {0x12, 0x34, 0x56, 0x78});
    }
    test::writeFile(dir.file("AVSEQ01.DAT"), dat);
    mxscan.mux_init();
    ASSERT_GE(mxscan.open_stream(dir.file("AVSEQ01.DAT").c_str()), 0);
    EXPECT_EQ(mxscan.mux_get_main_stream(), 1);
    EXPECT_EQ(mxscan.mux_get_audio_mode(), 0);
    MxAudioDisp audio;
    mxscan.mux_get_audio_disp(&audio);
    EXPECT_EQ(audio.sampleRate, 44100.0);
    EXPECT_EQ(audio.channels, 2);
    EXPECT_EQ(audio.bitRate, 224000);
    EXPECT_NEAR(mxscan.mux_play_time(), 4, 1);
}

// The sound of a transport stream is that of the first program that has any:
// here the first program carries only video. Also when the second program's
// map is sent before the first's.
TEST_F(Mxscan, TransportStreamTakesTheFirstProgramWithSound) {
    std::string path = fixture("mpeg_ts_second_program.ts");
    std::vector<uint8_t> ts = test::readFile(path);
    ASSERT_EQ(ts.size() % 188, 0u);
    ASSERT_GT(test::putSecondProgramMapsFirst(ts), 1);
    test::TempDir dir;
    test::writeFile(dir.file("swapped.ts"), ts);
    for (const std::string& p : {path, dir.file("swapped.ts")}) {
        SCOPED_TRACE(p);
        mxscan.mux_init();
        ASSERT_GE(mxscan.open_stream(p.c_str()), 0);
        EXPECT_EQ(mxscan.mux_get_main_stream(), 0);
        EXPECT_EQ(mxscan.mux_get_audio_mode(), 0);
        EXPECT_EQ(mxscan.mux_get_video_mode(), 1);
        EXPECT_EQ(mxscan.mux_get_audio_pid(), 0x101);
        EXPECT_EQ(mxscan.mux_get_video_pid(), 0x100);
        MxAudioDisp audio;
        mxscan.mux_get_audio_disp(&audio);
        EXPECT_EQ(audio.sampleRate, 48000.0);
        EXPECT_EQ(audio.channels, 2);
        EXPECT_EQ(audio.bitRate, 128000);
        EXPECT_NEAR(mxscan.mux_play_time(), 4, 1);
    }
}

// A crafted frame rate (rate 1, scale 0xFFFFFFFF) is no frame rate: the
// probe reports 0, which the analysis refuses, and its play time stays
// defined.
TEST_F(Mxscan, AviWithAnImpossibleFrameRateReportsNone) {
    std::vector<uint8_t> avi = test::readFile(fixture("mpeg_mpeg4.avi"));
    size_t strh = 0;
    for (size_t i = 0; i + 40 <= avi.size(); ++i) {
        if (std::memcmp(avi.data() + i, "strh", 4) == 0 &&
            std::memcmp(avi.data() + i + 8, "vids", 4) == 0) {
            strh = i + 8;
            break;
        }
    }
    ASSERT_GT(strh, 0u);
    test::TempDir dir;
    struct Rate {
        uint32_t scale, rate;
        double fps; // reported
    };
    for (const Rate& r : {Rate{0xFFFFFFFFu, 1, 0.0}, Rate{1, 0xFFFFFFFFu, 0.0}, Rate{1000, 1, 0.0},
                          Rate{0, 25, 0.0}, Rate{1, 25, 25.0}}) {
        SCOPED_TRACE(r.scale);
        std::vector<uint8_t> a = avi;
        std::memcpy(a.data() + strh + 20, &r.scale, 4);
        std::memcpy(a.data() + strh + 24, &r.rate, 4);
        test::writeFile(dir.file("crafted.avi"), a);
        mxscan.mux_init();
        ASSERT_GE(mxscan.open_stream(dir.file("crafted.avi").c_str()), 0);
        ASSERT_EQ(mxscan.mux_get_main_stream(), 9);
        uint8_t video[80];
        mxscan.get_mpeg4_video(video);
        double fps;
        std::memcpy(&fps, video + 48, 8);
        EXPECT_EQ(fps, r.fps);
        EXPECT_GE(mxscan.mux_play_time(), 0);
        EXPECT_LE(mxscan.mux_play_time(), 10);
        // The analysis takes the file, or refuses it with its message.
        test::RecordingMessages messages;
        MediaRecord rec{};
        int rc = analyzeMedia(dir.file("crafted.avi"), rec);
        if (r.fps > 0) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(rec.kind, 99);
            EXPECT_EQ(rec.durationSec, 3);
        } else {
            // The probe's refusal gives way to the media graph, which decodes
            // the sound whatever the video's rate says.
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(rec.kind, 8000);
            EXPECT_EQ(messages.lastText(), "");
        }
    }
}

// MPEG audio streams whose headers the older rules missed: free format (the
// frame length measured between headers), Layer I without CRC (headers
// beginning 0xFF 0xFF) and frames longer than 1100 bytes, under a name whose
// extension does not decide the type.
TEST_F(Mxscan, FreeFormatLayerOneAndLongFrameStreams) {
    struct Case {
        const char* file;
        int rate, channels, kbps;
    } cases[] = {{"mpa_free_200k.mp3", 44100, 2, 200},
                 {"mpa_l1_48k.mp1", 48000, 2, 128},
                 {"mpa_l2_384k_32k.mp2", 32000, 2, 384}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        test::TempDir dir;
        std::string path = dir.file("stream.bit");
        test::writeFile(path, test::readFile(fixture(c.file)));
        mxscan.mux_init();
        ASSERT_GE(mxscan.open_stream(path.c_str()), 0);
        EXPECT_EQ(mxscan.mux_get_main_stream(), 3);
        EXPECT_EQ(mxscan.mux_get_audio_mode(), 0);
        MxAudioDisp audio;
        mxscan.mux_get_audio_disp(&audio);
        EXPECT_EQ(audio.sampleRate, c.rate);
        EXPECT_EQ(audio.channels, c.channels);
        EXPECT_NEAR(audio.bitRate / 1000.0, c.kbps, c.kbps * 0.02);
        double seconds = ffprobeNumber(fixture(c.file), "format=duration");
        EXPECT_NEAR(double(mxscan.mux_play_time()), seconds, 1.0);
        // The analysis lists it as an MPEG audio stream.
        MediaRecord rec{};
        EXPECT_GE(analyzeMedia(path, rec), 0);
        EXPECT_EQ(rec.sampleRate, c.rate);
    }
}
