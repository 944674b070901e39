// FLV and AVI outputs end to end: conversions of an MPEG and an MP3 fixture
// through kestrel-cli, per entry and joined, read back with ffprobe, ffmpeg and
// mpg123 and compared with the WAV conversion of the same source; and a job
// stopped in the middle, whose outputs are finished and leave no temporary
// file.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/mpeg_audio_header.h"
#include "engine/core/run_state.h"
#include "engine/libraries/library_loader.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/flv_avi_read.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <iostream>
#include <regex>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

// Runs a silent conversion; returns the output paths listed by the command.
std::vector<std::string> convert(const TempDir& home, const TempDir& out, const std::string& args) {
    std::string text = capture("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                               "' convert -q -o '" + out.path() + "/' " + args + " 2>/dev/null");
    std::vector<std::string> paths;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos) paths.push_back(line.substr(0, tab));
    }
    return paths;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::string sq(const std::string& path) {
    return "'" + path + "'";
}

struct Probe {
    int rate = 0, channels = 0;
    std::string codec;
    double formatDuration = -1; // -1: none given
    double packetEnd = 0;       // end of the last packet, in seconds
};

Probe ffprobe(const std::string& path) {
    Probe p;
    std::string s = capture("ffprobe -v error -select_streams a:0 -show_entries "
                            "stream=sample_rate,channels,codec_name,time_base -show_entries "
                            "format=duration -of default=nw=1 " +
                            sq(path));
    std::smatch m;
    if (std::regex_search(s, m, std::regex("sample_rate=(\\d+)"))) p.rate = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("channels=(\\d+)"))) p.channels = std::stoi(m[1]);
    if (std::regex_search(s, m, std::regex("codec_name=(\\w+)"))) p.codec = m[1];
    if (std::regex_search(s, m, std::regex("duration=([0-9.]+)")))
        p.formatDuration = std::stod(m[1]);
    double num = 1, den = 1000;
    if (std::regex_search(s, m, std::regex("time_base=(\\d+)/(\\d+)"))) {
        num = std::stod(m[1]);
        den = std::stod(m[2]);
    }
    std::string pk = capture("ffprobe -v error -select_streams a:0 -show_entries "
                             "packet=pts,duration -of csv=p=0 " +
                             sq(path) + " | tail -n 1");
    long pts = 0, dur = 0;
    if (std::sscanf(pk.c_str(), "%ld,%ld", &pts, &dur) == 2) p.packetEnd = (pts + dur) * num / den;
    return p;
}

// The MP3 bytes a container carries, read by our own parse.
std::vector<uint8_t> carriedMp3(const std::string& path, bool flv) {
    auto bytes = readFile(path);
    if (flv) {
        FlvFile f = readFlv(bytes);
        EXPECT_TRUE(f.ok);
        return flvMp3(f);
    }
    AviFile a = readAvi(bytes);
    EXPECT_TRUE(a.ok);
    return aviMp3(bytes, a);
}

// Samples per channel mpg123 decodes from `mp3`.
long mpg123Frames(const TempDir& dir, const std::vector<uint8_t>& mp3, int channels) {
    writeFile(dir.file("carried.mp3"), mp3);
    std::string n = capture("mpg123 -q -s " + sq(dir.file("carried.mp3")) + " | wc -c");
    return std::atol(n.c_str()) / 2 / channels;
}

// What every FLV or AVI output of these settings must be.
struct Expect {
    int rate, channels, kbps;
    const char* wavArgs; // the same sound as a WAV
};

