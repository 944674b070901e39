// The MPEG-4 AVI reading loop: MP3 (MPEG-1 through the MPEG audio library,
// MPEG-2 through the built-in decoder) and IMA ADPCM sound decoded like
// ffmpeg decodes it; the chunk-index position and seek arithmetic; stop and
// seek requests; a file cut short converts what is there.
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoadpcmdec.h"
#include "engine/pipeline/avi_readers.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::haveFixture;

namespace {

class CollectingSink : public PcmSinkPath {
  public:
    void consume(PcmBuffer& pcm) override {
        const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
        samples.insert(samples.end(), s, s + pcm.pending / 2);
    }
    std::vector<int16_t> samples;
};

struct Outcome {
    std::vector<int16_t> pcm;
    std::vector<int> seconds;
    AviReadResult result = AviReadResult::Ended;
};

struct Control {
    OwnRunFlags* flags;
    std::vector<int>* seconds;
    int seekTo = -1;    // asked for at the first report
    bool stop = false;  // stop at the first report
    bool pause = false; // pause at the first report, then stop from another thread
    std::thread stopper;
};

void onReport(int second, void* context) {
    auto* c = static_cast<Control*>(context);
    c->seconds->push_back(second);
    if (c->seconds->size() != 1) return;
    if (c->seekTo >= 0) c->flags->seekRequest = c->seekTo + 100;
    if (c->stop) c->flags->running = false;
    if (c->pause) {
        c->flags->paused = true;
        OwnRunFlags* f = c->flags;
        c->stopper = std::thread([f] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            f->running = false;
        });
    }
}

class AviRead : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadMpadecExt(), 0);
        ASSERT_GE(loadOrvoadpcmdec(), 0);
    }
    void TearDown() override {
        unloadOrvoadpcmdec();
        unloadMpadecExt();
    }

    Outcome read(const std::string& path, int durationSec, int seekTo = -1, bool stop = false,
                 bool pause = false) {
        Outcome r;
        OwnRunFlags flags;
        flags.running = true;
        PcmBuffer pcm;
        AviAudioReader reader(flags.flags(), pcm, kSecondLibraryInstance);
        r.result = reader.open(path);
        if (r.result != AviReadResult::Ended) return r;
        ReaderEntry e;
        e.path = path;
        e.durationSec = durationSec;
        CollectingSink sink;
        Control c{&flags, &r.seconds, seekTo, stop, pause, {}};
        reader.read(e, sink, onReport, &c);
        if (c.stopper.joinable()) c.stopper.join();
        r.pcm = std::move(sink.samples);
        return r;
    }

    void expectLikeFfmpeg(const std::string& name, int channels, int duration) {
        ASSERT_TRUE(haveFixture(name)) << name;
        Outcome r = read(fixture(name), duration);
        ASSERT_EQ(r.result, AviReadResult::Ended);
        auto ref = kestrel::test::ffmpegDecode(fixture(name));
        ASSERT_FALSE(ref.empty());
        auto c = kestrel::test::compareAudio(r.pcm, ref, channels);
        EXPECT_GE(c.snrDb, 40.0) << name;
        // Same length within one codec frame.
        EXPECT_LE(std::labs(c.lengthDiff), 1152) << name;
        EXPECT_LE(std::labs(c.lag), 1152) << name;
        // Positions run from 0 towards the duration.
        ASSERT_FALSE(r.seconds.empty());
        EXPECT_EQ(r.seconds.front(), 0);
        EXPECT_GE(r.seconds.back(), duration - 1);
    }
};

} // namespace

TEST(AviArithmetic, PositionAndSeekAreProportionalOverTheChunks) {
    EXPECT_EQ(aviPositionSecond(0, 100, 1000), 0);
    EXPECT_EQ(aviPositionSecond(500, 100, 1000), 50);
    EXPECT_EQ(aviPositionSecond(999, 100, 1000), 99);
    EXPECT_EQ(aviPositionSecond(5000, 100, 1000), 100);
    EXPECT_EQ(aviSeekChunk(50, 100, 1000), 500u);
    EXPECT_EQ(aviSeekChunk(250, 100, 1000), 1000u);
    // Rounded up: the position shown after a seek is the second asked for.
    EXPECT_EQ(aviSeekChunk(3, 6, 383), 192u);
    EXPECT_EQ(aviPositionSecond(aviSeekChunk(3, 6, 383), 6, 383), 3);
    // No division by a duration or a count of 0.
    EXPECT_EQ(aviPositionSecond(5, 0, 1000), 0);
    EXPECT_EQ(aviPositionSecond(5, 100, 0), 0);
    EXPECT_EQ(aviSeekChunk(5, 0, 1000), 0u);
    EXPECT_EQ(aviSeekChunk(5, 100, 0), 0u);
    EXPECT_EQ(aviSeekChunk(-3, 100, 1000), 0u);
}

