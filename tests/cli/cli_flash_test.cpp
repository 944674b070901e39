// Flash video, Flash movies, MTV and AMV files through kestrel-cli: what
// `info` lists, what a silent WAV conversion writes (against ffmpeg's
// decode), the mono picks, cut files and the refusals.
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
// The design's messages are checked as a Chinese locale shows them.
Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text =
        capture("SDL_AUDIODRIVER=dummy LC_ALL=zh_CN.UTF-8 timeout 60 '" + kCli + "' --home '" +
                home.path() + "' " + args + " 2>&1 </dev/null; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

// Time stamp of the last packet ffprobe finds, in seconds.
double lastPacketTime(const std::string& path) {
    return std::atof(capture("ffprobe -v error -show_entries packet=pts_time -of csv=p=0 '" + path +
                             "' | tail -n 1")
                         .c_str());
}

int jsonInt(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\"" + key + "\": (-?\\d+)"))) return -99999;
    return std::stoi(m[1]);
}

// Silent WAV conversion; returns the output's samples.
std::vector<int16_t> convertWav(const TempDir& home, const TempDir& out, const std::string& src,
                                const std::string& options, int* rate = nullptr,
                                int* channels = nullptr) {
    Result r = cli(home, "convert --mode silent -y -t wav " + options + " -o '" + out.path() +
                             "/' '" + src + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    size_t tab = r.out.find('\t');
    if (tab == std::string::npos) return {};
    size_t start = r.out.rfind('\n', tab);
    start = start == std::string::npos ? 0 : start + 1;
    return wavSamples(r.out.substr(start, tab - start), rate, channels);
}

struct Family {
    const char* file;
    const char* type;
    int kind, rate, channels;
    int frame;    // samples per channel of one codec frame
    bool flvTime; // FLV: the last time stamp in whole seconds, else `seconds`
    int seconds;
};

const Family kFamilies[] = {
    {"flash_mp3_44k_st.flv", "FLV", 8012, 44100, 2, 1152, true, 0},
    {"flash_mp3_48k.flv", "FLV", 8012, 48000, 2, 1152, true, 0},
    {"flash_mp3_22k_mono.flv", "FLV", 8012, 22050, 1, 576, true, 0},
    {"flash_adpcm_22k_mono.flv", "FLV", 8011, 22050, 1, 4096, true, 0},
    {"flash_adpcm_44k_st.flv", "FLV", 8011, 44100, 2, 4096, true, 0},
    {"flash_aac_44k_st.flv", "FLV", 8020, 44100, 2, 2048, true, 0},
    {"flash_mp3_stream.swf", "SWF", 8022, 44100, 2, 1152, false, 3},
    {"flash_mp3_compressed.swf", "SWF", 8022, 44100, 2, 1152, false, 3},
    {"flash_adpcm_stream.swf", "SWF", 8021, 44100, 2, 4096, false, 3},
    {"flash_adpcm_event.swf", "SWF", 8021, 22050, 1, 4096, false, 3},
    {"flash_pcm_event.swf", "SWF", 8020, 11025, 1, 1, false, 3},
    {"flash_clip.mtv", "MTV", 8008, 44100, 2, 1152, false, 3},
    {"flash_mono.mtv", "MTV", 8008, 22050, 1, 576, false, 3},
    {"flash_22k.amv", "AMV", 8009, 22050, 1, 1470, false, 3},
    {"flash_10fps.amv", "AMV", 8009, 22050, 1, 2205, false, 3},
};

} // namespace

TEST(CliFlash, InfoOfEveryFixture) {
    TempDir home;
    for (const auto& c : kFamilies) {
        SCOPED_TRACE(c.file);
        std::string path = fixture(c.file);
        Result r = cli(home, "info --json '" + path + "'");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("\"typeName\": \"") + c.type + "\""), std::string::npos)
            << r.out;
        EXPECT_EQ(jsonInt(r.out, "kind"), c.kind) << r.out;
        EXPECT_EQ(jsonInt(r.out, "sampleRate"), c.rate);
        EXPECT_EQ(jsonInt(r.out, "channels"), c.channels);
        const int d = jsonInt(r.out, "durationSec");
        // FLV lists its last time stamp, which is one tag's length short of
        // ffprobe's duration, or the end of its last tag's sound where the
        // tag tells its length (PCM, ADPCM); the others their sound's own
        // length.
        if (c.flvTime) {
            const bool sized = c.kind == 8010 || c.kind == 8011 || c.kind == 8013;
            EXPECT_EQ(d, sized ? int(ffprobeDuration(path)) : int(lastPacketTime(path)));
            EXPECT_NEAR(d, ffprobeDuration(path), 1.2);
        } else {
            EXPECT_EQ(d, c.seconds);
        }
    }
}

