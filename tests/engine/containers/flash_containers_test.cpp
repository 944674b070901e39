// The Flash containers read as files made by tools and as hand-made damaged
// ones: the FLV tag walk and index, the SWF sound index and the Flash and
// AMV ADPCM decoders (against ffmpeg's decode of the same streams).
#include "engine/containers/flash_adpcm.h"
#include "engine/containers/flv.h"
#include "engine/containers/swf.h"
#include "engine/libraries/lib_inflator.h"
#include "engine/libraries/lib_orvomtvdec.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace kestrel;
using namespace kestrel::test;

namespace {

void be(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> flvHeader(uint32_t headerSize = 9) {
    std::vector<uint8_t> b = {'F', 'L', 'V', 1, 4};
    be(b, headerSize, 4);
    return b;
}

// One tag with its previous-tag-size field first.
void flvTag(std::vector<uint8_t>& b, int type, const std::vector<uint8_t>& data, uint32_t ms,
            uint32_t statedSize = 0xFFFFFFFF) {
    be(b, 0, 4);
    b.push_back(uint8_t(type));
    be(b, statedSize == 0xFFFFFFFF ? uint32_t(data.size()) : statedSize, 3);
    be(b, ms & 0xFFFFFF, 3);
    b.push_back(uint8_t(ms >> 24));
    be(b, 0, 3);
    b.insert(b.end(), data.begin(), data.end());
}

struct OpenFile {
    explicit OpenFile(const std::string& path) : f(std::fopen(path.c_str(), "rb")) {}
    ~OpenFile() {
        if (f) std::fclose(f);
    }
    FILE* f;
};

std::vector<FlvIndexEntry> indexOf(const TempDir& dir, const std::vector<uint8_t>& bytes) {
    std::string p = dir.file("t.flv");
    writeFile(p, bytes);
    OpenFile f(p);
    std::vector<FlvIndexEntry> index;
    buildFlvIndex(f.f, bytes.size(), index);
    return index;
}

std::vector<int16_t> s16(const std::vector<uint8_t>& b) {
    std::vector<int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// SWF tag with the short or long header.
void swfTag(std::vector<uint8_t>& m, int code, const std::vector<uint8_t>& body,
            bool forceLong = false, uint32_t statedLong = 0) {
    if (body.size() < 63 && !forceLong) {
        uint16_t h = uint16_t((code << 6) | body.size());
        m.push_back(uint8_t(h)), m.push_back(uint8_t(h >> 8));
    } else {
        uint16_t h = uint16_t((code << 6) | 63);
        m.push_back(uint8_t(h)), m.push_back(uint8_t(h >> 8));
        uint32_t n = statedLong ? statedLong : uint32_t(body.size());
        for (int i = 0; i < 4; ++i)
            m.push_back(uint8_t(n >> (8 * i)));
    }
    m.insert(m.end(), body.begin(), body.end());
}

// A movie at 12 frames per second, `frames` frames, empty rectangle.
std::vector<uint8_t> swfStart(int frames) {
    std::vector<uint8_t> m = {
        'F', 'W', 'S', 6, 0, 0, 0, 0, 0, 0, 12, uint8_t(frames), uint8_t(frames >> 8)};
    return m;
}

std::vector<uint8_t> defineSound(uint8_t format, uint32_t samples) {
    std::vector<uint8_t> b = {1, 0, format};
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(samples >> (8 * i)));
    b.resize(b.size() + 16, 0);
    return b;
}

} // namespace

TEST(FlvIndex, AudioTagsOnlyWithPayloadOffsetsAndTimestamps) {
    TempDir dir;
    auto b = flvHeader();
    flvTag(b, 8, {0x2F, 1, 2, 3, 4}, 0);
    flvTag(b, 9, std::vector<uint8_t>(10, 0x17), 40); // video: skipped by its size
    flvTag(b, 8, {0x2F, 5, 6}, 0x01000010);           // extended time stamp byte
    auto index = indexOf(dir, b);
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].offset, 9u + 15 + 1);
    EXPECT_EQ(index[0].length, 4u);
    EXPECT_EQ(index[0].timestamp, 0u);
    EXPECT_EQ(index[1].offset, 9u + 20 + 25 + 15 + 1);
    EXPECT_EQ(index[1].length, 2u);
    EXPECT_EQ(index[1].timestamp, 0x01000010u);
}

