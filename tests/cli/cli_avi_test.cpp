// kestrel-cli on MPEG-4 AVI sources and on transport streams in 192- and
// 204-byte packets: info, silent WAV conversion against ffmpeg's decode,
// 22050 Hz mono mix/left/right, refusals, and the same audio from every
// packet size in conversion and fast conversion.
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Result {
    int status = -1;
    std::string out;
};

// The design's messages are checked as a Chinese locale shows them.
Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text =
        capture("SDL_AUDIODRIVER=dummy LC_ALL=zh_CN.UTF-8 timeout 120 '" + kCli + "' --home '" +
                home.path() + "' " + args + " 2>&1 </dev/null; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

// Converts `src` to a WAV in `out` with `options`; returns its samples.
std::vector<int16_t> convertWav(const TempDir& home, const TempDir& out, const std::string& src,
                                const std::string& options, int* rate = nullptr,
                                int* channels = nullptr) {
    std::string name = src.substr(src.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    std::string wav =
        out.file(name + "_" + std::to_string(std::hash<std::string>()(options)) + ".wav");
    Result r = cli(home, "convert -q -y -t wav " + options + " -o '" + wav + "' '" + src + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    return wavSamples(wav, rate, channels);
}

} // namespace

TEST(CliAvi, InfoOfTheAviFixtures) {
    struct Case {
        const char* file;
        int rate, channels;
    };
    const Case cases[] = {
        {"avi_mp3_44k.avi", 44100, 2},        {"avi_mp3_22k_mono.avi", 22050, 1},
        {"avi_adpcm_22k.avi", 22050, 2},      {"avi_mp3_44k_noidx.avi", 44100, 2},
        {"avi_mp3_44k_absidx.avi", 44100, 2},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(haveFixture(c.file));
        Result r = cli(home, "info --json '" + fixture(c.file) + "'");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\"typeName\": \"MPEG4 AVI\""), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"kind\": 99,"), std::string::npos);
        EXPECT_NE(r.out.find("\"sampleRate\": " + std::to_string(c.rate) + ","), std::string::npos);
        EXPECT_NE(r.out.find("\"channels\": " + std::to_string(c.channels) + ","),
                  std::string::npos);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"durationSec\": (\\d+)")));
        EXPECT_NEAR(std::stod(m[1]), ffprobeDuration(fixture(c.file)), 1.0);
    }
    // Video without sound: the analysis message.
    Result v = cli(home, "info '" + fixture("avi_video_only.avi") + "'");
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.out.find("无音频信息"), std::string::npos) << v.out;
}

TEST(CliAvi, SilentWavConversionMatchesFfmpeg) {
    struct Case {
        const char* file;
        int rate, channels;
    };
    const Case cases[] = {
        {"avi_mp3_44k.avi", 44100, 2},
        {"avi_mp3_22k_mono.avi", 22050, 1},
        {"avi_adpcm_22k.avi", 22050, 2},
    };
    TempDir home, out;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        int rate = 0, ch = 0;
        std::string opts = "--mode silent -r " + std::to_string(c.rate);
        if (c.channels == 1) opts += " --mono mix";
        auto got = convertWav(home, out, fixture(c.file), opts, &rate, &ch);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(rate, c.rate);
        auto ref = ffmpegDecode(fixture(c.file));
        auto cmp = compareAudio(got, ref, c.channels);
        EXPECT_GE(cmp.snrDb, 40.0);
        EXPECT_LE(std::labs(cmp.lengthDiff), 1152);
    }
}