TEST(AviArithmetic, CodecByFormatTag) {
    EXPECT_EQ(aviAudioCodec(1), AviAudioCodec::Pcm);
    EXPECT_EQ(aviAudioCodec(0x50), AviAudioCodec::MpegAudio);
    EXPECT_EQ(aviAudioCodec(0x55), AviAudioCodec::MpegAudio);
    EXPECT_EQ(aviAudioCodec(0x11), AviAudioCodec::Adpcm);
    EXPECT_EQ(aviAudioCodec(2), AviAudioCodec::Adpcm);
}

TEST_F(AviRead, Mp3At44100StereoLikeFfmpeg) {
    expectLikeFfmpeg("avi_mp3_44k.avi", 2, 6);
}

TEST_F(AviRead, Mp3At22050MonoLikeFfmpeg) {
    expectLikeFfmpeg("avi_mp3_22k_mono.avi", 1, 5);
}

TEST_F(AviRead, ImaAdpcmLikeFfmpeg) {
    expectLikeFfmpeg("avi_adpcm_22k.avi", 2, 4);
}

TEST_F(AviRead, RebuiltIndexGivesTheSameSound) {
    ASSERT_TRUE(haveFixture("avi_mp3_44k_noidx.avi"));
    Outcome a = read(fixture("avi_mp3_44k.avi"), 6);
    Outcome b = read(fixture("avi_mp3_44k_noidx.avi"), 6);
    ASSERT_FALSE(a.pcm.empty());
    EXPECT_TRUE(a.pcm == b.pcm);
}

TEST_F(AviRead, SeekGoesToTheProportionalChunk) {
    Outcome whole = read(fixture("avi_mp3_44k.avi"), 6);
    Outcome r = read(fixture("avi_mp3_44k.avi"), 6, 3);
    ASSERT_GE(r.seconds.size(), 2u);
    EXPECT_EQ(r.seconds[1], 3);
    // About the second half of the sound.
    EXPECT_NEAR(double(r.pcm.size()), whole.pcm.size() / 2.0, 44100.0 * 2 * 0.3);
}

TEST_F(AviRead, StopEndsTheLoop) {
    Outcome whole = read(fixture("avi_adpcm_22k.avi"), 4);
    Outcome r = read(fixture("avi_adpcm_22k.avi"), 4, -1, true);
    EXPECT_LT(r.pcm.size(), whole.pcm.size() / 4);
}

TEST_F(AviRead, PauseHoldsTheReading) {
    // Paused after the first chunk and stopped while paused: the sound of
    // that one chunk only, whenever the stop comes.
    Outcome stopped = read(fixture("avi_adpcm_22k.avi"), 4, -1, true);
    Outcome paused = read(fixture("avi_adpcm_22k.avi"), 4, -1, false, true);
    EXPECT_EQ(paused.seconds.size(), 1u);
    EXPECT_TRUE(paused.pcm == stopped.pcm);
}

TEST_F(AviRead, RefusalsAndCutFiles) {
    EXPECT_EQ(read("/nonexistent/kestrel.avi", 1).result, AviReadResult::FileFailed);
    ASSERT_TRUE(haveFixture("avi_audio_only.avi"));
    EXPECT_EQ(read(fixture("avi_audio_only.avi"), 1).result, AviReadResult::ReaderFailed);
    // Video without sound: nothing to read, and no hang.
    Outcome v = read(fixture("avi_video_only.avi"), 3);
    EXPECT_EQ(v.result, AviReadResult::Ended);
    EXPECT_TRUE(v.pcm.empty());
    // Cut at a third: the sound that is there, decoded as in the whole file.
    kestrel::test::TempDir dir;
    for (const char* name : {"avi_mp3_44k.avi", "avi_adpcm_22k.avi"}) {
        auto bytes = kestrel::test::readFile(fixture(name));
        bytes.resize(bytes.size() / 3);
        std::string cut = dir.file(std::string("cut_") + name);
        kestrel::test::writeFile(cut, bytes);
        Outcome whole = read(fixture(name), 6);
        Outcome r = read(cut, 6);
        ASSERT_EQ(r.result, AviReadResult::Ended) << name;
        EXPECT_GT(r.pcm.size(), whole.pcm.size() / 5) << name;
        EXPECT_LT(r.pcm.size(), whole.pcm.size() / 2) << name;
        auto c = kestrel::test::compareAudio(r.pcm, whole.pcm, 2, 1200, 2000);
        EXPECT_GE(c.snrDb, 60.0) << name;
    }
}
