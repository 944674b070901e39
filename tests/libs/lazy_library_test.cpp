// Libraries bound at their first use: all or nothing, one message, the
// failure values; and the program's starts that need neither FFmpeg nor SDL
// load neither, while those that need FFmpeg and cannot have it fail cleanly.
#include "common/lazy_library.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>

using namespace kestrel::test;

namespace {

const char* const kMath[] = {"cos", "sqrt"};
const char* const kMissing[] = {"cos", "no_such_function_here"};

enum class Code { kNone = 0, kOne = 1 };

} // namespace

TEST(LazyLibrary, BindsEveryFunctionAtTheFirstCall) {
    orvo::LazyLibrary lib("libm", {"libm.so.6"}, kMath, 2);
    testing::internal::CaptureStderr();
    void* const* fn = lib.functions();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(fn, nullptr);
    EXPECT_DOUBLE_EQ(reinterpret_cast<double (*)(double)>(fn[0])(0.0), 1.0);
    EXPECT_DOUBLE_EQ(reinterpret_cast<double (*)(double)>(fn[1])(9.0), 3.0);
    EXPECT_EQ(lib.functions(), fn) << "bound once";
}

TEST(LazyLibrary, AMissingLibraryOrFunctionBindsNothingAndSaysSoOnce) {
    orvo::LazyLibrary absent("示例库", {"libm.so.6", "libkestrel-absent.so.9"}, kMath, 2);
    testing::internal::CaptureStderr();
    EXPECT_EQ(absent.functions(), nullptr);
    EXPECT_EQ(absent.functions(), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("无法加载示例库"), std::string::npos) << err;
    EXPECT_NE(err.find("libkestrel-absent.so.9"), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;

    orvo::LazyLibrary partial("libm", {"libm.so.6"}, kMissing, 2);
    testing::internal::CaptureStderr();
    EXPECT_EQ(partial.functions(), nullptr) << "all or nothing";
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no_such_function_here"), std::string::npos) << err;
}

TEST(LazyLibrary, UnboundFunctionsReturnTheirFailureValues) {
    EXPECT_EQ(orvo::unboundResult<int>(), -ENOSYS);
    EXPECT_EQ(orvo::unboundResult<int64_t>(), -ENOSYS);
    EXPECT_EQ(orvo::unboundResult<unsigned>(), 0u);
    EXPECT_EQ(orvo::unboundResult<const char*>(), nullptr);
    EXPECT_EQ(orvo::unboundResult<Code>(), Code::kNone);
    orvo::unboundResult<void>();
}

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

// The shared objects the dynamic loader opened for one run of kestrel-cli.
// It is stopped after `seconds`.
std::string loadedBy(const TempDir& home, const std::string& args, int seconds = 60) {
    return capture("LD_DEBUG=files timeout " + std::to_string(seconds) + " '" + kCli +
                   "' --home '" + home.path() + "' " + args +
                   " 2>&1 >/dev/null </dev/null | grep 'file=' || true");
}

} // namespace

TEST(LazyBinding, StartsThatNeedNeitherFfmpegNorSdlLoadNeither) {
    ASSERT_TRUE(haveFixture("dec_l3_44_cbr128_js.mp3"));
    ASSERT_TRUE(haveFixture("graph_wma2_44k.wma"));
    TempDir home, out;
    for (const std::string& args :
         {std::string("--version"), "info '" + fixture("dec_l3_44_cbr128_js.mp3") + "'",
          "convert --mode silent -t mp3 -o '" + out.path() + "/' '" +
              fixture("dec_l3_44_cbr128_js.mp3") + "'"}) {
        std::string loaded = loadedBy(home, args);
        ASSERT_FALSE(loaded.empty()) << "LD_DEBUG shows nothing";
        if (args == "--version") {
            // It names the versions of the libraries it finds.
            EXPECT_NE(loaded.find("libavcodec"), std::string::npos) << args;
            continue;
        }
        EXPECT_EQ(loaded.find("libavcodec"), std::string::npos) << args << "\n" << loaded;
        EXPECT_EQ(loaded.find("libavformat"), std::string::npos) << args;
        EXPECT_EQ(loaded.find("libSDL2"), std::string::npos) << args;
    }
    // A Windows Media file needs FFmpeg, and gets it.
    std::string loaded = loadedBy(home, "info '" + fixture("graph_wma2_44k.wma") + "'");
    EXPECT_NE(loaded.find("libavformat"), std::string::npos) << loaded;
    // Playing opens the sound device through SDL.
    loaded = loadedBy(home, "play '" + fixture("dec_l3_44_cbr128_js.mp3") + "'", 2);
    EXPECT_NE(loaded.find("libSDL2"), std::string::npos) << loaded;
}

// FFmpeg that cannot be loaded (here a broken libavutil found first): the
// files that need it are refused with the reason, the others convert.
TEST(LazyBinding, WithoutFfmpegTheFilesThatNeedItAreRefusedAndTheOthersConvert) {
    ASSERT_TRUE(haveFixture("dec_l3_44_cbr128_js.mp3"));
    ASSERT_TRUE(haveFixture("graph_wma2_44k.wma"));
    TempDir home, out, broken;
    std::ofstream(broken.path() + "/libavutil.so.57").put('\0');
    const std::string env = "LD_LIBRARY_PATH='" + broken.path() + "' ";
    std::string text = capture(env + "timeout 60 '" + kCli + "' --home '" + home.path() +
                               "' convert --mode silent -t wav -o '" + out.path() + "/' '" +
                               fixture("graph_wma2_44k.wma") + "' '" +
                               fixture("dec_l3_44_cbr128_js.mp3") + "' 2>&1; echo \"@rc=$?\"");
    EXPECT_NE(text.find("无法加载FFmpeg"), std::string::npos) << text;
    EXPECT_NE(text.find("@rc=2"), std::string::npos) << text;
    // The MP3 converts as it does with FFmpeg at hand.
    TempDir ref;
    capture("'" + kCli + "' --home '" + home.path() + "' convert --mode silent -t wav -o '" +
            ref.path() + "/' '" + fixture("dec_l3_44_cbr128_js.mp3") + "' 2>&1");
    auto got = readFile(out.path() + "/dec_l3_44_cbr128_js.wav");
    ASSERT_GT(got.size(), 1000000u);
    EXPECT_TRUE(got == readFile(ref.path() + "/dec_l3_44_cbr128_js.wav"));
    EXPECT_FALSE(std::ifstream(out.path() + "/graph_wma2_44k.wav").good())
        << "no output for the file that could not be read";
}
