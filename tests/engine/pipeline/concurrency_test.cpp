// Things that share engine or library state running at once: the main player
// on an MPEG stream beside a second player object on an MP3 file, and media
// analysis (stream probe, MPEG audio parse) on one thread while a conversion
// of an MPEG stream runs on another. Each must give what it gives alone. Also
// built with ThreadSanitizer by tools/tsan.sh.
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/media_list.h"
#include "engine/containers/demux.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/run_state.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

using namespace kestrel;

namespace {

const char* const kStream = "mpeg_vcd.mpg";
const char* const kMp3 = "mpeg_l3_cbr_44k.mp3";

// A WAV conversion at the source's own format, by the command line in a
// process of its own: the reference for everything here.
std::vector<int16_t> referenceWav(const std::string& src) {
    test::TempDir home, out;
    std::string cmd = "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                      "/kestrel-cli' --home '" + home.path() + "' convert -t wav -r 44100 -o '" +
                      out.path() + "' '" + src + "' 2>/dev/null";
    std::string listing = test::capture(cmd);
    if (listing.find('\t') == std::string::npos) return {};
    return test::wavSamples(listing.substr(0, listing.find('\t')));
}

size_t firstNonZero(const std::vector<int16_t>& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == 0)
        ++i;
    return i;
}

// Samples of `got` that differ from `want` once both start at their first
// sound; `tail` samples at the end of `want` may be missing from `got`.
size_t mismatches(const std::vector<int16_t>& want, const std::vector<int16_t>& got, size_t tail) {
    size_t a = firstNonZero(want), b = firstNonZero(got);
    if (a >= want.size() || b >= got.size()) return ~size_t(0);
    size_t n = want.size() - a;
    if (got.size() - b + tail < n) return ~size_t(0);
    size_t compare = n > tail ? n - tail : 0;
    size_t bad = 0;
    for (size_t i = 0; i < compare; ++i)
        if (got[b + i] != want[a + i]) ++bad;
    return compare > 44100 ? bad : ~size_t(0);
}

// The second player's device: keeps what it is given.
class RecordingDevice : public PcmDevice {
  public:
    int open(int rate, int channels) override {
        rate_ = rate;
        channels_ = channels;
        return 0;
    }
    void write(const uint8_t* pcm, int bytes) override {
        size_t at = samples.size();
        samples.resize(at + size_t(bytes) / 2);
        std::memcpy(samples.data() + at, pcm, size_t(bytes / 2) * 2);
    }
    void close() override {}
    std::vector<int16_t> samples;
    int rate_ = 0, channels_ = 0;
};

class Concurrency : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        settings.output_type = kOutWav;
        settings.conversion_mode = 2; // silent, as fast as it goes
        settings.save_mode = 0;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        settings.save_path = out.path() + "/";
        resetMediaList();
    }
    void TearDown() override {
        running = false;
        waitConversion();
        waitPlayback();
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setProgramFolder("");
    }
    test::TempDir home, out;
    test::RecordingMessages msgs;
};

} // namespace

