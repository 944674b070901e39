#include "platform/atomic_file.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrel;

namespace {

std::string text(const std::string& path) {
    auto bytes = test::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Runs `body` in a child whose files may not grow past `limit` bytes (a write
// beyond fails with EFBIG instead of ending the process); the child's exit
// status.
template <typename Body> int inChildWithSizeLimit(rlim_t limit, Body body) {
    pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &rl);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

} // namespace

TEST(AtomicFile, ReplaceKeepsTheOldFileUntilCommit) {
    test::TempDir dir;
    const std::string target = dir.file("mpginfo.dat");
    test::writeFile(target, std::string("old"));
    for (bool moveAside : {false, true}) {
        SCOPED_TRACE(moveAside);
        AtomicFile f;
        ASSERT_EQ(f.open(target, AtomicFile::Mode::Replace, {.sync = true, .moveAside = moveAside}),
                  0);
        // The program's temporary name: a killed run's leftover is recognised.
        EXPECT_EQ(f.tempName(), tempNameFor(target));
        ASSERT_TRUE(f.write("new!", 4));
        ASSERT_EQ(std::fflush(f.stream()), 0);
        EXPECT_EQ(text(target), "old");
        EXPECT_EQ(text(f.tempName()), "new!");
        ASSERT_EQ(f.commit(), 0);
        EXPECT_EQ(f.finalName(), target);
        EXPECT_EQ(text(target), "new!");
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"mpginfo.dat"});
        test::writeFile(target, std::string("old"));
    }
}

TEST(AtomicFile, FailedWriteKeepsTheOldFileAndNoTemporary) {
    test::TempDir dir;
    const std::string target = dir.file("tavolin.ini");
    test::writeFile(target, std::string("earlier"));
    for (bool moveAside : {false, true}) {
        SCOPED_TRACE(moveAside);
        // The data stays in the stream's buffer until commit, whose flush
        // must report that the file could not grow.
        int rc = inChildWithSizeLimit(16, [&] {
            AtomicFile f;
            if (f.open(target, AtomicFile::Mode::Replace, {.moveAside = moveAside}) != 0) return 1;
            std::string big(100, 'x');
            if (!f.write(big.data(), big.size())) return 2;
            if (f.commit() == 0) return 3;
            return f.error() == EFBIG ? 0 : 4;
        });
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(text(target), "earlier");
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"tavolin.ini"});
    }
    // A failed write reported at once, while writing.
    int rc = inChildWithSizeLimit(16, [&] {
        AtomicFile f;
        if (f.open(target, AtomicFile::Mode::Replace) != 0) return 1;
        std::setvbuf(f.stream(), nullptr, _IONBF, 0);
        std::string big(100, 'x');
        if (f.write(big.data(), big.size())) return 2;
        if (f.commit() == 0) return 3;
        return f.error() == EFBIG ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text(target), "earlier");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"tavolin.ini"});
}

TEST(AtomicFile, AbandonRemovesTheTemporary) {
    test::TempDir dir;
    const std::string target = dir.file("song.mp3");
    test::writeFile(target, std::string("earlier"));
    {
        AtomicFile f;
        ASSERT_EQ(f.open(target, AtomicFile::Mode::Replace), 0);
        ASSERT_TRUE(f.write("abc", 3));
        f.abandon();
        EXPECT_EQ(f.stream(), nullptr);
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"song.mp3"});
        // Nothing left to commit.
        EXPECT_NE(f.commit(), 0);
    }
    {
        // What is neither committed nor abandoned goes with the object.
        AtomicFile f;
        ASSERT_EQ(f.open(dir.file("new.wav"), AtomicFile::Mode::NoReplace), 0);
        const std::string temp = f.tempName();
        EXPECT_TRUE(fileExists(temp));
        AtomicFile moved = std::move(f);
        EXPECT_TRUE(fileExists(temp));
    }
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"song.mp3"});
    EXPECT_EQ(text(target), "earlier");
}

