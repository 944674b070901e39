// kestrel-cli as a user runs it: exit codes, settings, the media list file and
// the analysis of every MPEG fixture.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include "engine/settings/texts.h"
#include "platform/paths.h"
#include "platform/profile.h"

#include <cmath>
#include <filesystem>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Result {
    int status = -1;
    std::string out;
};

Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text =
        capture("'" + kCli + "' --home '" + home.path() + "' " + args + " 2>&1; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

// Runs the CLI from the folder `cwd`, stopped after 20 seconds (status 124)
// so that a command that would wait for ever fails instead of hanging.
Result cliIn(const std::string& cwd, const TempDir& home, const std::string& args) {
    Result r;
    std::string text =
        capture("cd '" + cwd + "' && PWD='" + cwd + "' timeout 20 '" + kCli + "' --home '" +
                home.path() + "' " + args + " 2>&1 </dev/null; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

} // namespace

TEST(Cli, UsageAndExitCodes) {
    TempDir home;
    EXPECT_EQ(cli(home, "--help").status, 0);
    EXPECT_EQ(cli(home, "").status, 1);
    EXPECT_EQ(cli(home, "bogus").status, 1);
    EXPECT_EQ(cli(home, "--bogus settings").status, 1);
    for (const char* c : {"settings", "list", "info", "fast", "convert", "play"}) {
        Result r = cli(home, std::string(c) + " --help");
        EXPECT_EQ(r.status, 0) << c;
        EXPECT_NE(r.out.find("usage:"), std::string::npos) << c;
    }
    EXPECT_EQ(cli(home, "info").status, 1);
    EXPECT_EQ(cli(home, "list delete x").status, 1);
    EXPECT_EQ(cli(home, "convert --mode fast x").status, 1);
}

TEST(Cli, SettingsPrintsEveryKeyInLoadOrderThenTheDerivedFormat) {
    TempDir home;
    Result r = cli(home, "settings");
    ASSERT_EQ(r.status, 0);
    std::vector<std::string> lines;
    std::regex line("([^\n]*)\n");
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), line), end; it != end; ++it)
        lines.push_back((*it)[1]);
    ASSERT_EQ(lines.size(), 33u + 4u);
    EXPECT_EQ(lines[0], "界面显示=1  [display_mode]");
    EXPECT_EQ(lines[27], "转换文件类型=1 (exe)  [output_type]");
    EXPECT_EQ(lines[32], "转换文件保存路径=" + home.path() + "/  [save_path]");
    EXPECT_EQ(lines[33], "out_rate=44100");
    EXPECT_EQ(lines[36], "out_version=0");
    // Showing the settings writes nothing: the defaults are not stored.
    EXPECT_FALSE(kestrel::fileExists(home.file("tavolin.ini")));
}

