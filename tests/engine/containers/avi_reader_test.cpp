// The AVI reader: streams and chunk ids from the header list, the "idx1"
// offsets taken from the "movi" list or from the file start, the index rebuilt
// by scanning when there is none, the refusals with the AVI family's error
// codes, and files that are cut short or damaged.
#include "engine/containers/avi_reader.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::haveFixture;

namespace {

class MemorySource : public AviSource {
  public:
    explicit MemorySource(std::vector<uint8_t> b) : b_(std::move(b)) {}
    size_t read(uint64_t offset, uint8_t* to, size_t n) override {
        if (offset >= b_.size()) return 0;
        size_t k = std::min<size_t>(n, b_.size() - size_t(offset));
        std::memcpy(to, b_.data() + offset, k);
        return k;
    }
    uint64_t size() const override { return b_.size(); }

  private:
    std::vector<uint8_t> b_;
};

int openBytes(const std::vector<uint8_t>& b, AviFile& f) {
    MemorySource src(b);
    return readAvi(src, true, f);
}

// The chunk each index entry points at really carries its id and length.
void expectChunksAt(const std::vector<uint8_t>& file, const std::vector<AviChunk>& index,
                    const char* id) {
    for (const AviChunk& c : index) {
        ASSERT_GE(c.offset, 8u);
        ASSERT_LE(c.offset + c.length, file.size());
        EXPECT_EQ(std::memcmp(file.data() + c.offset - 8, id, 4), 0);
        uint32_t len;
        std::memcpy(&len, file.data() + c.offset - 4, 4);
        EXPECT_EQ(len, c.length);
    }
}

} // namespace

TEST(AviReader, Mp3SoundIndexedFromTheMoviList) {
    ASSERT_TRUE(haveFixture("avi_mp3_44k.avi"));
    AviReader r;
    ASSERT_EQ(r.open(fixture("avi_mp3_44k.avi"), true), 0);
    const AviFile& f = r.info();
    // The sound is the first stream here, the video the second.
    EXPECT_EQ(f.audioStream, 0);
    EXPECT_EQ(f.videoStream, 1);
    EXPECT_STREQ(f.videoId, "01db");
    EXPECT_STREQ(f.audioId, "00wb");
    EXPECT_EQ(f.width, 160);
    EXPECT_EQ(f.height, 120);
    EXPECT_DOUBLE_EQ(f.frameRate(), 25.0);
    EXPECT_EQ(f.formatTag, 0x55);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.sampleRate, 44100);
    EXPECT_EQ(f.indexSource, AviIndexSource::FromMovi);
    EXPECT_NEAR(double(f.videoIndex.size()), 150.0, 1.0); // 6 s at 25 frames per second
    ASSERT_GT(f.audioIndex.size(), 100u);
    auto bytes = kestrel::test::readFile(fixture("avi_mp3_44k.avi"));
    expectChunksAt(bytes, f.audioIndex, "00wb");
    uint64_t total = 0;
    for (const AviChunk& c : f.audioIndex) {
        EXPECT_EQ(c.before, total);
        total += c.length;
    }
    EXPECT_EQ(f.audioBytes, total);
    // 128 kbit/s for 6 s, within a frame or two.
    EXPECT_NEAR(double(total), 128000.0 / 8 * 6, 1500);
}

TEST(AviReader, FileStartOffsetsAndNoIndexGiveTheSameAudioIndex) {
    for (const char* n : {"avi_mp3_44k.avi", "avi_mp3_44k_absidx.avi", "avi_mp3_44k_noidx.avi"})
        ASSERT_TRUE(haveFixture(n)) << n;
    AviReader a, b, c;
    ASSERT_EQ(a.open(fixture("avi_mp3_44k.avi"), true), 0);
    ASSERT_EQ(b.open(fixture("avi_mp3_44k_absidx.avi"), true), 0);
    ASSERT_EQ(c.open(fixture("avi_mp3_44k_noidx.avi"), true), 0);
    EXPECT_EQ(b.info().indexSource, AviIndexSource::FromFileStart);
    EXPECT_EQ(c.info().indexSource, AviIndexSource::Scanned);
    for (const AviReader* r : {&b, &c}) {
        ASSERT_EQ(r->info().audioIndex.size(), a.info().audioIndex.size());
        ASSERT_EQ(r->info().videoIndex.size(), a.info().videoIndex.size());
        for (size_t i = 0; i < a.info().audioIndex.size(); ++i) {
            EXPECT_EQ(r->info().audioIndex[i].offset, a.info().audioIndex[i].offset);
            EXPECT_EQ(r->info().audioIndex[i].length, a.info().audioIndex[i].length);
        }
    }
}

