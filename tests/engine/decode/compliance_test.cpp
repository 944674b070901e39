// The MPEG audio compliance bitstreams (ISO/IEC 11172-4 and 13818-4) through
// the product path: each bare stream is converted by kestrel-cli to a silent
// WAV at its own rate and channels and compared with the suite's reference
// output. The streams are not ours to ship; they are found beside the source
// tree, and the test is skipped when they are absent.
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <unistd.h>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

std::string suiteDir() {
    return std::string(KESTREL_SOURCE_DIR) + "/../shared/iso-compliance";
}

std::vector<int16_t> rawSamples(const std::string& path) {
    auto b = readFile(path);
    std::vector<int16_t> s(b.size() / 2);
    if (!s.empty()) std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// PSNR of `test` against `ref` over their common length, without any shift.
double psnr(const std::vector<int16_t>& test, const std::vector<int16_t>& ref) {
    size_t n = std::min(test.size(), ref.size());
    if (n == 0) return 0;
    double e = 0;
    for (size_t i = 0; i < n; ++i) {
        double d = double(test[i]) - double(ref[i]);
        e += d * d;
    }
    if (e == 0) return 200;
    return 20 * std::log10(32767.0 / std::sqrt(e / double(n)));
}

// Converts `source` to a silent WAV; its samples, rate and channels (empty
// when no output was listed).
std::vector<int16_t> convertToWav(const TempDir& home, const TempDir& out, const std::string& args,
                                  const std::string& source, int& rate, int& channels) {
    std::string listing =
        capture("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() + "' convert -o '" +
                out.path() + "' " + args + " '" + source + "' 2>/dev/null");
    size_t tab = listing.find('\t');
    rate = channels = 0;
    if (tab == std::string::npos) return {};
    return wavSamples(listing.substr(0, tab), &rate, &channels);
}

std::vector<int16_t> mpg123Decode(const std::string& source, const TempDir& dir) {
    std::string raw = dir.file("reference.raw");
    if (run("mpg123 -q --no-gapless -s '" + source + "' > '" + raw + "' 2>/dev/null") != 0)
        return {};
    return rawSamples(raw);
}

struct Stream {
    const char* name;
    int rate, channels;
    int samples; // per channel: every frame of the stream decoded
    bool mpg123Reference;
};

// Sample counts are the stream's frames times the samples per frame (the
// references of several streams are padded or one frame short).
const Stream kStreams[] = {
    {"l1-fl1", 32000, 2, 18816, false},
    {"l1-fl2", 44100, 2, 18816, false},
    {"l1-fl3", 48000, 2, 18816, false},
    {"l1-fl4", 32000, 1, 18816, false},
    {"l1-fl5", 48000, 2, 18816, false},
    {"l1-fl6", 44100, 2, 18816, false},
    {"l1-fl7", 44100, 2, 24192, false},
    {"l2-fl10", 32000, 2, 56448, false},
    {"l2-fl11", 44100, 2, 56448, false},
    {"l2-fl12", 48000, 2, 56448, false},
    {"l2-fl13", 32000, 1, 56448, false},
    {"l2-fl14", 48000, 2, 18432, false},
    {"l2-fl16", 48000, 2, 72576, false},
    {"l3-compl", 48000, 1, 248832, false},
    {"l3-he_32khz", 32000, 1, 172800, false},
    {"l3-he_44khz", 44100, 1, 472320, false},
    {"l3-he_48khz", 48000, 1, 172800, false},
    {"l3-he_free", 44100, 2, 78336, false},
    {"l3-hecommon", 44100, 2, 34560, false},
    {"l3-si", 44100, 1, 135936, false},
    {"l3-si_huff", 44100, 1, 86400, false},
    {"l3-sin1k0db", 44100, 2, 365184, true},
    {"M2L3_bitrate_16_all", 16000, 1, 274176, false},
    {"M2L3_bitrate_22_all", 22050, 1, 274176, false},
    {"M2L3_bitrate_24_all", 24000, 1, 274176, false},
    {"M2L3_compl24", 24000, 1, 122112, false},
};

void PrintTo(const Stream& s, std::ostream* os) {
    *os << s.name;
}

class Compliance : public ::testing::TestWithParam<Stream> {};

TEST_P(Compliance, SilentWavMatchesReference) {
    const Stream& s = GetParam();
    const std::string dir = suiteDir();
    const std::string bit = dir + "/" + s.name + ".bit";
    if (!std::filesystem::exists(bit)) GTEST_SKIP() << "skipped: no compliance streams in " << dir;

    // Under the name an MPEG audio file carries, so that the media analysis
    // reads it as one.
    TempDir home, out;
    const std::string source = out.file(std::string(s.name) + ".mp3");
    ASSERT_EQ(::symlink(bit.c_str(), source.c_str()), 0);
    std::string args = "-t wav --mode silent -r " + std::to_string(s.rate);
    if (s.channels == 1) args += " --mono mix";
    int rate = 0, channels = 0;
    auto got = convertToWav(home, out, args, source, rate, channels);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(rate, s.rate);
    ASSERT_EQ(channels, s.channels);

    std::vector<int16_t> ref;
    if (s.mpg123Reference) {
        ref = mpg123Decode(bit, out);
    } else {
        ref = rawSamples(dir + "/" + s.name + ".pcm");
    }
    ASSERT_FALSE(ref.empty());
    EXPECT_EQ(long(got.size()) / s.channels, s.samples);
    EXPECT_GE(psnr(got, ref), 96.0) << "over " << std::min(got.size(), ref.size()) / s.channels
                                    << " samples of " << got.size() / s.channels;
}

INSTANTIATE_TEST_SUITE_P(Suite, Compliance, ::testing::ValuesIn(kStreams),
                         [](const ::testing::TestParamInfo<Stream>& i) {
                             std::string n = i.param.name;
                             for (char& c : n)
                                 if (c == '-') c = '_';
                             return n;
                         });

} // namespace

// Our own fixtures of the frame forms that the frame search used to miss:
// Layer I without CRC (found by the stream probe as an .mp1 file), Layer II
// frames longer than 1100 bytes, free format. Every frame is decoded.
TEST(FrameForms, ConvertLikeMpg123) {
    struct Case {
        const char* file;
        int rate, channels;
    } cases[] = {
        {"mpa_l1_48k.mp1", 48000, 2},
        {"mpa_l2_384k_44k.mp2", 44100, 2},
        {"mpa_l2_384k_32k.mp2", 32000, 2},
        {"mpa_free_200k.mp3", 44100, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(haveFixture(c.file));
        TempDir home, out;
        int rate = 0, channels = 0;
        auto got = convertToWav(home, out, "-t wav --mode silent -r " + std::to_string(c.rate),
                                fixture(c.file), rate, channels);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(channels, c.channels);
        auto ref = mpg123Decode(fixture(c.file), out);
        ASSERT_FALSE(ref.empty());
        EXPECT_EQ(got.size(), ref.size());
        EXPECT_GE(psnr(got, ref), 96.0);
    }
}
