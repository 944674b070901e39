// End-to-end conversions of the MPEG fixtures through kestrel-cli, checked
// against ffmpeg's decode of the same files.
#include "engine/containers/avi_reader.h"
#include "engine/convert/conversion_driver.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <regex>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

// Runs a silent conversion; returns the output paths listed by the command.
std::vector<std::string> convert(const TempDir& home, const TempDir& out, const std::string& args,
                                 int* status = nullptr) {
    std::string cmd = "SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                      "' convert --stamp -o '" + out.path() + "' " + args + " 2>/dev/null";
    std::string text = capture(cmd + "; echo \"rc=$?\"");
    std::vector<std::string> paths;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl - pos);
        if (line.rfind("rc=", 0) == 0 && status) *status = std::atoi(line.c_str() + 3);
        size_t tab = line.find('\t');
        if (tab != std::string::npos) paths.push_back(line.substr(0, tab));
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return paths;
}

struct Probe {
    int rate = 0, channels = 0;
    double duration = 0;
    std::string codec;
};

Probe ffprobe(const std::string& path) {
    Probe p;
    std::string s = capture("ffprobe -v error -select_streams a:0 -show_entries "
                            "stream=sample_rate,channels,codec_name -show_entries "
                            "format=duration -of default=nw=1 '" +
                            path + "'");
    std::smatch m;
    if (std::regex_search(s, m, std::regex("sample_rate=(\\d+)"))) p.rate = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("channels=(\\d+)"))) p.channels = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("duration=([0-9.]+)"))) p.duration = std::stod(m[1]);
    if (std::regex_search(s, m, std::regex("codec_name=(\\w+)"))) p.codec = m[1];
    return p;
}

struct WavCase {
    const char* fixture;
    const char* args;      // extra convert options
    int rate, channels;    // expected output format
    const char* filter;    // reference filter (channel pick)
    const char* inputOpts; // reference decoder options
    double minSnr;
    int srcFrame; // samples per frame of the source, at the source rate
    int srcRate;
};

} // namespace

TEST(Conversion, SilentWavMatchesFfmpegDecode) {
    const WavCase cases[] = {
        {"mpeg_vcd.mpg", "-r 44100", 44100, 2, "", "", 60, 1152, 44100},
        {"mpeg_mpeg2.mpg", "-r 48000", 48000, 2, "", "", 60, 1152, 48000},
        {"mpeg_dvd.vob", "-r 48000", 48000, 2, "", "-downmix stereo", 40, 1536, 48000},
        {"mpeg_ts_mp2.ts", "-r 48000", 48000, 2, "", "", 60, 1152, 48000},
        {"mpeg_ts_audio.ts", "-r 24000", 24000, 2, "", "", 60, 1152, 24000},
        {"mpeg_l3_cbr_44k.mp3", "-r 44100", 44100, 2, "", "", 60, 1152, 44100},
        {"mpeg_l3_mpeg2_22k.mp3", "-r 22050", 22050, 2, "", "", 60, 576, 22050},
        {"mpeg_l3_mpeg25_11k.mp3", "-r 11025", 11025, 2, "", "", 60, 576, 11025},
        {"mpeg_l3_cbr_32k_mono.mp3", "-r 32000 --mono mix", 32000, 1, "", "", 60, 1152, 32000},
        // Resampled and mixed, left or right.
        {"mpeg_vcd.mpg", "-r 22050 --mono mix", 22050, 1, "pan=mono|c0=0.5*c0+0.5*c1", "", 40, 1152,
         44100},
        {"mpeg_vcd.mpg", "-r 22050 --mono left", 22050, 1, "pan=mono|c0=c0", "", 40, 1152, 44100},
        {"mpeg_vcd.mpg", "-r 22050 --mono right", 22050, 1, "pan=mono|c0=c1", "", 40, 1152, 44100},
        {"mpeg_dvd.vob", "-r 44100", 44100, 2, "", "-downmix stereo", 40, 1536, 48000},
        {"mpeg_l3_mpeg2_22k.mp3", "-r 44100", 44100, 2, "", "", 40, 576, 22050},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + " " + c.args);
        ASSERT_TRUE(haveFixture(c.fixture));
        TempDir home, out;
        auto outs =
            convert(home, out, std::string("-t wav ") + c.args + " '" + fixture(c.fixture) + "'");
        ASSERT_EQ(outs.size(), 1u);
        int rate = 0, ch = 0;
        auto got = wavSamples(outs[0], &rate, &ch);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(ch, c.channels);
        auto ref = ffmpegDecode(fixture(c.fixture), c.rate == c.srcRate ? 0 : c.rate,
                                c.filter[0] ? 0 : c.channels, c.filter, c.inputOpts);
        ASSERT_FALSE(ref.empty());
        auto cmp = compareAudio(got, ref, c.channels, 3000, 2000);
        long frame = static_cast<long>(c.srcFrame) * c.rate / c.srcRate;
        EXPECT_LE(std::labs(cmp.lengthDiff), frame) << "lag " << cmp.lag;
        EXPECT_GE(cmp.snrDb, c.minSnr) << "lag " << cmp.lag;
    }
}