TEST(AviReader, AdpcmFormatKeptWhole) {
    ASSERT_TRUE(haveFixture("avi_adpcm_22k.avi"));
    AviReader r;
    ASSERT_EQ(r.open(fixture("avi_adpcm_22k.avi"), true), 0);
    const AviFile& f = r.info();
    EXPECT_EQ(f.formatTag, 0x11);
    EXPECT_EQ(f.sampleRate, 22050);
    EXPECT_EQ(f.channels, 2);
    EXPECT_GT(f.blockAlign, 0);
    // WAVEFORMATEX with its extra bytes (samples per block).
    EXPECT_GE(f.audioFormat.size(), 20u);
    EXPECT_FALSE(f.audioIndex.empty());
}

TEST(AviReader, VideoOnlyOpensWithAudioId99AndNoAudioOnlyIsRefused) {
    ASSERT_TRUE(haveFixture("avi_video_only.avi"));
    ASSERT_TRUE(haveFixture("avi_audio_only.avi"));
    AviReader r;
    ASSERT_EQ(r.open(fixture("avi_video_only.avi"), true), 0);
    EXPECT_STREQ(r.info().audioId, "99wb");
    EXPECT_TRUE(r.info().audioIndex.empty());
    EXPECT_FALSE(r.info().videoIndex.empty());
    AviReader s;
    EXPECT_EQ(s.open(fixture("avi_audio_only.avi"), true), kAviNoVideo);
    EXPECT_EQ(s.error(), kAviNoVideo);
    EXPECT_STREQ(aviErrorText(s.error()), "avilib - AVI file has no video data");
}

