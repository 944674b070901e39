// The MPEG audio header module: every header's facts against the standard's
// formulas, reserved values, free format, stream matching and start
// confirmation; frame walks over encoder-made files against ffprobe.
#include "engine/core/mpeg_audio_header.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

using namespace kestrel;
using Bytes = std::vector<uint8_t>;

namespace {

// The version bits of each version index and the layer bits of each layer.
constexpr uint32_t kVersionBits[3] = {3, 2, 0};
constexpr uint32_t kLayerBits[4] = {0, 3, 2, 1};

uint32_t headerWord(int version, int layer, int brIndex, int srIndex, int padding = 0, int mode = 0,
                    bool crc = false) {
    return 0xFFE00000u | kVersionBits[version] << 19 | kLayerBits[layer] << 17 |
           uint32_t(crc ? 0 : 1) << 16 | uint32_t(brIndex) << 12 | uint32_t(srIndex) << 10 |
           uint32_t(padding) << 9 | uint32_t(mode) << 6;
}

void put(Bytes& b, size_t at, uint32_t word) {
    if (b.size() < at + 4) b.resize(at + 4, 0);
    b[at] = uint8_t(word >> 24);
    b[at + 1] = uint8_t(word >> 16);
    b[at + 2] = uint8_t(word >> 8);
    b[at + 3] = uint8_t(word);
}

Bytes bytesOf(uint32_t word) {
    Bytes b;
    put(b, 0, word);
    return b;
}

} // namespace

TEST(MpegAudioHeader, FrameLengthOfEveryHeaderFollowsTheStandardsFormula) {
    int parsed = 0;
    for (int v = 0; v < 3; ++v)
        for (int layer = 1; layer <= 3; ++layer)
            for (int br = 1; br <= 14; ++br)
                for (int sr = 0; sr < 3; ++sr)
                    for (int pad = 0; pad < 2; ++pad) {
                        MpegAudioHeader h;
                        uint32_t w = headerWord(v, layer, br, sr, pad);
                        ASSERT_TRUE(parseMpegAudioHeader(w, h)) << std::hex << w;
                        ++parsed;
                        EXPECT_EQ(h.word, w);
                        EXPECT_EQ(h.versionIndex, v);
                        EXPECT_EQ(h.layer, layer);
                        EXPECT_EQ(h.padding, pad);
                        EXPECT_EQ(h.bitRateIndex, br);
                        EXPECT_EQ(h.sampleRateIndex, sr);
                        const long bitRate = long(MPEG_BITRATES[v][layer - 1][br]) * 1000;
                        const long fs = MPEG_SAMPLE_RATES[v][sr];
                        EXPECT_EQ(h.bitRateKbps * 1000L, bitRate);
                        EXPECT_EQ(h.sampleRate, fs);
                        // ISO/IEC 11172-3 2.4.3.1 and ISO/IEC 13818-3 2.4.3.1:
                        // Layer I slots of 4 bytes, 12 * bit rate / fs of them;
                        // Layers II and III 144 * bit rate / fs bytes, Layer III
                        // of the lower sampling frequencies 72 * bit rate / fs.
                        long expected;
                        if (layer == 1)
                            expected = (12 * bitRate / fs + pad) * 4;
                        else if (layer == 3 && v != 0)
                            expected = 72 * bitRate / fs + pad;
                        else
                            expected = 144 * bitRate / fs + pad;
                        EXPECT_EQ(h.frameBytes, expected)
                            << "v" << v << " L" << layer << " br" << br << " sr" << sr;
                        EXPECT_EQ(mpegFrameBytes(h, 0), expected);
                        EXPECT_EQ(mpegFrameLength(bytesOf(w).data(), 0), expected);
                        EXPECT_GE(h.frameBytes, kMinMpegFrameBytes);
                        EXPECT_LE(h.frameBytes, kMaxMpegFrameBytes);
                        const int spf = layer == 1 ? 384 : (layer == 2 || v == 0) ? 1152 : 576;
                        EXPECT_EQ(h.samplesPerFrame, spf);
                        EXPECT_EQ(h.slotBytes, layer == 1 ? 4 : 1);
                    }
    EXPECT_EQ(parsed, 3 * 3 * 14 * 3 * 2);
}

