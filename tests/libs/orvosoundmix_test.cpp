// orvosoundmix.so through its exports: untouched PCM with the effects off, and
// what the level, echo and equaliser each do to a known signal.
#include "engine/core/captions.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>
#include <cstring>
#include <vector>

using namespace kestrel;

namespace {

std::vector<int16_t> sine(double hz, int rate, int frames, int channels, double amplitude) {
    std::vector<int16_t> s(size_t(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[size_t(i) * channels + c] =
                int16_t(std::lround(amplitude * 32767 * std::sin(2 * M_PI * hz * i / rate)));
    return s;
}

double rms(const std::vector<int16_t>& s, size_t from) {
    double sum = 0;
    for (size_t i = from; i < s.size(); ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(s.size() - from));
}

// Passes the samples through orvomix_change in pieces of at most 16384 bytes,
// as the PCM sink does.
void process(std::vector<int16_t>& s) {
    auto* p = reinterpret_cast<unsigned char*>(s.data());
    int total = int(s.size() * 2);
    for (int at = 0; at < total; at += 16384) {
        int n = std::min(16384, total - at);
        ASSERT_EQ(orvosoundmix.orvomix_change(p + at, n), n);
    }
}

void showHook(int show, void* context) {
    static_cast<std::vector<int>*>(context)->push_back(show);
}

class OrvoSoundMixLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadOrvosoundmix(), 0) << messages.lastText();
        ASSERT_EQ(orvosoundmix.orvomix_begin(), 0);
        ASSERT_EQ(orvosoundmix.orvomix_setdisp(0), 0);
        ASSERT_EQ(orvosoundmix.orvomix_init(44100, 2, 0), 0);
        ASSERT_EQ(orvosoundmix.orvomix_datarefresh(), 0);
    }
    void TearDown() override {
        orvosoundmix.orvomix_close();
        unloadOrvosoundmix();
    }
    kestrel::test::RecordingMessages messages;
};

} // namespace

TEST_F(OrvoSoundMixLib, EffectsOffOrNeutralLeaveThePcmUntouched) {
    std::vector<int16_t> pcm(40000);
    uint32_t x = 12345;
    for (auto& v : pcm)
        v = int16_t((x = x * 1664525 + 1013904223) >> 16);
    auto copy = pcm;
    process(copy);
    EXPECT_EQ(copy, pcm);

    int flat[ORVOMIX_EQ_BANDS] = {};
    orvosoundmix.orvomix_setiir(1, flat, ORVOMIX_EQ_BANDS);
    orvosoundmix.orvomix_setecho(1, 200, 50, 0);
    orvosoundmix.orvomix_setlevel(1, 0);
    process(copy);
    EXPECT_EQ(copy, pcm);

    int loud[ORVOMIX_EQ_BANDS] = {60, 60, 60, 60, 60, 60, 60, 60, 60, 60};
    orvosoundmix.orvomix_setiir(0, loud, ORVOMIX_EQ_BANDS);
    orvosoundmix.orvomix_setecho(0, 200, 50, 50);
    orvosoundmix.orvomix_setlevel(0, 60);
    process(copy);
    EXPECT_EQ(copy, pcm);
}

TEST_F(OrvoSoundMixLib, LevelScalesRoundsAndClips) {
    orvosoundmix.orvomix_setlevel(1, 60); // +6 dB = x 1.9953
    std::vector<int16_t> pcm = {1000, -1000, 20000, -20000, 0, 1};
    process(pcm);
    EXPECT_EQ(pcm, (std::vector<int16_t>{1995, -1995, 32767, -32768, 0, 2}));
    orvosoundmix.orvomix_setlevel(1, -200); // -20 dB
    pcm = {10000, -10000, 5, 100};
    process(pcm);
    EXPECT_EQ(pcm, (std::vector<int16_t>{1000, -1000, 1, 10}));
}

