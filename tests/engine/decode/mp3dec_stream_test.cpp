// mp3dec's calling protocol: synchronisation, buffering, status codes and the
// output-size rules.
#include "mp3dec_helpers.h"

#include <gtest/gtest.h>

#include <random>

using namespace kestrel;
using namespace kestrel::test;

namespace {

struct Decoder {
    mp3dec_t h = nullptr;
    explicit Decoder(int down = 0, int eightBit = 0, int mono = 0) {
        EXPECT_EQ(mp3dec_open(&h, down, eightBit, mono, 1), SSC_OK);
    }
    ~Decoder() { mp3dec_close(h); }
    uint32_t feed(const uint8_t* p, size_t n) {
        uint32_t used = 0;
        EXPECT_EQ(mp3dec_feed(h, p, uint32_t(n), &used), SSC_OK);
        return used;
    }
    void feedAll(const std::vector<uint8_t>& d) { EXPECT_EQ(feed(d.data(), d.size()), d.size()); }
    Mp3Ssc decode(std::vector<uint8_t>& out, uint32_t& produced, uint32_t space = 4608) {
        out.assign(space, 0xEE);
        return mp3dec_decode(h, out.data(), space, &produced);
    }
};

std::vector<uint8_t> concat(const std::vector<std::vector<uint8_t>>& frames, size_t from,
                            size_t count) {
    std::vector<uint8_t> d;
    for (size_t i = from; i < from + count && i < frames.size(); ++i)
        d.insert(d.end(), frames[i].begin(), frames[i].end());
    return d;
}

bool allZero(const std::vector<uint8_t>& v, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (v[i]) return false;
    return true;
}

TEST(Mp3decStream, FullFrameWithTwentyBytesOfTheNextDecodesThenNeedsData) {
    auto frames = splitFrames(readFile(fixture("dec_l3_44_cbr128_js.mp3")));
    ASSERT_GT(frames.size(), 3u);
    ASSERT_EQ(frames[0].size(), 417u); // the Info frame of a 128 kbit/s 44.1 kHz stream
    Decoder d;
    std::vector<uint8_t> in = frames[0];
    in.insert(in.end(), frames[1].begin(), frames[1].begin() + 20);
    d.feedAll(in);
    std::vector<uint8_t> out;
    uint32_t produced = 1;
    EXPECT_EQ(d.decode(out, produced), SSC_OK);
    EXPECT_EQ(produced, 4608u); // 1152 samples x 2 channels x 2 bytes
    EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCNEEDDATA);
    EXPECT_EQ(produced, 0u);
    d.feed(frames[1].data() + 20, frames[1].size() - 20);
    EXPECT_EQ(d.decode(out, produced), SSC_OK); // verified against nothing after it: still decoded
    EXPECT_EQ(produced, 4608u);
}

TEST(Mp3decStream, IncompleteSecondHeaderKeepsSearching) {
    auto frames = splitFrames(readFile(fixture("dec_l3_44_cbr128_js.mp3")));
    Decoder d;
    std::vector<uint8_t> in = frames[0];
    in.insert(in.end(), frames[1].begin(), frames[1].begin() + 3);
    d.feedAll(in);
    std::vector<uint8_t> out;
    uint32_t produced;
    EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCSEARCHED);
    d.feed(frames[1].data() + 3, 1);
    EXPECT_EQ(d.decode(out, produced), SSC_OK);
}

TEST(Mp3decStream, Mpeg2MonoFrameGives1152Bytes) {
    auto frames = splitFrames(readFile(fixture("dec_l3_22_mono.mp3")));
    Decoder d;
    d.feedAll(concat(frames, 0, 3));
    std::vector<uint8_t> out;
    uint32_t produced;
    Mp3Ssc s = d.decode(out, produced);
    EXPECT_TRUE(s == SSC_OK || s == SSC_I_MPGA_NOMAINDATA) << std::hex << s;
    EXPECT_EQ(produced, 1152u);
    Mp3FrameInfo fi;
    ASSERT_EQ(mp3dec_frame_info(d.h, &fi), SSC_OK);
    EXPECT_EQ(fi.layer, 3);
    EXPECT_EQ(fi.version, 1);
    EXPECT_EQ(fi.channels, 1);
    EXPECT_EQ(fi.sampleRate, 22050);
    EXPECT_EQ(fi.outRate, 22050);
    EXPECT_EQ(fi.bitsPerSample, 16);
    EXPECT_EQ(fi.bitrate, 32000);
    EXPECT_EQ(fi.frameBits, int(frames[0].size() * 8));
    EXPECT_EQ(fi.durationMs, 26);
    EXPECT_TRUE(out[1152] == 0xEE); // nothing written past the frame
}