TEST(MpegAudioHeader, TablesAreTheStandards) {
    // The first and last bit rate of each row, MPEG-2.5 equal to MPEG-2, the
    // free-format and forbidden indexes 0.
    const int first[2][3] = {{32, 32, 32}, {32, 8, 8}};
    const int last[2][3] = {{448, 384, 320}, {256, 160, 160}};
    for (int v = 0; v < 3; ++v)
        for (int l = 0; l < 3; ++l) {
            const int* row = MPEG_BITRATES[v][l];
            EXPECT_EQ(row[0], 0);
            EXPECT_EQ(row[15], 0);
            EXPECT_EQ(row[1], first[v == 0 ? 0 : 1][l]);
            EXPECT_EQ(row[14], last[v == 0 ? 0 : 1][l]);
            for (int i = 2; i < 15; ++i)
                EXPECT_GT(row[i], row[i - 1]);
            if (v == 2) {
                for (int i = 0; i < 16; ++i)
                    EXPECT_EQ(row[i], MPEG_BITRATES[1][l][i]);
            }
        }
    EXPECT_EQ(MPEG_BITRATES[0][2][9], 128);
    EXPECT_EQ(MPEG_BITRATES[1][0][9], 144);
    for (int v = 0; v < 3; ++v)
        EXPECT_EQ(MPEG_SAMPLE_RATES[v][3], 0);
    EXPECT_EQ(MPEG_SAMPLE_RATES[0][0], 44100);
    EXPECT_EQ(MPEG_SAMPLE_RATES[1][1], 24000);
    EXPECT_EQ(MPEG_SAMPLE_RATES[2][2], 8000);
}

TEST(MpegAudioHeader, ModeCrcAndSideInformation) {
    MpegAudioHeader h;
    // MPEG-1 Layer III: 32 bytes of side information in stereo, 17 in mono.
    ASSERT_TRUE(parseMpegAudioHeader(headerWord(0, 3, 9, 0, 0, kJointStereo), h));
    EXPECT_EQ(h.channelMode, kJointStereo);
    EXPECT_EQ(h.channels, 2);
    EXPECT_FALSE(h.crc);
    EXPECT_EQ(h.headerBytes, 4);
    EXPECT_EQ(h.sideInfoBytes, 32);
    ASSERT_TRUE(parseMpegAudioHeader(headerWord(0, 3, 9, 0, 0, kMono, true), h));
    EXPECT_EQ(h.channels, 1);
    EXPECT_TRUE(h.crc);
    EXPECT_EQ(h.headerBytes, 6);
    EXPECT_EQ(h.sideInfoBytes, 17);
    // The lower sampling frequencies: 17 and 9 bytes.
    ASSERT_TRUE(parseMpegAudioHeader(headerWord(1, 3, 9, 0, 0, kDualChannel), h));
    EXPECT_EQ(h.sideInfoBytes, 17);
    ASSERT_TRUE(parseMpegAudioHeader(headerWord(2, 3, 9, 0, 0, kMono), h));
    EXPECT_EQ(h.sideInfoBytes, 9);
    // Layers I and II have none.
    ASSERT_TRUE(parseMpegAudioHeader(headerWord(0, 2, 9, 0), h));
    EXPECT_EQ(h.sideInfoBytes, 0);
    // The single bits and fields of the last byte.
    ASSERT_TRUE(parseMpegAudioHeader(0xFFFB91BDu, h)); // private, mode 2, ext 3, (c), orig, emph 1
    EXPECT_EQ(h.privateBit, 1);
    EXPECT_EQ(h.channelMode, kDualChannel);
    EXPECT_EQ(h.modeExtension, 3);
    EXPECT_EQ(h.copyright, 1);
    EXPECT_EQ(h.original, 1);
    EXPECT_EQ(h.emphasis, 1);
    // The byte form reads the same word.
    const uint8_t p[4] = {0xFF, 0xFB, 0x91, 0xBD};
    MpegAudioHeader b;
    ASSERT_TRUE(parseMpegAudioHeader(p, b));
    EXPECT_EQ(b.word, 0xFFFB91BDu);
    EXPECT_EQ(mpegHeaderWord(p), 0xFFFB91BDu);
}

