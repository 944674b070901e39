// kestrel-cli convert -j N: a per-file batch converted in worker processes
// gives what a conversion in one process gives: the same outputs, names that
// never collide, the same report and exit status, and a stop that keeps every
// output it started.
#include "support/test_support.h"

#include "engine/convert/output_naming.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct CliRun {
    int status = -1;
    std::vector<std::string> out; // stdout lines
    std::string err;
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        v.push_back(l);
    return v;
}

std::string quoted(const std::vector<std::string>& files) {
    std::string s;
    for (const auto& f : files)
        s += " '" + f + "'";
    return s;
}

CliRun convert(const TempDir& home, const std::string& outDir, const std::string& args,
               const std::vector<std::string>& files) {
    TempDir logs;
    std::string cmd = "'" + kCli + "' --home '" + home.path() + "' convert -o '" + outDir + "' " +
                      args + quoted(files) + " >'" + logs.file("out") + "' 2>'" + logs.file("err") +
                      "'";
    CliRun r;
    r.status = run(cmd);
    auto out = readFile(logs.file("out")), err = readFile(logs.file("err"));
    r.out = lines(std::string(out.begin(), out.end()));
    r.err.assign(err.begin(), err.end());
    return r;
}

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> v;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                v.push_back(e->d_name);
        ::closedir(d);
    }
    return v;
}

std::string pathOf(const std::string& line) {
    return line.substr(0, line.find('\t'));
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// The report lines on stderr (not the status texts, which differ in order).
// The report lines of a run, with the time stamps of output names blanked:
// two runs may start in different seconds.
std::multiset<std::string> reportLines(const std::string& err) {
    static const std::regex stamp("/[0-9]{14}");
    std::multiset<std::string> s;
    for (const auto& l : lines(err))
        if (l.rfind("kestrel-cli", 0) == 0)
            // Messages, not the status texts of a conversion's course.
            if (!l.starts_with("kestrel-cli: writing ") && !l.ends_with(" converted") &&
                !l.ends_with("] finished"))
                s.insert(std::regex_replace(l, stamp, "/<stamp>"));
    return s;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The MPEG audio frames of an MP3 output (from its first sync to its end).
std::vector<uint8_t> frameData(const std::vector<uint8_t>& mp3) {
    size_t i = 0;
    while (i + 1 < mp3.size() && !(mp3[i] == 0xFF && (mp3[i + 1] & 0xE0) == 0xE0))
        ++i;
    return std::vector<uint8_t>(mp3.begin() + static_cast<long>(i), mp3.end());
}

class ConvertBatch : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* f :
             {"mpeg_vcd.mpg", "mpeg_l3_cbr_44k.mp3", "mpeg_l2_48k.mp2", "mpeg_mpeg2.mpg"}) {
            if (!haveFixture(f)) GTEST_SKIP() << "fixture missing: " << f;
            files.push_back(fixture(f));
        }
    }
    std::vector<std::string> files;
};

} // namespace