TEST(Mp3decStream, TooSmallOutputSpaceLeavesTheFrameBuffered) {
    auto frames = splitFrames(readFile(fixture("dec_l3_44_cbr128_js.mp3")));
    Decoder d;
    d.feedAll(concat(frames, 0, 3));
    std::vector<uint8_t> out;
    uint32_t produced = 7;
    EXPECT_EQ(d.decode(out, produced, 4000), SSC_E_MPGA_BUFFERTOOSMALL);
    EXPECT_EQ(produced, 0u);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; }));
    EXPECT_EQ(d.decode(out, produced, 4608), SSC_OK);
    EXPECT_EQ(produced, 4608u);
    Mp3FrameInfo fi;
    mp3dec_frame_info(d.h, &fi);
    EXPECT_EQ(fi.frameBits, int(frames[0].size() * 8)); // the same first frame
}

TEST(Mp3decStream, LayerTwoOnlyGivesSyncSearched) {
    std::vector<uint8_t> data = readFile(fixture("dec_l2_44_192.mp2"));
    Decoder d;
    std::vector<uint8_t> out;
    size_t pos = 0;
    int calls = 0;
    while (pos < data.size()) {
        pos += d.feed(data.data() + pos, std::min<size_t>(3000, data.size() - pos));
        uint32_t produced;
        EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCSEARCHED);
        EXPECT_EQ(produced, 0u);
        ++calls;
    }
    EXPECT_GT(calls, 10);
    mp3dec_end_of_input(d.h);
    uint32_t produced;
    EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCEOF);
    EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCEOF);
    EXPECT_FALSE(mp3decAccepts(data.data()));
}

TEST(Mp3decStream, Id3TagBeforeTheFirstFrameIsSkipped) {
    std::vector<uint8_t> plain = readFile(fixture("dec_l3_22_js.mp3"));
    std::vector<uint8_t> tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x17, 0x70}; // 3056 bytes
    std::mt19937 rng(7);
    for (int i = 0; i < 3056; ++i)
        tagged.push_back(uint8_t(rng()));
    for (int i = 0; i < 40; ++i)
        tagged[100 + i * 50] = 0xFF; // stray sync bytes
    tagged.insert(tagged.end(), plain.begin(), plain.end());
    Pcm a = decodeStream(plain);
    Pcm b = decodeStream(tagged);
    ASSERT_GT(a.frames, 100);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.samples, b.samples);
}

TEST(Mp3decStream, HeadersWithDifferentSamplingFieldsDoNotSynchronise) {
    // Two otherwise valid 128 kbit/s Layer III headers one frame apart, the
    // second with another sampling-frequency field.
    std::vector<uint8_t> d(417 + 417 + 4, 0);
    const uint8_t a[4] = {0xFF, 0xFB, 0x90, 0x44}; // 44.1 kHz
    const uint8_t b[4] = {0xFF, 0xFB, 0x94, 0x44}; // 48 kHz
    std::copy(a, a + 4, d.begin());
    std::copy(b, b + 4, d.begin() + 417);
    std::copy(a, a + 4, d.begin() + 417 + 417);
    Decoder dec;
    dec.feedAll(d);
    std::vector<uint8_t> out;
    uint32_t produced;
    EXPECT_EQ(dec.decode(out, produced), SSC_W_MPGA_SYNCSEARCHED);
    EXPECT_EQ(produced, 0u);
}

TEST(Mp3decStream, GarbageLosesSyncThenFramesLackMainDataAndAreSilent) {
    auto frames = splitFrames(readFile(fixture("dec_l3_44_cbr128_js.mp3")));
    std::vector<uint8_t> d = concat(frames, 0, 40);
    std::mt19937 rng(3);
    for (int i = 0; i < 700; ++i)
        d.push_back(uint8_t(rng() & 0x7F)); // no sync byte in it
    std::vector<uint8_t> tail = concat(frames, 60, 40);
    d.insert(d.end(), tail.begin(), tail.end());
    Decoder dec;
    std::vector<uint8_t> out;
    std::vector<Mp3Ssc> codes;
    std::vector<bool> silent;
    size_t pos = 0;
    for (int guard = 0; guard < 10000; ++guard) {
        uint32_t produced = 0;
        Mp3Ssc s = dec.decode(out, produced);
        if (produced) {
            codes.push_back(s);
            silent.push_back(allZero(out, produced));
            continue;
        }
        if (s == SSC_W_MPGA_SYNCLOST) codes.push_back(s);
        if (s == SSC_W_MPGA_SYNCEOF) break;
        if (pos < d.size())
            pos += dec.feed(d.data() + pos, std::min<size_t>(1000, d.size() - pos));
        else
            mp3dec_end_of_input(dec.h);
    }
    auto lost = std::find(codes.begin(), codes.end(), SSC_W_MPGA_SYNCLOST);
    ASSERT_NE(lost, codes.end());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), SSC_W_MPGA_SYNCLOST), 1);
    size_t at = size_t(lost - codes.begin());
    // Before the garbage: 40 frames minus the one lost at the jump.
    EXPECT_EQ(at, 39u);
    // After it: the first frames lack their main data and are silent.
    ASSERT_GT(codes.size(), at + 5);
    EXPECT_EQ(codes[at + 1], SSC_I_MPGA_NOMAINDATA);
    EXPECT_TRUE(silent[at]); // silent[] has no entry for the lost code: index shifts by one
    size_t decodedAfter = 0;
    for (size_t i = at + 1; i < codes.size(); ++i)
        if (codes[i] == SSC_OK) ++decodedAfter;
    EXPECT_GT(decodedAfter, 30u);
}