TEST(Cli, ListAddDeleteAndSave) {
    TempDir home;
    std::string a = fixture("mpeg_vcd.mpg"), b = fixture("mpeg_l3_cbr_44k.mp3");
    EXPECT_EQ(cli(home, "list add '" + a + "' '" + b + "'").status, 0);
    Result dup = cli(home, "list add '" + a + "'");
    EXPECT_EQ(dup.status, 2);
    EXPECT_NE(dup.out.find("kestrel-cli: the media file is already in the list"),
              std::string::npos);
    EXPECT_EQ(readFile(home.file("mpginfo.dat")).size(), 4u + 2 * 752);

    Result list = cli(home, "list");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("0\t" + a + "\t"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\tMPEG1/2 PS\t4\t44100\t2\t6"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("1\t" + b + "\t"), std::string::npos);
    Result json = cli(home, "list --json");
    EXPECT_NE(json.out.find("\"typeName\": \"MP3\""), std::string::npos) << json.out;

    EXPECT_EQ(cli(home, "list delete 0").status, 0);
    list = cli(home, "list");
    EXPECT_EQ(list.out.find(a), std::string::npos);
    EXPECT_NE(list.out.find("0\t" + b), std::string::npos); // renumbered at the next start
    EXPECT_EQ(cli(home, "list delete 5").status, 2);        // no such row: nothing selected
    EXPECT_EQ(cli(home, "list save").status, 0);
    EXPECT_EQ(readFile(home.file("mpginfo.dat")).size(), 4u + 752);
}

TEST(Cli, InfoOfEveryMpegFixture) {
    struct Case {
        const char* file;
        const char* type;
        int kind, rate, channels;
    };
    const Case cases[] = {
        {"mpeg_vcd.mpg", "MPEG1/2 PS", 6, 44100, 2},
        {"mpeg_mpeg2.mpg", "MPEG1/2 PS", 6, 48000, 2},
        {"mpeg_dvd.vob", "MPEG1/2 PS", 5, 48000, 6},
        {"mpeg_ts_mp2.ts", "MPEG2 TS", 3, 48000, 2},
        {"mpeg_ts_audio.ts", "MPEG2 TS", 3, 24000, 2},
        {"mpeg_ts_ac3.ts", "MPEG2 TS", 3, 48000, 2},
        {"mpeg_l2_48k.mp2", "MPEG1/2 ES", 10, 48000, 2},
        {"mpeg_l2_mpeg2_24k.mp2", "MPEG1/2 ES", 10, 24000, 2},
        {"mpeg_ac3.ac3", "MPEG1/2 ES", 11, 48000, 2},
        {"mpeg_l3_cbr_44k.mp3", "MP3", 10, 44100, 2},
        {"mpeg_l3_cbr_32k_mono.mp3", "MP3", 10, 32000, 1},
        {"mpeg_l3_vbr_44k.mp3", "MP3", 10, 44100, 2},
        {"mpeg_l3_mpeg2_22k.mp3", "MP3", 10, 22050, 2},
        {"mpeg_l3_mpeg2_vbr_22k.mp3", "MP3", 10, 22050, 2},
        {"mpeg_l3_mpeg25_11k.mp3", "MP3", 10, 11025, 2},
        {"mpeg_l3_id3.mp3", "MP3", 10, 44100, 2},
        {"mpeg_mpeg4.avi", "MPEG4 AVI", 99, 44100, 2},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string path = fixture(c.file);
        Result r = cli(home, "info --json '" + path + "'");
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(std::string("\"typeName\": \"") + c.type + "\""), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\"kind\": " + std::to_string(c.kind) + ","), std::string::npos);
        EXPECT_NE(r.out.find("\"sampleRate\": " + std::to_string(c.rate) + ","), std::string::npos);
        EXPECT_NE(r.out.find("\"channels\": " + std::to_string(c.channels) + ","),
                  std::string::npos);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"durationSec\": (\\d+)")));
        // MPEG audio files without a VBR header take the size over the bit
        // rate counted in units of 1024 bit/s.
        double scale = std::string(c.type) == "MP3" ? 1000.0 / 1024.0 : 1.0;
        EXPECT_NEAR(std::stod(m[1]), ffprobeDuration(path) * scale, 1.0);
    }
    // A video-only stream is refused with the analysis message.
    Result v = cli(home, "info '" + fixture("mpeg_video.m1v") + "'");
    EXPECT_EQ(v.status, 2);
    EXPECT_NE(v.out.find("a media file without audio"), std::string::npos);
    Result missing = cli(home, "info '" + home.file("none.mpg") + "'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("cannot open the media file"), std::string::npos) << missing.out;
}

TEST(Cli, FastCopiesIntoTheOutputFolder) {
    TempDir home, out;
    Result r = cli(home, "fast -o '" + out.path() + "' '" + fixture("mpeg_vcd.mpg") + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    auto mp3 = readFile(out.file("mpeg_vcd.mp3"));
    ASSERT_GT(mp3.size(), 1000u);
    EXPECT_EQ(mp3[0], 0xFF);
    // A stream whose only audio is AC-3 gives no MPEG audio frame: no sound.
    Result none = cli(home, "fast -o '" + out.path() + "' '" + fixture("mpeg_ts_ac3.ts") + "'");
    EXPECT_EQ(none.status, 2) << none.out;
    EXPECT_NE(none.out.find("no sound"), std::string::npos) << none.out;
    Result bad = cli(home, "fast -o '" + out.path() + "' '" + fixture("mpeg_dvd.vob") + "'");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.out.find("fast conversion does not take this type of file"), std::string::npos);
}

TEST(Cli, MisspeltCommandIsRefusedWithTheListOfCommands) {
    TempDir home;
    for (const char* name : {"setings", "conver", "Settings"}) {
        SCOPED_TRACE(name);
        Result r = cli(home, name);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(std::string("unknown command '") + name + "'"), std::string::npos)
            << r.out;
        for (const char* c : {"settings", "list", "info", "fast", "convert", "play"})
            EXPECT_TRUE(std::regex_search(r.out, std::regex(std::string("\n  ") + c + " +\\S")))
                << c << "\n"
                << r.out;
        EXPECT_EQ(r.out.find("界面显示="), std::string::npos); // settings did not run
    }
    // --help names the exit statuses of a conversion.
    Result help = cli(home, "convert --help");
    EXPECT_NE(help.out.find("incomplete"), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}

