// kestrel-cli's messages: every line on stderr names the program, a failed
// system call's message carries the system's reason, and texts reach the
// terminal in its locale's encoding (machine output stays as it is).
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

using Result = CommandResult;

// Runs the CLI with `env` (VAR=value ...) before it, stdout and stderr apart.
Result cliEnv(const std::string& env, const TempDir& home, const std::string& args) {
    return runApart("env " + env + " timeout 60 '" + kCli + "' --home '" + home.path() + "' " +
                    args);
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

// `utf8` converted by iconv(1) to `charset`.
std::string iconvTo(const std::string& charset, const std::string& utf8) {
    TempDir t;
    writeFile(t.file("in"), utf8);
    return capture("iconv -f UTF-8 -t " + charset + " '" + t.file("in") + "'");
}

bool validUtf8(const std::string& s) {
    TempDir t;
    writeFile(t.file("in"), s);
    return run("iconv -f UTF-8 -t UTF-8 '" + t.file("in") + "' >/dev/null 2>&1") == 0;
}

// Locales made for these tests (LOCPATH), the machine having few of its own.
class CliEncoding : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        gb18030_ = run("localedef -i zh_CN -f GB18030 '" + dir_->file("zh_CN.GB18030") +
                       "' >/dev/null 2>&1") == 0;
        latin1_ = run("localedef -i en_US -f ISO-8859-1 '" + dir_->file("en_US.ISO-8859-1") +
                      "' >/dev/null 2>&1") == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string locale(const std::string& name) {
        return "LOCPATH='" + dir_->path() + "' LC_ALL=" + name;
    }
    static TempDir* dir_;
    static bool gb18030_, latin1_;
};
TempDir* CliEncoding::dir_ = nullptr;
bool CliEncoding::gb18030_ = false;
bool CliEncoding::latin1_ = false;

const char* kOpenFailed = "打开多媒体文件出错";

} // namespace

TEST(CliMessages, EveryStderrLineNamesTheProgram) {
    TempDir home;
    const std::string missing = home.file("none.mpg");
    for (const std::string& args : std::vector<std::string>{
             "info '" + missing + "'", "fast -o '" + home.path() + "' '" + missing + "'",
             "convert -o '" + home.file("x.mp3") + "' '" + missing + "'", "bogus", "info --bogus",
             "list add '" + missing + "'"}) {
        Result r = cliEnv("LC_ALL=C", home, args);
        EXPECT_NE(r.status, 0) << args;
        ASSERT_FALSE(r.err.empty()) << args;
        // Lines that continue a message (the list of commands) are indented.
        for (const auto& l : lines(r.err))
            EXPECT_TRUE(l.rfind("kestrel-cli", 0) == 0 || l.rfind("  ", 0) == 0) << args << "\n"
                                                                                 << r.err;
        // The window's caption is no part of the command line's message.
        EXPECT_EQ(r.err.find("标准版"), std::string::npos) << args << "\n" << r.err;
    }
}

TEST(CliMessages, FailedSystemCallCarriesTheReason) {
    TempDir home;
    // A missing source: the program's own text, then the system's reason.
    Result r = cliEnv("LC_ALL=C", home, "info '" + home.file("none.mpg") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "kestrel-cli: " + home.file("none.mpg") +
                         ": cannot open the media file: No such file or directory\n");
    // The catalogue's own text in a Chinese locale.
    r = cliEnv("LC_ALL=zh_CN.UTF-8", home, "info '" + home.file("none.mpg") + "'");
    EXPECT_EQ(r.err, "kestrel-cli: 文件" + home.file("none.mpg") + ":" + kOpenFailed +
                         ": No such file or directory\n");
    // The list file cannot be read or written: a folder holds its name.
    TempDir blocked;
    std::filesystem::create_directory(blocked.file("mpginfo.dat"));
    r = cliEnv("LC_ALL=C", blocked, "list save");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("kestrel-cli: the media list " + blocked.file("mpginfo.dat") +
                              " is not a regular file (a folder)",
                          0),
              0u)
        << r.err;
}

TEST_F(CliEncoding, CAndUtf8LocalesKeepUtf8) {
    TempDir home;
    // A file name in UTF-8 passes as it is.
    const std::string expected = "kestrel-cli: " + home.file("声音.mpg") +
                                 ": cannot open the media file: No such file or directory\n";
    for (const char* env : {"LC_ALL=C", "LC_ALL=C.UTF-8", "LC_ALL=POSIX"}) {
        Result r = cliEnv(env, home, "info '" + home.file("声音.mpg") + "'");
        EXPECT_EQ(r.err, expected) << env;
    }
}

TEST_F(CliEncoding, Gb18030TerminalGetsGb18030) {
    if (!gb18030_) GTEST_SKIP() << "no zh_CN.GB18030 locale could be made (localedef)";
    TempDir home;
    const std::string missing = home.file("none.mpg");
    Result r = cliEnv(locale("zh_CN.GB18030"), home, "info '" + missing + "'");
    EXPECT_EQ(r.status, 2);
    const std::string utf8 =
        "kestrel-cli: 文件" + missing + ":" + kOpenFailed + ": No such file or directory\n";
    EXPECT_EQ(r.err, iconvTo("GB18030", utf8));
    EXPECT_NE(r.err, utf8);
    // The command line's own texts too (help in Chinese for a zh_* locale).
    r = cliEnv(locale("zh_CN.GB18030"), home, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(iconvTo("GB18030", "把多媒体文件的声音转换为音频文件")),
              std::string::npos);
    EXPECT_FALSE(validUtf8(r.out));
}

TEST_F(CliEncoding, FileNamesAndJsonStayAsTheyAre) {
    if (!gb18030_) GTEST_SKIP() << "no zh_CN.GB18030 locale could be made (localedef)";
    TempDir home, work;
    // A name in the terminal's own encoding (no UTF-8) passes unchanged.
    const std::string gbName = work.file(iconvTo("GB18030", "声音") + ".mpg");
    Result r = cliEnv(locale("zh_CN.GB18030"), home, "info '" + gbName + "'");
    EXPECT_EQ(r.err, iconvTo("GB18030", "kestrel-cli: 文件") + gbName +
                         iconvTo("GB18030", std::string(":") + kOpenFailed) +
                         ": No such file or directory\n");
    // JSON is UTF-8 whatever the terminal: a UTF-8 file name stays UTF-8.
    const std::string utf8Name = work.file("声音.mpg");
    std::filesystem::copy_file(fixture("mpeg_vcd.mpg"), utf8Name);
    r = cliEnv(locale("zh_CN.GB18030"), home, "info --json '" + utf8Name + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("声音.mpg"), std::string::npos) << r.out;
    EXPECT_TRUE(validUtf8(r.out));
    // The listing of outputs holds the paths as they are.
    r = cliEnv(locale("zh_CN.GB18030"), home,
               "convert -q -o '" + work.file("输出.wav") + "' '" + utf8Name + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind(work.file("输出.wav") + "\t", 0), 0u) << r.out;
}

TEST_F(CliEncoding, CharactersTheCharsetLacksBecomeQuestionMarks) {
    if (!latin1_) GTEST_SKIP() << "no en_US.ISO-8859-1 locale could be made (localedef)";
    TempDir home;
    Result r = cliEnv(locale("en_US.ISO-8859-1"), home, "info '" + home.file("声音.mpg") + "'");
    EXPECT_EQ(r.err, "kestrel-cli: " + home.file("??.mpg") +
                         ": cannot open the media file: No such file or directory\n");
}
