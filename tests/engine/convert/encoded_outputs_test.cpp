// The outputs written by encoders: raw AAC, MPEG-2 AAC (ADTS), MP4 (AAC), AMR
// and WMA, per entry and joined, from an MPEG program stream and an MP3 file.
// Each output is read back by ffprobe (codec, rate, channels, duration) and
// decoded by ffmpeg and compared with the WAV conversion of the same sources.
// The SNR floors lie far above what a broken path gives (the fixtures carry a
// different tone in each channel: swapped channels, a wrong rate, byte order or
// a dropped block measure about 0 dB or below).
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <regex>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";
const char* const kSources[] = {"mpeg_vcd.mpg", "mpeg_l3_cbr_44k.mp3"};

// Runs kestrel-cli convert in one process; returns the output paths it lists.
std::vector<std::string> convert(const TempDir& home, const std::string& outArg,
                                 const std::string& args, int* status = nullptr) {
    std::string text =
        capture("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                "' convert -q -j 1 -o '" + outArg + "' " + args + " 2>/dev/null; echo \"rc=$?\"");
    std::vector<std::string> paths;
    std::smatch m;
    std::string::const_iterator from = text.cbegin();
    while (std::regex_search(from, text.cend(), m, std::regex("([^\n\t]+)\t[^\n]*\n"))) {
        paths.push_back(m[1]);
        from = m.suffix().first;
    }
    if (status && std::regex_search(text, m, std::regex("rc=(\\d+)"))) *status = std::stoi(m[1]);
    return paths;
}

struct Probe {
    int rate = 0, channels = 0;
    double duration = 0;
    std::string codec, format;
};

Probe ffprobe(const std::string& path) {
    Probe p;
    std::string s = capture("ffprobe -v error -select_streams a:0 -show_entries "
                            "stream=sample_rate,channels,codec_name -show_entries "
                            "format=duration,format_name -of default=nw=1 '" +
                            path + "'");
    std::smatch m;
    if (std::regex_search(s, m, std::regex("sample_rate=(\\d+)"))) p.rate = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("channels=(\\d+)"))) p.channels = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("duration=([0-9.]+)"))) p.duration = std::stod(m[1]);
    if (std::regex_search(s, m, std::regex("codec_name=(\\w+)"))) p.codec = m[1];
    if (std::regex_search(s, m, std::regex("format_name=([\\w,]+)"))) p.format = m[1];
    // A stream without a container (ADTS, AMR) has no duration of its own:
    // ffprobe estimates one from the bit rate. Its packets tell the length.
    if (p.format == "aac" || p.format == "amr") {
        std::string last = capture("ffprobe -v error -select_streams a:0 -show_entries "
                                   "packet=pts_time,duration_time -of csv=p=0 '" +
                                   path + "' | tail -n 1");
        if (std::regex_search(last, m, std::regex("([0-9.]+),([0-9.]+)")))
            p.duration = std::stod(m[1]) + std::stod(m[2]);
    }
    return p;
}

struct TypeCase {
    const char* name;
    const char* args;    // convert options of the type
    const char* refArgs; // the WAV conversion in the same rate and channels
    const char* codec;   // as ffprobe names it
    int rate, channels;
    double minSnr;
};

const TypeCase kTypes[] = {
    {"adts", "-t adts --aac-profile lc --aac-rate 160000", "-r 44100", "aac", 44100, 2, 20},
    {"m4a", "-t m4a --aac-profile lc --aac-rate 160000", "-r 44100", "aac", 44100, 2, 20},
    {"m4a-mono", "-t m4a --aac-profile main --aac-rate 64000 -r 22050 --mono right",
     "-r 22050 --mono right", "aac", 22050, 1, 20},
    {"amr", "-t amr --amr-mode 7", "-r 8000 --mono mix", "amr_nb", 8000, 1, 8},
    {"wma", "-t wma --wma-codec 0 --wma-format 5", "-r 44100", "wmav2", 44100, 2, 15},
    {"wma1", "-t wma --wma-codec 1 --wma-format 1", "-r 44100", "wmav1", 44100, 2, 15},
};