TEST(Cli, PlayWithoutSoundDeviceSaysWhyAndExits2) {
    TempDir home;
    // An audio driver that does not exist: no device can be opened.
    std::string text = capture("SDL_AUDIODRIVER=none-such LC_ALL=zh_CN.UTF-8 '" + kCli +
                               "' --home '" + home.path() + "' play '" +
                               fixture("mpeg_l3_cbr_44k.mp3") + "' 2>&1; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    EXPECT_EQ(std::atoi(text.c_str() + at + 4), 2) << text;
    EXPECT_NE(text.find("打开声卡设备失败"), std::string::npos) << text;
    // Not followed by the window's "playing finished, choose another command".
    EXPECT_EQ(text.find("文件播放完成"), std::string::npos) << text;
}

TEST(Cli, ListKeepsTheAbsolutePathOfAFileAddedByARelativeOne) {
    TempDir home, work;
    ASSERT_TRUE(kestrel::makeDirectories(work.file("rel")));
    std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"), work.file("rel/path.mp3"));
    Result add = cliIn(work.path(), home, "list add rel/path.mp3");
    ASSERT_EQ(add.status, 0) << add.out;
    // Listed and saved again from another folder, the entry stays whole.
    Result list = cliIn("/", home, "list");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("0\t" + work.file("rel/path.mp3") + "\t"), std::string::npos)
        << list.out;
    EXPECT_EQ(cliIn("/", home, "list save").status, 0);
    EXPECT_EQ(readFile(home.file("mpginfo.dat")).size(), 4u + 752);
    list = cliIn("/", home, "list");
    EXPECT_NE(list.out.find("0\t" + work.file("rel/path.mp3") + "\t"), std::string::npos)
        << list.out;
}

TEST(Cli, SourcesThatAreNoMediaFilesAreRefusedPromptly) {
    TempDir home, work, out;
    std::string fifo = work.file("pipe.mp3"), folder = work.file("folder.mpg"),
                empty = work.file("empty.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_TRUE(kestrel::makeDirectories(folder));
    writeFile(empty, std::string());
    struct Case {
        std::string path;
        const char* says;
    } cases[] = {{fifo, "is a named pipe (FIFO)"},
                 {folder, "is a folder"},
                 {"/dev/null", "is a character device"},
                 {empty, "is empty"}};
    const std::string commands[] = {"info", "list add", "convert -t wav -o '" + out.path() + "'",
                                    "play --seconds 1"};
    for (const auto& command : commands) {
        for (const auto& c : cases) {
            SCOPED_TRACE(command + " " + c.path);
            Result r = cliIn(work.path(), home, command + " '" + c.path + "'");
            EXPECT_EQ(r.status, 2) << r.out; // 124: it waited
            EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        }
    }
    EXPECT_EQ(readFile(home.file("mpginfo.dat")).size(), 4u); // nothing was added
}

TEST(Cli, SettingsKeepASavePathThatGbkCannotHold) {
    TempDir home;
    std::string folder = home.file("Jörg 🎵");
    ASSERT_TRUE(kestrel::makeDirectories(folder));
    ASSERT_EQ(cli(home, "settings").status, 0); // writes the defaults
    ASSERT_TRUE(kestrel::writePrivateProfileString(kestrel::key::kSection, kestrel::key::kSavePath,
                                                   folder + "/", home.file("tavolin.ini")));
    for (int start = 0; start < 2; ++start) {
        Result r = cli(home, "settings");
        ASSERT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("转换文件保存路径=" + folder + "/  [save_path]\n"), std::string::npos)
            << r.out;
    }
    // Stored as GB18030: the emoji's four bytes, no UTF-8.
    auto ini = readFile(home.file("tavolin.ini"));
    std::string bytes(ini.begin(), ini.end());
    EXPECT_NE(bytes.find("J\x81\x30\x8B\x32rg \x94\x39\xC1\x39/"), std::string::npos);
}

TEST(Cli, AStartRemovesTheTemporaryFilesOfKilledRuns) {
    TempDir home;
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int st = 0;
    ::waitpid(child, &st, 0); // gone now
    char host[256] = {0};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    std::string tag = std::string(host) + "." + std::to_string(child);
    ASSERT_TRUE(kestrel::makeDirectories(home.file("tmp")));
    const std::string left[] = {home.file(".mpginfo.dat." + tag + ".part"),
                                home.file(".tavolin.ini." + tag + ".part"),
                                home.file("tmp/~tmp." + tag + ".wav")};
    for (const auto& p : left)
        writeFile(p, std::string("half"));
    std::string otherHost = home.file(".tavolin.ini.elsewhere." + std::to_string(child) + ".part");
    writeFile(otherHost, std::string("theirs"));
    ASSERT_EQ(cli(home, "list").status, 0);
    for (const auto& p : left)
        EXPECT_FALSE(kestrel::fileExists(p)) << p;
    EXPECT_TRUE(kestrel::fileExists(otherHost));
}
