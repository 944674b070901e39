// What a user keeps is never lost: earlier outputs under failed conversions
// and killed runs, the list under concurrent commands and damage, the
// settings under damage and read-only commands, and files of the wrong kind
// in their place.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iconv.h>
#include <sys/stat.h>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

CommandResult cli(const TempDir& home, const std::string& args, const std::string& cwd = "/") {
    return runApart("cd '" + cwd + "' && LC_ALL=C SDL_AUDIODRIVER=dummy timeout 60 '" + kCli +
                    "' --home '" + home.path() + "' " + args);
}

std::string text(const std::string& path) {
    auto b = readFile(path);
    return std::string(b.begin(), b.end());
}

bool exists(const std::string& p) {
    return std::filesystem::exists(p);
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

size_t lineCount(const std::string& s) {
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
}

// The MPEG-4 AVI fixture with its sound chunks zeroed: the analysis takes it,
// the conversion gets no sound out of it.
std::string silentAvi(const TempDir& dir) {
    auto bytes = readFile(fixture("mpeg_mpeg4.avi"));
    for (size_t i = 0; i + 8 <= bytes.size(); ++i) {
        if (std::memcmp(&bytes[i], "01wb", 4) != 0) continue;
        uint32_t size = 0;
        std::memcpy(&size, &bytes[i + 4], 4);
        if (i + 8 + size > bytes.size()) break;
        std::memset(&bytes[i + 8], 0, size);
        i += 7 + size;
    }
    const std::string path = dir.file("silent.avi");
    writeFile(path, bytes);
    return path;
}

// `utf8` in GB18030, as the program's files keep texts.
std::string gbk(const std::string& utf8) {
    iconv_t cd = ::iconv_open("GB18030", "UTF-8");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* to = out.data();
    size_t inLeft = utf8.size(), outLeft = out.size();
    ::iconv(cd, &in, &inLeft, &to, &outLeft);
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

// -y replaces an earlier output only with a whole one: an output without sound
// goes beside it under the next free name, and the report says which file
// stayed. The same for every output type, and for fast conversion.
TEST(CliKeeping, AnOutputThatIsNotWholeNeverReplacesAnEarlierOne) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg"), silent = silentAvi(work);
    const char* types[][2] = {{"wav", "wav"}, {"mp3", "mp3"},  {"exe", "exe"}, {"wma", "wma"},
                              {"aac", "aac"}, {"adts", "aac"}, {"m4a", "m4a"}, {"amr", "amr"},
                              {"flv", "flv"}, {"avi", "avi"}};
    for (const auto& t : types) {
        SCOPED_TRACE(t[0]);
        const std::string out = work.file(std::string("good-") + t[0] + "." + t[1]);
        const std::string beside = work.file(std::string("good-") + t[0] + "_2." + t[1]);
        const std::string opts =
            std::string("convert --mode silent -t ") + t[0] + " -o '" + out + "' ";
        CommandResult r = cli(home, opts + "'" + src + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string earlier = text(out);
        r = cli(home, opts + "-y '" + silent + "'");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(text(out), earlier);
        EXPECT_TRUE(exists(beside));
        EXPECT_NE(r.err.find(out + " was kept as it was"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find(beside), std::string::npos) << r.out;
    }
    // A whole output does replace.
    const std::string wav = work.file("good-wav.wav");
    CommandResult r =
        cli(home, "convert --mode silent -y -o '" + wav + "' '" + fixture("mpeg_l2_48k.mp2") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(text(wav).size(), text(work.file("good-wav_2.wav")).size());

    // fast: a copy without a single frame leaves no file, and an earlier one
    // as it was.
    TempDir fastOut;
    r = cli(home, "fast -o '" + fastOut.path() + "' '" + fixture("mpeg_ts_ac3.ts") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(namesIn(fastOut.path()).empty());
    writeFile(fastOut.file("mpeg_ts_ac3.mp3"), std::string("earlier"));
    r = cli(home, "fast -y -o '" + fastOut.path() + "' '" + fixture("mpeg_ts_ac3.ts") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(text(fastOut.file("mpeg_ts_ac3.mp3")), "earlier");
    EXPECT_EQ(namesIn(fastOut.path()), std::vector<std::string>{"mpeg_ts_ac3.mp3"});
}

// A run killed while it writes leaves a temporary file that the next run
// removes; the name stays free for it (no "_2"). Names of any legal length
// can be converted.
TEST(CliKeeping, AKilledRunLeavesNothingInTheWay) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg");
    CommandResult r = runApart(
        "cd '" + work.path() + "' && (SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
        "' -q convert --mode realtime -t wav -o song.wav '" + src +
        "' >/dev/null 2>&1 & echo $! > ../pid." + std::to_string(::getpid()) +
        "); for i in $(seq 200); do ls -a | grep -q 'part$' && break; sleep 0.05; done; kill -9 "
        "$(cat ../pid." +
        std::to_string(::getpid()) + "); rm -f ../pid." + std::to_string(::getpid()) +
        "; sleep 0.2; ls -a");
    ASSERT_NE(r.out.find(".part"), std::string::npos) << r.out;
    r = cli(home, "convert --mode silent -t wav -o song.wav '" + src + "'", work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(namesIn(work.path()), std::vector<std::string>{"song.wav"});

    // 255 bytes: the longest name a folder holds.
    const std::string longest = std::string(251, 'n') + ".wav";
    r = cli(home, "convert --mode silent -o '" + longest + "' '" + src + "'", work.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(work.file(longest)));
}

// Commands started together each keep their change of the list.
TEST(CliKeeping, ConcurrentChangesOfListAndSettingsAreAllKept) {
    TempDir media;
    std::string files;
    for (int i = 1; i <= 5; ++i) {
        std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"),
                                   media.file("s" + std::to_string(i) + ".mp3"));
    }
    for (int round = 0; round < 20; ++round) {
        TempDir home;
        std::string cmd;
        for (int i = 1; i <= 5; ++i)
            cmd += "'" + kCli + "' --home '" + home.path() + "' list add '" +
                   media.file("s" + std::to_string(i) + ".mp3") + "' & ";
        runApart(cmd + "wait");
        CommandResult r = cli(home, "list");
        ASSERT_EQ(lineCount(r.out), 5u) << "round " << round << "\n" << r.out << r.err;
    }
    // The same for settings changed at once.
    const char* sets[][2] = {{"output_type", "=2"},
                             {"mp3_cbr_kbps", "=192"},
                             {"mp3_vbr_quality", "=7"},
                             {"aac_channels", "=1"},
                             {"mp3_mono_mode", "=2"}};
    const char* values[] = {"wav", "192", "7", "1", "right"};
    for (int round = 0; round < 10; ++round) {
        TempDir home;
        std::string cmd;
        for (int i = 0; i < 5; ++i)
            cmd += "'" + kCli + "' --home '" + home.path() + "' settings set " + sets[i][0] + " " +
                   values[i] + " >/dev/null & ";
        runApart(cmd + "wait");
        for (const auto& s : sets) {
            CommandResult r = cli(home, std::string("settings get ") + s[0]);
            ASSERT_NE(r.out.find(s[1]), std::string::npos) << "round " << round << ": " << r.out;
        }
    }
}

// A damaged list keeps every intact record, says what it dropped, and is
// copied before the next change replaces it.
TEST(CliKeeping, ADamagedListKeepsItsIntactRecords) {
    TempDir media;
    for (int i = 1; i <= 6; ++i)
        std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"),
                                   media.file("s" + std::to_string(i) + ".mp3"));
    constexpr size_t kRecord = 752;
    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>&);
        size_t kept;
    } cases[] = {
        {"count 0", [](std::vector<uint8_t>& b) { std::memset(b.data(), 0, 4); }, 5},
        {"count -1", [](std::vector<uint8_t>& b) { std::memset(b.data(), 0xFF, 4); }, 5},
        {"count 3", [](std::vector<uint8_t>& b) { b[0] = 3; }, 5},
        {"one byte short", [](std::vector<uint8_t>& b) { b.pop_back(); }, 4},
        {"a path without its end",
         [](std::vector<uint8_t>& b) { std::memset(&b[4 + kRecord + 4], 'x', 512); }, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir home;
        std::string add = "list add";
        for (int i = 1; i <= 5; ++i)
            add += " '" + media.file("s" + std::to_string(i) + ".mp3") + "'";
        ASSERT_EQ(cli(home, add).status, 0);
        auto bytes = readFile(home.file("mpginfo.dat"));
        ASSERT_EQ(bytes.size(), 4 + 5 * kRecord);
        c.damage(bytes);
        writeFile(home.file("mpginfo.dat"), bytes);

        CommandResult r = cli(home, "list");
        EXPECT_EQ(lineCount(r.out), c.kept) << r.out;
        EXPECT_NE(r.err.find(" is damaged ("), std::string::npos) << r.err;
        EXPECT_EQ(readFile(home.file("mpginfo.dat")), bytes); // listing writes nothing

        r = cli(home, "list add '" + media.file("s6.mp3") + "'");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(readFile(home.file("mpginfo.dat")).size(), 4 + (c.kept + 1) * kRecord);
        EXPECT_EQ(readFile(home.file("mpginfo.dat.damaged")), bytes);
        EXPECT_EQ(lineCount(cli(home, "list").out), c.kept + 1);
    }
}

// Settings that an editor touched read as they were meant; a value that
// cannot be used is named; read-only commands never write the file; a change
// keeps every other value.
TEST(CliKeeping, SettingsReadAsMeantAndAreNotWrittenByReading) {
    const std::string utf8Section = "[岚石多媒体MP3转换器]\r\n";
    const std::string utf8Keys = "转换文件类型=2\r\n转换MP3恒定速率=192\r\n";
    const std::string gbSection = gbk(utf8Section), gbKeys = gbk(utf8Keys);
    const std::string gbType = gbk("转换文件类型");
    const std::string bom = "\xef\xbb\xbf";
    struct Case {
        const char* what;
        std::string file;
        const char* type; // what `settings get output_type` shows
    } cases[] = {
        {"GB18030", gbSection + gbKeys, "=2 (wav)"},
        {"byte-order mark", bom + gbSection + gbKeys, "=2 (wav)"},
        {"saved as UTF-8", utf8Section + utf8Keys, "=2 (wav)"},
        {"UTF-8 with its mark", bom + utf8Section + utf8Keys, "=2 (wav)"},
        {"no section line", gbKeys, "=2 (wav)"},
        {"out of range", gbSection + gbType + "=12\r\n", "=1 (exe)"},
        {"garbage", std::string("\x01\x9c\xff garbage \x00\x13", 15), "=1 (exe)"},
    };
    TempDir media;
    std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"), media.file("a.mp3"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir home;
        writeFile(home.file("tavolin.ini"), c.file);
        CommandResult r = cli(home, "settings get output_type");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(c.type), std::string::npos) << r.out;
        if (std::string(c.what) == "out of range") {
            EXPECT_NE(r.err.find("转换文件类型=12"), std::string::npos) << r.err;
        }
        if (std::string(c.what) == "garbage") {
            EXPECT_NE(r.err.find("no settings"), std::string::npos) << r.err;
        }
        cli(home, "info '" + media.file("a.mp3") + "'");
        cli(home, "settings");
        EXPECT_EQ(text(home.file("tavolin.ini")), c.file);
        if (std::string(c.type) != "=2 (wav)") continue;
        // A change is written in GB18030 into the one section, keeping the rest.
        r = cli(home, "settings set output_type mp3");
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string now = text(home.file("tavolin.ini"));
        EXPECT_EQ(now.find(gbSection), now.rfind(gbSection)) << now;
        EXPECT_NE(now.find(gbType + "=0"), std::string::npos);
        EXPECT_NE(cli(home, "settings get mp3_cbr_kbps").out.find("=192"), std::string::npos);
    }
}

// A folder or a FIFO in the place of the settings or the list: every command
// goes on with a message instead of aborting or waiting for ever.
TEST(CliKeeping, SettingsAndListThatAreNoRegularFilesAreRefused) {
    TempDir media;
    std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"), media.file("a.mp3"));
    for (const char* name : {"tavolin.ini", "mpginfo.dat"}) {
        for (bool fifo : {false, true}) {
            SCOPED_TRACE(std::string(name) + (fifo ? " FIFO" : " folder"));
            TempDir home;
            if (fifo)
                ASSERT_EQ(::mkfifo(home.file(name).c_str(), 0600), 0);
            else
                std::filesystem::create_directory(home.file(name));
            for (const char* args : {"list", "settings get output_type", "info"}) {
                std::string a = args;
                if (a == "info") a += " '" + media.file("a.mp3") + "'";
                CommandResult r = cli(home, a);
                EXPECT_EQ(r.status, 0) << args << ": " << r.err;
                if (std::string(name) == "tavolin.ini" || a == "list") {
                    EXPECT_NE(r.err.find(" is not a regular file ("), std::string::npos)
                        << args << ": " << r.err;
                }
            }
            CommandResult r = cli(home, std::string(name) == "mpginfo.dat"
                                            ? "list add '" + media.file("a.mp3") + "'"
                                            : "settings set output_type wav");
            EXPECT_EQ(r.status, 2) << r.err;
            struct stat st;
            ASSERT_EQ(::lstat(home.file(name).c_str(), &st), 0);
            EXPECT_EQ(S_ISFIFO(st.st_mode), fifo);
        }
    }
}

// The list file keeps its texts (path and type) in GB18030, GBK bytes for GBK
// text: a list laid out byte by byte as the record describes lists and saves
// byte for byte (but the serial number, which listing rewrites), and a list
// an earlier release wrote in UTF-8 is read and saved the same way.
TEST(CliKeeping, TheListFileKeepsItsTextsInGb18030) {
    TempDir media;
    const std::string song = media.file("歌曲.mp3");
    std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"), song);
    auto record = [&](const std::string& path, const std::string& type) {
        std::vector<uint8_t> r(752, 0);
        auto put32 = [&](size_t at, int32_t v) { std::memcpy(&r[at], &v, 4); };
        put32(0, 7);
        std::memcpy(&r[4], path.data(), path.size());
        put32(516, 16);
        put32(520, 128000);
        const double rate = 44100.0;
        std::memcpy(&r[528], &rate, 8);
        put32(540, 1);
        put32(544, static_cast<int32_t>(std::filesystem::file_size(song)));
        put32(548, 3);
        put32(556, 10);
        put32(560, 2);
        std::memcpy(&r[720], type.data(), type.size());
        std::vector<uint8_t> file(4 + r.size(), 0);
        file[0] = 1; // one record
        std::copy(r.begin(), r.end(), file.begin() + 4);
        return file;
    };
    const auto designed = record(gbk(song), gbk("其他"));
    const auto earlier = record(song, "其他");
    for (const auto* stored : {&designed, &earlier}) {
        SCOPED_TRACE(stored == &designed ? "GB18030" : "UTF-8 of an earlier release");
        TempDir home;
        writeFile(home.file("mpginfo.dat"), *stored);
        CommandResult r = cli(home, "list");
        EXPECT_EQ(r.out, "0\t" + song + "\t" + std::to_string(std::filesystem::file_size(song)) +
                             "\t其他\t3\t44100\t2\t10\n")
            << r.err;
        ASSERT_EQ(cli(home, "list save").status, 0);
        auto saved = readFile(home.file("mpginfo.dat"));
        ASSERT_EQ(saved.size(), designed.size());
        std::memset(&saved[4], 7, 1); // the serial number, rewritten by listing
        EXPECT_TRUE(saved == designed);
    }
    // An added file is stored the same way.
    TempDir home;
    ASSERT_EQ(cli(home, "list add '" + song + "'").status, 0);
    auto added = readFile(home.file("mpginfo.dat"));
    ASSERT_EQ(added.size(), 4u + 752);
    EXPECT_EQ(std::string(added.begin() + 8, added.begin() + 8 + gbk(song).size() + 1),
              gbk(song) + std::string(1, '\0'));
}

// A full disk (here a file size limit, its signal ignored): every output type
// ends as a valid file that FFmpeg decodes without an error (an EXE through
// what extract takes out of it), reported as incomplete. Raw AAC has no
// framing FFmpeg could find; it is cut at an access unit like ADTS.
TEST(CliKeeping, AFullDiskLeavesEveryOutputTypeValid) {
    TempDir home, work;
    const std::string src = fixture("mpeg_vcd.mpg");
    struct Case {
        const char* type;
        int blocks; // the limit, in 512-byte blocks: past the container start
    } cases[] = {{"wav", 100}, {"mp3", 60}, {"exe", 1030}, {"wma", 40}, {"adts", 60},
                 {"m4a", 60},  {"amr", 2},  {"flv", 60},   {"avi", 60}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const std::string out = work.file(std::string("full-") + c.type);
        CommandResult r = runApart("cd '" + work.path() + "' && trap '' XFSZ && ulimit -f " +
                                   std::to_string(c.blocks) + " && SDL_AUDIODRIVER=dummy '" + kCli +
                                   "' --home '" + home.path() + "' -q convert --mode silent -t " +
                                   c.type + " -o '" + out + "/' '" + src + "'");
        EXPECT_EQ(r.status, 2) << r.err;
        ASSERT_NE(r.out.find("\tincomplete"), std::string::npos) << r.out << r.err;
        std::string file = r.out.substr(0, r.out.find('\t'));
        if (std::string(c.type) == "exe") {
            ASSERT_EQ(cli(home, "extract -o '" + out + "/x.mp3' '" + file + "'").status, 0);
            file = out + "/x.mp3";
        }
        CommandResult d = runApart("ffmpeg -nostdin -v error -i '" + file + "' -f null -");
        EXPECT_EQ(d.status, 0);
        EXPECT_EQ(d.err, "") << file;
        // (An AVI states no playing time FFmpeg reads, whole or not.)
        if (std::string(c.type) != "avi") {
            EXPECT_GT(ffprobeDuration(file), 0.1) << file;
        }
    }
    // A disk that is full indeed (a small file system of the test's own, where
    // the system lets a user have one): the WMA's intermediate file took all
    // room, and its tail gives the WMA what it needs.
    if (run("unshare -rm true >/dev/null 2>&1") == 0) {
        const std::string disk = work.file("disk"), wma = disk + "/o/mpeg_vcd.wma";
        std::filesystem::create_directory(disk);
        CommandResult r = runApart(
            "unshare -rm sh -c \"mount -t tmpfs -o size=300k tmpfs '" + disk + "' && mkdir '" +
            disk + "/o' '" + disk + "/home' && SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" +
            disk + "/home' -q convert --mode silent -t wma -o '" + disk + "/o/' '" + src +
            "'; echo status \\$?; echo decoded \\$(ffmpeg -nostdin -v error -i '" + wma +
            "' -f null - 2>&1 | wc -c)\"");
        EXPECT_NE(r.out.find(wma + "\t" + src), std::string::npos) << r.out << r.err;
        EXPECT_NE(r.out.find("\tincomplete\t"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("status 2\ndecoded 0\n"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("the disk is full"), std::string::npos) << r.err;
    }
    // Nothing fits at all (a WMA: not its header and first packet): no
    // empty files under the outputs' names, in one process or in several,
    // and the report says why (through a pipe, which the limit does not
    // reach); a setting that cannot be written says why.
    const struct {
        const char* jobs;
        const char* type;
        int blocks;
    } nothing[] = {{"1", "mp3", 0}, {"2", "mp3", 0}, {"1", "wma", 0}, {"1", "wma", 2}};
    for (const auto& c : nothing) {
        SCOPED_TRACE(std::string(c.type) + " -j " + c.jobs + ", " + std::to_string(c.blocks));
        TempDir out;
        CommandResult r = runApart(
            "{ trap '' XFSZ; ulimit -f " + std::to_string(c.blocks) + "; SDL_AUDIODRIVER=dummy '" +
            kCli + "' --home '" + home.path() + "' -q convert --mode silent -j " + c.jobs + " -t " +
            c.type + " -o '" + out.path() + "/' '" + src + "' '" + fixture("mpeg_l2_48k.mp2") +
            "'; echo \"status $?\"; } 2>&1 | cat");
        EXPECT_NE(r.out.find("status 2"), std::string::npos) << r.out;
        EXPECT_TRUE(namesIn(out.path()).empty()) << r.out;
        EXPECT_NE(r.out.find(src + ": no output: the file is larger than the system allows"),
                  std::string::npos)
            << r.out;
    }
    // (Through a pipe, which the limit does not reach.)
    CommandResult r =
        runApart("{ trap '' XFSZ; ulimit -f 0; '" + kCli + "' --home '" + home.path() +
                 "' settings set output_type wav; echo \"status $?\"; } 2>&1 | cat");
    EXPECT_NE(r.out.find("status 2"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::strerror(EFBIG)), std::string::npos) << r.out;
}