// Four fixtures plus a second source of the same base name: -j 2 writes the
// outputs -j 1 writes (WAV byte for byte, MP3 frame for frame), under names
// that are all distinct, listed in entry order, and leaves nothing behind in
// the program folder.
TEST_F(ConvertBatch, TwoWorkersGiveTheOutputsOfOneProcess) {
    TempDir home, other;
    std::string twin = other.file("mpeg_vcd.mpg");
    writeFile(twin, readFile(fixture("mpeg_vcd.mpg")));
    std::vector<std::string> all = files;
    all.push_back(twin);
    for (const char* type : {"wav", "mp3"}) {
        SCOPED_TRACE(type);
        TempDir one, two;
        CliRun a =
            convert(home, one.path(), std::string("--stamp -t ") + type + " -r 44100 -j 1", all);
        CliRun b =
            convert(home, two.path(), std::string("--stamp -t ") + type + " -r 44100 -j 2", all);
        ASSERT_EQ(a.status, 0) << a.err;
        ASSERT_EQ(b.status, 0) << b.err;
        ASSERT_EQ(a.out.size(), all.size());
        ASSERT_EQ(b.out.size(), all.size()) << b.err;
        std::set<std::string> names;
        for (size_t i = 0; i < all.size(); ++i) {
            SCOPED_TRACE(all[i]);
            std::string pa = pathOf(a.out[i]), pb = pathOf(b.out[i]);
            names.insert(pb);
            EXPECT_EQ(pb.substr(0, two.path().size() + 1), two.path() + "/");
            // Entry order: the line names the entry's source; the twin of the
            // first source takes the next free name (every name of a batch
            // has the second it started in).
            std::string expect =
                (i == all.size() - 1 ? "mpeg_vcd_2." : kestrel::sourceBaseName(all[i]) + ".") +
                type;
            EXPECT_EQ(baseName(pb).substr(14), expect);
            // One process names each entry when it starts: the twin's name
            // is suffixed only when it starts in the first one's second.
            if (i < files.size()) {
                EXPECT_EQ(baseName(pa).substr(14), expect);
            }
            EXPECT_EQ(a.out[i].substr(pa.size()), b.out[i].substr(pb.size())); // seconds
            auto da = readFile(pa), db = readFile(pb);
            ASSERT_GT(da.size(), 1000u);
            if (std::string(type) == "wav")
                EXPECT_TRUE(da == db);
            else
                EXPECT_TRUE(frameData(da) == frameData(db));
        }
        EXPECT_EQ(names.size(), all.size());
        for (const auto& f : entries(two.path()))
            EXPECT_EQ(f.find(".part"), std::string::npos) << f;
        // The workers' own folders are gone; a conversion writes neither the
        // settings nor the list.
        EXPECT_TRUE(entries(home.file("tmp")).empty());
        std::set<std::string> kept;
        for (const auto& f : entries(home.path()))
            kept.insert(f);
        EXPECT_EQ(kept, (std::set<std::string>{"tmp"}));
    }
}

// A missing file, a refused one, a listed twice one and an entry whose output
// cannot be created: the same report and exit status 2 with -j 2 as with -j 1.
TEST_F(ConvertBatch, RefusedAndFailedEntriesReportAsInOneProcess) {
    TempDir home, out, out2;
    std::vector<std::string> mixed = {files[0], home.file("none.mpg"), fixture("mpeg_video.m1v"),
                                      files[1], files[0]};
    CliRun a = convert(home, out.path(), "-t wav -j 1", mixed);
    CliRun b = convert(home, out2.path(), "-t wav -j 2", mixed);
    EXPECT_EQ(a.status, 2) << a.err;
    EXPECT_EQ(b.status, 2) << b.err;
    ASSERT_EQ(b.out.size(), 2u) << b.err;
    EXPECT_NE(b.out[0].find("mpeg_vcd.wav"), std::string::npos);
    EXPECT_NE(b.out[1].find("mpeg_l3_cbr_44k.wav"), std::string::npos);
    EXPECT_EQ(reportLines(a.err), reportLines(b.err)) << a.err << "\n----\n" << b.err;
    EXPECT_NE(b.err.find("none.mpg: cannot open the media file"), std::string::npos) << b.err;
    EXPECT_NE(b.err.find("the media file is already in the list"), std::string::npos) << b.err;

    // Outputs into a folder that cannot be made: no entry gets an output.
    writeFile(out.file("plain"), std::string("a file"));
    std::string missing = out.file("plain/missing/");
    CliRun c = convert(home, missing, "-t mp3 -j 1", files);
    CliRun d = convert(home, missing, "-t mp3 -j 2", files);
    EXPECT_EQ(c.status, 2);
    EXPECT_EQ(d.status, 2);
    EXPECT_TRUE(d.out.empty());
    EXPECT_EQ(reportLines(c.err), reportLines(d.err)) << c.err << "\n----\n" << d.err;
    EXPECT_NE(d.err.find("cannot create the folder"), std::string::npos) << d.err;
}

