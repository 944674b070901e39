// kestrel-cli convert --threads: a long MP3, EXE, AAC, FLV or AVI output
// encoded on several threads plays as long as the one-thread output, to the
// sample, decodes without an error and, around each join, comes within 1 dB
// of the one-thread output's signal-to-noise ratio; an MP3 keeps every frame's
// reservoir in bounds and carries the one-thread output's ReplayGain; -j jobs
// share the processors; bad values are refused.
#include "support/test_support.h"

#include "engine/core/mp3_side_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

int convert(const TempDir& home, const std::string& args) {
    return run("'" + kCli + "' -q --home '" + home.path() + "' convert -y " + args +
               " >/dev/null 2>&1");
}

// The MP3 frames of a file: what follows its ID3v2 tag, if any.
std::vector<uint8_t> framesOf(const std::vector<uint8_t>& file) {
    size_t skip = 0;
    if (file.size() >= 10 && file[0] == 'I' && file[1] == 'D' && file[2] == '3')
        skip = 10 + (size_t(file[6] & 0x7F) << 21 | size_t(file[7] & 0x7F) << 14 |
                     size_t(file[8] & 0x7F) << 7 | size_t(file[9] & 0x7F));
    return std::vector<uint8_t>(file.begin() + static_cast<long>(std::min(skip, file.size())),
                                file.end());
}

std::vector<short> samplesOf(const std::vector<uint8_t>& bytes, size_t skip) {
    std::vector<short> v(bytes.size() > skip ? (bytes.size() - skip) / 2 : 0);
    if (!v.empty()) std::memcpy(v.data(), bytes.data() + skip, v.size() * 2);
    return v;
}

// The stereo samples FFmpeg decodes; empty when it met an error in the
// stream.
std::vector<short> decode(const std::string& file, const TempDir& dir) {
    const std::string raw = dir.file("decoded.raw");
    if (run("ffmpeg -nostdin -v error -xerror -i '" + file + "' -f s16le -ac 2 -y '" + raw +
            "' 2>/dev/null") != 0)
        return {};
    return samplesOf(readFile(raw), 0);
}

// The track gain and peak FFmpeg reads from a file's tags.
std::string replayGainOf(const std::string& file) {
    return capture("ffmpeg -nostdin -hide_banner -i '" + file +
                   "' 2>&1 | sed -n 's/.*replaygain: //p'");
}

double trackGainOf(const std::string& replayGain) {
    const auto at = replayGain.find("track gain - ");
    return at == std::string::npos ? NAN : std::atof(replayGain.c_str() + at + 13);
}

// Signal-to-noise ratio (dB) of `out`, delayed by `lag` sample frames,
// against `ref` over the sample frames [from, to).
double snr(const std::vector<short>& ref, const std::vector<short>& out, long lag, long from,
           long to) {
    double sig = 0, err = 0;
    for (long i = 2 * from; i < 2 * to && i + 2 * lag < long(out.size()) && i < long(ref.size());
         ++i) {
        sig += double(ref[size_t(i)]) * ref[size_t(i)];
        const double d = double(out[size_t(i + 2 * lag)]) - ref[size_t(i)];
        err += d * d;
    }
    return 10 * std::log10((sig + 1) / (err + 1));
}

// The delay of `out` behind `ref` (0 .. 4096 sample frames): where a second
// of it matches best.
long lagOf(const std::vector<short>& ref, const std::vector<short>& out) {
    long best = 0;
    double bestSnr = -1e9;
    for (long lag = 0; lag <= 4096; ++lag) {
        const double s = snr(ref, out, lag, 44100 * 5, 44100 * 5 + 4410);
        if (s > bestSnr) bestSnr = s, best = lag;
    }
    return best;
}

} // namespace