// Time-stamped outputs never replace a file: neither one there before the
// output was created nor one that appeared while it was written (another run
// started in the same second).
TEST(AtomicFile, NoReplaceTakesTheNextFreeSuffix) {
    test::TempDir dir;
    EXPECT_EQ(suffixedName("/o/a.wav", 1), "/o/a.wav");
    EXPECT_EQ(suffixedName("/o/a.wav", 3), "/o/a_3.wav");
    EXPECT_EQ(suffixedName("/o.d/noext", 2), "/o.d/noext_2");
    const std::string deep = "/" + std::string(260, 'd') + "/" + std::string(246, 'x') + ".mp3";
    EXPECT_EQ(suffixedName(deep, 12).size(), 511u);
    // A file name of 255 bytes stays a legal name with its suffix, cut on a
    // character boundary.
    const std::string longName = "/o/" + std::string(248, 'x') + "\xe4\xb8\xad.mp3";
    EXPECT_EQ(suffixedName(longName, 2), "/o/" + std::string(248, 'x') + "_2.mp3");

    // A free name is taken as it is, written under a hidden temporary name.
    const std::string name = dir.file("20110705140309song.wav");
    AtomicFile first;
    ASSERT_EQ(first.open(name, AtomicFile::Mode::NoReplace), 0);
    EXPECT_EQ(first.target(), name);
    EXPECT_EQ(first.tempName(), tempNameFor(name));
    ASSERT_TRUE(first.write("first", 5));
    ASSERT_EQ(first.close(), 0);

    // A finished file of that name counts as taken.
    test::writeFile(name, std::string("kept"));
    AtomicFile second;
    ASSERT_EQ(second.open(name, AtomicFile::Mode::NoReplace), 0);
    EXPECT_EQ(second.target(), dir.file("20110705140309song_2.wav"));
    EXPECT_NE(second.tempName(), first.tempName());

    // The first run finishes: its name was taken meanwhile, the file moves to
    // the next free one; the other file is untouched.
    ASSERT_EQ(first.commit(), 0);
    EXPECT_EQ(first.finalName(), dir.file("20110705140309song_2.wav"));
    EXPECT_EQ(test::readFile(first.finalName()).size(), 5u);
    EXPECT_EQ(test::readFile(name).size(), 4u);
    ASSERT_EQ(second.commit(), 0);
    EXPECT_EQ(second.finalName(), dir.file("20110705140309song_3.wav"));

    // A temporary that went away cannot be placed: the reason, and no name.
    AtomicFile third;
    ASSERT_EQ(third.open(name, AtomicFile::Mode::NoReplace), 0);
    ::unlink(third.tempName().c_str());
    EXPECT_NE(third.commit(), 0);
    EXPECT_EQ(third.error(), ENOENT);
    EXPECT_FALSE(fileExists(dir.file("20110705140309song_4.wav")));
}

// An output that is not whole never takes the place of an earlier file, even
// where the user asked to replace it: it goes beside it under the next free
// name. Without an earlier file it takes its name; a whole one replaces.
TEST(AtomicFile, AnIncompleteOutputNeverReplacesAFile) {
    struct Case {
        bool earlier, complete;
        const char* finalName;
        bool beside;
    } cases[] = {
        {true, true, "song.wav", false},
        {true, false, "song_2.wav", true},
        {false, false, "song.wav", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.finalName) + (c.complete ? " complete" : " incomplete"));
        test::TempDir dir;
        const std::string target = dir.file("song.wav");
        if (c.earlier) test::writeFile(target, std::string("good"));
        AtomicFile f;
        ASSERT_EQ(f.open(target, AtomicFile::Mode::Replace, {.moveAside = true, .output = true}),
                  0);
        ASSERT_TRUE(f.write("new output", 10));
        EXPECT_EQ(f.commit(c.complete), 0);
        EXPECT_EQ(f.finalName(), dir.file(c.finalName));
        EXPECT_EQ(f.keptBeside(), c.beside);
        EXPECT_EQ(text(f.finalName()), "new output");
        if (c.earlier && !c.complete) {
            EXPECT_EQ(text(target), "good");
        }
    }
    // A stream that cannot be closed whole (a full disk) counts as incomplete.
    test::TempDir dir;
    const std::string target = dir.file("song.wav");
    test::writeFile(target, std::string("good"));
    int rc = inChildWithSizeLimit(16, [&] {
        AtomicFile f;
        if (f.open(target, AtomicFile::Mode::Replace, {.output = true}) != 0) return 1;
        std::string big(100, 'x');
        if (!f.write(big.data(), big.size())) return 2;
        if (f.commit() == 0) return 3;
        return f.finalName() == dir.file("song_2.wav") && f.error() == EFBIG ? 0 : 4;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(text(target), "good");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"song.wav", "song_2.wav"}));
}