TEST(FlvIndex, StopsAt524288EntriesWhileTheScanCountsEveryTag) {
    TempDir dir;
    auto b = flvHeader();
    b.reserve(9 + 600000 * 17);
    for (uint32_t i = 0; i < 600000; ++i)
        flvTag(b, 8, {0x2E, uint8_t(i)}, i);
    auto index = indexOf(dir, b);
    EXPECT_EQ(index.size(), kFlvIndexMax);
    OpenFile f(dir.file("t.flv"));
    FlvAudioScan scan;
    ASSERT_EQ(scanFlvAudio(f.f, b.size(), scan), 0);
    EXPECT_EQ(scan.audioTags, 600000);
    EXPECT_EQ(scan.lastTimestamp, 599999u);
}

TEST(FlvIndex, LengthsAndOffsetsFromTheFileAreChecked) {
    TempDir dir;
    // A header size below the header itself starts at the first tag.
    auto b = flvHeader(0);
    flvTag(b, 8, {0x2F, 1, 2}, 0);
    EXPECT_EQ(indexOf(dir, b).size(), 1u);
    // A header size past the end: no tags.
    EXPECT_TRUE(indexOf(dir, flvHeader(0x7FFFFFFF)).empty());
    // A data size past the end: the payload is cut to what is there, and
    // the walk ends.
    b = flvHeader();
    flvTag(b, 8, {0x2F, 1, 2, 3}, 0, 0xFFFFFF);
    auto index = indexOf(dir, b);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0].length, 3u);
    // An audio tag of size 0 has no header byte and is no entry.
    b = flvHeader();
    flvTag(b, 8, {}, 0);
    flvTag(b, 8, {0x2F, 9}, 5);
    EXPECT_EQ(indexOf(dir, b).size(), 1u);
    // Not FLV: nothing.
    b = flvHeader();
    b[3] = 2;
    EXPECT_TRUE(indexOf(dir, b).empty());
}

TEST(FlvScan, FirstAudioTagDecidesTheFormat) {
    TempDir dir;
    auto b = flvHeader();
    flvTag(b, 9, {0x17}, 0);
    flvTag(b, 8, {0x0C}, 10); // PCM, 44.1 kHz, 8-bit, mono
    flvTag(b, 8, {0x2F}, 185999);
    std::string p = dir.file("s.flv");
    writeFile(p, b);
    OpenFile f(p);
    FlvAudioScan scan;
    ASSERT_EQ(scanFlvAudio(f.f, b.size(), scan), 0);
    EXPECT_EQ(scan.soundFormat, 0);
    EXPECT_EQ(scan.bitsPerSample, 8);
    EXPECT_EQ(scan.channels, 1);
    EXPECT_EQ(scan.sampleRate, 44100);
    EXPECT_EQ(scan.audioTags, 2);
    EXPECT_EQ(scan.lastTimestamp, 185999u);
    EXPECT_EQ(flvRate(0), 5512.5);
}

TEST(SwfParse, TagNamesOfTheTable) {
    EXPECT_STREQ(swfTagName(14), "DefineSound");
    EXPECT_STREQ(swfTagName(45), "SoundStreamHead2");
    EXPECT_STREQ(swfTagName(63), "MX4");
    EXPECT_STREQ(swfTagName(16), "");
    EXPECT_STREQ(swfTagName(64), "");
    EXPECT_STREQ(swfTagName(-1), "");
}

