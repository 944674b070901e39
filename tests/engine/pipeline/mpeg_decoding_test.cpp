// What the demultiplexer's frames become: the decoder route of each MPEG
// audio version (MPEG-2/2.5 Layer III through mp3dec, the rest through the
// MPEG audio library), pcm_buffer never overrun, the reset after a seek, AC-3
// at 44.1 kHz and the sound of a transport stream's second program, checked
// against mpg123 and ffmpeg on files made by the fixture scripts.
#include "engine/containers/demux.h"
#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/pipeline/mpeg_decoding.h"
#include "engine/core/run_state.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

using namespace kestrel;
using kestrel::test::fixture;
using Bytes = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

namespace {

class MpegDecoding : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadMpadecExt(), 0);
        ASSERT_GE(loadAc3stream(), 0);
    }
    static void TearDownTestSuite() {
        unloadAc3stream();
        unloadMpadecExt();
    }
    void SetUp() override { running = true; }
    void TearDown() override {
        mpegDecodingStop();
        pcm_pending = 0;
    }

    // Takes what waits in pcm_buffer, as the readers' sink would.
    void take() {
        const int16_t* s = reinterpret_cast<const int16_t*>(pcm_buffer());
        pcm.insert(pcm.end(), s, s + pcm_pending / 2);
        pcm_pending = 0;
    }
    // Starts decoding a source in demultiplexer mode `mode`.
    void start(int mode) {
        pcm.clear();
        pcm_pending = 0;
        demuxReset(mode);
        mpegDecodingStart("source");
        mpegDecodingSetDrain([this] { take(); });
    }
    // Feeds bytes [from, to) in chunks; the sink runs after every chunk.
    void feed(const Bytes& src, size_t from, size_t to, size_t chunk) {
        for (size_t at = from; at < to; at += chunk) {
            demuxChunk(src.data() + at, int(std::min(chunk, to - at)));
            take();
        }
    }
    void finish() {
        demuxFinish();
        take();
    }
    Pcm decode(const Bytes& src, int mode, size_t chunk) {
        start(mode);
        feed(src, 0, src.size(), chunk);
        finish();
        return pcm;
    }

    test::RecordingMessages messages;
    Pcm pcm;
};

