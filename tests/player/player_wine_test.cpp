// The player program of the self-playing EXE, run under Wine on EXEs that
// kestrel-cli makes: its test switch decodes to a WAV file the same PCM as
// our decoder gives for the EXE's MP3 data; with a password it refuses a wrong
// one and plays with the right one; a damaged EXE is refused by its CRC check.
//
// The Wine prefix lives in the build tree (made on the first run, about half
// a minute); the tests are skipped when wine64 is not installed.
#include "engine/convert/exe_output.h"
#include "engine/decode/mp3dec.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace kestrel;

namespace {

std::string wineProgram() {
    for (const char* p : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
        if (::access(p, X_OK) == 0) return p;
    return "";
}

std::string cli() {
    return std::string(KESTREL_BIN_DIR) + "/kestrel-cli";
}

// Runs `exe` with `args` under Wine in the folder of `dir`; its exit status.
int runUnderWine(const test::TempDir& dir, const std::string& exe, const std::string& args) {
    std::string prefix = std::string(KESTREL_BIN_DIR) + "/../wine-prefix";
    // One run at a time on the prefix (ctest may run these tests side by
    // side; the first run makes the prefix).
    std::string cmd = "cd '" + dir.path() + "' && WINEPREFIX='" + prefix +
                      "' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' DISPLAY= flock '" +
                      prefix + ".lock' timeout 300 '" + wineProgram() + "' '" + exe + "' " + args +
                      " >/dev/null 2>&1";
    return test::run(cmd);
}

// Converts `fixture` into dir/NAME.exe with the extra options.
void makeExe(const test::TempDir& dir, const std::string& fixture, const std::string& name,
             const std::string& options) {
    std::string cmd = "KESTREL_HOME='" + dir.path() + "' SDL_AUDIODRIVER=dummy '" + cli() +
                      "' convert -q -y -t exe " + options + " -o '" + dir.file(name) + "' '" +
                      test::fixture(fixture) + "' >/dev/null";
    ASSERT_EQ(test::run(cmd), 0) << cmd;
}

// Our decoder's PCM of the MP3 data inside an EXE.
std::vector<int16_t> referencePcm(const std::string& exePath, int* rate, int* channels) {
    ExeContents c;
    std::vector<int16_t> pcm;
    if (readExeOutput(exePath, c, true) != kExeOk) return pcm;
    mp3dec_t h = nullptr;
    if (mp3dec_open(&h, 0, 0, 0, 1) != SSC_OK) return pcm;
    std::vector<uint8_t> out(1152 * 4);
    size_t pos = 0;
    bool ended = false;
    for (;;) {
        uint32_t produced = 0;
        Mp3Ssc s = mp3dec_decode(h, out.data(), static_cast<uint32_t>(out.size()), &produced);
        if (produced) {
            Mp3FrameInfo fi;
            mp3dec_frame_info(h, &fi);
            *rate = fi.outRate;
            *channels = fi.outChannels;
            const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
            pcm.insert(pcm.end(), p, p + produced / 2);
            continue;
        }
        if (s == SSC_W_MPGA_SYNCEOF || sscIsError(s)) break;
        if (pos < c.mp3.size()) {
            uint32_t used = 0;
            mp3dec_feed(h, c.mp3.data() + pos,
                        static_cast<uint32_t>(std::min<size_t>(4096, c.mp3.size() - pos)), &used);
            pos += used;
        } else if (!ended) {
            mp3dec_end_of_input(h);
            ended = true;
        } else if (s != SSC_W_MPGA_SYNCLOST) {
            break;
        }
    }
    mp3dec_close(h);
    return pcm;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class PlayerUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (wineProgram().empty()) GTEST_SKIP() << "wine64 is not installed: the player is not run";
    }
    test::TempDir dir;
};

} // namespace

TEST_F(PlayerUnderWine, DecodesTheSamePcmAsOurDecoder) {
    for (const char* fixture : {"dec_l3_44_stereo.mp3", "exe_short_mono.mp3"}) {
        const bool mono = std::string(fixture).find("mono") != std::string::npos;
        makeExe(dir, fixture, "song.exe", mono ? "-r 22050 --mono mix -b 64 --exe-speed" : "");
        ASSERT_EQ(runUnderWine(dir, "song.exe", "--decode-to out.wav"), 0) << fixture;
        int rate = 0, channels = 0, refRate = 0, refChannels = 0;
        std::vector<int16_t> got = test::wavSamples(dir.file("out.wav"), &rate, &channels);
        std::vector<int16_t> ref = referencePcm(dir.file("song.exe"), &refRate, &refChannels);
        ASSERT_FALSE(ref.empty());
        EXPECT_EQ(rate, mono ? 22050 : 44100);
        EXPECT_EQ(channels, mono ? 1 : 2);
        EXPECT_EQ(rate, refRate);
        EXPECT_EQ(channels, refChannels);
        EXPECT_EQ(got.size(), ref.size());
        test::Comparison c = test::compareAudio(got, ref, channels, 0);
        EXPECT_GE(c.snrDb, 90.0) << fixture;
        std::remove(dir.file("out.wav").c_str());
    }
}

TEST_F(PlayerUnderWine, RefusesAWrongPasswordAndPlaysWithTheRightOne) {
    makeExe(dir, "exe_short_mono.mp3", "locked.exe", "--exe-password s3cret");
    EXPECT_EQ(runUnderWine(dir, "locked.exe", "--decode-to a.wav --password wrong"), 2);
    EXPECT_FALSE(exists(dir.file("a.wav")));
    EXPECT_EQ(runUnderWine(dir, "locked.exe", "--decode-to a.wav"), 2);
    EXPECT_FALSE(exists(dir.file("a.wav")));
    EXPECT_EQ(runUnderWine(dir, "locked.exe", "--decode-to b.wav --password s3cret"), 0);
    EXPECT_GT(test::wavSamples(dir.file("b.wav")).size(), 22050u * 2);
}

TEST_F(PlayerUnderWine, RefusesAnExeWithOneByteChanged) {
    makeExe(dir, "exe_short_mono.mp3", "good.exe", "");
    std::vector<uint8_t> bytes = test::readFile(dir.file("good.exe"));
    ASSERT_GT(bytes.size(), exe::kDataOffset + 1000);
    bytes[exe::kDataOffset + 1000] ^= 0x20;
    test::writeFile(dir.file("bad.exe"), bytes);
    ::chmod(dir.file("bad.exe").c_str(), 0755);
    EXPECT_EQ(runUnderWine(dir, "bad.exe", "--decode-to c.wav"), 2);
    EXPECT_FALSE(exists(dir.file("c.wav")));
    // A byte of the player's padding: its own CRC check refuses it too.
    bytes = test::readFile(dir.file("good.exe"));
    bytes[exe::kPlayerBytes - 16] ^= 0x01;
    test::writeFile(dir.file("bad2.exe"), bytes);
    ::chmod(dir.file("bad2.exe").c_str(), 0755);
    EXPECT_EQ(runUnderWine(dir, "bad2.exe", "--decode-to d.wav"), 2);
    EXPECT_FALSE(exists(dir.file("d.wav")));
}
