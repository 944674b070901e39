// The frame decoder (mp3_open / mp3_play in numbered slots): Layer I frames
// built here and checked against mpg123, and its argument rules.
#include "mp3dec_helpers.h"

#include <gtest/gtest.h>

#include <random>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct BitWriter {
    std::vector<uint8_t> bytes;
    int bit = 0;
    void put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bit == 0) bytes.push_back(0);
            if ((v >> i) & 1) bytes.back() |= uint8_t(0x80 >> bit);
            bit = (bit + 1) & 7;
        }
    }
};

// A Layer I stream of random but valid frames: 44.1 kHz, 384 kbit/s, joint
// stereo (bound 8) or stereo.
std::vector<uint8_t> makeLayer1Stream(int frames, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    for (int f = 0; f < frames; ++f) {
        bool joint = f % 3 == 1;
        BitWriter w;
        w.put(0xFFF, 12);
        w.put(1, 1);  // MPEG-1
        w.put(3, 2);  // Layer I
        w.put(1, 1);  // no CRC
        w.put(12, 4); // 384 kbit/s
        w.put(0, 2);  // 44.1 kHz
        w.put(0, 1);  // no padding: 416 bytes
        w.put(0, 1);
        w.put(joint ? 1 : 0, 2);
        w.put(1, 2); // bound 8 when joint
        w.put(0, 4);
        int bound = joint ? 8 : 32;
        int alloc[2][32] = {};
        for (int sb = 0; sb < 32; ++sb) {
            int chans = sb < bound ? 2 : 1;
            for (int ch = 0; ch < chans; ++ch) {
                int a = sb < 20 ? int(rng() % 6) : 0;
                alloc[ch][sb] = a;
                w.put(uint32_t(a), 4);
            }
            if (sb >= bound) alloc[1][sb] = alloc[0][sb];
        }
        for (int sb = 0; sb < 32; ++sb)
            for (int ch = 0; ch < 2; ++ch)
                if (alloc[ch][sb]) w.put(20 + rng() % 30, 6);
        for (int s = 0; s < 12; ++s)
            for (int sb = 0; sb < 32; ++sb) {
                int chans = sb < bound ? 2 : 1;
                for (int ch = 0; ch < chans; ++ch) {
                    int a = alloc[ch][sb];
                    if (!a) continue;
                    int bits = a + 1;
                    w.put(uint32_t(rng() % ((1u << bits) - 1)), bits); // all ones is forbidden
                }
            }
        w.bytes.resize(416, 0);
        out.insert(out.end(), w.bytes.begin(), w.bytes.end());
    }
    return out;
}

TEST(Mp3decFrames, LayerOneMatchesReferenceDecoder) {
    TempDir dir;
    std::string path = dir.file("random.mp1");
    writeFile(path, makeLayer1Stream(60, 5));
    Pcm ours = decodeFrames(splitFrames(readFile(path)));
    ASSERT_EQ(ours.frames, 60);
    ASSERT_EQ(ours.channels, 2);
    ASSERT_EQ(ours.rate, 44100);
    std::vector<int16_t> ref = mpg123Decode(path);
    ASSERT_FALSE(ref.empty());
    Difference d = bestAlignment(ours.samples, ref, 384, 2);
    EXPECT_EQ(d.offset, 0);
    EXPECT_LT(d.rms, 1.0);
    EXPECT_LE(d.maxAbs, 4);
    EXPECT_GT(d.compared, ref.size() * 9 / 10);
}

TEST(Mp3decFrames, OpenReadsTheXingHeaderOfTheFirstFrame) {
    auto frames = splitFrames(readFile(fixture("dec_l3_44_vbr.mp3")));
    std::vector<uint8_t> rec(kFrameRecordBytes);
    makeFrameRecord(rec.data(), frames[0].data(), int(frames[0].size()));
    ASSERT_EQ(mp3_open(3, rec.data()), 1);
    FrameSlotInfo info;
    ASSERT_TRUE(mp3_slot_info(3, &info));
    EXPECT_EQ(info.layer, 3);
    EXPECT_EQ(info.version, 0);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.vbrKind, 2);
    EXPECT_EQ(size_t(info.vbrFrames), frames.size() - 1); // the header frame is not counted
    EXPECT_EQ(mp3_close(3), 0);
    EXPECT_FALSE(mp3_slot_info(3, &info));
}

