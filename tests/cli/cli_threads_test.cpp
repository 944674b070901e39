// kestrel-cli convert --threads: a long MP3 output encoded on several threads
// plays as long as the one-thread output, to the sample, with every frame's
// reservoir in bounds; -j jobs share the processors; bad values are refused.
#include "support/test_support.h"

#include "engine/core/mp3_side_info.h"

#include <gtest/gtest.h>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

int convert(const TempDir& home, const std::string& args) {
    return run("'" + kCli + "' -q --home '" + home.path() + "' convert -y " + args +
               " >/dev/null 2>&1");
}

// Sample frames FFmpeg decodes, failing on any error in the stream; -1 when
// it found one.
long decodedFrames(const std::string& mp3) {
    const std::string n = capture("ffmpeg -nostdin -v error -xerror -i '" + mp3 +
                                  "' -f s16le -ac 2 - 2>/dev/null | wc -c; echo \" $?\"");
    long bytes = -1;
    int status = 1;
    if (std::sscanf(n.c_str(), "%ld %d", &bytes, &status) != 2 || status != 0) return -1;
    return bytes / 4;
}

} // namespace

TEST(CliThreads, LongMp3OutputsMatchTheOneThreadOutputs) {
    TempDir home, dir;
    const std::string src = dir.file("long.mp3");
    ASSERT_EQ(run("ffmpeg -nostdin -v error -f lavfi -i "
                  "'aevalsrc=0.4*sin(2*PI*440*t)*sin(2*PI*0.7*t)+0.05*random(0)|"
                  "0.3*sin(2*PI*660*t)+0.05*random(1):s=44100:d=75' -c:a libmp3lame -b:a 192k '" +
                  src + "'"),
              0);
    const struct {
        const char* name;
        const char* options;
    } cases[] = {{"cbr", "-t mp3 -b 128"}, {"vbr", "-t mp3 --vbr 4"}, {"abr", "-t mp3 --abr 112"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string one = dir.file(std::string(c.name) + "-1.mp3");
        const std::string two = dir.file(std::string(c.name) + "-2.mp3");
        ASSERT_EQ(
            convert(home, std::string(c.options) + " --threads 1 -o '" + one + "' '" + src + "'"),
            0);
        ASSERT_EQ(
            convert(home, std::string(c.options) + " --threads 2 -o '" + two + "' '" + src + "'"),
            0);
        const auto a = readFile(one), b = readFile(two);
        EXPECT_NE(a, b); // the second was encoded in segments
        EXPECT_EQ(kestrel::checkMp3Reservoir(a.data(), a.size()), -1);
        EXPECT_EQ(kestrel::checkMp3Reservoir(b.data(), b.size()), -1);
        EXPECT_EQ(decodedFrames(one), 75 * 44100);
        EXPECT_EQ(decodedFrames(two), 75 * 44100);
    }
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