// mpg123's own decode of a whole file, every frame counted (or, `gapless`,
// without the encoder's delay and padding that a LAME tag gives).
Pcm mpg123Decode(const std::string& path, bool gapless = false) {
    test::TempDir d;
    std::string out = d.file("ref.raw");
    Pcm s;
    if (test::run(std::string("mpg123 -q ") + (gapless ? "" : "--no-gapless ") + "-s '" + path +
                  "' > '" + out + "' 2>/dev/null") != 0)
        return s;
    auto b = test::readFile(out);
    s.resize(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

int peak(const Pcm& s, size_t from, size_t to) {
    int p = 0;
    for (size_t i = from; i < std::min(to, s.size()); ++i)
        p = std::max(p, std::abs(int(s[i])));
    return p;
}

// Offsets of the frames of an MPEG audio file without tags (walked by the
// frame lengths of their headers).
std::vector<size_t> frameOffsets(const Bytes& b) {
    static const int rates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int kbpsLsf[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kbps1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    std::vector<size_t> at;
    size_t i = 0;
    while (i + 4 <= b.size() && b[i] == 0xFF && (b[i + 1] & 0xE0) == 0xE0) {
        int ver = (b[i + 1] >> 3) & 3;
        int rate = rates[ver][(b[i + 2] >> 2) & 3];
        int br = (ver == 3 ? kbps1 : kbpsLsf)[b[i + 2] >> 4] * 1000;
        int spf = ver == 3 ? 1152 : 576;
        size_t len = size_t(spf / 8 * br / rate + ((b[i + 2] >> 1) & 1));
        if (len < 4) break;
        at.push_back(i);
        i += len;
    }
    return at;
}

} // namespace

// A 3760-byte chunk of a 16 kHz, 8 kbit/s stereo MPEG-2 Layer III stream
// holds about 100 frames: more PCM than pcm_buffer. All of it reaches the
// sink, sample for sample what mpg123 decodes.
TEST_F(MpegDecoding, LowRateLayer3DecodesEveryFrameThroughMp3dec) {
    std::string path = fixture("mpeg_l3_mpeg2_16k_8k.mp3");
    Bytes src = test::readFile(path);
    ASSERT_FALSE(src.empty());
    size_t frames = frameOffsets(src).size();
    ASSERT_GT(frames, 250u);
    Pcm ref = mpg123Decode(path);
    ASSERT_EQ(ref.size(), frames * 576 * 2);
    for (size_t chunk : {size_t(3760), size_t(4096), size_t(1000)}) {
        SCOPED_TRACE(chunk);
        Pcm got = decode(src, kDemuxMpegAudio, chunk);
        EXPECT_EQ(got.size(), ref.size());
        EXPECT_EQ(mpegDecodingStats().streamFrames, frames);
        EXPECT_EQ(mpegDecodingStats().syncLosses, 0u);
        if (chunk > 2000) {
            EXPECT_GT(mpegDecodingStats().drains, 0u);
        }
        EXPECT_EQ(mpegDecodedRate(), 16000);
        EXPECT_EQ(mpegDecodedChannels(), 2);
        auto cmp = test::compareAudio(got, ref, 2, 100);
        EXPECT_EQ(cmp.lag, 0);
        EXPECT_GE(cmp.snrDb, 60);
    }
    // The same frames in a program stream.
    Pcm ps = decode(test::readFile(fixture("mpeg_l3_mpeg2_16k_8k.mpg")), kDemuxPsMpeg, 3760);
    EXPECT_EQ(ps.size(), ref.size());
}

// Bytes between two frames are no part of either: every frame reaches
// mp3dec whole, so nothing of the sound is lost (mp3dec's own "sync lost"
// search is not needed).
TEST_F(MpegDecoding, GarbageBetweenFramesLosesNoFrame) {
    Bytes src = test::readFile(fixture("mpeg_l3_mpeg2_22k.mp3"));
    auto at = frameOffsets(src);
    ASSERT_GT(at.size(), 60u);
    Pcm clean = decode(src, kDemuxMpegAudio, 3760);
    ASSERT_EQ(mpegDecodingStats().syncLosses, 0u);
    uint64_t cleanFrames = mpegDecodingStats().streamFrames;
    ASSERT_EQ(clean.size(), cleanFrames * 576 * 2);

    Bytes dirty(src.begin(), src.begin() + long(at[40]));
    for (int i = 0; i < 50; ++i)
        dirty.push_back(uint8_t(0x11 * (i % 7)));
    dirty.insert(dirty.end(), src.begin() + long(at[40]), src.end());
    Pcm got = decode(dirty, kDemuxMpegAudio, 3760);
    EXPECT_EQ(mpegDecodingStats().syncLosses, 0u);
    EXPECT_EQ(mpegDecodingStats().streamFrames, cleanFrames);
    EXPECT_EQ(got, clean);

    // The same through the entry the MPEG audio file reader feeds, in its
    // 256-byte chunks.
    start(kDemuxMpegAudio);
    for (size_t i = 0; i < dirty.size(); i += 256) {
        feedMpegAudio(dirty.data() + i, int(std::min<size_t>(256, dirty.size() - i)),
                      DecoderRoute::BuiltIn, true);
        take();
    }
    finish();
    EXPECT_EQ(mpegDecodingStats().syncLosses, 0u);
    EXPECT_EQ(pcm, clean);
}

// mp3dec takes no free format: such a Layer III stream is refused with a
// message, once for the entry, instead of being converted to nothing.
TEST_F(MpegDecoding, FreeFormatLayer3IsRefusedOnce) {
    start(kDemuxMpegAudio);
    static FrameSlot slots[4];
    for (auto& s : slots) {
        std::memset(s.data, 0, sizeof s.data);
        s.data[0] = 0xFF;
        s.data[1] = 0xF3; // MPEG-2 Layer III, no CRC
        s.data[2] = 0x04; // free format, 22050 Hz
        s.data[3] = 0x40;
        s.length = 300;
    }
    messages.clear();
    mpegDecodeOutlet().mpegFrames(slots, 4, DecoderRoute::BuiltIn, true);
    mpegDecodeOutlet().mpegFrames(slots, 4, DecoderRoute::BuiltIn, false);
    EXPECT_EQ(pcm_pending, 0);
    EXPECT_TRUE(mpegDecodingStats().freeFormatRefused);
    auto shown = messages.entries();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "文件source:不支持自由格式的MPEG2/2.5 Layer III音频，无法解码");
    EXPECT_EQ(shown[0].caption, "岚石多媒体MP3转换器 标准版");
    // The next entry starts afresh.
    start(kDemuxMpegAudio);
    EXPECT_FALSE(mpegDecodingStats().freeFormatRefused);
}

// After a jump the first frames must not decode the reservoir and overlap of
// the old position into a burst: nothing after the seek is louder than the
// steady tone. Both routes: mp3dec (22.05 kHz MPEG-2) and the MPEG audio
// library (44.1 kHz MPEG-1).
TEST_F(MpegDecoding, SeekLeavesNoBurstOfStaleState) {
    for (const char* name : {"mpeg_l3_mpeg2_22k.mp3", "mpeg_l3_cbr_44k.mp3"}) {
        SCOPED_TRACE(name);
        Bytes src = test::readFile(fixture(name));
        ASSERT_GT(src.size(), 20000u);
        Pcm whole = decode(src, kDemuxMpegAudio, 1024);
        int steady = peak(whole, whole.size() / 4, whole.size() * 3 / 4);
        ASSERT_GT(steady, 1000);
        int seeks = 0;
        for (double from : {0.35, 0.5, 0.62}) {
            for (double to : {0.2, 0.55, 0.7, 0.81}) {
                start(kDemuxMpegAudio);
                size_t cut = size_t(double(src.size()) * from);
                size_t jump = size_t(double(src.size()) * to) + 13; // anywhere in a frame
                feed(src, 0, cut, 1024);
                size_t before = pcm.size();
                demuxSeek();
                mpegDecodingReset();
                feed(src, jump, src.size(), 1024);
                finish();
                ASSERT_GT(pcm.size(), before + 4 * 1152);
                EXPECT_LE(peak(pcm, before, pcm.size()), steady * 21 / 20)
                    << "seek from " << from << " to " << to;
                ++seeks;
            }
        }
        EXPECT_EQ(seeks, 12);
    }
}

// 44.1 kHz AC-3 frames alternate in size with the padding bit of frmsizecod:
// every frame is decoded, raw and in a VOB, and the beep of the first second
// stays there.
TEST_F(MpegDecoding, Ac3At44100KeepsEveryFrame) {
    struct Case {
        const char* file;
        int mode;
        size_t chunk;
    };
    for (const Case& c :
         {Case{"mpeg_ac3_44k.ac3", kDemuxAc3, 4096}, Case{"mpeg_ac3_44k.vob", kDemuxPsAc3, 3760}}) {
        SCOPED_TRACE(c.file);
        std::string path = fixture(c.file);
        Pcm got = decode(test::readFile(path), c.mode, c.chunk);
        Pcm ref = test::ffmpegDecode(path);
        ASSERT_FALSE(ref.empty());
        EXPECT_LE(std::labs(long(got.size() / 2) - long(ref.size() / 2)), 1536);
        auto cmp = test::compareAudio(got, ref, 2, 3000);
        EXPECT_EQ(cmp.lag, 0);
        EXPECT_GE(cmp.snrDb, 40);
        // The beep: loud within 0-1 s, nothing after 1.1 s.
        EXPECT_GT(peak(got, 2 * 44100 / 20, 2 * 44100 * 3 / 10), 2000);
        EXPECT_GT(peak(got, 2 * 44100 * 7 / 10, 2 * 44100 * 19 / 20), 2000);
        EXPECT_LT(peak(got, 2 * 44100 * 11 / 10, got.size()), 200);
        EXPECT_GT(got.size(), size_t(2 * 44100 * 20));
    }
}

// The first program of this transport stream has only video; the second
// carries the sound. The program maps are sent after every association
// table, the second program's before the first's: the fall-back to the next
// map must survive the repeated tables.
TEST_F(MpegDecoding, TransportStreamTakesTheFirstProgramWithSound) {
    std::string path = fixture("mpeg_ts_second_program.ts");
    Bytes ts = test::readFile(path);
    ASSERT_EQ(ts.size() % 188, 0u);
    ASSERT_GT(test::putSecondProgramMapsFirst(ts), 1);
    Pcm ref = test::ffmpegDecode(path);
    ASSERT_FALSE(ref.empty());
    Bytes plain = test::readFile(path);
    for (const Bytes* src : {&plain, &ts}) {
        Pcm got = decode(*src, kDemuxTsNoPat, 3760);
        EXPECT_EQ(demuxStats().audioPid, 0x101);
        EXPECT_LE(std::labs(long(got.size() / 2) - long(ref.size() / 2)), 1152);
        auto cmp = test::compareAudio(got, ref, 2, 3000, 1152);
        EXPECT_GE(cmp.snrDb, 60);
    }
}

// The same through the whole program: a silent WAV conversion of each file
// is as long as the reference decode and matches it.
TEST(MpegDecodingConversion, WavOfEachRouteMatchesTheReference) {
    struct Case {
        const char* file;
        int rate;
        long maxLengthDiff; // sample frames
        double minSnr;
        bool mpg123; // reference: mpg123 (every frame), else ffmpeg
    };
    const Case cases[] = {
        {"mpeg_ac3_44k.ac3", 44100, 1536, 40, false},
        {"mpeg_ac3_44k.vob", 44100, 1536, 40, false},
        {"mpeg_ts_second_program.ts", 48000, 1152, 60, false},
        {"mpeg_l3_mpeg2_16k_8k.mpg", 16000, 0, 60, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        test::TempDir home, out;
        std::string cmd = "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) +
                          "/kestrel-cli' --home '" + home.path() + "' convert -t wav -r " +
                          std::to_string(c.rate) + " -o '" + out.path() + "' '" + fixture(c.file) +
                          "' 2>/dev/null";
        std::string listing = test::capture(cmd);
        ASSERT_NE(listing.find('\t'), std::string::npos) << listing;
        int rate = 0, ch = 0;
        Pcm got = test::wavSamples(listing.substr(0, listing.find('\t')), &rate, &ch);
        EXPECT_EQ(rate, c.rate);
        ASSERT_EQ(ch, 2);
        Pcm ref = c.mpg123 ? mpg123Decode(fixture("mpeg_l3_mpeg2_16k_8k.mp3"))
                           : test::ffmpegDecode(fixture(c.file));
        ASSERT_FALSE(ref.empty());
        EXPECT_LE(std::labs(long(got.size() / 2) - long(ref.size() / 2)), c.maxLengthDiff);
        auto cmp = test::compareAudio(got, ref, 2, 3000, 1152);
        EXPECT_GE(cmp.snrDb, c.minSnr) << "lag " << cmp.lag;
    }
}

// A gapless MP3 (a Xing/Info frame with the LAME extension) converts without
// the tag frame, the encoder's delay and its padding, as mpg123 plays it:
// LAME's own files, and FFmpeg's, whose tag frame has the original bit clear
// where the sound's frames set it (once taken for a stray header, so the
// delay and padding stayed in), behind an ID3v2 tag with a picture too.
TEST(MpegDecodingConversion, GaplessFilesConvertWithoutDelayAndPadding) {
    for (const char* file :
         {"mpeg_l3_cbr_44k.mp3", "mpeg_l3_ffmpeg_vbr_art.mp3", "mpeg_l3_ffmpeg_cbr.mp3"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(test::haveFixture(file));
        test::TempDir home, out;
        std::string listing = test::capture(
            "SDL_AUDIODRIVER=dummy '" + std::string(KESTREL_BIN_DIR) + "/kestrel-cli' --home '" +
            home.path() + "' convert --mode silent -t wav -r 44100 -o '" + out.path() + "' '" +
            fixture(file) + "' 2>/dev/null");
        ASSERT_NE(listing.find('\t'), std::string::npos) << listing;
        int rate = 0, ch = 0;
        Pcm got = test::wavSamples(listing.substr(0, listing.find('\t')), &rate, &ch);
        ASSERT_EQ(ch, 2);
        Pcm ref = mpg123Decode(fixture(file), true);
        ASSERT_FALSE(ref.empty());
        // The sources are 4 s of tone at 44100 Hz.
        EXPECT_EQ(ref.size(), 4u * 44100 * 2);
        EXPECT_EQ(got.size(), ref.size());
        EXPECT_TRUE(got == ref) << "the same samples as mpg123's";
    }
}
