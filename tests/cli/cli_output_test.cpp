// kestrel-cli convert as a user of command-line converters expects it: the
// output's type, folder and name, no replacement without -y, a progress line
// fitted to the terminal, and the meta options.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

using Result = CommandResult;

// Runs the CLI in the folder `cwd` with stdout and stderr apart.
Result cliIn(const std::string& cwd, const TempDir& home, const std::string& args) {
    return runApart("cd '" + cwd + "' && timeout 60 '" + kCli + "' --home '" + home.path() + "' " +
                    args);
}

bool exists(const std::string& p) {
    return std::filesystem::exists(p);
}

// Terminal columns of a line of UTF-8 text without wide characters.
size_t columns(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

TEST(CliOutput, TypeFolderAndNamesFollowTheCommandLine) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg");
    // No -t, no -o: an MP3 named after the source in the current folder.
    Result r = cliIn(work.path(), home, "convert '" + src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(work.file("mpeg_vcd.mp3"))) << r.out;
    EXPECT_TRUE(std::regex_match(
        r.out,
        std::regex(".*/mpeg_vcd\\.mp3\t/.*/mpeg_vcd\\.mpg\t4\\.\\d\\d\t\\d+\tconverted\t\n")))
        << r.out;
    // -o FILE.wav: the type is the extension's.
    r = cliIn(work.path(), home, "convert -o clip.wav '" + src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto wav = readFile(work.file("clip.wav"));
    ASSERT_GT(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    // -o DIR/ that is missing is created; a joined output is named after the
    // first source.
    r = cliIn(work.path(), home,
              "convert --join -o new/sub/ '" + src + "' '" + fixture("mpeg_l2_48k.mp2") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(work.file("new/sub/mpeg_vcd.mp3")));
    // --stamp: the window's time-stamped names.
    r = cliIn(work.path(), home, "convert --stamp -o stamped/ '" + src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::regex_search(r.out, std::regex("stamped/\\d{14}mpeg_vcd\\.mp3\t"))) << r.out;
    // -o FILE for several outputs is wrong usage.
    EXPECT_EQ(cliIn(work.path(), home, "convert -o x.mp3 '" + src + "' '" + src + "'").status, 1);
}

TEST(CliOutput, AnExistingOutputIsReplacedOnlyWithY) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg");
    writeFile(work.file("mpeg_vcd.mp3"), std::string("keep me"));
    Result r = cliIn(work.path(), home, "convert '" + src + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_NE(r.err.find("exists"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("-y"), std::string::npos) << r.err;
    auto kept = readFile(work.file("mpeg_vcd.mp3"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
    EXPECT_FALSE(exists(work.file("mpeg_vcd_2.mp3")));
    // fast follows the same rule.
    EXPECT_EQ(cliIn(work.path(), home, "fast '" + src + "'").status, 2);
    kept = readFile(work.file("mpeg_vcd.mp3"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");

    r = cliIn(work.path(), home, "convert -y '" + src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    auto mp3 = readFile(work.file("mpeg_vcd.mp3"));
    ASSERT_GT(mp3.size(), 1000u);
    EXPECT_EQ(std::filesystem::directory_iterator(work.path()) !=
                  std::filesystem::directory_iterator(),
              true);
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(work.path())) {
        ++files;
        EXPECT_EQ(e.path().filename(), "mpeg_vcd.mp3"); // nothing temporary left
    }
    EXPECT_EQ(files, 1u);
    // -j 2 follows it too: the entry whose output exists is skipped.
    r = cliIn(work.path(), home,
              "convert -j 2 -t wav '" + src + "' '" + fixture("mpeg_l2_48k.mp2") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    r = cliIn(work.path(), home,
              "convert -j 2 -t wav '" + src + "' '" + fixture("mpeg_l3_cbr_44k.mp3") + "'");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out.find("mpeg_vcd.wav"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("mpeg_l3_cbr_44k.wav"), std::string::npos) << r.out;
}

TEST(CliOutput, MetaOptions) {
    TempDir home, work;
    Result v = cliIn(work.path(), home, "--version");
    EXPECT_EQ(v.status, 0);
    for (const char* lib : {"FFmpeg", "LAME", "mpg123", "soxr", "SDL"})
        EXPECT_NE(v.out.find(lib), std::string::npos) << lib << "\n" << v.out;
    Result help = cliIn(work.path(), home, "help convert");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, cliIn(work.path(), home, "convert --help").out);
    for (const char* option : {"-o DIR/", "-o FILE.ext", "-y", "--stamp", "--progress", "-q",
                               "--vbr Q", "32-320", "8-160", "ffmpeg -n", "default"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(cliIn(work.path(), home, "help bogus").status, 1);
    // "--" ends the options: a file whose name starts with "-".
    writeFile(work.file("-dash.mpg"), readFile(fixture("mpeg_vcd.mpg")));
    Result dash = cliIn(work.path(), home, "convert --mode=silent -o=out/ -- -dash.mpg");
    EXPECT_EQ(dash.status, 1); // "-o=..." is no "--opt=value" form
    dash = cliIn(work.path(), home, "convert --mode=silent -t wav -- -dash.mpg");
    ASSERT_EQ(dash.status, 0) << dash.err;
    EXPECT_TRUE(exists(work.file("-dash.wav")));
    // -q: no status texts.
    Result q = cliIn(work.path(), home, "-q convert -y -- -dash.mpg");
    EXPECT_EQ(q.status, 0);
    EXPECT_TRUE(q.err.empty()) << q.err;
}

TEST(CliOutput, ProgressFitsTheTerminalAndStaysOffPipes) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg");
    // Long enough (100 s of sound) for the speed to be measured while the
    // line still names the file.
    const std::string longSrc = fixture("exe_long.mp3");
    for (int width : {40, 200}) {
        SCOPED_TRACE(width);
        std::string text =
            capture("cd '" + work.path() + "' && SDL_AUDIODRIVER=dummy script -qc \"stty cols " +
                    std::to_string(width) + "; '" + kCli + "' --home '" + home.path() +
                    "' convert -y '" + longSrc + "' 2>&1 >/dev/null\" /dev/null");
        size_t drawn = 0;
        bool full = false;
        for (size_t at = 0; (at = text.find("\r\033[K", at)) != std::string::npos;) {
            at += 4;
            size_t end = text.find_first_of("\r\n", at);
            std::string line = text.substr(at, end == std::string::npos ? end : end - at);
            if (line.rfind("[1/1]", 0) != 0) continue;
            ++drawn;
            EXPECT_LT(columns(line), static_cast<size_t>(width)) << line;
            if (line.find("exe_long.mp3") != std::string::npos &&
                line.find('%') != std::string::npos && line.find("/1:") != std::string::npos &&
                line.find("×") != std::string::npos && line.find("left") != std::string::npos)
                full = true;
        }
        EXPECT_GT(drawn, 0u) << text;
        if (width == 200) {
            EXPECT_TRUE(full) << text;
        }
    }
    // Piped: no escape codes and no progress; --progress gives plain lines.
    Result piped = cliIn(work.path(), home, "convert -y '" + src + "'");
    EXPECT_EQ(piped.err.find('\033'), std::string::npos);
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);
    EXPECT_EQ(piped.err.find("[1/1]"), std::string::npos) << piped.err;
    Result plain = cliIn(work.path(), home, "convert -y --progress '" + src + "'");
    EXPECT_EQ(plain.err.find('\033'), std::string::npos);
    EXPECT_NE(plain.err.find("[1/1] mpeg_vcd.mpg"), std::string::npos) << plain.err;
}