namespace {

// Starts a conversion in the background, waits until `parts` outputs have
// sound in them, sends `sig` and returns the run.
CliRun stopMidBatch(const TempDir& home, const TempDir& out, const std::string& args,
                    const std::vector<std::string>& files, int sig, size_t parts) {
    TempDir logs;
    std::vector<std::string> argv = {kCli, "--home", home.path(), "convert", "-o", out.path()};
    std::istringstream in(args);
    for (std::string a; in >> a;)
        argv.push_back(a);
    argv.insert(argv.end(), files.begin(), files.end());
    pid_t pid = ::fork();
    if (pid == 0) {
        int o = ::open(logs.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(logs.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> c;
        for (auto& a : argv)
            c.push_back(a.data());
        c.push_back(nullptr);
        ::execv(kCli.c_str(), c.data());
        ::_exit(127);
    }
    CliRun r;
    if (pid < 0) return r;
    // Waits for the outputs to be open (not a timing: the stop must come
    // while they are written).
    int st = 0;
    bool ended = false;
    for (int i = 0; i < 3000 && !ended; ++i) {
        if (::waitpid(pid, &st, WNOHANG) == pid) {
            ended = true; // it did not wait for a stop
            break;
        }
        size_t n = 0;
        for (const auto& f : entries(out.path()))
            n += f.size() > 5 && f.compare(f.size() - 5, 5, ".part") == 0 &&
                 readFile(out.file(f)).size() > 8192; // some sound is in
        if (n >= parts) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!ended) {
        ::kill(pid, sig);
        ::waitpid(pid, &st, 0);
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    auto o = readFile(logs.file("out")), e = readFile(logs.file("err"));
    r.out = lines(std::string(o.begin(), o.end()));
    r.err.assign(e.begin(), e.end());
    return r;
}

} // namespace

// Ctrl-C (SIGINT) or SIGTERM to the parent in the middle of a batch: the
// outputs being written are finished and listed, the rest are not converted,
// no ".part" is left, and the exit status is 130 (143 for SIGTERM), as with
// a conversion in one process.
TEST_F(ConvertBatch, StopMidBatchKeepsTheStartedOutputs) {
    struct Case {
        int sig;
        int status;
        const char* jobs;
        size_t started;
    };
    for (const Case& c : {Case{SIGINT, 130, "-j 2", 2}, Case{SIGTERM, 143, "-j 2", 2},
                          Case{SIGTERM, 143, "-j 1", 1}}) {
        SCOPED_TRACE(std::string(c.jobs) + " signal " + std::to_string(c.sig));
        TempDir home, out;
        CliRun r = stopMidBatch(home, out, std::string("-t wav --mode realtime ") + c.jobs, files,
                                c.sig, c.started);
        EXPECT_EQ(r.status, c.status) << r.err;
        ASSERT_EQ(r.out.size(), c.started) << r.err;
        for (const auto& line : r.out) {
            auto wav = readFile(pathOf(line));
            ASSERT_GT(wav.size(), 44u) << line;
            EXPECT_EQ(le32(wav, 40), wav.size() - 44) << line; // a finished header
            EXPECT_EQ(le32(wav, 4), wav.size() - 8) << line;
            // Listed as stopped, not as complete.
            EXPECT_TRUE(
                std::regex_search(line, std::regex("\t\\d+\tincomplete\tstopped at \\d+ s$")))
                << line;
        }
        EXPECT_EQ(entries(out.path()).size(), c.started);
        for (const auto& f : entries(out.path()))
            EXPECT_EQ(f.find(".part"), std::string::npos) << f;
        size_t skipped = 0;
        for (const auto& l : lines(r.err))
            skipped += l.find(": skipped") != std::string::npos;
        EXPECT_EQ(skipped, files.size() - c.started) << r.err;
        EXPECT_TRUE(entries(home.file("tmp")).empty());
    }
}

TEST(ConvertBatchHelp, DocumentsJobsAndHidesTheWorkerOption) {
    TempDir home;
    std::string help = capture("'" + kCli + "' --home '" + home.path() + "' convert --help");
    EXPECT_NE(help.find("  -j N "), std::string::npos) << help;
    EXPECT_NE(help.find("convert N files at once"), std::string::npos) << help;
    EXPECT_EQ(help.find("worker"), std::string::npos) << help;
    EXPECT_NE(help.find("143"), std::string::npos) << help;
    EXPECT_EQ(run("'" + kCli + "' --home '" + home.path() + "' convert -j 0 x 2>/dev/null"), 1);
}