// Checks the output and returns the SNR against the WAV conversion of `sources`.
double checkOutput(const TempDir& home, const std::string& path, bool flv, const Expect& x,
                   const std::vector<std::string>& sources, const std::string& joinArg) {
    SCOPED_TRACE(path);
    Probe p = ffprobe(path);
    EXPECT_EQ(p.codec, "mp3");
    EXPECT_EQ(p.rate, x.rate);
    EXPECT_EQ(p.channels, x.channels);

    // MP3 frames of the encoder's constant rate, no tag frame.
    auto mp3 = carriedMp3(path, flv);
    std::vector<uint32_t> headers;
    EXPECT_TRUE(mp3Frames(mp3, headers));
    EXPECT_GT(headers.size(), 50u);
    size_t unlike = 0; // frames of another kind than asked
    for (uint32_t w : headers) {
        MpegAudioHeader h;
        unlike += !parseMpegAudioHeader(w, h) || h.layer != 3 || h.bitRateKbps != x.kbps ||
                  h.sampleRate != x.rate || (h.channelMode == kMono) != (x.channels == 1);
    }
    EXPECT_EQ(unlike, 0u);
    const std::string head(mp3.begin(), mp3.begin() + std::min<long>(200, long(mp3.size())));
    EXPECT_EQ(head.find("Info"), std::string::npos);
    EXPECT_EQ(head.find("Xing"), std::string::npos);

    if (!flv) {
        // The header as laid out, the index pointing at every chunk, a pad
        // byte after every odd length.
        auto b = readFile(path);
        AviFile a = readAvi(b);
        EXPECT_EQ(le32At(b, 4), b.size() - 8);
        EXPECT_EQ(le32At(b, 16), 308u);
        EXPECT_EQ(le32At(b, 56), 2u); // streams
        EXPECT_EQ(fourcc(b, 240), "auds");
        EXPECT_EQ(le32At(b, 264), uint32_t(x.kbps) * 125);
        EXPECT_EQ(le32At(b, 272), mp3.size());
        EXPECT_EQ(le16At(b, 314), x.channels);
        EXPECT_EQ(le32At(b, 316), uint32_t(x.rate));
        EXPECT_EQ(fourcc(b, 328), "JUNK");
        EXPECT_EQ(fourcc(b, 2036), "LIST");
        EXPECT_EQ(le32At(b, 2040), a.indexAt - 2044);
        EXPECT_EQ(a.index.size(), a.chunks.size());
        size_t odd = 0, wrong = 0;
        for (size_t i = 0; i < a.chunks.size() && i < a.index.size(); ++i) {
            wrong += a.index[i].id != "01wb" || a.index[i].offset != a.chunks[i].at ||
                     a.index[i].size != a.chunks[i].size;
            if (a.chunks[i].size & 1) wrong += b[a.chunks[i].at + 8 + a.chunks[i].size] != 0;
            odd += a.chunks[i].size & 1;
        }
        EXPECT_EQ(wrong, 0u);
        if (x.rate == 44100) {
            EXPECT_GT(odd, 0u); // 417-byte frames
        }
    }

    // ffmpeg takes out exactly these bytes.
    TempDir tmp;
    run("ffmpeg -v error -i " + sq(path) +
        " -map 0:a -c copy -f mp3 -write_xing 0 -id3v2_version 0 " + sq(tmp.file("copy.mp3")));
    EXPECT_EQ(readFile(tmp.file("copy.mp3")), mp3);

    // The WAV conversion of the same sources with the same settings.
    TempDir wavOut;
    std::string srcArgs;
    for (const auto& s : sources)
        srcArgs += " " + sq(s);
    auto wavs = convert(home, wavOut, std::string("-t wav ") + x.wavArgs + joinArg + srcArgs);
    EXPECT_EQ(wavs.size(), 1u);
    if (wavs.size() != 1) return 0;
    int rate = 0, ch = 0;
    auto ref = wavSamples(wavs[0], &rate, &ch);
    EXPECT_EQ(rate, x.rate);
    const double seconds = double(ref.size()) / x.channels / x.rate;

    // Durations: the FLV's from its time stamps; the AVI has no container
    // duration for ffprobe (its audio stream has a sample size), so its
    // packets' end, which counts the encoder's delay and padding.
    const double delayAndFrame = (1105.0 + (x.rate == 44100 ? 1152 : 576)) / x.rate;
    if (flv) {
        EXPECT_NEAR(p.formatDuration, seconds, 0.1);
    } else {
        EXPECT_NEAR(p.packetEnd, seconds, 0.1 + delayAndFrame);
    }
    long decoded = mpg123Frames(tmp, mp3, x.channels);
    EXPECT_GE(decoded, long(ref.size()) / x.channels);
    EXPECT_LE(decoded, long(ref.size()) / x.channels + long(delayAndFrame * x.rate) + 1);

    auto got = ffmpegDecode(path);
    auto cmp = compareAudio(got, ref, x.channels, 3000, 2000);
    EXPECT_GT(cmp.overlap, long(seconds * x.rate) - 6000);
    std::cout << "[ snr ] " << path.substr(path.rfind('/') + 1) << " " << x.rate << " Hz "
              << x.channels << " ch: " << cmp.snrDb << " dB, lag " << cmp.lag << "\n";
    return cmp.snrDb;
}

