// AAC stream information and the AMR ring-tone header on streams built byte
// by byte, with the numbers of their formulas.
#include "engine/containers/aac_info.h"
#include "engine/containers/amr_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace kestrel;

namespace {

using Bytes = std::vector<uint8_t>;

// One ADTS frame of `length` bytes (no CRC).
Bytes adtsFrame(int length, int index = 4, int channels = 2, int profile = 1, bool mpeg2 = false) {
    Bytes f(static_cast<size_t>(length), 0x21);
    f[0] = 0xFF;
    f[1] = static_cast<uint8_t>(0xF1 | (mpeg2 ? 0x08 : 0));
    f[2] = static_cast<uint8_t>(profile << 6 | index << 2 | (channels >> 2));
    f[3] = static_cast<uint8_t>((channels & 3) << 6 | ((length >> 11) & 3));
    f[4] = static_cast<uint8_t>(length >> 3);
    f[5] = static_cast<uint8_t>((length & 7) << 5 | 0x1F);
    f[6] = 0xFC;
    return f;
}

Bytes adtsStream(int frames, int length, int index = 4) {
    Bytes s;
    for (int i = 0; i < frames; ++i) {
        Bytes f = adtsFrame(length, index);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

int infoOf(const Bytes& b, AacInfo& info, std::vector<int64_t>* table = nullptr) {
    test::TempDir dir;
    std::string p = dir.file("s.aac");
    test::writeFile(p, b);
    return aacStreamInfo(p, info, table);
}

// An ADIF header: bit rate, variable or constant rate, object type and
// sampling index, with or without the copyright identification.
Bytes adifHeader(uint32_t bitRate, bool variable, int objectType, int index, bool copyright) {
    std::string bits;
    auto put = [&](uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i)
            bits += (v >> i) & 1 ? '1' : '0';
    };
    put(copyright, 1);
    if (copyright) put(0x5A5A5A, 24), put(0x5A5A5A, 24), put(0x5A5A5A, 24);
    put(0, 2);
    put(variable, 1);
    put(bitRate, 23);
    put(0, 4);
    if (!variable) put(0x12345, 20);
    put(0, 4);
    put(static_cast<uint32_t>(objectType), 2);
    put(static_cast<uint32_t>(index), 4);
    while (bits.size() % 8 || bits.size() < 8 * 40)
        bits += '0';
    Bytes b = {'A', 'D', 'I', 'F'};
    for (size_t i = 0; i < bits.size(); i += 8)
        b.push_back(static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2)));
    return b;
}

} // namespace

TEST(AacInfo, AdtsFormulaOnItsOwnNumbers) {
    // 1000 frames of 372 bytes at 44100 Hz: (372 x 43.066 + 0.5 -> 16021) x 8.
    AacInfo info;
    std::vector<int64_t> table;
    ASSERT_EQ(infoOf(adtsStream(1000, 372), info, &table), 0);
    EXPECT_EQ(info.headerType, kAacAdts);
    EXPECT_EQ(info.samplingRate, 44100);
    EXPECT_EQ(info.bitRate, 128168);
    EXPECT_EQ(info.lengthMs, 23000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.objectType, 1);
    EXPECT_EQ(info.version, 4);
    // One entry per group of 43 frames, at the group's first frame.
    ASSERT_EQ(table.size(), 24u);
    EXPECT_EQ(table[1], 43 * 372);
    EXPECT_EQ(table[23], 23 * 43 * 372);
}

TEST(AacInfo, AdtsVersionChannelsAndId3Tag) {
    Bytes s;
    Bytes tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0}; // 128 bytes of tag body
    s.insert(s.end(), tag.begin(), tag.end());
    s.insert(s.end(), 128, 0);
    for (int i = 0; i < 10; ++i) {
        Bytes f = adtsFrame(200, 7, 1, 1, true);
        s.insert(s.end(), f.begin(), f.end());
    }
    AacInfo info;
    ASSERT_EQ(infoOf(s, info), 0);
    EXPECT_EQ(info.headerType, kAacAdts);
    EXPECT_EQ(info.version, 2);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.samplingRate, 22050);
}

TEST(AacInfo, Id3TagLongerThanTheFileIsUnreadable) {
    Bytes s = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x7F, 0};
    s.resize(100, 0);
    AacInfo info;
    EXPECT_EQ(infoOf(s, info), kAacInfoUnreadable);
}

TEST(AacInfo, SamplingIndexesTwelveToFifteenAreRefused) {
    for (int index = 12; index <= 15; ++index) {
        AacInfo info;
        EXPECT_EQ(infoOf(adtsStream(5, 300, index), info), kAacInfoBadHeader) << index;
        EXPECT_EQ(infoOf(adifHeader(128000, true, 1, index, false), info), kAacInfoBadHeader);
    }
}

