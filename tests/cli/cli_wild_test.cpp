// Files in the layouts other programs write, through kestrel-cli: a file
// whose sound our own readers cannot decode is listed for the media graph and
// converts like FFmpeg's decode of it; MPEG audio with junk or garbage,
// tiny VBR files and format changes converts like mpg123's decode.
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Result {
    int status = -1;
    std::string out;
};

// Stopped after 60 seconds (status 124), so that a hang fails.
Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text = capture("SDL_AUDIODRIVER=dummy timeout 60 '" + kCli + "' --home '" +
                               home.path() + "' " + args + " 2>&1 </dev/null; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

int jsonInt(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\"" + key + "\": (-?\\d+)"))) return -99999;
    return std::stoi(m[1]);
}

// Silent WAV conversion at `rate` with `channels`; the output's samples.
std::vector<int16_t> convertWav(const TempDir& home, const std::string& src, int rate,
                                int channels) {
    TempDir out;
    std::string options = "-r " + std::to_string(rate) + (channels == 1 ? " --mono mix" : "");
    Result r = cli(home, "convert --mode silent -y -t wav " + options + " -o '" + out.path() +
                             "/' '" + src + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    size_t tab = r.out.find('\t');
    if (tab == std::string::npos) return {};
    size_t start = r.out.rfind('\n', tab);
    start = start == std::string::npos ? 0 : start + 1;
    int gotRate = 0, gotChannels = 0;
    auto wav = wavSamples(r.out.substr(start, tab - start), &gotRate, &gotChannels);
    EXPECT_EQ(gotRate, rate);
    EXPECT_EQ(gotChannels, channels);
    return wav;
}

} // namespace

// Sound that only the media graph decodes: listed as "其他" (kind 8000) with
// the stream's own rate and channels, converted like FFmpeg decodes it.
TEST(CliWild, SoundOurReadersCannotDecodeGoesToTheMediaGraph) {
    struct Case {
        const char* file;
        int rate, channels;
        int frame; // samples per channel of one codec frame
    };
    const Case cases[] = {
        {"wild_ts_adts.ts", 44100, 2, 1024},  {"wild_ts_latm.ts", 44100, 2, 1024},
        {"wild_ts_eac3.ts", 44100, 2, 1536},  {"wild_ts_dts.ts", 44100, 2, 512},
        {"wild_ac3.mp4", 44100, 2, 1536},     {"wild_eac3.mp4", 44100, 2, 1536},
        {"wild_alac.m4a", 44100, 2, 4096},    {"wild_opus.mp4", 48000, 2, 960},
        {"wild_ac3.avi", 44100, 2, 1536},     {"wild_amrwb.amr", 16000, 1, 320},
        {"wild_alaw.flv", 8000, 1, 1024},     {"wild_mulaw.flv", 8000, 1, 1024},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string src = fixture(c.file);
        Result info = cli(home, "info --json '" + src + "'");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(jsonInt(info.out, "kind"), 8000);
        EXPECT_EQ(jsonInt(info.out, "sampleRate"), c.rate);
        EXPECT_EQ(jsonInt(info.out, "channels"), c.channels);
        auto wav = convertWav(home, src, c.rate, c.channels);
        auto ref = ffmpegDecode(src, c.rate, c.channels);
        ASSERT_FALSE(wav.empty());
        Comparison cmp = compareAudio(wav, ref, c.channels, 3000);
        EXPECT_GE(cmp.snrDb, 30.0) << "lag " << cmp.lag;
        EXPECT_LE(std::labs(cmp.lengthDiff), c.frame) << cmp.lengthDiff;
    }
}