// SNR floor of MP3 at 64 kbit/s and more against the PCM it was made from
// (about 26 dB here); swapped channels, a wrong rate or dropped blocks fall far
// below it.
constexpr double kSnrFloor = 20;

struct Case {
    const char* fixture;
    const char* args;
    Expect x;
    uint8_t flvHeader;
};

const Case kCases[] = {
    {"mpeg_vcd.mpg", "-r 44100 -b 128", {44100, 2, 128, "-r 44100"}, 0x2F},
    {"mpeg_l3_cbr_44k.mp3",
     "-r 22050 -b 64 --mono mix",
     {22050, 1, 64, "-r 22050 --mono mix"},
     0x2A},
    {"mpeg_vcd.mpg", "-r 11025 -b 64", {11025, 2, 64, "-r 11025"}, 0x27},
};

void checkFlvTags(const std::string& path, uint8_t audioHeader, double seconds) {
    auto bytes = readFile(path);
    FlvFile flv = readFlv(bytes);
    ASSERT_TRUE(flv.ok);
    EXPECT_EQ(flv.flags, 4);
    ASSERT_GT(flv.tags.size(), 2u);
    ASSERT_EQ(flv.tags[0].type, 18);
    OnMetaData m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.declaredCount, 16u);
    EXPECT_EQ(m.entries.size(), 16u);
    ASSERT_NE(m.find("filesize"), nullptr);
    EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
    uint32_t last = 0;
    for (size_t i = 1; i < flv.tags.size(); ++i) {
        const FlvTag& t = flv.tags[i];
        ASSERT_EQ(t.type, 8);
        ASSERT_EQ(t.data[0], audioHeader);
        ASSERT_GE(t.timestamp, last) << i;
        ASSERT_LE(t.timestamp, last + 200) << i; // no jump either
        last = t.timestamp;
    }
    EXPECT_NEAR(last / 1000.0, seconds, 0.1);
    EXPECT_DOUBLE_EQ(m.find("duration")->number, last / 1000.0);
    EXPECT_GT(m.find("audiodatarate")->number, 0);
}

} // namespace

TEST(FlvAviConversion, PerEntryOutputs) {
    TempDir home;
    for (const Case& c : kCases) {
        for (bool flv : {true, false}) {
            SCOPED_TRACE(std::string(c.fixture) + " " + c.args + (flv ? " flv" : " avi"));
            ASSERT_TRUE(haveFixture(c.fixture));
            TempDir out;
            auto outs = convert(home, out,
                                std::string("-t ") + (flv ? "flv " : "avi ") + c.args + " " +
                                    sq(fixture(c.fixture)));
            ASSERT_EQ(outs.size(), 1u);
            EXPECT_EQ(entries(out.path()).size(), 1u); // no temporary file beside it
            EXPECT_GE(checkOutput(home, outs[0], flv, c.x, {fixture(c.fixture)}, ""), kSnrFloor);
            if (flv) {
                int r = 0, ch = 0;
                TempDir w;
                auto wav = convert(
                    home, w, std::string("-t wav ") + c.x.wavArgs + " " + sq(fixture(c.fixture)));
                ASSERT_EQ(wav.size(), 1u);
                double s = double(wavSamples(wav[0], &r, &ch).size()) / c.x.channels / c.x.rate;
                checkFlvTags(outs[0], c.flvHeader, s);
            }
        }
    }
    EXPECT_TRUE(entries(home.file("tmp")).empty());
}