TEST_F(OrvoSoundMixLib, EchoRepeatsAnImpulseAtTheDelayWithFeedback) {
    ASSERT_EQ(orvosoundmix.orvomix_init(8000, 1, 0), 0);
    orvosoundmix.orvomix_setecho(1, 100, 50, 40); // 800 samples
    std::vector<int16_t> pcm(20000, 0);
    pcm[0] = 10000;
    process(pcm); // the pieces cut the stream: the delay line carries over
    std::vector<int16_t> expected(20000, 0);
    expected[0] = 10000;
    expected[800] = 4000;  // wet x impulse
    expected[1600] = 2000; // wet x feedback x impulse
    expected[2400] = 1000;
    expected[3200] = 500;
    expected[4000] = 250;
    expected[4800] = 125;
    expected[5600] = 63; // 62.5 rounds away from zero
    expected[6400] = 31;
    expected[7200] = 16;
    expected[8000] = 8;
    expected[8800] = 4;
    expected[9600] = 2;
    expected[10400] = 1;
    expected[11200] = 0;
    EXPECT_EQ(pcm, expected);

    // A refresh empties the delay line.
    std::vector<int16_t> impulse(1000, 0);
    impulse[0] = 10000;
    process(impulse);
    orvosoundmix.orvomix_datarefresh();
    std::vector<int16_t> silence(2000, 0);
    process(silence);
    EXPECT_EQ(silence, std::vector<int16_t>(2000, 0));
}

TEST_F(OrvoSoundMixLib, EqualiserBoostsAndCutsItsBandOnly) {
    int boost1k[ORVOMIX_EQ_BANDS] = {0, 0, 0, 0, 0, 60, 0, 0, 0, 0};
    int cut1k[ORVOMIX_EQ_BANDS] = {0, 0, 0, 0, 0, -60, 0, 0, 0, 0};
    struct Case {
        const int* gains;
        double hz, expectDb, tolDb;
    } cases[] = {{boost1k, 1000, 6.0, 0.1},
                 {cut1k, 1000, -6.0, 0.1},
                 {boost1k, 8000, 0.0, 0.5},
                 {boost1k, 60, 0.0, 0.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hz);
        orvosoundmix.orvomix_setiir(1, c.gains, ORVOMIX_EQ_BANDS);
        orvosoundmix.orvomix_datarefresh();
        auto pcm = sine(c.hz, 44100, 44100, 2, 0.25);
        auto in = pcm;
        process(pcm);
        double db = 20 * std::log10(rms(pcm, 8820) / rms(in, 8820));
        EXPECT_NEAR(db, c.expectDb, c.tolDb);
    }
}

TEST_F(OrvoSoundMixLib, WindowFlagAndRefusals) {
    // The window hook is outside the loader's list: reach it by name.
    std::string path = std::string(KESTREL_BIN_DIR) + "/orvosoundmix.so";
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(h, nullptr);
    auto setHook =
        reinterpret_cast<decltype(&orvomix_set_window_hook)>(dlsym(h, "orvomix_set_window_hook"));
    ASSERT_NE(setHook, nullptr);
    std::vector<int> shown;
    setHook(showHook, &shown);
    EXPECT_EQ(orvosoundmix.orvomix_get_dispstatus(), 0);
    EXPECT_EQ(orvosoundmix.orvomix_setdisp(1), 0);
    EXPECT_EQ(orvosoundmix.orvomix_get_dispstatus(), 1);
    EXPECT_EQ(orvosoundmix.orvomix_setdisp(0), 0);
    EXPECT_EQ(orvosoundmix.orvomix_get_dispstatus(), 0);
    EXPECT_EQ(shown, (std::vector<int>{1, 0}));
    setHook(nullptr, nullptr);
    dlclose(h);

    EXPECT_EQ(orvosoundmix.orvomix_init(44100, 3, 0), -1);
    EXPECT_EQ(orvosoundmix.orvomix_init(0, 2, 0), -1);
    EXPECT_EQ(orvosoundmix.orvomix_change(nullptr, 4), -1);
    EXPECT_EQ(orvosoundmix.orvomix_setiir(1, nullptr, 3), -1);
    unsigned char odd[3] = {1, 2, 3};
    orvosoundmix.orvomix_setlevel(1, 60);
    EXPECT_EQ(orvosoundmix.orvomix_change(odd, 3), 3); // the incomplete frame is left alone
    EXPECT_EQ(odd[2], 3);
}

TEST(OrvoSoundMixLoader, NamesTheMissingLibrary) {
    kestrel::test::RecordingMessages messages;
    kestrel::test::TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadOrvosoundmix(), 0);
    ASSERT_EQ(messages.entries().size(), 1u);
    EXPECT_EQ(messages.entries()[0].text, "装载动态库orvosoundmix.so错误");
    setLibraryFolder(KESTREL_BIN_DIR);
}