TEST(SwfParse, DefineSoundGivesItsDurationAStreamTheMoviesLength) {
    auto m = swfStart(60);
    swfTag(m, 14, defineSound(0x1B, 22050 * 7)); // ADPCM 22050 Hz stereo 16-bit
    swfTag(m, 1, {});
    swfTag(m, 0, {});
    SwfMovie movie;
    ASSERT_EQ(parseSwf(m, nullptr, movie), SwfResult::Ok);
    ASSERT_EQ(movie.sounds.size(), 1u);
    EXPECT_EQ(movie.sounds[0].characterId, 1);
    EXPECT_EQ(movie.sound().format, 1);
    EXPECT_EQ(movie.sound().rate, 22050);
    EXPECT_EQ(movie.sound().channels, 2);
    EXPECT_EQ(movie.durationSec(), 7);

    // MPEG audio stream blocks begin with their sample count: 115 x 1152
    // samples at 44100 Hz are 3 seconds, whatever the header's frame count.
    auto s = swfStart(6000);
    swfTag(s, 18, {0x0E, 0x2E, 0, 0});
    for (int i = 0; i < 115; ++i)
        swfTag(s, 19, {0x80, 0x04, 0, 0, 0xFF});
    swfTag(s, 0, {});
    ASSERT_EQ(parseSwf(s, nullptr, movie), SwfResult::Ok);
    EXPECT_TRUE(movie.playsStream());
    EXPECT_EQ(movie.sound().format, 2);
    EXPECT_EQ(movie.sound().rate, 44100);
    EXPECT_EQ(movie.sounds[0].characterId, -1);
    EXPECT_EQ(movie.durationSec(), 3);
    // Other streams: the header's samples per block (50 x 4410 at 22050 Hz).
    s = swfStart(6000);
    swfTag(s, 45, {0x0A, 0x1A, 0x3A, 0x11});
    for (int i = 0; i < 50; ++i)
        swfTag(s, 19, {0x80, 0x04, 0, 0, 0xFF});
    swfTag(s, 0, {});
    ASSERT_EQ(parseSwf(s, nullptr, movie), SwfResult::Ok);
    EXPECT_EQ(movie.sound().format, 1);
    EXPECT_EQ(movie.sound().bits, 16);
    EXPECT_EQ(movie.durationSec(), 10);
    // Neither: the movie's frames over its frame rate (60 at 12 per second).
    s = swfStart(60);
    swfTag(s, 18, {0x0A, 0x1A, 0, 0});
    swfTag(s, 19, {1});
    ASSERT_EQ(parseSwf(s, nullptr, movie), SwfResult::Ok);
    EXPECT_EQ(movie.durationSec(), 5);
}

TEST(SwfParse, TheStreamsOwnFieldsDescribeItsData) {
    // Playback advice 44.1 kHz stereo; the stream is ADPCM at 22050 Hz mono.
    auto s = swfStart(12);
    swfTag(s, 45, {0x0F, 0x18, 0, 0});
    swfTag(s, 19, {1, 2, 3});
    SwfMovie movie;
    ASSERT_EQ(parseSwf(s, nullptr, movie), SwfResult::Ok);
    EXPECT_EQ(movie.sound().format, 1);
    EXPECT_EQ(movie.sound().rate, 22050);
    EXPECT_EQ(movie.sound().channels, 1);
    EXPECT_EQ(movie.sound().bits, 8);
    // DefineSound of 8-bit PCM keeps its sample size.
    auto e = swfStart(1);
    swfTag(e, 14, defineSound(0x04, 11025));
    ASSERT_EQ(parseSwf(e, nullptr, movie), SwfResult::Ok);
    EXPECT_FALSE(movie.playsStream());
    EXPECT_EQ(movie.sound().bits, 8);
    EXPECT_EQ(movie.sound().rate, 11025);
    EXPECT_EQ(movie.durationSec(), 1);
}

TEST(SwfParse, LengthsCountsAndSignaturesAreChecked) {
    SwfMovie movie;
    // A long tag length past the data ends the walk with what was indexed.
    auto m = swfStart(1);
    swfTag(m, 19, {1, 2, 3});
    swfTag(m, 19, {1, 2, 3}, true, 0xFFFFFFF0);
    ASSERT_EQ(parseSwf(m, nullptr, movie), SwfResult::Ok);
    EXPECT_EQ(movie.sounds.size(), 1u);
    // A header cut inside the rectangle, a long length cut in half.
    std::vector<uint8_t> cut = {'F', 'W', 'S', 6, 0, 0, 0, 0, 0xF8, 0};
    EXPECT_EQ(parseSwf(cut, nullptr, movie), SwfResult::Ok);
    EXPECT_TRUE(movie.sounds.empty());
    m = swfStart(1);
    m.push_back(0xFF), m.push_back(0x04), m.push_back(1);
    EXPECT_EQ(parseSwf(m, nullptr, movie), SwfResult::Ok);
    // At most 99,999 sound entries.
    m = swfStart(1);
    for (int i = 0; i < 100050; ++i)
        swfTag(m, 19, {0});
    ASSERT_EQ(parseSwf(m, nullptr, movie), SwfResult::Ok);
    EXPECT_EQ(movie.sounds.size(), kSwfSoundIndexMax);
    // Signatures.
    EXPECT_EQ(parseSwf({'F', 'W', 'S'}, nullptr, movie), SwfResult::TooShort);
    EXPECT_EQ(parseSwf(std::vector<uint8_t>(20, 'x'), nullptr, movie), SwfResult::NotSwf);
    std::vector<uint8_t> z = swfStart(1);
    z[0] = 'Z';
    EXPECT_EQ(parseSwf(z, nullptr, movie), SwfResult::Compressed);
    z[0] = 'C';
    EXPECT_EQ(parseSwf(z, nullptr, movie), SwfResult::Compressed);
}

