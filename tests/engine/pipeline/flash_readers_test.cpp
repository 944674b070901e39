// The reading loops of FLV, SWF, MTV and AMV sources on their own run flags:
// every unit is read once, positions follow the sound, and a seek, a pause
// and a stop act at the next unit.
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/pipeline/flash_readers.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

struct Collect : PcmSinkPath {
    size_t bytes = 0;
    void consume(PcmBuffer& pcm) override { bytes += size_t(pcm.pending); }
};

struct ReadRun {
    OwnRunFlags* flags = nullptr;
    std::vector<int> seconds;
    int seekTo = -1; // asked for at the first report
    int stopAt = -1; // second at which stop is pressed
    bool pauseAtFirst = false;
};

void report(int second, void* context) {
    auto* r = static_cast<ReadRun*>(context);
    r->seconds.push_back(second);
    if (r->seconds.size() == 1 && r->seekTo >= 0) r->flags->seekRequest = r->seekTo + 100;
    if (second == r->stopAt) r->flags->running = false;
    if (r->seconds.size() == 1 && r->pauseAtFirst) {
        // Paused, then stopped while paused: nothing more is read.
        r->flags->paused = true;
        r->flags->running = false;
    }
}

struct Source {
    const char* file;
    FlashSource source;
    int rate, channels, seconds;
};

const Source kSources[] = {
    {"flash_mp3_44k_st.flv", FlashSource::Flv, 44100, 2, 2},
    {"flash_adpcm_stream.swf", FlashSource::Swf, 44100, 2, 3},
    {"flash_adpcm_event.swf", FlashSource::Swf, 22050, 1, 3},
    {"flash_clip.mtv", FlashSource::Mtv, 44100, 2, 3},
    {"flash_22k.amv", FlashSource::Amv, 22050, 1, 3},
};

class FlashReaders : public ::testing::Test {
  protected:
    void SetUp() override { setLibraryFolder(KESTREL_BIN_DIR); }

    size_t read(const Source& s, ReadRun& run) {
        EXPECT_GE(loadFlashLibraries(s.source), 0);
        OwnRunFlags flags;
        flags.running = true;
        run.flags = &flags;
        MpegReader reader(flags.flags(), kSecondLibraryInstance, false);
        Collect sink;
        ReaderEntry e;
        e.path = test::fixture(s.file);
        e.durationSec = s.seconds;
        e.sourceRate = s.rate;
        e.sourceChannels = s.channels;
        EXPECT_EQ(readFlashSource(s.source, reader, e, sink, report, &run), ReaderResult::Ended);
        unloadFlashLibraries(s.source);
        return sink.bytes;
    }
    test::RecordingMessages msgs;
};

} // namespace

TEST_F(FlashReaders, WholeSeekPauseAndStop) {
    for (const auto& s : kSources) {
        SCOPED_TRACE(s.file);
        auto ref = test::readFile(test::fixture(std::string(s.file) + ".ref.s16"));
        ReadRun whole;
        const size_t all = read(s, whole);
        // Every unit once: the sound's length within one codec frame.
        EXPECT_NEAR(double(all), double(ref.size()), 4096.0 * 2 * s.channels);
        ASSERT_FALSE(whole.seconds.empty());
        EXPECT_EQ(whole.seconds.front(), 0);
        EXPECT_GE(whole.seconds.back(), s.seconds - 1);
        for (size_t i = 1; i < whole.seconds.size(); ++i)
            EXPECT_EQ(whole.seconds[i], whole.seconds[i - 1] + 1);

        // A seek to second 2 of 3 (of 2: to the end) skips the sound before it.
        ReadRun seek;
        seek.seekTo = 2;
        const size_t rest = read(s, seek);
        ASSERT_GE(seek.seconds.size(), 1u);
        if (seek.seconds.size() > 1) {
            EXPECT_EQ(seek.seconds[1], 2);
        }
        EXPECT_LT(double(rest), double(all) * (s.seconds - 2 + 0.25) / s.seconds);

        // Stop at second 1.
        ReadRun stop;
        stop.stopAt = 1;
        const size_t part = read(s, stop);
        EXPECT_GT(part, 0u);
        EXPECT_LT(part, all * 3 / 4);

        // Paused at the start, then stopped: nothing is handed on.
        ReadRun paused;
        paused.pauseAtFirst = true;
        EXPECT_LE(read(s, paused), size_t(16384 * 2));
    }
}

TEST_F(FlashReaders, UnitOfASeek) {
    EXPECT_EQ(unitForSecond(2, 4, 100), 50u);
    EXPECT_EQ(unitForSecond(2, 3, 100), 67u); // shows second 2, not 1.98
    EXPECT_EQ(unitForSecond(1, 3, 3), 1u);
    EXPECT_EQ(unitForSecond(9, 4, 100), 100u);
    EXPECT_EQ(unitForSecond(2, 0, 100), 0u);
    EXPECT_EQ(unitForSecond(-3, 4, 100), 0u);
    EXPECT_EQ(unitForSecond(2, 4, 0), 0u);
}