TEST(CliAvi, MonoMixLeftAndRightAt22050) {
    TempDir home, out;
    const std::string src = fixture("avi_mp3_44k.avi");
    const struct {
        const char* mode;
        const char* pan;
    } picks[] = {{"mix", "pan=mono|c0=0.5*c0+0.5*c1"},
                 {"left", "pan=mono|c0=c0"},
                 {"right", "pan=mono|c0=c1"}};
    std::vector<std::vector<int16_t>> outs;
    for (const auto& p : picks) {
        SCOPED_TRACE(p.mode);
        int rate = 0, ch = 0;
        auto got = convertWav(home, out, src, std::string("-r 22050 --mono ") + p.mode, &rate, &ch);
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(rate, 22050);
        EXPECT_EQ(ch, 1);
        auto ref = ffmpegDecode(src, 22050, 1, p.pan);
        auto cmp = compareAudio(got, ref, 1);
        EXPECT_GE(cmp.snrDb, 40.0) << cmp.snrDb;
        EXPECT_LE(std::labs(cmp.lengthDiff), 1152);
        outs.push_back(got);
    }
    // Three different signals (440 Hz left, a sweep right).
    EXPECT_FALSE(outs[1] == outs[2]);
    EXPECT_FALSE(outs[0] == outs[1]);
}

TEST(CliAvi, CutAndDamagedFilesEndCleanly) {
    TempDir home, out, work;
    const std::string src = fixture("avi_mp3_44k.avi");
    auto bytes = readFile(src);
    auto cut = bytes;
    cut.resize(cut.size() / 3);
    writeFile(work.file("cut.avi"), cut);
    int rate = 0;
    auto whole = convertWav(home, out, src, "-r 44100", &rate);
    auto part = convertWav(home, out, work.file("cut.avi"), "-r 44100", &rate);
    EXPECT_GT(part.size(), whole.size() / 5);
    EXPECT_LT(part.size(), whole.size() / 2);
    // Damaged headers: refused with a message or converted; never a crash or hang.
    unsigned seed = 7;
    for (int round = 0; round < 6; ++round) {
        auto b = bytes;
        for (int k = 0; k < 10; ++k) {
            seed = seed * 1103515245u + 12345u;
            b[(seed >> 8) % 2048] = uint8_t(seed >> 3);
        }
        std::string f = work.file("bad" + std::to_string(round) + ".avi");
        writeFile(f, b);
        Result r = cli(home, "convert -q -y -t wav -o '" + out.path() + "/' '" + f + "'");
        EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.out;
    }
}

TEST(CliTsPackets, M2tsAnd204ByteStreamsGiveTheAudioOfTheOriginal) {
    for (const char* n : {"mpeg_ts_mp2.ts", "mpeg_ts_mp2.m2ts", "mpeg_ts_mp2_204.ts"})
        ASSERT_TRUE(haveFixture(n)) << n;
    TempDir home, out;
    std::string info188;
    std::vector<int16_t> wav188;
    std::vector<uint8_t> fast188;
    for (const char* n : {"mpeg_ts_mp2.ts", "mpeg_ts_mp2.m2ts", "mpeg_ts_mp2_204.ts"}) {
        SCOPED_TRACE(n);
        Result r = cli(home, "info --json '" + fixture(n) + "'");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\"typeName\": \"MPEG2 TS\""), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"kind\": 3,"), std::string::npos);
        EXPECT_NE(r.out.find("\"sampleRate\": 48000,"), std::string::npos);
        EXPECT_NE(r.out.find("\"channels\": 2,"), std::string::npos);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"durationSec\": (\\d+)")));
        std::string duration = m[1];
        auto wav = convertWav(home, out, fixture(n), "-r 48000");
        ASSERT_GT(wav.size(), 48000u);
        TempDir fastDir;
        Result f = cli(home, "fast -q -o '" + fastDir.path() + "' '" + fixture(n) + "'");
        ASSERT_EQ(f.status, 0) << f.out;
        std::string base = std::string(n).substr(0, std::string(n).rfind('.'));
        auto mp3 = readFile(fastDir.file(base + ".mp3"));
        ASSERT_GT(mp3.size(), 1000u);
        if (info188.empty()) {
            info188 = duration;
            wav188 = wav;
            fast188 = mp3;
            continue;
        }
        EXPECT_EQ(duration, info188);
        EXPECT_TRUE(wav == wav188);
        EXPECT_TRUE(mp3 == fast188);
    }
}