// The main player on an MPEG stream into SDL's disk driver, and at the same
// time a second player on an MP3 file. SDL's disk driver writes every device
// into the one file it is given, so the second player gets a device of its
// own that records what reaches it.
TEST_F(Concurrency, TwoPlayersAtOnceEachPlayWhatAConversionWrites) {
    auto streamWav = referenceWav(test::fixture(kStream));
    auto mp3Wav = referenceWav(test::fixture(kMp3));
    ASSERT_FALSE(streamWav.empty());
    ASSERT_FALSE(mp3Wav.empty());

    ASSERT_EQ(addMediaFile(test::fixture(kStream)), 0);
    ASSERT_EQ(addMediaFile(test::fixture(kMp3)), 0);
    ASSERT_EQ(mediaList.rows.size(), 2u);
    EntryFacts mp3 = entryFacts(mediaList.rows[1]);

    std::string disk = home.file("disk.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);

    RecordingDevice device;
    SecondPlayer second(device);
    std::atomic<int> secondResult{1};
    std::atomic<bool> go{false};
    std::thread other([&] {
        while (!go.load())
            std::this_thread::yield();
        secondResult = second.play(mp3);
    });
    ASSERT_EQ(playRequest(0), 0);
    go = true;
    other.join();
    waitPlayback();
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    EXPECT_EQ(playbackResult(), 0);
    EXPECT_EQ(secondResult.load(), 0);
    EXPECT_EQ(device.rate_, 44100);
    EXPECT_EQ(device.channels_, 2);
    // Every sample reaches the recording device.
    EXPECT_EQ(mismatches(mp3Wav, device.samples, 0), 0u);
    // The device ring drops its partly filled last buffer.
    auto bytes = test::readFile(disk);
    std::vector<int16_t> played(bytes.size() / 2);
    std::memcpy(played.data(), bytes.data(), played.size() * 2);
    EXPECT_EQ(mismatches(streamWav, played, 4096 / 2), 0u);
}

// A second player leaves AC-3 to the main player, whose library it is.
TEST_F(Concurrency, SecondPlayerRefusesAc3) {
    RecordingDevice device;
    SecondPlayer second(device);
    EntryFacts ac3;
    ac3.path = "/nonexistent.ac3";
    ac3.typeName = "MPEG1/2 ES";
    ac3.kind = kDemuxAc3;
    EXPECT_EQ(second.play(ac3), kSecondPlayerNoAc3);
    EntryFacts other;
    other.typeName = "FLV";
    other.kind = 100;
    EXPECT_EQ(second.play(other), kSecondPlayerNoPlayer);
}

// Analysis of an MP3 file and an MPEG stream, over and over on a second
// thread while a conversion of an MPEG stream runs: every analysis gives the
// record it gives alone, and the conversion writes what it writes alone.
TEST_F(Concurrency, AnalysisDuringAConversion) {
    auto streamWav = referenceWav(test::fixture(kStream));
    ASSERT_FALSE(streamWav.empty());
    MediaRecord mp3Alone = emptyRecord(), streamAlone = emptyRecord();
    ASSERT_EQ(analyzeMedia(test::fixture(kMp3), mp3Alone), 0);
    ASSERT_EQ(analyzeMedia(test::fixture(kStream), streamAlone), 0);

    ASSERT_EQ(addMediaFile(test::fixture(kStream)), 0);
    for (auto& r : mediaList.rows)
        r.selected = true;

    std::atomic<bool> started{false}, stop{false};
    std::atomic<int> rounds{0}, wrong{0};
    std::thread analysis([&] {
        started = true;
        while (!stop.load()) {
            MediaRecord a = emptyRecord(), b = emptyRecord();
            if (analyzeMedia(test::fixture(kMp3), a) != 0 ||
                std::memcmp(&a, &mp3Alone, sizeof a) != 0)
                ++wrong;
            if (analyzeMedia(test::fixture(kStream), b) != 0 ||
                std::memcmp(&b, &streamAlone, sizeof b) != 0)
                ++wrong;
            ++rounds;
        }
    });
    while (!started.load())
        std::this_thread::yield();
    ASSERT_EQ(start_conversion(), 0);
    waitConversion();
    // At least one whole round overlapped the conversion or followed it.
    while (rounds.load() < 2)
        std::this_thread::yield();
    stop = true;
    analysis.join();

    EXPECT_EQ(wrong.load(), 0);
    ASSERT_EQ(mainJob().jobTable.size(), 1u);
    EXPECT_EQ(mainJob().jobTable[0].result, EntryResult::Converted);
    auto wav = test::wavSamples(mainJob().jobTable[0].outputName);
    ASSERT_EQ(wav.size(), streamWav.size());
    EXPECT_TRUE(wav == streamWav);
}