class EncodedOutputs : public ::testing::TestWithParam<TypeCase> {};

} // namespace

TEST_P(EncodedOutputs, PerEntryAndJoinedMatchTheWavConversion) {
    const TypeCase& c = GetParam();
    TempDir home, out, ref;
    const std::string a = fixture(kSources[0]), b = fixture(kSources[1]);
    const std::string both = "'" + a + "' '" + b + "'";
    std::vector<std::string> refs =
        convert(home, ref.path() + "/", std::string("-t wav ") + c.refArgs + " " + both);
    ASSERT_EQ(refs.size(), 2u);
    std::vector<std::string> joinedRef = convert(
        home, ref.file("joined.wav"), std::string("--join -t wav ") + c.refArgs + " " + both);
    ASSERT_EQ(joinedRef.size(), 1u);

    int status = -1;
    std::vector<std::string> outs =
        convert(home, out.path() + "/", std::string(c.args) + " " + both, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(outs.size(), 2u);
    std::vector<std::string> joined =
        convert(home, out.path() + "/joined/", std::string(c.args) + " --join " + both, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(joined.size(), 1u);
    outs.push_back(joined[0]);
    refs.push_back(joinedRef[0]);
    const double sourceSeconds[3] = {ffprobe(a).duration, ffprobe(b).duration,
                                     ffprobe(a).duration + ffprobe(b).duration};

    for (size_t i = 0; i < outs.size(); ++i) {
        SCOPED_TRACE(outs[i]);
        Probe p = ffprobe(outs[i]);
        EXPECT_EQ(p.codec, c.codec);
        EXPECT_EQ(p.rate, c.rate);
        EXPECT_EQ(p.channels, c.channels);
        EXPECT_NEAR(p.duration, sourceSeconds[i], 0.1);
        std::vector<int16_t> decoded = ffmpegDecode(outs[i]);
        std::vector<int16_t> wav = wavSamples(refs[i]);
        ASSERT_FALSE(decoded.empty());
        ASSERT_FALSE(wav.empty());
        // The edges hold the codecs' fade-in and the last padded frame.
        Comparison cmp = compareAudio(decoded, wav, c.channels, 4000, c.rate / 20);
        std::printf("%s %s: SNR %.1f dB (floor %.0f), lag %ld, length %+ld frames\n", c.name,
                    i < 2 ? kSources[i] : "joined", cmp.snrDb, c.minSnr, cmp.lag, cmp.lengthDiff);
        EXPECT_GE(cmp.snrDb, c.minSnr);
        if (c.channels == 2 && i == 0) {
            // The floor tells a path that swapped the channels.
            std::vector<int16_t> swapped = decoded;
            for (size_t k = 0; k + 1 < swapped.size(); k += 2)
                std::swap(swapped[k], swapped[k + 1]);
            Comparison bad = compareAudio(swapped, wav, 2, 4000, c.rate / 20);
            std::printf("%s swapped channels: SNR %.1f dB\n", c.name, bad.snrDb);
            EXPECT_LT(bad.snrDb, c.minSnr / 2);
        }
        EXPECT_LT(std::labs(cmp.lengthDiff), c.rate / 10);
    }
    // No temporary file is left: neither an output's nor the WMA intermediate.
    for (const std::string& dir : {out.path(), out.path() + "/joined", home.path() + "/tmp"}) {
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            EXPECT_EQ(n.find(".part"), std::string::npos) << n;
            EXPECT_EQ(n.find("~tmp"), std::string::npos) << n;
        }
        closedir(d);
    }
}

INSTANTIATE_TEST_SUITE_P(Types, EncodedOutputs, ::testing::ValuesIn(kTypes), [](const auto& info) {
    std::string n = info.param.name;
    n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
    return n;
});

namespace {

// The payloads of the ADTS frames of `f`; every header must be 7 bytes (no
// CRC) with the MPEG-2 ID bit.
bool adtsPayloads(const std::vector<uint8_t>& f, std::vector<uint8_t>& payloads, int& frames) {
    size_t pos = 0;
    frames = 0;
    while (pos + 7 <= f.size()) {
        if (f[pos] != 0xFF || (f[pos + 1] & 0xF6) != 0xF0) return false;
        if (!(f[pos + 1] & 0x08) || !(f[pos + 1] & 0x01)) return false; // MPEG-2, no CRC
        size_t len = (size_t(f[pos + 3] & 3) << 11) | (size_t(f[pos + 4]) << 3) | (f[pos + 5] >> 5);
        if (len < 7 || pos + len > f.size()) return false;
        payloads.insert(payloads.end(), f.begin() + long(pos + 7), f.begin() + long(pos + len));
        pos += len;
        ++frames;
    }
    return pos == f.size();
}

} // namespace

TEST(EncodedOutputsRawAac, SameAccessUnitsAsTheAdtsOutput) {
    const std::string both = "'" + fixture(kSources[0]) + "' '" + fixture(kSources[1]) + "'";
    const std::string inputs[] = {"'" + fixture(kSources[0]) + "'",
                                  "'" + fixture(kSources[1]) + "'", "--join " + both};
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        TempDir home, raw, adts;
        for (const char* profile : {"lc", "main", "ltp"}) {
            const std::string opts =
                std::string("--aac-profile ") + profile + " --aac-rate 128000 " + input;
            auto r = convert(home, raw.path() + "/" + profile + "/", "-t aac " + opts);
            auto d = convert(home, adts.path() + "/" + profile + "/", "-t adts " + opts);
            ASSERT_EQ(r.size(), 1u);
            ASSERT_EQ(d.size(), 1u);
            std::vector<uint8_t> units;
            int frames = 0;
            ASSERT_TRUE(adtsPayloads(readFile(d[0]), units, frames));
            EXPECT_GT(frames, 4 * 44100 / 1024);
            EXPECT_EQ(readFile(r[0]), units);
        }
    }
}

