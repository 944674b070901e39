// The program's paths: absolute list paths, what a source path names, and the
// tagged temporary files a later start removes.
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestrel;

namespace {

// A process id that is surely gone: a child that has exited and been reaped.
pid_t deadPid() {
    pid_t p = ::fork();
    if (p == 0) ::_exit(0);
    int st = 0;
    ::waitpid(p, &st, 0);
    return p;
}

std::string host() {
    std::string tag = runTag();
    return tag.substr(0, tag.rfind('.'));
}

} // namespace

TEST(Paths, AbsolutePathKeepsTheLinksTheUserChose) {
    test::TempDir dir;
    ASSERT_TRUE(makeDirectories(dir.file("real/sub")));
    ASSERT_EQ(::symlink(dir.file("real/sub").c_str(), dir.file("link").c_str()), 0);
    EXPECT_EQ(absolutePath("/a/b.mp3"), "/a/b.mp3");
    {
        test::CurrentFolder in(dir.path());
        EXPECT_EQ(absolutePath("rel/x.mp3"), dir.file("rel/x.mp3"));
        EXPECT_EQ(absolutePath("./real//sub/./x.mp3"), dir.file("real/sub/x.mp3"));
        EXPECT_EQ(absolutePath("real/sub/../x.mp3"), dir.file("real/x.mp3"));
        // Through the link, ".." is the parent of the link's target.
        EXPECT_EQ(absolutePath("link/../x.mp3"), dir.file("link/../x.mp3"));
        EXPECT_EQ(absolutePath("link/x.mp3"), dir.file("link/x.mp3"));
    }
    // The current folder as the shell names it, not its resolved form.
    {
        test::CurrentFolder in(dir.file("link"));
        EXPECT_EQ(absolutePath("x.mp3"), dir.file("link/x.mp3"));
        // A stale $PWD is not trusted.
        ::setenv("PWD", dir.file("real").c_str(), 1);
        EXPECT_EQ(absolutePath("x.mp3").substr(absolutePath("x.mp3").size() - 9), "sub/x.mp3");
    }
}

TEST(Paths, CheckSourceSaysWhatAPathNamesWithoutBlocking) {
    // A FIFO must not block the check or the open: fail instead of hanging.
    ::alarm(30);
    test::TempDir dir;
    std::string fifo = dir.file("pipe.mp3"), empty = dir.file("empty.mp3"),
                data = dir.file("data.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    test::writeFile(empty, std::string());
    test::writeFile(data, std::string(1234, 'x'));
    ASSERT_EQ(::symlink(dir.file("gone.mp3").c_str(), dir.file("dangling.mp3").c_str()), 0);

    SourceCheck c = checkSource(data);
    EXPECT_EQ(c.kind, SourceKind::Regular);
    EXPECT_EQ(c.size, 1234u);
    EXPECT_EQ(checkSource(empty).kind, SourceKind::Empty);
    EXPECT_EQ(checkSource(dir.path()).kind, SourceKind::Directory);
    EXPECT_EQ(checkSource(fifo).kind, SourceKind::Fifo);
    EXPECT_EQ(checkSource("/dev/null").kind, SourceKind::CharDevice);
    c = checkSource(dir.file("missing.mp3"));
    EXPECT_EQ(c.kind, SourceKind::CannotOpen);
    EXPECT_EQ(c.error, ENOENT);
    EXPECT_EQ(checkSource(dir.file("dangling.mp3")).kind, SourceKind::CannotOpen);

    EXPECT_EQ(openSource(fifo), nullptr);
    EXPECT_EQ(openSource(dir.path()), nullptr);
    EXPECT_EQ(openSource("/dev/null"), nullptr);
    FILE* f = openSource(data);
    ASSERT_NE(f, nullptr);
    char buf[2000];
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 1234u); // blocking reads again
    std::fclose(f);
    ::alarm(0);
}

TEST(Paths, TemporaryNamesCarryHostAndProcess) {
    std::string tag = runTag();
    EXPECT_EQ(tag, host() + "." + std::to_string(::getpid()));
    EXPECT_EQ(tempNameFor("/p/mpginfo.dat"), "/p/.mpginfo.dat." + tag + ".part");
    EXPECT_EQ(tempNameFor("song.mp3", 2), ".song.mp3~2." + tag + ".part");
    EXPECT_NE(tempWavPath().find("/tmp/~tmp." + tag + ".wav"), std::string::npos);
    // Any legal name gives a legal temporary name.
    const std::string longest = std::string(250, 'x') + ".mp3";
    const std::string temp = tempNameFor("/p/" + longest, 12);
    EXPECT_LE(temp.size() - 3, kMaxFileNameBytes);
    EXPECT_EQ(temp.substr(temp.size() - tag.size() - 9), "~12." + tag + ".part");
}

// After kill -9: the temporaries of gone runs of this host go at the next
// start (in the program folder, in tmp/ and in any folder an output is
// opened in); those of live runs, other hosts and the user's files stay.
TEST(Paths, AStartRemovesWhatGoneRunsOfThisHostLeft) {
    test::TempDir home, outputs;
    setProgramFolder(home.path());
    ASSERT_TRUE(makeDirectories(tempFolder()));
    std::string dead = host() + "." + std::to_string(deadPid());
    std::string alive = runTag();
    std::string other = "some-other-host.example." + std::to_string(deadPid());
    auto put = [&](const std::string& name) {
        test::writeFile(home.file(name), std::string("x"));
        return home.file(name);
    };
    std::string goneList = put(".mpginfo.dat." + dead + ".part");
    std::string goneIni = put(".tavolin.ini~1." + dead + ".part");
    std::string goneWav = put("tmp/~tmp." + dead + ".wav");
    std::string goneOther = put("tmp/any.name." + dead + ".part");
    ASSERT_TRUE(makeDirectories(home.file("tmp/batch." + dead + ".Ab12Cd/w1")));
    std::string goneBatch = put("tmp/batch." + dead + ".Ab12Cd/w1/tavolin.ini");
    std::string ownList = put(".mpginfo.dat." + alive + ".part");
    std::string ownWav = put("tmp/~tmp." + alive + ".wav");
    std::string otherHost = put(".tavolin.ini." + other + ".part");
    // Files of the user's in the program folder are not the program's to remove.
    std::string userFile = put("notes." + dead + ".tmp");
    std::string userPart = put("song.mp3." + dead + ".part");
    std::string list = put("mpginfo.dat");

    EXPECT_EQ(removeStaleTempFiles(), 5);
    for (const auto& p : {goneList, goneIni, goneWav, goneOther, goneBatch})
        EXPECT_FALSE(fileExists(p)) << p;
    for (const auto& p : {ownList, ownWav, otherHost, userFile, userPart, list})
        EXPECT_TRUE(fileExists(p)) << p;

    test::writeFile(outputs.file(".song.mp3." + dead + ".part"), std::string("x"));
    test::writeFile(outputs.file(".song.mp3." + alive + ".part"), std::string("x"));
    EXPECT_EQ(removeStaleTempFilesIn(outputs.path()), 1);
    EXPECT_TRUE(fileExists(outputs.file(".song.mp3." + alive + ".part")));
    setProgramFolder("");
}
