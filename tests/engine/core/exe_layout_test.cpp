#include "engine/core/exe_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace kestrel::exe;

namespace {

uint64_t des(uint64_t key, uint64_t block, bool decrypt = false) {
    uint8_t k[8];
    for (int i = 7; i >= 0; --i, key >>= 8)
        k[i] = static_cast<uint8_t>(key);
    DesKey s;
    desSetKey(s, k);
    return decrypt ? desDecrypt(s, block) : desEncrypt(s, block);
}

// A draw source that replays a fixed list.
std::vector<int> g_draws;
size_t g_next = 0;
int replay() {
    return g_draws[g_next++ % g_draws.size()];
}

} // namespace

TEST(ExeLayout, CrcIsMpeg2Variant) {
    const char* check = "123456789";
    EXPECT_EQ(crc32Mpeg2(kCrcInit, reinterpret_cast<const uint8_t*>(check), 9), 0x0376E6E7u);
    // Running over two halves gives the same as over the whole.
    uint32_t c = crc32Mpeg2(kCrcInit, reinterpret_cast<const uint8_t*>(check), 4);
    EXPECT_EQ(crc32Mpeg2(c, reinterpret_cast<const uint8_t*>(check) + 4, 5), 0x0376E6E7u);
}

TEST(ExeLayout, CrcOfAChangedHeadFollowsFromTheChangeAlone) {
    std::vector<uint8_t> data(5000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 31 + 7);
    const uint32_t before = crc32Mpeg2(kCrcInit, data.data(), data.size());
    std::vector<uint8_t> change(400);
    for (size_t i = 0; i < change.size(); ++i)
        change[i] = static_cast<uint8_t>(i * 13 + 1);
    for (size_t i = 0; i < change.size(); ++i)
        data[i] ^= change[i];
    const uint32_t delta = crc32Mpeg2(0, change.data(), change.size());
    EXPECT_EQ(before ^ crc32Mpeg2Zeros(delta, data.size() - change.size()),
              crc32Mpeg2(kCrcInit, data.data(), data.size()));
}

TEST(ExeLayout, DesKnownAnswers) {
    // FIPS 81 example and the NBS variable-plaintext / variable-key tests.
    EXPECT_EQ(des(0x0123456789ABCDEFull, 0x4E6F772069732074ull), 0x3FA40E8A984D4815ull);
    EXPECT_EQ(des(0x133457799BBCDFF1ull, 0x0123456789ABCDEFull), 0x85E813540F0AB405ull);
    EXPECT_EQ(des(0x0101010101010101ull, 0x8000000000000000ull), 0x95F8A5E5DD31D900ull);
    EXPECT_EQ(des(0x0101010101010101ull, 0x0000000000000001ull), 0x166B40B44ABA4BD6ull);
    EXPECT_EQ(des(0x8001010101010101ull, 0x0000000000000000ull), 0x95A8D72813DAA94Dull);
    EXPECT_EQ(des(0x0123456789ABCDEFull, 0x3FA40E8A984D4815ull, true), 0x4E6F772069732074ull);
}

TEST(ExeLayout, PeriodSixtyFourNeverUsesKeyA) {
    const uint8_t keys[5] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5};
    for (uint32_t q = 0; q < 64 * 20; ++q) {
        uint8_t k = maskKey(keys, 64, q);
        EXPECT_NE(k, 0xA1) << q;
        EXPECT_EQ(k, keys[1 + (q % 64) / 16]) << q;
    }
}

TEST(ExeLayout, Period399UsesKeyAFrom64To398) {
    const uint8_t keys[5] = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5};
    for (uint32_t q = 0; q < 399 * 3; ++q) {
        uint32_t r = q % 399;
        uint8_t want = r >= 64 ? keys[0] : keys[1 + r / 16];
        EXPECT_EQ(maskKey(keys, 399, q), want) << q;
    }
    // Masking twice restores the bytes, from any starting position.
    std::vector<uint8_t> b(1000), orig;
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(i * 7);
    orig = b;
    maskBytes(keys, 399, 123, b.data(), b.size());
    EXPECT_NE(b, orig);
    maskBytes(keys, 399, 123, b.data(), 500);
    maskBytes(keys, 399, 623, b.data() + 500, 500);
    EXPECT_EQ(b, orig);
}

TEST(ExeLayout, KeyDrawingRedrawsZeroOnceAndRaisesShortPeriods) {
    Scramble s;
    // keyA: 256 -> 0, redrawn as 0 (kept); keyB 0 then 513 -> 1; C, D, E; period 79 -> 143.
    g_draws = {256, 0, 0, 513, 3, 4, 5, 79};
    g_next = 0;
    drawKeys(s, replay);
    EXPECT_EQ(s.keys[0], 0);
    EXPECT_EQ(s.keys[1], 1);
    EXPECT_EQ(s.keys[2], 3);
    EXPECT_EQ(s.keys[3], 4);
    EXPECT_EQ(s.keys[4], 5);
    EXPECT_EQ(s.period, 143);
    EXPECT_EQ(s.layout[0], 500032);
    EXPECT_EQ(s.layout[1], 0);
    EXPECT_EQ(s.layout[2], 500032);
    EXPECT_EQ(s.layout[3], 0);
    g_draws = {1, 2, 3, 4, 5, 80 + 400};
    g_next = 0;
    drawKeys(s, replay);
    EXPECT_EQ(s.period, 80);
}