// A stop in the middle of an entry leaves every output finished and valid
// (what was written up to the stop) and no temporary file.
namespace {

// Stops the job once the conversion has reached the second `at`.
class StopAt : public WindowPort {
  public:
    explicit StopAt(int at) : at_(at) {}
    void position(int second, int) override {
        if (second >= at_) running = false;
    }

  private:
    int at_;
};

} // namespace

TEST(EncodedOutputsStop, AStoppedJobLeavesFinishedOutputsAndNoTemporaryFile) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    setLibraryFolder(KESTREL_BIN_DIR);
    const int types[] = {kOutRawAac, kOutAdts, kOutM4a, kOutAmr, kOutWma};
    for (int joined = 0; joined <= 1; ++joined) {
        for (int type : types) {
            SCOPED_TRACE(std::to_string(type) + (joined ? " joined" : " per entry"));
            TempDir home, out;
            setProgramFolder(home.path());
            StopAt stopper(2);
            setWindowPort(&stopper);
            RecordingMessages msgs;
            loadSettings();
            settings.output_type = type;
            settings.conversion_mode = 2;
            settings.save_mode = joined;
            settings.mp3_sample_rate = 44100;
            settings.mp3_version = 0;
            settings.mp3_channels = 2;
            settings.wma_format = 5;
            settings.aac_profile = 0;
            settings.save_path = out.path() + "/";
            resetMediaList();
            for (const char* f : kSources)
                ASSERT_EQ(addMediaFile(fixture(f)), 0);
            for (auto& r : mediaList.rows)
                r.selected = true;
            ConversionJob job;
            ASSERT_EQ(job.prepare(), 0);
            ASSERT_EQ(job.run(), 0);
            setWindowPort(nullptr);
            ASSERT_EQ(job.jobTable.size(), 2u);
            EXPECT_EQ(job.jobTable[0].result, EntryResult::Converted);
            EXPECT_EQ(job.jobTable[1].result, EntryResult::NotRun);
            const std::string path = job.jobTable[0].outputName;
            ASSERT_FALSE(path.empty());
            EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
            if (type != kOutRawAac) {
                Probe p = ffprobe(path);
                EXPECT_FALSE(p.codec.empty());
                EXPECT_GT(p.duration, 1.5);
                EXPECT_LT(p.duration, 3.5);
                std::vector<int16_t> pcm = ffmpegDecode(path);
                EXPECT_GT(pcm.size(), size_t(p.rate) * p.channels); // more than a second
            } else {
                EXPECT_GT(readFile(path).size(), 10000u);
            }
            int files = 0;
            for (const std::string& dir : {out.path(), home.path() + "/tmp"}) {
                DIR* d = opendir(dir.c_str());
                if (!d) continue;
                while (dirent* e = readdir(d))
                    if (e->d_name[0] != '.') {
                        ++files;
                        EXPECT_EQ(std::string(e->d_name).find(".part"), std::string::npos);
                    }
                closedir(d);
            }
            EXPECT_EQ(files, 1); // the one output
            setProgramFolder("");
        }
    }
}