TEST(FlvAviConversion, JoinedOutputs) {
    TempDir home;
    const std::vector<std::string> sources = {fixture("mpeg_vcd.mpg"),
                                              fixture("mpeg_l3_cbr_44k.mp3")};
    const Expect x{44100, 2, 128, "-r 44100"};
    for (bool flv : {true, false}) {
        SCOPED_TRACE(flv ? "flv" : "avi");
        TempDir out;
        auto outs = convert(home, out,
                            std::string("-t ") + (flv ? "flv" : "avi") +
                                " -r 44100 -b 128 --join " + sq(sources[0]) + " " + sq(sources[1]));
        ASSERT_EQ(outs.size(), 1u);
        EXPECT_EQ(entries(out.path()).size(), 1u);
        EXPECT_GE(checkOutput(home, outs[0], flv, x, sources, " --join"), kSnrFloor);
        if (flv) checkFlvTags(outs[0], 0x2F, 8.04);
    }
}

// More than a minute joined from copies of one fixture: the time stamps go on
// past 60 s (where PCM bytes x 500 in 32 bits wrapped for 44100 Hz stereo).
TEST(FlvAviConversion, TimestampsPastOneMinute) {
    TempDir home, src, out;
    std::string args = "-t flv -r 44100 -b 128 --join";
    auto bytes = readFile(fixture("mpeg_l3_cbr_44k.mp3"));
    for (int i = 0; i < 17; ++i) {
        std::string name = src.file("part" + std::to_string(i) + ".mp3");
        writeFile(name, bytes);
        args += " " + sq(name);
    }
    auto outs = convert(home, out, args);
    ASSERT_EQ(outs.size(), 1u);
    FlvFile flv = readFlv(readFile(outs[0]));
    ASSERT_TRUE(flv.ok);
    uint32_t last = 0;
    for (size_t i = 1; i < flv.tags.size(); ++i) {
        ASSERT_GE(flv.tags[i].timestamp, last) << i;
        last = flv.tags[i].timestamp;
    }
    Probe p = ffprobe(outs[0]);
    EXPECT_GT(last, 65000u);
    EXPECT_NEAR(p.formatDuration, last / 1000.0, 0.01);
    EXPECT_NEAR(p.formatDuration, 17 * 4.0, 0.5);
}

namespace {

// A window that stops the job when the position reaches its second second.
struct StoppingWindow : WindowPort {
    void clock(int second) override {
        if (second >= 1) running = false;
    }
};

class StoppedJob : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        setWindowPort(&win);
    }
    void TearDown() override {
        running = false;
        setWindowPort(nullptr);
        setProgramFolder("");
    }
    void select(int type, int saveMode) {
        loadSettings();
        settings.output_type = type;
        settings.conversion_mode = 2;
        settings.save_mode = saveMode;
        settings.mp3_sample_rate = 22050;
        settings.mp3_channels = 1;
        settings.mp3_cbr_kbps = 64;
        settings.save_path = out.path() + "/";
        resetMediaList();
        for (const char* f : {"mpeg_vcd.mpg", "mpeg_l3_cbr_44k.mp3"})
            ASSERT_EQ(addMediaFile(fixture(f)), 0) << f;
        for (auto& r : mediaList.rows)
            r.selected = true;
    }
    TempDir home, out;
    RecordingMessages msgs;
    StoppingWindow win;
};

} // namespace