TEST(Conversion, Mp3OutputsInEveryRateModeAndVersion) {
    struct Mp3Case {
        const char* args;
        int rate, channels;
        int versionBits; // of the first header: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    };
    const Mp3Case cases[] = {
        {"-b 128 -r 44100", 44100, 2, 3},
        {"--vbr 4 -r 48000", 48000, 2, 3},
        {"--abr 128 -r 32000", 32000, 2, 3},
        {"-b 64 -r 22050", 22050, 2, 2},
        {"--vbr 2 --min 32 --max 128 -r 24000", 24000, 2, 2},
        {"--abr 96 -r 16000 --mono mix", 16000, 1, 2},
        {"-b 32 -r 11025 --mono left", 11025, 1, 0},
        {"--vbr 5 -r 8000", 8000, 2, 0},
        {"--abr 80 -r 12000", 12000, 2, 0},
    };
    const double srcSeconds = 4.0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir home, out;
        auto outs = convert(home, out,
                            std::string("-t mp3 ") + c.args + " '" + fixture("mpeg_vcd.mpg") + "'");
        ASSERT_EQ(outs.size(), 1u);
        Probe p = ffprobe(outs[0]);
        EXPECT_EQ(p.codec, "mp3");
        EXPECT_EQ(p.rate, c.rate);
        EXPECT_EQ(p.channels, c.channels);
        auto bytes = readFile(outs[0]);
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ((bytes[1] >> 3) & 3, c.versionBits);
        // The decoded length is the source's (the tag tells the decoder to
        // drop the encoder's delay and padding); ffprobe's figure counts whole
        // frames, delay and padding included.
        EXPECT_NEAR(p.duration, srcSeconds, 0.1 + (1105.0 + 1152.0) / c.rate);
        auto pcm = ffmpegDecode(outs[0]);
        EXPECT_NEAR(double(pcm.size()) / c.channels / c.rate, srcSeconds, 0.1);
    }
}

TEST(Conversion, JoinedAndPerFileModes) {
    TempDir home, out;
    std::string a = fixture("mpeg_vcd.mpg"), b = fixture("mpeg_l3_cbr_44k.mp3");
    auto joined = convert(home, out, "-t wav -r 44100 --join '" + a + "' '" + b + "'");
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_TRUE(std::regex_search(joined[0], std::regex("/合并\\d{14}\\.wav$"))) << joined[0];
    auto both = wavSamples(joined[0]);

    TempDir out2;
    auto single = convert(home, out2, "-t wav -r 44100 '" + a + "' '" + b + "'");
    ASSERT_EQ(single.size(), 2u);
    EXPECT_TRUE(std::regex_search(single[0], std::regex("/\\d{14}mpeg_vcd\\.wav$"))) << single[0];
    EXPECT_TRUE(std::regex_search(single[1], std::regex("/\\d{14}mpeg_l3_cbr_44k\\.wav$")));
    // The joined output holds the PCM of both entries, under one header.
    EXPECT_EQ(both.size(), wavSamples(single[0]).size() + wavSamples(single[1]).size());
    auto bytes = readFile(joined[0]);
    uint32_t dataSize;
    std::memcpy(&dataSize, bytes.data() + 40, 4);
    EXPECT_EQ(dataSize + 44, bytes.size());

    // Two sources with the same base name in one per-file job: the second
    // output gets a suffix instead of replacing the first.
    TempDir out3, src;
    run("mkdir -p '" + src.path() + "/x' '" + src.path() + "/y' && cp '" + a + "' '" + src.path() +
        "/x/' && cp '" + a + "' '" + src.path() + "/y/'");
    auto twice = convert(home, out3,
                         "-t mp3 -b 128 '" + src.path() + "/x/mpeg_vcd.mpg' '" + src.path() +
                             "/y/mpeg_vcd.mpg'");
    ASSERT_EQ(twice.size(), 2u);
    EXPECT_NE(twice[0], twice[1]);
    // Within the same second the names would be equal: then the suffix.
    std::string second = twice[0].substr(0, twice[0].size() - 4) + "_2.mp3";
    if (twice[1] != second) {
        EXPECT_NE(twice[0].substr(out3.path().size(), 15), twice[1].substr(out3.path().size(), 15));
    }
    EXPECT_GT(readFile(twice[0]).size(), 10000u);
    EXPECT_EQ(readFile(twice[0]), readFile(twice[1]));

    // No temporary file is left behind.
    DIR* d = opendir(out3.path().c_str());
    int files = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++files;
    closedir(d);
    EXPECT_EQ(files, 2);
}