TEST(Mp3decStream, InvalidArgumentsAndHandles) {
    EXPECT_EQ(mp3dec_close(nullptr), SSC_E_INVALIDHANDLE);
    EXPECT_EQ(mp3dec_open(nullptr, 0, 0, 0, 1), SSC_E_INVALIDPARAM);
    uint32_t n;
    uint8_t buf[16] = {};
    EXPECT_EQ(mp3dec_feed(nullptr, buf, 16, &n), SSC_E_INVALIDHANDLE);
    EXPECT_EQ(mp3dec_decode(nullptr, buf, 16, &n), SSC_E_INVALIDHANDLE);
    mp3dec_t h;
    ASSERT_EQ(mp3dec_open(&h, 0, 0, 0, 1), SSC_OK);
    EXPECT_EQ(mp3dec_feed(h, buf, 16, nullptr), SSC_E_INVALIDPARAM);
    EXPECT_EQ(mp3dec_decode(h, buf, 16, &n), SSC_W_MPGA_SYNCSEARCHED);
    EXPECT_EQ(mp3dec_close(h), SSC_OK);
}

TEST(Mp3decStream, InputRingTakesAtMost8192Bytes) {
    std::vector<uint8_t> d(10000, 0x11);
    Decoder dec;
    EXPECT_EQ(dec.feed(d.data(), d.size()), 8192u);
    EXPECT_EQ(dec.feed(d.data(), d.size()), 0u);
}

TEST(Mp3decStream, XingFrameIsOneFrameOfSilence) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_44_vbr.mp3"));
    auto frames = splitFrames(data);
    Decoder d;
    d.feedAll(concat(frames, 0, 4));
    std::vector<uint8_t> out;
    uint32_t produced;
    EXPECT_EQ(d.decode(out, produced), SSC_OK);
    EXPECT_EQ(produced, 4608u);
    EXPECT_TRUE(allZero(out, produced));
    Pcm all = decodeStream(data);
    EXPECT_EQ(size_t(all.frames), frames.size());
    EXPECT_EQ(all.silentInfo, 0);
}

TEST(Mp3decStream, EndOfInputDecodesTheLastFrameThenStaysAtEof) {
    auto frames = splitFrames(readFile(fixture("dec_l3_22_mono.mp3")));
    Decoder d;
    d.feedAll(concat(frames, 0, 5));
    d.feed(frames[5].data(), 10); // a cut-off sixth frame
    mp3dec_end_of_input(d.h);
    std::vector<uint8_t> out;
    uint32_t produced;
    int decoded = 0;
    Mp3Ssc s;
    while ((s = d.decode(out, produced)) != SSC_W_MPGA_SYNCEOF) {
        ASSERT_GT(produced, 0u) << std::hex << s;
        ++decoded;
    }
    EXPECT_EQ(decoded, 5);
    EXPECT_EQ(d.decode(out, produced), SSC_W_MPGA_SYNCEOF);
}

TEST(Mp3decStream, FeedingInAnyPieceSizesGivesTheSamePcm) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_12_mono.mp3"));
    Pcm whole = decodeStream(data, 0, 0, 8192);
    for (size_t chunk : {1u, 7u, 333u}) {
        Pcm p = decodeStream(data, 0, 0, chunk);
        EXPECT_EQ(p.samples, whole.samples) << chunk;
    }
}

// The search moves bit by bit, so a stream that starts a few bits late is
// found and its frames are taken out of the ring at a bit offset; the PCM is
// that of the byte-aligned stream, whose frames are copied out in runs (the
// ring wraps many times over a whole file).
TEST(Mp3decStream, FramesAtABitOffsetGiveThePcmOfTheAlignedStream) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_24_vbr.mp3"));
    ASSERT_GT(data.size(), 3u * 8192u);
    Pcm aligned = decodeStream(data);
    ASSERT_GT(aligned.frames, 50);
    for (int shift : {1, 3, 7}) {
        // Every bit moved `shift` places later; zero bits fill the start.
        std::vector<uint8_t> late(data.size() + 1, 0);
        for (size_t i = 0; i < data.size(); ++i) {
            late[i] |= uint8_t(data[i] >> shift);
            late[i + 1] |= uint8_t(data[i] << (8 - shift));
        }
        Pcm p = decodeStream(late);
        EXPECT_EQ(p.frames, aligned.frames) << shift;
        EXPECT_EQ(p.samples, aligned.samples) << shift;
    }
}