// A stop in the middle of the first entry: its output (per entry, or the
// joined one) is finished with what was written, the second entry is not
// converted, and no temporary file is left: neither the output's own nor the
// FLV's intermediate tag file.
TEST_F(StoppedJob, LeavesFinishedOutputsAndNoTemporaryFile) {
    for (int type : {int(kOutFlv), int(kOutAvi)}) {
        for (int saveMode : {0, 1}) {
            SCOPED_TRACE(std::to_string(type) + " save mode " + std::to_string(saveMode));
            select(type, saveMode);
            ConversionJob job;
            ASSERT_EQ(job.prepare(), 0);
            ASSERT_EQ(job.run(), 0);
            ASSERT_EQ(job.jobTable.size(), 2u);
            EXPECT_EQ(job.jobTable[1].result, EntryResult::NotRun);
            const std::string path = job.jobTable[0].outputName;
            auto names = entries(out.path());
            ASSERT_EQ(names.size(), 1u);
            EXPECT_EQ(out.file(names[0]), path);
            EXPECT_TRUE(entries(home.file("tmp")).empty());
            auto bytes = readFile(path);
            std::vector<uint8_t> mp3;
            if (type == kOutFlv) {
                FlvFile flv = readFlv(bytes);
                ASSERT_TRUE(flv.ok);
                OnMetaData m = readOnMetaData(flv.tags.at(0));
                ASSERT_TRUE(m.ok);
                EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
                EXPECT_GT(m.find("duration")->number, 0.5);
                EXPECT_LT(m.find("duration")->number, 3.5);
                mp3 = flvMp3(flv);
            } else {
                AviFile avi = readAvi(bytes);
                ASSERT_TRUE(avi.ok);
                EXPECT_EQ(le32At(bytes, 4), bytes.size() - 8);
                EXPECT_EQ(avi.index.size(), avi.chunks.size());
                mp3 = aviMp3(bytes, avi);
            }
            std::vector<uint32_t> headers;
            EXPECT_TRUE(mp3Frames(mp3, headers));
            // Between half a second and the whole source.
            EXPECT_GT(headers.size(), 22050u / 2 / 576);
            EXPECT_LT(headers.size(), 22050u * 4 / 576);
            Probe p = ffprobe(path);
            EXPECT_EQ(p.codec, "mp3");
            EXPECT_EQ(p.rate, 22050);
            run("rm -f '" + path + "'");
        }
    }
}

// A full disk (here the process's file size limit) in the middle of the
// output: the entry is reported incomplete, and the file stays a valid FLV or
// AVI that holds what was written, under metadata and headers that say so.
TEST(FlvAviConversion, FullDiskLeavesAValidPartialOutput) {
    for (bool flv : {true, false}) {
        SCOPED_TRACE(flv ? "flv" : "avi");
        TempDir home, out;
        std::string text = capture(
            "SDL_AUDIODRIVER=dummy bash -c \"trap '' XFSZ; ulimit -f 60; '" + kCli + "' --home '" +
            home.path() + "' convert -q -o '" + out.path() + "/' -t " + (flv ? "flv" : "avi") +
            " -r 44100 -b 128 '" + fixture("mpeg_vcd.mpg") + "'\" 2>/dev/null");
        EXPECT_NE(text.find("\tincomplete"), std::string::npos) << text;
        auto names = entries(out.path());
        ASSERT_EQ(names.size(), 1u);
        auto bytes = readFile(out.file(names[0]));
        EXPECT_LE(bytes.size(), 60u * 1024);
        std::vector<uint8_t> mp3;
        if (flv) {
            FlvFile f = readFlv(bytes);
            ASSERT_TRUE(f.ok);
            OnMetaData m = readOnMetaData(f.tags.at(0));
            ASSERT_TRUE(m.ok);
            EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
            mp3 = flvMp3(f);
        } else {
            EXPECT_EQ(le32At(bytes, 4), bytes.size() - 8);
            AviFile a = readAvi(bytes);
            // The index may not have fitted: then the header says so.
            if (!a.ok) {
                EXPECT_EQ(le32At(bytes, 44), 0x10000u);
            }
            EXPECT_GT(le32At(bytes, 272), 50000u); // audio bytes
            mp3 = std::vector<uint8_t>(bytes.begin() + 2048, bytes.end());
        }
        Probe p = ffprobe(out.file(names[0]));
        EXPECT_EQ(p.codec, "mp3");
        if (flv) {
            std::vector<uint32_t> headers;
            EXPECT_TRUE(mp3Frames(mp3, headers));
            EXPECT_GT(headers.size(), 100u);
        }
        EXPECT_TRUE(entries(home.file("tmp")).empty());
    }
}