TEST(Conversion, Refusals) {
    TempDir home, out;
    int status = 0;
    auto outs = convert(home, out, "-t mp3 '" + fixture("mpeg_video.m1v") + "'", &status);
    EXPECT_TRUE(outs.empty());
    EXPECT_EQ(status, 2);
    outs = convert(home, out, "-t mp3 -b 130 '" + fixture("mpeg_vcd.mpg") + "'", &status);
    EXPECT_EQ(status, 1);
}

// Every entry that gave no sound, no output or only part of its sound is
// reported as such, never as converted; every output is listed.
namespace {

struct CliRun {
    int status = -1;
    std::vector<std::string> lines; // stdout
    std::string err;
};

// Runs kestrel-cli convert; `prefix` goes before the program (limits).
CliRun convertRun(const TempDir& home, const std::string& outDir, const std::string& args,
                  const std::string& prefix = "") {
    std::string errFile = home.file("stderr.txt");
    std::string cmd = prefix + "'" + kCli + "' --home '" + home.path() + "' convert --stamp -o '" +
                      outDir + "' " + args;
    std::string text = capture("SDL_AUDIODRIVER=dummy bash -c \"trap '' XFSZ; " + cmd + "\" 2>'" +
                               errFile + "'; echo \"rc=$?\"");
    CliRun r;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        std::string line = text.substr(pos, nl - pos);
        if (line.rfind("rc=", 0) == 0)
            r.status = std::atoi(line.c_str() + 3);
        else if (!line.empty())
            r.lines.push_back(line);
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    auto e = readFile(errFile);
    r.err.assign(e.begin(), e.end());
    return r;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> f;
    size_t pos = 0;
    for (;;) {
        size_t tab = line.find('\t', pos);
        f.push_back(line.substr(pos, tab - pos));
        if (tab == std::string::npos) break;
        pos = tab + 1;
    }
    return f;
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (dirent* e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    if (d) closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t le32At(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

} // namespace

// An output that cannot be created (here: its name is longer than a file
// name may be) gives no output, and the run says so and exits 2.
TEST(ConversionReport, OutputThatCannotBeCreatedGivesNoOutputAndStatus2) {
    TempDir home, src, out;
    std::string source = src.file(std::string(245, 'a') + ".mpg");
    ASSERT_EQ(run("cp '" + fixture("mpeg_vcd.mpg") + "' '" + source + "'"), 0);
    CliRun r = convertRun(home, out.path(), "-t wav '" + source + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_NE(r.err.find("cannot open the output"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(source + ": no output"), std::string::npos) << r.err;
    EXPECT_TRUE(filesIn(out.path()).empty());
}

TEST(ConversionReport, EntryWithoutSoundIsListedAsSuch) {
    TempDir home, out, src;
    // An AVI whose audio chunks hold no MPEG audio frame: listed from its
    // headers, it decodes to nothing and its WAV keeps its bare header.
    const std::string silent = src.file("mpeg_mpeg4.avi");
    {
        auto bytes = readFile(fixture("mpeg_mpeg4.avi"));
        AviReader avi;
        ASSERT_EQ(avi.open(fixture("mpeg_mpeg4.avi"), true), 0);
        ASSERT_FALSE(avi.info().audioIndex.empty());
        for (const AviChunk& c : avi.info().audioIndex)
            std::memset(bytes.data() + c.offset, 0, c.length);
        writeFile(silent, bytes);
    }
    CliRun r = convertRun(home, out.path(),
                          "-t wav -r 44100 '" + silent + "' '" + fixture("mpeg_vcd.mpg") + "'");
    EXPECT_EQ(r.status, 2);
    ASSERT_EQ(r.lines.size(), 2u);
    auto avi = fields(r.lines[0]), vcd = fields(r.lines[1]);
    // output, source, seconds, bytes, status, reason
    ASSERT_EQ(avi.size(), 6u);
    EXPECT_EQ(avi[4], "no-sound");
    EXPECT_EQ(readFile(avi[0]).size(), 44u);
    EXPECT_EQ(avi[3], "44");
    ASSERT_EQ(vcd.size(), 6u) << r.lines[1];
    EXPECT_EQ(vcd[4], "converted");
    EXPECT_NEAR(std::atof(vcd[2].c_str()), 4.0, 0.1);
    EXPECT_NE(r.err.find(silent + ": no sound"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(fixture("mpeg_vcd.mpg") + ":"), std::string::npos) << r.err;
}

// More outputs than the output manager's 16 records: all are listed.
TEST(ConversionReport, EveryOutputIsListed) {
    TempDir home, src;
    std::string files;
    for (int i = 1; i <= 17; ++i) {
        std::string name = src.file("s" + std::to_string(100 + i) + ".mp3");
        run("cp '" + fixture("mpeg_l3_mpeg25_11k.mp3") + "' '" + name + "'");
        files += " '" + name + "'";
    }
    TempDir out2;
    CliRun r = convertRun(home, out2.path(), "-t wav -r 11025" + files);
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 17u);
    for (int i = 0; i < 17; ++i) {
        auto f = fields(r.lines[i]);
        ASSERT_EQ(f.size(), 6u) << r.lines[i];
        EXPECT_NE(f[0].find("s" + std::to_string(101 + i) + ".wav"), std::string::npos);
        EXPECT_GT(readFile(f[0]).size(), 44u + 11025 * 4);
    }
    EXPECT_EQ(filesIn(out2.path()).size(), 17u);
}

TEST(ConversionReport, OutputsNeverReplaceAFileOfAnotherRun) {
    TempDir home, out;
    // The outputs of a run started in the same second: files of the names the
    // conversion would take for the coming half minute.
    std::time_t now = std::time(nullptr);
    for (int s = 0; s < 30; ++s) {
        std::time_t t = now + s;
        std::tm tm{};
        localtime_r(&t, &tm);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &tm);
        writeFile(out.file(std::string(stamp) + "mpeg_vcd.wav"), std::string("earlier run"));
        // What an earlier release left beside its output: no file of the
        // program's, so the name it suggests stays free.
        writeFile(out.file(std::string(stamp) + "mpeg_vcd_2.wav.part"), std::string("left"));
    }
    CliRun r = convertRun(home, out.path(), "-t wav '" + fixture("mpeg_vcd.mpg") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.lines.size(), 1u);
    std::string path = fields(r.lines[0])[0];
    EXPECT_TRUE(std::regex_search(path, std::regex("/\\d{14}mpeg_vcd_2\\.wav$"))) << path;
    EXPECT_GT(readFile(path).size(), 100000u);
    for (const auto& n : filesIn(out.path())) {
        if (out.file(n) == path) continue;
        auto bytes = readFile(out.file(n));
        EXPECT_TRUE(bytes.size() == 11 || bytes.size() == 4) << n;
    }
    EXPECT_EQ(filesIn(out.path()).size(), 61u);
}

// A full disk (here the process's file size limit): the entry stops at the
// failed write with the reason, its file keeps what was written, finished so
// that it is valid, and is listed as incomplete.
TEST(ConversionReport, FailedWritesKeepAValidIncompleteOutput) {
    TempDir home;
    const std::string src = fixture("mpeg_vcd.mpg");
    {
        TempDir out;
        CliRun r = convertRun(home, out.path(), "-t wav -r 44100 '" + src + "'", "ulimit -f 100; ");
        EXPECT_EQ(r.status, 2);
        ASSERT_EQ(r.lines.size(), 1u);
        auto f = fields(r.lines[0]);
        ASSERT_EQ(f.size(), 6u);
        EXPECT_EQ(f[4], "incomplete");
        EXPECT_NE(r.err.find("writing the output"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("the file is larger than the system allows"), std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find(src + ": incomplete"), std::string::npos) << r.err;
        auto wav = readFile(f[0]);
        ASSERT_GT(wav.size(), 50000u);
        EXPECT_LE(wav.size(), 100u * 1024);
        EXPECT_EQ(le32At(wav, 4), wav.size() - 8);
        EXPECT_EQ(le32At(wav, 40), wav.size() - 44);
        EXPECT_EQ((wav.size() - 44) % 4, 0u);
        // What is there is the start of the sound.
        auto got = wavSamples(f[0]);
        auto ref = ffmpegDecode(src);
        ASSERT_GT(ref.size(), got.size());
        ref.resize(got.size());
        EXPECT_GE(compareAudio(got, ref, 2, 3000, 2000).snrDb, 60);
        EXPECT_EQ(filesIn(out.path()).size(), 1u);
    }
    {
        TempDir out;
        CliRun r =
            convertRun(home, out.path(), "-t mp3 -b 128 -r 44100 '" + src + "'", "ulimit -f 20; ");
        EXPECT_EQ(r.status, 2);
        ASSERT_EQ(r.lines.size(), 1u);
        auto f = fields(r.lines[0]);
        ASSERT_EQ(f.size(), 6u);
        EXPECT_EQ(f[4], "incomplete");
        auto mp3 = readFile(f[0]);
        ASSERT_GT(mp3.size(), 5000u);
        EXPECT_LE(mp3.size(), 20u * 1024);
        // Whole frames to the last byte (128 kbit/s at 44.1 kHz: 417 or 418
        // bytes), and no tag claiming the frames that are missing.
        size_t at = 0, frames = 0;
        while (at + 4 <= mp3.size()) {
            ASSERT_EQ(mp3[at], 0xFF) << at;
            at += 417 + ((mp3[at + 2] >> 1) & 1);
            ++frames;
        }
        EXPECT_EQ(at, mp3.size());
        std::string head(mp3.begin(), mp3.begin() + 64);
        EXPECT_EQ(head.find("Info"), std::string::npos);
        EXPECT_EQ(head.find("Xing"), std::string::npos);
        std::string errs = capture("ffmpeg -v error -i '" + f[0] + "' -f null - 2>&1");
        EXPECT_TRUE(errs.empty()) << errs;
        EXPECT_NEAR(ffprobe(f[0]).duration, frames * 1152.0 / 44100, 0.05);
    }
}

// The route of each kind and type text, first match first; the stored codes of
// kinds and routes stay those of the list file and the job table.
TEST(ConversionRoutes, EveryKindAndTypeTextHasItsRoute) {
    struct Case {
        const char* typeName;
        int32_t kind;
        int32_t route;
    };
    const Case cases[] = {
        {"MP3", 10, 8},       {"MPEG1/2 ES", 10, 8},    {"MPEG1/2 ES", 11, 1}, {"MPEG2 TS", 3, 1},
        {"MPEG1/2 PS", 5, 1}, {"MPEG1/2 PES", 6, 1},    {"VCD", 0, 1},         {"DVD", 6, 1},
        {"MPEG4 AVI", 99, 2}, {"ASF/WMA/WMV", 9999, 3}, {"AAC", 8002, 89},     {"MTV", 8008, 93},
        {"AMV", 8009, 94},    {"FLV", 8012, 90},        {"SWF", 8022, 92},     {"AMR", 8001, 88},
        {"RM/RMVB", 6000, 6}, {"MOV/QT", 7000, 6},      {"其他", 8000, 6},     {"MP4", 10003, 7},
        {"3GP", 10001, 7},    {"M4A", 10004, 7},        {"MP4", 10005, -1},    {"其他", 8001, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.typeName) + " " + std::to_string(c.kind));
        EXPECT_EQ(static_cast<int32_t>(routeFor(c.typeName, mediaKind(c.kind))), c.route);
    }
    // Formats 0-3 (PCM, ADPCM, MP3, little-endian PCM) are the SWF reader's.
    EXPECT_EQ(kindCode(MediaKind::Swf) + 3, 8023);
    EXPECT_FALSE(isUnsupportedSwf(mediaKind(8022)));
    EXPECT_FALSE(isUnsupportedSwf(mediaKind(8023)));
    EXPECT_TRUE(isUnsupportedSwf(mediaKind(8024)));
}