// A WMA encoding that fails shows its messages and leaves no file under the
// output name (nor a temporary one); a stored VBR format value is read as the
// constant format of its index.
TEST(EncodedOutputsWma, AFailedEncodingLeavesNoFileAndVbrValuesReadAsConstant) {
    TempDir home, out;
    const std::string src = fixture("mpeg_vcd.mpg");
    auto setting = [&](const std::string& kv) {
        return run("'" + kCli + "' --home '" + home.path() + "' settings set " + kv +
                   " >/dev/null");
    };
    ASSERT_EQ(setting("wma_format 99"), 0);
    CommandResult r = runApart("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                               "' convert -t wma -o '" + out.path() + "/' '" + src + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("FAILED(hr=0x"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("in CreateAudioStream("), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("the WMA encoder could not be set up"), std::string::npos) << r.err;
    for (const std::string& dir : {out.path(), home.path() + "/tmp"}) {
        DIR* d = opendir(dir.c_str());
        ASSERT_TRUE(d) << dir;
        while (dirent* e = readdir(d))
            EXPECT_EQ(e->d_name[0], '.') << e->d_name;
        closedir(d);
    }

    ASSERT_EQ(setting("wma_format 5005"), 0);
    auto outs = convert(home, out.path() + "/", "-t wma '" + src + "'");
    ASSERT_EQ(outs.size(), 1u);
    Probe p = ffprobe(outs[0]);
    EXPECT_EQ(p.codec, "wmav2");
    EXPECT_EQ(p.rate, 44100);
    EXPECT_EQ(p.channels, 2);
    EXPECT_EQ(
        capture("ffprobe -v error -show_entries stream=bit_rate -of csv=p=0 '" + outs[0] + "'"),
        "128000\n");
}

// The intermediate WAV of a WMA output cannot be created: the open message
// names the output, and nothing is left under its name.
TEST(EncodedOutputsWma, NoIntermediateFileMeansNoOutput) {
    TempDir home, out;
    writeFile(home.file("tmp"), std::string("a file where the folder would be"));
    CommandResult r =
        runApart("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                 "' convert -t wma -o '" + out.path() + "/' '" + fixture("mpeg_vcd.mpg") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("cannot open the output " + out.path() + "/mpeg_vcd.wma"),
              std::string::npos)
        << r.err;
    DIR* d = opendir(out.path().c_str());
    ASSERT_TRUE(d);
    while (dirent* e = readdir(d))
        EXPECT_EQ(e->d_name[0], '.') << e->d_name;
    closedir(d);
}
