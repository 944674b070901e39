// kestrel-cli's options of the AAC, AMR and WMA outputs and 'formats wma'.
#include "platform/wm_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <regex>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

CommandResult cli(const TempDir& home, const std::string& args) {
    return runApart("SDL_AUDIODRIVER=dummy timeout 120 '" + kCli + "' --home '" + home.path() +
                    "' " + args);
}

std::string probe(const std::string& path, const char* entry) {
    return capture(std::string("ffprobe -v error -select_streams a:0 -show_entries ") + entry +
                   " -of csv=p=0 '" + path + "'");
}

} // namespace

TEST(CliEncoderOptions, FormatsWmaListsTheTableWithItsValues) {
    TempDir home;
    CommandResult r = cli(home, "formats wma");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (size_t c = 0; c < wmaCodecs().size(); ++c) {
        expected += "codec " + std::to_string(c) + ": " + wmaCodecs()[c].name + "\n";
        for (const auto& f : wmaFormatList(static_cast<int>(c)))
            expected += "  " + std::to_string(f.value) + "\t" + f.description + "\n";
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.out.find("  5\t128 kbps, 44 kHz, stereo CBR\n"), std::string::npos);
    EXPECT_EQ(cli(home, "formats").status, 1);
    EXPECT_EQ(cli(home, "formats mp3").status, 1);
    EXPECT_NE(cli(home, "--help").out.find("formats"), std::string::npos);
}

TEST(CliEncoderOptions, WrongValuesAreWrongUsage) {
    TempDir home, out;
    const std::string src = "'" + fixture("mpeg_vcd.mpg") + "'";
    const char* const bad[] = {
        "-t m4a --aac-rate 100000", "-t m4a --aac-rate x",
        "-t m4a --aac-profile he",  "-t amr --amr-mode 8",
        "-t amr --amr-mode -1",     "-t wma --wma-codec 2",
        "-t wma --wma-format 99",   "-t wma --wma-codec 1 --wma-format 20",
        "-t wma --wma-format",
    };
    for (const char* args : bad) {
        CommandResult r =
            cli(home, std::string("convert -o '") + out.path() + "/' " + args + " " + src);
        EXPECT_EQ(r.status, 1) << args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << args;
    }
    // The options reach the encoders: rate, profile, mode, codec and format.
    CommandResult r = cli(home, "convert -q -o '" + out.path() +
                                    "/' -t m4a --aac-rate 96000 --aac-profile main -r 22050 "
                                    "--mono left " +
                                    src);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe(out.file("mpeg_vcd.m4a"), "stream=profile,sample_rate,channels"),
              "Main,22050,1\n");
    r = cli(home, "convert -q -o '" + out.path() + "/' -t amr --amr-mode 2 " + src);
    ASSERT_EQ(r.status, 0) << r.err;
    // MR59: 16-byte frames (a byte of header, 118 bits), 50 a second.
    auto amr = readFile(out.file("mpeg_vcd.amr"));
    ASSERT_GT(amr.size(), 6u + 16u);
    EXPECT_EQ(std::string(amr.begin(), amr.begin() + 6), "#!AMR\n");
    EXPECT_EQ(amr[6], 2 << 3 | 4);
    EXPECT_EQ((amr.size() - 6) % 16, 0u);
    r = cli(home, "convert -q -o '" + out.path() + "/' -t wma --wma-codec 1 --wma-format 3 " + src);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe(out.file("mpeg_vcd.wma"), "stream=codec_name,sample_rate,channels,bit_rate"),
              "wmav1,44100,2,64000\n");
}