TEST(Mp3decStream, CrcMismatchGivesTheInfoCodeAndDecodingGoesOn) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_44_crc.mp3"));
    auto frames = splitFrames(data);
    ASSERT_GT(frames.size(), 30u);
    MpegAudioHeader h;
    ASSERT_TRUE(parseMpegAudioHeader(frames[20].data(), h));
    ASSERT_TRUE(h.crc);
    frames[20][10] ^= 0x5A; // inside the side information
    std::vector<uint8_t> bad = concat(frames, 0, frames.size());
    Decoder d;
    std::vector<uint8_t> out;
    std::vector<Mp3Ssc> codes;
    size_t pos = 0;
    for (;;) {
        uint32_t produced = 0;
        Mp3Ssc s = d.decode(out, produced);
        if (produced) {
            codes.push_back(s);
            if (s == SSC_I_MPGA_CRCERROR) {
                Mp3FrameInfo fi;
                mp3dec_frame_info(d.h, &fi);
                EXPECT_EQ(fi.crcMismatch, 1);
            }
            continue;
        }
        if (s == SSC_W_MPGA_SYNCEOF) break;
        if (pos < bad.size())
            pos += d.feed(bad.data() + pos, std::min<size_t>(4096, bad.size() - pos));
        else
            mp3dec_end_of_input(d.h);
    }
    ASSERT_EQ(codes.size(), frames.size());
    EXPECT_EQ(codes[20], SSC_I_MPGA_CRCERROR);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), SSC_I_MPGA_CRCERROR), 1);
    EXPECT_EQ(codes[25], SSC_OK);
}

TEST(Mp3decStream, EightBitOutputIsTheUnsignedHighByte) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_22_js.mp3"));
    auto frames = splitFrames(data);
    std::vector<uint8_t> in = concat(frames, 0, 12);
    Decoder d16, d8(0, 1, 0);
    d16.feedAll(in);
    d8.feedAll(in);
    for (int f = 0; f < 10; ++f) {
        std::vector<uint8_t> o16, o8;
        uint32_t p16, p8;
        ASSERT_EQ(d16.decode(o16, p16), SSC_OK);
        ASSERT_EQ(d8.decode(o8, p8), SSC_OK);
        ASSERT_EQ(p8 * 2, p16);
        for (uint32_t i = 0; i < p8; ++i) {
            int16_t s = int16_t(o16[2 * i] | o16[2 * i + 1] << 8);
            ASSERT_EQ(o8[i], uint8_t((s >> 8) + 128));
        }
    }
}

TEST(Mp3decStream, MonoOutputIsTheMixOfBothChannels) {
    std::vector<uint8_t> data = readFile(fixture("dec_l3_44_cbr128_js.mp3"));
    Pcm st = decodeStream(data);
    Pcm mo = decodeStream(data, 0, 1);
    ASSERT_EQ(mo.channels, 1);
    ASSERT_EQ(mo.samples.size() * 2, st.samples.size());
    int worst = 0;
    for (size_t i = 0; i < mo.samples.size(); ++i) {
        int mix = (int(st.samples[2 * i]) + st.samples[2 * i + 1]) / 2;
        worst = std::max(worst, std::abs(mix - mo.samples[i]));
    }
    EXPECT_LE(worst, 1);
}

TEST(Mp3decStream, StatusTexts) {
    EXPECT_EQ(mp3sscText(SSC_OK), "(Mp3Ssc) success: no error");
    EXPECT_EQ(mp3sscText(SSC_W_MPGA_SYNCLOST), "(Mp3Ssc) warning: Decoder - sync lost");
    EXPECT_EQ(mp3sscText(SSC_I_MPGA_NOMAINDATA),
              "(Mp3Ssc) info: Decoder - not enough main data present");
    EXPECT_EQ(mp3sscText(0x12345678), "(Mp3Ssc) unknown SSC (0x12345678)");
    EXPECT_TRUE(sscIsWarning(SSC_W_MPGA_SYNCEOF));
    EXPECT_TRUE(sscIsInfo(SSC_I_MPGA_CRCERROR));
    EXPECT_TRUE(sscIsError(SSC_E_MPGA_BUFFERTOOSMALL));
}

} // namespace