TEST(Mp3decFrames, PlayRefusesWhatDoesNotFitOrDoesNotParse) {
    auto frames = splitFrames(readFile(fixture("dec_l2_44_192.mp2")));
    std::vector<uint8_t> recs(3 * kFrameRecordBytes);
    for (int i = 0; i < 3; ++i)
        makeFrameRecord(&recs[size_t(i) * kFrameRecordBytes], frames[size_t(i)].data(),
                        int(frames[size_t(i)].size()));
    ASSERT_EQ(mp3_open(11, recs.data()), 1);
    std::vector<uint8_t> out(3 * 4608 + 100);
    EXPECT_EQ(mp3_play(11, recs.data(), 3, out.data(), 3 * 4608), 3 * 4608);
    EXPECT_EQ(mp3_play(11, recs.data(), 3, out.data(), 2 * 4608 + 4607), -1); // third does not fit
    EXPECT_EQ(mp3_play(11, recs.data(), 0, out.data(), 0), 0);
    // A record whose length is out of range, and one without a header.
    std::vector<uint8_t> bad(kFrameRecordBytes);
    makeFrameRecord(bad.data(), frames[0].data(), 2);
    EXPECT_EQ(mp3_play(11, bad.data(), 1, out.data(), int(out.size())), -1);
    std::vector<uint8_t> junk(400, 0x12);
    makeFrameRecord(bad.data(), junk.data(), 400);
    EXPECT_EQ(mp3_play(11, bad.data(), 1, out.data(), int(out.size())), -1);
    EXPECT_EQ(mp3_open(11, bad.data()), 0);
    EXPECT_EQ(mp3_open(kFrameDecoderSlots, recs.data()), 0);
    EXPECT_EQ(mp3_open(-1, recs.data()), 0);
    EXPECT_EQ(mp3_play(kFrameDecoderSlots, recs.data(), 1, out.data(), int(out.size())), -1);
    EXPECT_EQ(mp3_close(11), 0);
    EXPECT_EQ(mp3_play(11, recs.data(), 1, out.data(), int(out.size())), -1);
}

TEST(Mp3decFrames, SlotsKeepTheirOwnState) {
    auto a = splitFrames(readFile(fixture("dec_l3_22_js.mp3")));
    auto b = splitFrames(readFile(fixture("dec_l2_48_js.mp2")));
    Pcm alone = decodeFrames(a, 1, 1);
    // The same stream interleaved frame by frame with another slot's stream.
    std::vector<uint8_t> ra(kFrameRecordBytes), rb(kFrameRecordBytes);
    makeFrameRecord(ra.data(), a[0].data(), int(a[0].size()));
    makeFrameRecord(rb.data(), b[0].data(), int(b[0].size()));
    ASSERT_EQ(mp3_open(1, ra.data()), 1);
    ASSERT_EQ(mp3_open(2, rb.data()), 1);
    std::vector<int16_t> mixed;
    std::vector<uint8_t> out(4608);
    for (size_t i = 0; i < a.size(); ++i) {
        makeFrameRecord(ra.data(), a[i].data(), int(a[i].size()));
        int n = mp3_play(1, ra.data(), 1, out.data(), int(out.size()));
        ASSERT_GT(n, 0);
        const int16_t* p = reinterpret_cast<const int16_t*>(out.data());
        mixed.insert(mixed.end(), p, p + n / 2);
        makeFrameRecord(rb.data(), b[i % b.size()].data(), int(b[i % b.size()].size()));
        ASSERT_GT(mp3_play(2, rb.data(), 1, out.data(), int(out.size())), 0);
    }
    mp3_close(1);
    mp3_close(2);
    EXPECT_EQ(mixed, alone.samples);
}

TEST(Mp3decFrames, RoutingHelperTellsLayerThreeFromTheRest) {
    const uint8_t l3[4] = {0xFF, 0xFB, 0x90, 0x44};   // MPEG-1 Layer III
    const uint8_t l3m2[4] = {0xFF, 0xF3, 0x90, 0xC4}; // MPEG-2 Layer III
    const uint8_t l2m2[4] = {0xFF, 0xF5, 0x90, 0xC4}; // MPEG-2 Layer II
    const uint8_t l1[4] = {0xFF, 0xFF, 0xC0, 0x00};   // MPEG-1 Layer I
    const uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x44};
    EXPECT_TRUE(mp3decAccepts(l3));
    EXPECT_TRUE(mp3decAccepts(l3m2));
    EXPECT_FALSE(mp3decAccepts(l2m2));
    EXPECT_FALSE(mp3decAccepts(l1));
    EXPECT_FALSE(mp3decAccepts(freeFormat));
}

TEST(Mp3decFrames, HuffmanTablesAreCompletePrefixCodes) {
    mpa::initHuffman();
    EXPECT_TRUE(mpa::huffmanTablesComplete());
}

} // namespace