TEST(AacInfo, FrameLengthZeroEndsTheScan) {
    Bytes s = adtsStream(3, 300);
    Bytes zero = adtsFrame(300);
    zero[3] &= 0xFC;
    zero[4] = 0;
    zero[5] &= 0x1F;
    s.insert(s.end(), zero.begin(), zero.end());
    Bytes more = adtsStream(3, 300);
    s.insert(s.end(), more.begin(), more.end());
    AacInfo info;
    ASSERT_EQ(infoOf(s, info), 0);
    EXPECT_EQ(info.bitRate, (static_cast<int>(300 * 44100 / 1024.0 + 0.5)) * 8);
    // A stream whose first frame states length 0 has no frame at all.
    AacInfo none;
    ASSERT_EQ(infoOf(zero, none), 0);
    EXPECT_EQ(none.bitRate, 0);
    EXPECT_EQ(none.lengthMs, 0);
    EXPECT_EQ(none.samplingRate, 44100);
}

TEST(AacInfo, FirstFrameCutShortGivesNoBitRate) {
    Bytes s = adtsFrame(400);
    s.resize(100);
    AacInfo info;
    ASSERT_EQ(infoOf(s, info), 0);
    EXPECT_EQ(info.headerType, kAacAdts);
    EXPECT_EQ(info.bitRate, 0);
    EXPECT_EQ(info.lengthMs, 0);
}

TEST(AacInfo, LastFrameCutShortIsNotCounted) {
    Bytes s = adtsStream(44, 300);
    s.resize(s.size() - 150);
    AacInfo info;
    std::vector<int64_t> table;
    ASSERT_EQ(infoOf(s, info, &table), 0);
    EXPECT_EQ(table.size(), 1u); // 43 whole frames: one group
    // 43 frames at 43.066 frames per second: 0 whole seconds.
    EXPECT_EQ(info.lengthMs, 0);
}

TEST(AacInfo, NeitherHeaderGivesTheDefaults) {
    AacInfo info;
    ASSERT_EQ(infoOf(Bytes(500, 0x42), info), 0);
    EXPECT_EQ(info.headerType, kAacNoHeader);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplingRate, 44100);
    EXPECT_EQ(info.bitRate, 128000);
    EXPECT_EQ(info.version, 2);
    EXPECT_EQ(info.objectType, 1);
    // "AD" without "IF" is no ADIF header either.
    ASSERT_EQ(infoOf(Bytes{'A', 'D', 'X', 'X', 0, 0}, info), 0);
    EXPECT_EQ(info.headerType, kAacNoHeader);
}

TEST(AacInfo, AdifBitRateObjectTypeAndIndex) {
    struct Case {
        uint32_t bitRate;
        bool variable, copyright;
        int objectType, index;
    };
    // Bit rates whose lowest three bits are set show the bit rate's last
    // bits read from the top of its fourth byte.
    const Case cases[] = {{128000, true, false, 1, 4},
                          {128007, false, false, 1, 3},
                          {96005, true, true, 2, 7},
                          {8388607, false, true, 3, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bitRate);
        AacInfo info;
        ASSERT_EQ(
            infoOf(adifHeader(c.bitRate, c.variable, c.objectType, c.index, c.copyright), info), 0);
        EXPECT_EQ(info.headerType, kAacAdif);
        EXPECT_EQ(info.bitRate, static_cast<int32_t>(c.bitRate));
        EXPECT_EQ(info.objectType, c.objectType);
        EXPECT_EQ(info.samplingRate, aacSamplingRate(c.index));
        EXPECT_EQ(info.channels, 0);
        EXPECT_EQ(info.version, 0);
    }
    AacInfo info;
    EXPECT_EQ(infoOf(Bytes{'A', 'D', 'I', 'F', 0x10, 0}, info), kAacInfoBadHeader);
}

TEST(AacInfo, UnreadableFile) {
    AacInfo info;
    EXPECT_EQ(aacStreamInfo("/nonexistent/x.aac", info), kAacInfoUnreadable);
}

TEST(AmrFile, BodySizes) {
    const int sizes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};
    for (int ft = 0; ft < 16; ++ft)
        EXPECT_EQ(amrBodyBytes(ft), sizes[ft]);
    EXPECT_EQ(amrBodyBytesOf(0x3C), 31); // FT 7: 32-byte frames
}

TEST(AmrFile, ThousandFramesOf122kbitLastTwentySeconds) {
    test::TempDir dir;
    std::string p = dir.file("r.amr");
    std::string s = "#!AMR\n";
    for (int i = 0; i < 1000; ++i)
        s += std::string(1, '\x3C') + std::string(31, '\x11');
    test::writeFile(p, s);
    AmrFileInfo info;
    ASSERT_EQ(amrFileInfo(p, s.size(), info), kAmrInfoOk);
    EXPECT_EQ(info.frameBytes, 32);
    EXPECT_EQ(info.frames, 1000u);
    EXPECT_EQ(info.durationSec, 20);
}

TEST(AmrFile, RefusesWhatIsNoRingTone) {
    test::TempDir dir;
    AmrFileInfo info;
    for (const std::string& s : {std::string("#!AMR-WB\n\x04"), std::string("#!AMR\n"),
                                 std::string("#!AM"), std::string("plain text file\n")}) {
        std::string p = dir.file("x.amr");
        test::writeFile(p, s);
        EXPECT_EQ(amrFileInfo(p, s.size(), info), kAmrNotRingTone) << s;
    }
    EXPECT_EQ(amrFileInfo(dir.file("missing.amr"), 0, info), kAmrCannotOpen);
}