TEST(SwfParse, CompressedMovieInflatesToTheSameSound) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadInflator(), 0);
    SwfMovie plain, packed;
    ASSERT_EQ(parseSwf(readFile(fixture("flash_mp3_stream.swf")), nullptr, plain), SwfResult::Ok);
    ASSERT_EQ(parseSwf(readFile(fixture("flash_mp3_compressed.swf")), inflator.uncompress, packed),
              SwfResult::Ok);
    EXPECT_TRUE(packed.compressed);
    ASSERT_EQ(packed.data.size(), plain.data.size());
    EXPECT_TRUE(std::equal(packed.data.begin() + 1, packed.data.end(), plain.data.begin() + 1));
    EXPECT_EQ(packed.sounds.size(), plain.sounds.size());
    EXPECT_GT(plain.streamBlocks, 50);
    // The stated length is no more than a guess (ffmpeg leaves a stand-in
    // there): a wrong one inflates all the same.
    auto bad = readFile(fixture("flash_mp3_compressed.swf"));
    for (uint32_t stated : {0u, 9u, 1000u, 0xFFFFFFFFu}) {
        std::memcpy(bad.data() + 4, &stated, 4);
        ASSERT_EQ(parseSwf(bad, inflator.uncompress, packed), SwfResult::Ok) << stated;
        EXPECT_EQ(packed.sounds.size(), plain.sounds.size()) << stated;
    }
    // Damaged data, and data cut at a third.
    auto cut = readFile(fixture("flash_mp3_compressed.swf"));
    cut.resize(cut.size() / 3);
    ASSERT_EQ(parseSwf(cut, inflator.uncompress, packed), SwfResult::Ok);
    EXPECT_GT(packed.sounds.size(), 5u);
    EXPECT_LT(packed.sounds.size(), plain.sounds.size());
    bad = readFile(fixture("flash_mp3_compressed.swf"));
    for (size_t i = 8; i < 40; ++i)
        bad[i] ^= 0x5A;
    EXPECT_EQ(parseSwf(bad, inflator.uncompress, packed), SwfResult::InflateFailed);
    unloadInflator();
}

TEST(FlashAdpcm, FourBitStereoPacketGives8192Samples) {
    // Code size 4 (field 2), then one packet: 2 x 22 header bits and 4095 x 2
    // codes of 4 bits.
    const size_t bits = 2 + 44 + 4095 * 2 * 4;
    std::vector<uint8_t> data((bits + 7) / 8, 0);
    data[0] = 0x80;
    std::vector<int16_t> out(10000);
    EXPECT_EQ(decodeFlashAdpcm(data.data(), data.size(), 2, out.data(), out.size()), 8192u);
    // The output capacity is respected, in whole sample frames.
    EXPECT_EQ(decodeFlashAdpcm(data.data(), data.size(), 2, out.data(), 101), 100u);
    FlashAdpcmDecoder d;
    d.begin(data.data(), data.size(), 2);
    EXPECT_EQ(d.packets(), 1u);
    EXPECT_EQ(decodeFlashAdpcm(data.data(), 0, 2, out.data(), out.size()), 0u);
}