TEST(CliFlash, RefusalsSayWhy) {
    TempDir home;
    struct Case {
        const char* file;
        const char* message;
    };
    const Case cases[] = {
        {"flash_pcm8.flv", "是8位 的FLV音频编码"},
        {"flash_video_only.flv", "没有发现音频编码信息"},
        {"flash_video_only.swf", "没有发现音频编码信息"},
        {"flash_lzma.swf", "暂时不支持压缩的FLASH类型文件"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        Result r = cli(home, "info '" + fixture(c.file) + "'");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
    }
    // The first audio tag decides: 8-bit sound is refused even when later
    // tags are 16-bit; the duration is the last time stamp, truncated.
    TempDir made;
    auto flv = [&](const std::string& name, uint8_t first, uint32_t lastMs) {
        std::string b = std::string("FLV\1\4\0\0\0\x09", 9);
        auto tag = [&](uint8_t head, uint32_t ms) {
            b += std::string(4, '\0');
            b += '\x08';
            b += std::string("\0\0\x02", 3);
            b += char(ms >> 16), b += char(ms >> 8), b += char(ms), b += char(ms >> 24);
            b += std::string(3, '\0');
            b += char(head), b += '\0';
        };
        tag(first, 0);
        tag(0x3E, lastMs);
        writeFile(made.file(name), b);
        return made.file(name);
    };
    Result eight = cli(home, "info '" + flv("eight.flv", 0x3C, 100) + "'");
    EXPECT_EQ(eight.status, 2);
    EXPECT_NE(eight.out.find("是8位 的FLV音频编码"), std::string::npos) << eight.out;
    Result stamp = cli(home, "info --json '" + flv("stamp.f4v", 0x3E, 185999) + "'");
    ASSERT_EQ(stamp.status, 0) << stamp.out;
    EXPECT_EQ(jsonInt(stamp.out, "durationSec"), 185);
    EXPECT_EQ(jsonInt(stamp.out, "kind"), 8013);
    EXPECT_EQ(jsonInt(stamp.out, "sampleRate"), 44100);
    // Other files under these names.
    TempDir work;
    for (const char* name : {"x.flv", "x.f4v", "x.swf", "x.mtv", "x.amv"}) {
        SCOPED_TRACE(name);
        writeFile(work.file(name), std::string(300, 'x'));
        EXPECT_EQ(cli(home, "info '" + work.file(name) + "'").status, 2);
    }
}

TEST(CliFlash, SilentWavConversionMatchesFfmpeg) {
    TempDir home;
    for (const auto& c : kFamilies) {
        SCOPED_TRACE(c.file);
        TempDir out;
        int rate = 0, ch = 0;
        auto wav = convertWav(
            home, out, fixture(c.file),
            "-r " + std::to_string(c.rate) + (c.channels == 1 ? " --mono mix" : ""), &rate, &ch);
        ASSERT_FALSE(wav.empty());
        EXPECT_EQ(rate, c.rate);
        ASSERT_EQ(ch, c.channels);
        auto ref = readFile(fixture(std::string(c.file) + ".ref.s16"));
        std::vector<int16_t> r(ref.size() / 2);
        std::memcpy(r.data(), ref.data(), r.size() * 2);
        Comparison cmp = compareAudio(wav, r, ch, 3000);
        EXPECT_GE(cmp.snrDb, 40.0) << "lag " << cmp.lag;
        EXPECT_LE(std::labs(cmp.lengthDiff), c.frame + 1152) << cmp.lengthDiff;
    }
}

TEST(CliFlash, FlashRate5512ConvertsAt44100LikeSoxr) {
    TempDir home, out;
    const std::string src = fixture("flash_pcm_5k.swf");
    Result info = cli(home, "info --json '" + src + "'");
    ASSERT_EQ(info.status, 0) << info.out;
    EXPECT_EQ(jsonInt(info.out, "kind"), 8020);
    EXPECT_EQ(jsonInt(info.out, "sampleRate"), 5512);
    int rate = 0, ch = 0;
    auto wav = convertWav(home, out, src, "-r 44100 --mono mix", &rate, &ch);
    ASSERT_FALSE(wav.empty());
    EXPECT_EQ(rate, 44100);
    auto ref = ffmpegDecode(fixture("flash_src_5k_mono.wav"), 44100, 1);
    Comparison cmp = compareAudio(wav, ref, 1, 3000, 2000);
    EXPECT_GE(cmp.snrDb, 40.0) << "lag " << cmp.lag;
    EXPECT_LE(std::labs(cmp.lengthDiff), 1152);
}

TEST(CliFlash, MonoMixLeftAndRightAt22050) {
    TempDir home;
    // One stereo file per family (AMV sound is mono: its picks are equal).
    for (const char* name :
         {"flash_mp3_44k_st.flv", "flash_adpcm_stream.swf", "flash_clip.mtv", "flash_22k.amv"}) {
        SCOPED_TRACE(name);
        const std::string src = fixture(name);
        const std::string ref = src + ".ref.s16";
        const bool stereo = std::string(name) != "flash_22k.amv";
        const std::string inputOptions =
            std::string("-f s16le -ar ") +
            (std::string(name) == "flash_22k.amv" ? "22050" : "44100") + " -ac " +
            (stereo ? "2" : "1");
        const struct {
            const char* pick;
            const char* filter;
        } picks[] = {{"mix", ""}, {"left", "pan=mono|c0=c0"}, {"right", "pan=mono|c0=c1"}};
        for (const auto& p : picks) {
            SCOPED_TRACE(p.pick);
            TempDir out;
            int rate = 0, ch = 0;
            auto wav =
                convertWav(home, out, src, std::string("-r 22050 --mono ") + p.pick, &rate, &ch);
            ASSERT_FALSE(wav.empty());
            EXPECT_EQ(rate, 22050);
            EXPECT_EQ(ch, 1);
            auto expect = ffmpegDecode(ref, 22050, 1, stereo ? p.filter : "", inputOptions);
            ASSERT_FALSE(expect.empty());
            Comparison cmp = compareAudio(wav, expect, 1, 3000, 2000);
            EXPECT_GE(cmp.snrDb, 40.0) << "lag " << cmp.lag;
            EXPECT_LE(std::labs(cmp.lengthDiff), 2400);
        }
    }
}

TEST(CliFlash, CutFilesConvertWhatIsThereAndDamagedHeadersDoNotHang) {
    TempDir home, work;
    for (const auto& c : kFamilies) {
        SCOPED_TRACE(c.file);
        auto bytes = readFile(fixture(c.file));
        std::string ext = std::string(c.file).substr(std::string(c.file).rfind('.'));
        // Cut at a third: about a third of the sound, and the job ends.
        std::vector<uint8_t> third(bytes.begin(), bytes.begin() + long(bytes.size() / 3));
        std::string cut = work.file(std::string("cut") + ext);
        writeFile(cut, third);
        TempDir out;
        Result info = cli(home, "info '" + cut + "'");
        if (info.status == 0) {
            int rate = 0, ch = 0;
            auto wav =
                convertWav(home, out, cut,
                           "-r " + std::to_string(c.rate) + (c.channels == 1 ? " --mono mix" : ""),
                           &rate, &ch);
            auto whole = readFile(fixture(std::string(c.file) + ".ref.s16"));
            const double part = double(wav.size()) / double(whole.size() / 2);
            EXPECT_GT(part, 0.2);
            EXPECT_LT(part, 0.5);
        } else {
            // Only a movie whose sound sits at its end may lose it all.
            EXPECT_NE(std::string(c.file).find(".swf"), std::string::npos) << info.out;
        }
        // Random bytes over the header: refused with a message or
        // converted as far as readable, within the time limit.
        uint32_t seed = 12345;
        for (int round = 0; round < 4; ++round) {
            std::vector<uint8_t> damaged = bytes;
            for (int i = 0; i < 24; ++i) {
                seed = seed * 1103515245u + 12345u;
                damaged[(seed >> 8) % std::min<size_t>(damaged.size(), 64)] = uint8_t(seed >> 20);
            }
            std::string bad = work.file(std::string("bad") + ext);
            writeFile(bad, damaged);
            Result r = cli(home, "info '" + bad + "'");
            EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.out;
            if (r.status == 0) {
                TempDir o;
                Result conv = cli(home, "convert --mode silent -y -t wav -o '" + o.path() + "/' '" +
                                            bad + "'");
                EXPECT_TRUE(conv.status == 0 || conv.status == 2) << conv.status << conv.out;
            }
        }
    }
}