TEST(ExeLayout, DescriptorBytesAtTheirOffsetsAndRoundTrip) {
    Descriptor d;
    d.maskedBytes = 0x01020304;
    d.seconds = 185;
    d.period = 0x0123;
    d.speedControl = 1;
    d.passwordOn = 1;
    d.password = "secret";
    d.description = std::string(250, 'x'); // longer than the field keeps
    d.keys[0] = 0x11;
    d.keys[1] = 0x22;
    d.keys[2] = 0x33;
    d.keys[3] = 0x44;
    d.keys[4] = 0x55;
    d.layout[0] = 500032;
    d.layout[1] = 0;
    d.layout[2] = 500032;
    d.layout[3] = 0;
    d.outRate = 22050;
    d.mpegVersion = 1;
    d.variableRate = 1;
    d.channels = 1;
    d.playerCrc = 0xDEADBEEF;
    d.dataCrc = 0xCAFEF00D;
    uint8_t b[kDescriptorBytes];
    buildDescriptor(d, b);
    EXPECT_EQ(b[0], 0x16);
    EXPECT_EQ(b[1], 0x58);
    EXPECT_EQ(readLe32(b + 2), 0x01020304u);
    EXPECT_EQ(readLe32(b + 6), 185u);
    EXPECT_EQ(b[10], 0);
    EXPECT_EQ(b[11], 100);
    EXPECT_EQ(b[12], 0x01); // high byte first
    EXPECT_EQ(b[13], 0x23);
    EXPECT_EQ(readLe32(b + 14), 1u);
    EXPECT_EQ(readLe32(b + 18), 1u);
    EXPECT_EQ(std::memcmp(b + 22, "secret\0\0\0\0\0\0\0\0\0\0", 16), 0);
    EXPECT_EQ(b[38], 0x11);
    EXPECT_EQ(b[39], 0x22);
    EXPECT_EQ(b[40], 'x');
    EXPECT_EQ(b[40 + 198], 'x');
    EXPECT_EQ(b[40 + 199], 0); // the description ends before the layout values
    EXPECT_EQ(readLe32(b + 240), 500032u);
    EXPECT_EQ(readLe32(b + 244), 0u);
    EXPECT_EQ(readLe32(b + 248), 500032u);
    EXPECT_EQ(readLe32(b + 252), 0u);
    EXPECT_EQ(readLe32(b + 296), 22050u);
    EXPECT_EQ(readLe32(b + 300), 1u);
    EXPECT_EQ(readLe32(b + 304), 1u);
    EXPECT_EQ(b[308], 1);
    EXPECT_EQ(b[309], 0x33);
    EXPECT_EQ(b[310], 0x44);
    EXPECT_EQ(b[311], 0x55);
    EXPECT_EQ(readLe32(b + 312), 0xDEADBEEFu);
    EXPECT_EQ(readLe32(b + 316), 0xCAFEF00Du);

    uint8_t plain[kDescriptorBytes];
    std::memcpy(plain, b, sizeof b);
    encipherDescriptor(b);
    EXPECT_NE(std::memcmp(plain, b, sizeof b), 0);
    decipherDescriptor(b);
    EXPECT_EQ(std::memcmp(plain, b, sizeof b), 0);
    Descriptor back;
    ASSERT_EQ(parseDescriptor(b, back), 0);
    EXPECT_EQ(back.password, "secret");
    EXPECT_EQ(back.description, std::string(199, 'x'));
    EXPECT_EQ(back.period, 0x0123);
    EXPECT_EQ(back.outRate, 22050);
    EXPECT_EQ(back.channels, 1);
    EXPECT_EQ(back.dataCrc, 0xCAFEF00Du);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(back.keys[i], d.keys[i]);
}

TEST(ExeLayout, DamagedDescriptorIsRefused) {
    Descriptor d;
    uint8_t b[kDescriptorBytes];
    buildDescriptor(d, b);
    Descriptor back;
    EXPECT_EQ(parseDescriptor(b, back), 0);
    b[0] ^= 1;
    EXPECT_LT(parseDescriptor(b, back), 0);
    buildDescriptor(d, b);
    b[12] = 0x7F; // period out of range
    EXPECT_LT(parseDescriptor(b, back), 0);
    buildDescriptor(d, b);
    b[308] = 7; // channels
    EXPECT_LT(parseDescriptor(b, back), 0);
}