TEST(CliThreads, LongOutputsMatchTheOneThreadOutputs) {
    TempDir home, dir;
    // MP3 segments are about 20 s long; AAC ones half the output and the
    // 30 s that each encoder after the first starts early (90 s here), and the AAC source is loud
    // noise for its first 40 s: what the one-thread encoder heard before the
    // later segment's encoder started must not change the sound at the join.
    const struct {
        const char* name;
        int seconds;
        const char* expr;
    } sources[] = {{"long.mp3", 75,
                    "0.4*sin(2*PI*440*t)*sin(2*PI*0.7*t)+0.05*random(0)|"
                    "0.3*sin(2*PI*660*t)+0.05*random(1)"},
                   {"loud-start.mp3", 150,
                    "if(lt(t\\,40)\\,0.7*random(0)\\,"
                    "0.4*sin(2*PI*440*t)*sin(2*PI*0.7*t)+0.02*random(0))|"
                    "if(lt(t\\,40)\\,0.7*random(1)\\,"
                    "0.3*sin(2*PI*660*t)*sin(2*PI*0.3*t)+0.02*random(1))"}};
    std::vector<short> refs[2];
    for (int i = 0; i < 2; ++i) {
        const std::string src = dir.file(sources[i].name),
                          wav = dir.file(std::to_string(i) + ".wav");
        ASSERT_EQ(
            run("ffmpeg -nostdin -v error -f lavfi -i 'aevalsrc=" + std::string(sources[i].expr) +
                ":s=44100:d=" + std::to_string(sources[i].seconds) +
                "' -c:a libmp3lame -b:a 256k '" + src + "'"),
            0);
        // The PCM the encoders are given.
        ASSERT_EQ(convert(home, "-t wav -o '" + wav + "' '" + src + "'"), 0);
        refs[i] = samplesOf(readFile(wav), 44);
        ASSERT_EQ(refs[i].size(), 2u * sources[i].seconds * 44100);
    }
    const struct {
        const char* name;
        const char* options;
        int source;
        long segment; // sample frames; 0: one thread
        bool trimmed; // decodes to the source's length
    } cases[] = {{"cbr.mp3", "-t mp3 -b 128", 0, 20L * 44100 / 1152 * 1152, true},
                 {"vbr.mp3", "-t mp3 --vbr 4", 0, 20L * 44100 / 1152 * 1152, true},
                 {"abr.mp3", "-t mp3 --abr 112", 0, 20L * 44100 / 1152 * 1152, true},
                 {"cbr.exe", "-t exe -b 128", 0, 20L * 44100 / 1152 * 1152, true},
                 {"mp3.flv", "-t flv", 0, 20L * 44100 / 1152 * 1152, false},
                 {"mp3.avi", "-t avi", 0, 20L * 44100 / 1152 * 1152, false},
                 {"lc.m4a", "-t m4a --aac-profile lc", 1, 3876L * 1024, true},
                 {"ltp.m4a", "-t m4a --aac-profile ltp", 1, 3876L * 1024, true},
                 {"lc.aac", "-t adts --aac-profile lc", 1, 3876L * 1024, false},
                 {"main.m4a", "-t m4a --aac-profile main", 1, 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string options = c.options;
        const bool exe = options.find("exe") != std::string::npos;
        const bool mp3 = exe || options.find("mp3") != std::string::npos;
        const std::string src = dir.file(sources[c.source].name);
        const std::vector<short>& ref = refs[c.source];
        std::string one = dir.file(std::string("1-") + c.name);
        std::string two = dir.file(std::string("2-") + c.name);
        ASSERT_EQ(convert(home, options + " --threads 1 -o '" + one + "' '" + src + "'"), 0);
        ASSERT_EQ(convert(home, options + " --threads 2 -o '" + two + "' '" + src + "'"), 0);
        if (exe) {
            // The MP3 stream the player carries.
            for (std::string* f : {&one, &two}) {
                ASSERT_EQ(run("'" + kCli + "' -q --home '" + home.path() + "' extract -y -o '" +
                              *f + ".mp3' '" + *f + "' >/dev/null 2>&1"),
                          0);
                *f += ".mp3";
            }
        }
        const auto a = framesOf(readFile(one)), b = framesOf(readFile(two));
        if (!c.segment) {
            EXPECT_EQ(a, b); // one thread all the same
            continue;
        }
        EXPECT_NE(a, b); // the second was encoded in segments
        if (mp3) {
            EXPECT_EQ(kestrel::checkMp3Reservoir(a.data(), a.size()), -1);
            EXPECT_EQ(kestrel::checkMp3Reservoir(b.data(), b.size()), -1);
            // The radio gain is kept in steps of 0.1 dB.
            const std::string g1 = replayGainOf(one), g2 = replayGainOf(two);
            ASSERT_NE(g1.find("track peak"), std::string::npos) << g1;
            ASSERT_NE(g2.find("track peak"), std::string::npos) << g2;
            EXPECT_NEAR(trackGainOf(g2), trackGainOf(g1), 0.1 + 1e-9);
            EXPECT_EQ(g2.substr(g2.find("track peak")), g1.substr(g1.find("track peak")));
        }
        const std::vector<short> d1 = decode(one, dir), d2 = decode(two, dir);
        ASSERT_FALSE(d1.empty());
        ASSERT_FALSE(d2.empty());
        EXPECT_EQ(d2.size(), d1.size());
        // FFmpeg's MP4 reader gives the last frame whole.
        if (c.trimmed) {
            EXPECT_NEAR(double(d1.size()), double(ref.size()), 2 * 1024);
        }
        // 100 ms windows, half overlapping, from just before each planned join
        // through the stretch where it may be made.
        const long lag = lagOf(ref, d1);
        EXPECT_EQ(lagOf(ref, d2), lag);
        const long length = long(ref.size() / 2);
        for (long join = c.segment; join + 44100 < length; join += c.segment)
            for (long at = join - 4410; at < join + 66150; at += 2205) {
                const double s1 = snr(ref, d1, lag, at, at + 4410);
                const double s2 = snr(ref, d2, lag, at, at + 4410);
                EXPECT_GE(s2, s1 - 1.0) << double(at) / 44100 << " s";
            }
    }
    // Raw AAC is the ADTS output's access units without their headers.
    const std::string raw = dir.file("2-lc-raw.aac");
    ASSERT_EQ(convert(home, "-t aac --aac-profile lc --threads 2 -o '" + raw + "' '" +
                                dir.file(sources[1].name) + "'"),
              0);
    std::vector<uint8_t> units;
    const std::vector<uint8_t> adts = readFile(dir.file("2-lc.aac"));
    for (size_t at = 0; at + 7 <= adts.size();) {
        const size_t len =
            size_t(adts[at + 3] & 3) << 11 | size_t(adts[at + 4]) << 3 | adts[at + 5] >> 5;
        ASSERT_GE(len, 7u);
        units.insert(units.end(), adts.begin() + long(at + 7),
                     adts.begin() + long(std::min(adts.size(), at + len)));
        at += len;
    }
    EXPECT_EQ(readFile(raw), units);
}

TEST(CliThreads, JobsShareTheProcessorsAndBadCountsAreRefused) {
    TempDir home, dir;
    const std::string src = dir.file("a.mp3"), src2 = dir.file("b.mp3");
    ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i 'sine=f=330:d=65' -ac 2 -b:a 128k '" + src +
                  "' && cp '" + src + "' '" + src2 + "'"),
              0);
    // Two jobs on two processors: one thread each, the one-thread bytes.
    ASSERT_EQ(run("taskset -c 0,1 true"), 0) << "taskset is needed";
    ASSERT_EQ(run("mkdir '" + dir.file("j") + "' '" + dir.file("one") + "'"), 0);
    ASSERT_EQ(run("taskset -c 0,1 '" + kCli + "' -q --home '" + home.path() +
                  "' convert -j 2 -t mp3 -o '" + dir.file("j") + "/' '" + src + "' '" + src2 +
                  "' >/dev/null 2>&1"),
              0);
    ASSERT_EQ(convert(home, "--threads 1 -t mp3 -o '" + dir.file("one") + "/' '" + src + "'"), 0);
    EXPECT_EQ(readFile(dir.file("j/a.mp3")), readFile(dir.file("one/a.mp3")));
    for (const char* bad : {"0", "65", "x"})
        EXPECT_EQ(convert(home, std::string("--threads ") + bad + " '" + src + "'"), 1) << bad;
}