TEST(MpegAudioHeader, ReservedValuesAreRejected) {
    MpegAudioHeader h;
    const uint32_t good = headerWord(0, 3, 9, 0);
    ASSERT_TRUE(parseMpegAudioHeader(good, h));
    EXPECT_FALSE(parseMpegAudioHeader((good & ~(3u << 19)) | 1u << 19, h)); // version 01
    EXPECT_FALSE(parseMpegAudioHeader(good & ~(3u << 17), h));              // layer 00
    EXPECT_FALSE(parseMpegAudioHeader(good | 15u << 12, h));                // bit rate 15
    EXPECT_FALSE(parseMpegAudioHeader(good | 3u << 10, h));                 // rate 3
    EXPECT_FALSE(parseMpegAudioHeader(good & ~(1u << 21), h));              // sync
    EXPECT_FALSE(parseMpegAudioHeader(good & 0x00FFFFFFu, h));
    const uint8_t v01[2] = {0xFF, 0xEB}, l00[2] = {0xFF, 0xF9}, sync[2] = {0xFF, 0xDB};
    EXPECT_FALSE(isMpegAudioSync(v01));
    EXPECT_FALSE(isMpegAudioSync(l00));
    EXPECT_FALSE(isMpegAudioSync(sync));
    const uint8_t ff[2] = {0xFF, 0xFF}; // MPEG-1 Layer I without CRC
    EXPECT_TRUE(isMpegAudioSync(ff));
    EXPECT_EQ(mpegFrameLength(bytesOf(good | 15u << 12).data(), 100), 0);
}

TEST(MpegAudioHeader, FreeFormatLengthWithPadding) {
    MpegAudioHeader h;
    for (int layer = 1; layer <= 3; ++layer) {
        const int slot = layer == 1 ? 4 : 1;
        ASSERT_TRUE(parseMpegAudioHeader(headerWord(0, layer, 0, 1, 0), h));
        EXPECT_EQ(h.bitRateKbps, 0);
        EXPECT_EQ(h.frameBytes, 0);
        EXPECT_EQ(mpegFrameBytes(h, 0), 0);
        EXPECT_EQ(mpegFrameBytes(h, 600), 600);
        ASSERT_TRUE(parseMpegAudioHeader(headerWord(0, layer, 0, 1, 1), h));
        EXPECT_EQ(mpegFrameBytes(h, 0), 0);
        EXPECT_EQ(mpegFrameBytes(h, 600), 600 + slot);
        EXPECT_EQ(mpegFrameLength(bytesOf(h.word).data(), 600), 600 + slot);
    }
    // A free-format stream whose frames alternate padding: the start is
    // confirmed and the length without padding measured.
    for (int layer = 1; layer <= 3; ++layer) {
        const int slot = layer == 1 ? 4 : 1, base = layer == 1 ? 480 : 313;
        Bytes s;
        size_t at = 0;
        for (int i = 0; i < 4; ++i) {
            int pad = i & 1;
            put(s, at, headerWord(0, layer, 0, 1, pad));
            at += size_t(base + pad * slot);
        }
        s.resize(at + 4, 0);
        int freeBytes = -1;
        EXPECT_EQ(confirmMpegAudioStart(s.data(), s.size(), freeBytes), 1) << "layer " << layer;
        EXPECT_EQ(freeBytes, base);
        // Starting on the padded frame measures the same base.
        EXPECT_EQ(confirmMpegAudioStart(s.data() + base, s.size() - base, freeBytes), 1);
        EXPECT_EQ(freeBytes, base);
        // Cut short, the measure waits for more bytes.
        EXPECT_EQ(confirmMpegAudioStart(s.data(), size_t(base) + 10, freeBytes), -1);
        EXPECT_EQ(freeBytes, 0);
    }
}