TEST(FlashAdpcm, MatchesFfmpegOnFlvTags) {
    for (const char* name : {"flash_adpcm_22k_mono.flv", "flash_adpcm_44k_st.flv"}) {
        SCOPED_TRACE(name);
        std::string path = fixture(name);
        auto bytes = readFile(path);
        OpenFile f(path);
        std::vector<FlvIndexEntry> index;
        ASSERT_GT(buildFlvIndex(f.f, bytes.size(), index), 10);
        std::vector<int16_t> pcm;
        for (const auto& e : index) {
            const int ch = (bytes[e.offset - 1] & 1) ? 2 : 1;
            std::vector<int16_t> out(8192 * 2);
            size_t n =
                decodeFlashAdpcm(bytes.data() + e.offset, e.length, ch, out.data(), out.size());
            pcm.insert(pcm.end(), out.begin(), out.begin() + long(n));
        }
        auto ref = s16(readFile(fixture(std::string(name) + ".ref.s16")));
        ASSERT_EQ(pcm.size(), ref.size());
        EXPECT_EQ(pcm, ref);
    }
}

TEST(FlashAdpcm, EventSoundInPiecesEqualsTheWhole) {
    auto movieBytes = readFile(fixture("flash_adpcm_event.swf"));
    SwfMovie movie;
    ASSERT_EQ(parseSwf(movieBytes, nullptr, movie), SwfResult::Ok);
    ASSERT_EQ(movie.sounds.size(), 1u);
    const auto& s = movie.sounds[0];
    const uint8_t* data = movie.data.data() + s.offset + 7;
    const size_t size = s.length - 7;
    FlashAdpcmDecoder d;
    d.begin(data, size, 1);
    std::vector<int16_t> pieces;
    int16_t buf[1000];
    size_t n;
    while ((n = d.decode(buf, 1000)) > 0)
        pieces.insert(pieces.end(), buf, buf + n);
    auto ref = s16(readFile(fixture("flash_adpcm_event.swf.ref.s16")));
    EXPECT_EQ(pieces, ref);
    EXPECT_EQ(pieces.size(), movie.sound().sampleCount);
    // A jump to a packet decodes from its start.
    d.seekPacket(2);
    ASSERT_EQ(d.decode(buf, 1000), 1000u);
    EXPECT_TRUE(std::equal(buf, buf + 1000, ref.begin() + 2 * 4096));
}

TEST(AmvAdpcm, BlocksMatchFfmpeg) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadOrvomtvdec(), 0);
    OrvomtvdecApi& d = orvomtvdec;
    std::vector<uint8_t> block(MTVDEC_MAX_BLOCK);
    // 1470 samples a block, and 2205: an odd count leaves one nibble unused.
    for (const char* name : {"flash_22k.amv", "flash_10fps.amv"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(d.amv_init(fixture(name).c_str()), 0);
        int rate = 0, ch = 0, blocks = 0;
        ASSERT_EQ(d.amv_getaudio(&rate, &ch, &blocks), 0);
        std::vector<int16_t> pcm;
        for (int i = 0; i < blocks; ++i) {
            int n = d.amv_getdata(i, block.data(), int(block.size()));
            ASSERT_GT(n, 8);
            uint32_t stated;
            std::memcpy(&stated, block.data() + 4, 4);
            std::vector<int16_t> out(2 * size_t(n));
            size_t got = decodeAmvBlock(block.data(), size_t(n), out.data(), out.size());
            EXPECT_EQ(got, stated);
            pcm.insert(pcm.end(), out.begin(), out.begin() + long(got));
        }
        d.amv_close();
        auto ref = s16(readFile(fixture(std::string(name) + ".ref.s16")));
        Comparison c = compareAudio(pcm, ref, 1, 100);
        EXPECT_EQ(c.lag, 0);
        EXPECT_GE(c.snrDb, 40.0);
        EXPECT_EQ(c.lengthDiff, 0);
    }
    unloadOrvomtvdec();
    // Short blocks, a small capacity, and a stated count below the codes.
    uint8_t b[12] = {0, 0, 0, 0, 5, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
    int16_t few[8];
    EXPECT_EQ(decodeAmvBlock(b, 7, few, 8), 0u);
    EXPECT_EQ(decodeAmvBlock(b, 12, few, 3), 3u);
    EXPECT_EQ(decodeAmvBlock(b, 12, few, 8), 5u);
    b[4] = 0;
    EXPECT_EQ(decodeAmvBlock(b, 12, few, 8), 8u);
}