TEST(AviReader, RefusalsCarryTheFamilysCodes) {
    AviReader r;
    EXPECT_EQ(r.open("/nonexistent/kestrel.avi", true), kAviOpen);
    AviFile f;
    EXPECT_EQ(openBytes({'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, f), kAviNotAvi);
    EXPECT_EQ(openBytes({'R', 'I', 'F'}, f), kAviNotAvi);
    // The case of the form type does not matter; a file with only "movi".
    std::vector<uint8_t> noHdrl = {'r', 'i', 'f', 'f', 16, 0, 0, 0, 'a', 'v', 'i', ' ',
                                   'L', 'I', 'S', 'T', 4,  0, 0, 0, 'm', 'o', 'v', 'i'};
    EXPECT_EQ(openBytes(noHdrl, f), kAviNoHeaderList);
    ASSERT_TRUE(haveFixture("avi_mp3_44k.avi"));
    auto bytes = kestrel::test::readFile(fixture("avi_mp3_44k.avi"));
    auto noMovi = bytes;
    size_t movi =
        size_t(std::search(noMovi.begin(), noMovi.end(), "movi", "movi" + 4) - noMovi.begin());
    ASSERT_LT(movi, noMovi.size());
    std::memcpy(noMovi.data() + movi, "junk", 4);
    EXPECT_EQ(openBytes(noMovi, f), kAviNoMovi);
    EXPECT_STREQ(aviErrorText(kAviNoMovi), "avilib - AVI file has no MOVI list (corrupted?)");
    EXPECT_STREQ(aviErrorText(99), "avilib - No Error");
}

TEST(AviReader, IndexThatFitsNeitherBaseIsRebuilt) {
    ASSERT_TRUE(haveFixture("avi_mp3_44k.avi"));
    auto bytes = kestrel::test::readFile(fixture("avi_mp3_44k.avi"));
    AviFile good;
    ASSERT_EQ(openBytes(bytes, good), 0);
    // Shift every idx1 offset by 2: they point at neither base any more.
    size_t at = bytes.size();
    for (size_t i = bytes.size() - 4; i > 0; --i)
        if (std::memcmp(bytes.data() + i, "idx1", 4) == 0) {
            at = i;
            break;
        }
    ASSERT_LT(at, bytes.size());
    uint32_t size;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    for (size_t e = at + 8; e + 16 <= at + 8 + size; e += 16) {
        uint32_t off;
        std::memcpy(&off, bytes.data() + e + 8, 4);
        off += 2;
        std::memcpy(bytes.data() + e + 8, &off, 4);
    }
    AviFile f;
    ASSERT_EQ(openBytes(bytes, f), 0);
    EXPECT_EQ(f.indexSource, AviIndexSource::Scanned);
    ASSERT_EQ(f.audioIndex.size(), good.audioIndex.size());
    EXPECT_EQ(f.audioIndex.back().offset, good.audioIndex.back().offset);
}

TEST(AviReader, CutAtAThirdKeepsWhatIsThere) {
    ASSERT_TRUE(haveFixture("avi_mp3_44k.avi"));
    auto bytes = kestrel::test::readFile(fixture("avi_mp3_44k.avi"));
    AviFile whole;
    ASSERT_EQ(openBytes(bytes, whole), 0);
    bytes.resize(bytes.size() / 3);
    AviFile f;
    ASSERT_EQ(openBytes(bytes, f), 0);
    EXPECT_EQ(f.indexSource, AviIndexSource::Scanned);
    ASSERT_FALSE(f.audioIndex.empty());
    EXPECT_LT(f.audioIndex.size(), whole.audioIndex.size());
    EXPECT_GT(f.audioIndex.size(), whole.audioIndex.size() / 5);
    for (const AviChunk& c : f.audioIndex)
        EXPECT_LE(c.offset + c.length, bytes.size());
}

TEST(AviReader, DamagedHeadersAreRefusedOrReadWithinTheFile) {
    ASSERT_TRUE(haveFixture("avi_mp3_44k.avi"));
    const auto original = kestrel::test::readFile(fixture("avi_mp3_44k.avi"));
    std::mt19937 rng(13);
    int opened = 0;
    for (int round = 0; round < 300; ++round) {
        auto b = original;
        // Random bytes over the header area, and now and then the index.
        for (int k = 0; k < 12; ++k)
            b[rng() % 2200] = uint8_t(rng());
        if (round % 3 == 0)
            for (int k = 0; k < 40; ++k)
                b[b.size() - 1 - rng() % 4000] = uint8_t(rng());
        AviFile f;
        int rc = openBytes(b, f);
        if (rc != 0) {
            EXPECT_TRUE(rc == kAviNotAvi || rc == kAviNoHeaderList || rc == kAviNoMovi ||
                        rc == kAviNoVideo)
                << rc;
            continue;
        }
        ++opened;
        for (const AviChunk& c : f.audioIndex)
            ASSERT_LE(c.offset + c.length, b.size());
        for (const AviChunk& c : f.videoIndex)
            ASSERT_LE(c.offset + c.length, b.size());
    }
    EXPECT_GT(opened, 0);
}

TEST(AviReader, NeverAsksItsSourceForNothing) {
    // An empty header list: the reader must not hand its source a read of
    // 0 bytes into an empty buffer (a null pointer).
    struct Counting : MemorySource {
        using MemorySource::MemorySource;
        size_t read(uint64_t offset, uint8_t* to, size_t n) override {
            if (n == 0 || !to) ++empty;
            return MemorySource::read(offset, to, n);
        }
        int empty = 0;
    };
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 28, 0,   0,   0,   'A', 'V', 'I', ' ',
                              'L', 'I', 'S', 'T', 4,  0,   0,   0,   'h', 'd', 'r', 'l',
                              'L', 'I', 'S', 'T', 4,  0,   0,   0,   'm', 'o', 'v', 'i'};
    Counting src(b);
    AviFile f;
    EXPECT_EQ(readAvi(src, true, f), kAviNoVideo);
    EXPECT_EQ(src.empty, 0);
}