TEST(MpegAudioHeader, MatchingIgnoresProtectionModeExtensionAndPerFrameFields) {
    const uint32_t ref = headerWord(0, 3, 9, 0, 0, kJointStereo);
    Bytes r = bytesOf(ref);
    auto same = [&](uint32_t w) { return sameMpegAudioStream(r.data(), bytesOf(w).data()); };
    EXPECT_TRUE(same(ref));
    EXPECT_TRUE(same(ref & ~(1u << 16)));                        // protection bit
    EXPECT_TRUE(same(ref | 3u << 4));                            // mode extension
    EXPECT_TRUE(same((ref & ~(15u << 12)) | 14u << 12));         // bit rate
    EXPECT_TRUE(same(ref | 1u << 9));                            // padding
    EXPECT_TRUE(same(ref | 1u << 8));                            // private bit
    EXPECT_TRUE(same(ref & ~(3u << 6)));                         // stereo for joint stereo
    EXPECT_FALSE(same(headerWord(1, 3, 9, 0, 0, kJointStereo))); // version
    EXPECT_FALSE(same(headerWord(0, 2, 9, 0, 0, kJointStereo))); // layer
    EXPECT_FALSE(same(headerWord(0, 3, 0, 0, 0, kJointStereo))); // free format
    EXPECT_FALSE(same(headerWord(0, 3, 9, 0, 0, kMono)));        // channel count
    EXPECT_FALSE(same(ref | 1u));                                // emphasis
    EXPECT_FALSE(same(ref | 1u << 3));                           // copyright
    EXPECT_FALSE(same(ref | 15u << 12));                         // bit rate 15
    EXPECT_FALSE(same(ref | 3u << 10));                          // rate 3
}

TEST(MpegAudioHeader, StartNeedsTwoFurtherHeadersWhereTheFramesEnd) {
    const uint32_t w = headerWord(0, 3, 9, 0); // 417 bytes
    Bytes s;
    put(s, 0, w);
    put(s, 417, w | 1u << 9); // padded: 418 bytes
    put(s, 835, w);
    s.resize(1300, 0);
    int freeBytes = -1;
    EXPECT_EQ(confirmMpegAudioStart(s.data(), s.size(), freeBytes), 1);
    EXPECT_EQ(freeBytes, 0);
    EXPECT_EQ(confirmMpegAudioStart(s.data(), 600, freeBytes), -1);
    EXPECT_EQ(confirmMpegAudioStart(s.data(), 3, freeBytes), -1);
    Bytes broken = s;
    put(broken, 835, headerWord(0, 2, 9, 0)); // the third header is of another layer
    EXPECT_EQ(confirmMpegAudioStart(broken.data(), broken.size(), freeBytes), 0);
    Bytes junk = s;
    put(junk, 0, w | 15u << 12);
    EXPECT_EQ(confirmMpegAudioStart(junk.data(), junk.size(), freeBytes), 0);
}

// Frame by frame through files made by the encoders, each frame's length from
// its header: the walk ends exactly at the end of the file, after as many
// frames as ffprobe counts packets.
TEST(MpegAudioHeader, WalksEncoderMadeFilesLikeFfprobe) {
    for (const char* name :
         {"mpa_l1_48k.mp1", "dec_l2_16_lsf.mp2", "dec_l2_44_crc.mp2", "dec_l3_8_cbr.mp3",
          "dec_l3_44_vbr.mp3", "libcodec_l3_v25_11025_2ch.mp3"}) {
        const std::string path = test::fixture(name);
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        Bytes b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (b.size() >= 128 && b[b.size() - 128] == 'T' && b[b.size() - 127] == 'A' &&
            b[b.size() - 126] == 'G')
            b.resize(b.size() - 128); // ID3v1 tag
        size_t at = 0;
        if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3')
            at = 10 + (size_t(b[6]) << 21 | size_t(b[7]) << 14 | size_t(b[8]) << 7 | b[9]);
        int freeBytes = -1;
        ASSERT_EQ(confirmMpegAudioStart(b.data() + at, b.size() - at, freeBytes), 1) << name;
        long frames = 0;
        const uint8_t* first = b.data() + at;
        while (at + 4 <= b.size()) {
            ASSERT_TRUE(sameMpegAudioStream(first, b.data() + at)) << name << " at " << at;
            int len = mpegFrameLength(b.data() + at, freeBytes);
            ASSERT_GT(len, 0);
            at += size_t(len);
            ++frames;
        }
        EXPECT_EQ(at, b.size()) << name;
        const long probed = std::atol(
            test::capture("ffprobe -v error -select_streams a:0 -count_packets -show_entries "
                          "stream=nb_read_packets -of csv=p=0 '" +
                          path + "'")
                .c_str());
        // ffprobe does not count a Xing/Info frame as a packet.
        EXPECT_TRUE(frames == probed || frames == probed + 1)
            << name << ": " << frames << " frames, ffprobe " << probed;
    }
}
