// mpadec_ext.so through its exports, loaded as the program loads it: MPEG
// audio of layers II and III in all three versions, decoded from frame slots
// and compared with ffmpeg's decode of the same files.
#include "engine/libraries/lib_mpadec_ext.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::readFile;

namespace {

// Length of the MPEG audio frame whose header is at p (0 when none).
int frameLength(const uint8_t* p) {
    static const int br[2][3][16] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
    static const int rates[3] = {44100, 48000, 32000};
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return 0;
    int ver = (p[1] >> 3) & 3, layer = 4 - ((p[1] >> 1) & 3);
    int bri = p[2] >> 4, sri = (p[2] >> 2) & 3, pad = (p[2] >> 1) & 1;
    if (ver == 1 || layer == 4 || bri == 0 || bri == 15 || sri == 3) return 0;
    int rate = rates[sri] >> (ver == 3 ? 0 : ver == 2 ? 1 : 2);
    int kbps = br[ver == 3 ? 0 : 1][layer - 1][bri];
    if (layer == 1) return (12000 * kbps / rate + pad) * 4;
    if (layer == 3 && ver != 3) return 72000 * kbps / rate + pad;
    return 144000 * kbps / rate + pad;
}

// The file cut into frame slots of MPADEC_SLOT_BYTES (frame, then its int32 length).
std::vector<uint8_t> slotsOf(const std::vector<uint8_t>& file, int* count) {
    std::vector<uint8_t> slots;
    *count = 0;
    size_t pos = 0;
    int freeBytes = 0;
    while (pos + 4 <= file.size()) {
        int len = frameLength(&file[pos]);
        if (len == 0 && file[pos] == 0xFF && (file[pos + 2] >> 4) == 0) {
            // Free format: the first frame is measured up to the next header
            // that is followed by another one frame later; the others have
            // the same length but for their padding slot.
            auto isHeader = [&](size_t at) {
                return at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] == file[pos + 1] &&
                       (file[at + 2] >> 4) == 0;
            };
            auto pad = [&](size_t at) { return (file[at + 2] >> 1) & 1; };
            for (size_t next = pos + 24; freeBytes == 0 && next + 4 <= file.size(); ++next) {
                int base = int(next - pos) - pad(pos);
                if (isHeader(next) && isHeader(next + size_t(base + pad(next)))) freeBytes = base;
            }
            len = freeBytes > 0 ? freeBytes + pad(pos) : 0;
        }
        if (len == 0 || len > MPADEC_FRAME_BYTES || pos + len > file.size()) break;
        size_t at = slots.size();
        slots.resize(at + MPADEC_SLOT_BYTES, 0);
        std::memcpy(&slots[at], &file[pos], len);
        int32_t n = len;
        std::memcpy(&slots[at + MPADEC_FRAME_BYTES], &n, 4);
        pos += len;
        ++*count;
    }
    return slots;
}

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
    size_t n = std::min(ref.size(), got.size());
    double sig = 0, err = 0;
    for (size_t i = 0; i < n; ++i) {
        sig += double(ref[i]) * ref[i];
        err += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
    }
    return err == 0 ? 200.0 : 10 * std::log10(sig / err);
}

// Decodes the slots in batches of `batch` frames with `capacity` bytes of room
// per call, calling again without frames while a call fills its room.
std::vector<int16_t> decode(const std::vector<uint8_t>& slots, int count, int batch, int capacity) {
    std::vector<uint8_t> pcm;
    std::vector<uint8_t> buf(capacity);
    EXPECT_EQ(mpadec_ext.mp3_open(0, slots.data()), 1);
    for (int i = 0; i < count; i += batch) {
        int n = std::min(batch, count - i);
        int got =
            mpadec_ext.mp3_play(0, &slots[size_t(i) * MPADEC_SLOT_BYTES], n, buf.data(), capacity);
        EXPECT_GE(got, 0);
        while (got > 0) {
            pcm.insert(pcm.end(), buf.begin(), buf.begin() + got);
            got = got == capacity ? mpadec_ext.mp3_play(0, nullptr, 0, buf.data(), capacity) : 0;
        }
    }
    EXPECT_EQ(mpadec_ext.mp3_close(0), 0);
    return samplesOf(pcm);
}

class MpadecExtLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadMpadecExt(), 0) << messages.lastText();
        ASSERT_EQ(mpadec_ext.mp3_init(), 0);
    }
    void TearDown() override { unloadMpadecExt(); }
    kestrel::test::RecordingMessages messages;
};

struct Case {
    const char* file;
    int samplesPerFrame; // all channels together
};

} // namespace

TEST_F(MpadecExtLib, DecodesEveryLayerAndVersionLikeFfmpeg) {
    const Case cases[] = {
        {"libcodec_l3_v1_44100_2ch.mp3", 1152 * 2}, {"libcodec_l3_v2_22050_1ch.mp3", 576},
        {"libcodec_l3_v25_11025_2ch.mp3", 576 * 2}, {"libcodec_l2_v1_48000_2ch.mp2", 1152 * 2},
        {"libcodec_l2_v2_24000_1ch.mp2", 1152},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto file = readFile(fixture(c.file));
        auto ref = samplesOf(readFile(fixture(std::string(c.file) + ".ff.s16")));
        int count = 0;
        auto slots = slotsOf(file, &count);
        ASSERT_GT(count, 20);
        auto got = decode(slots, count, 32, 184320);
        // Every frame gives its samples; the last one or two may stay in the
        // decoder's look-ahead.
        EXPECT_LE(got.size(), size_t(count) * c.samplesPerFrame);
        EXPECT_GE(got.size() + 2 * c.samplesPerFrame, size_t(count) * c.samplesPerFrame);
        double snr = snrDb(ref, got);
        std::printf("%s: %.1f dB SNR against ffmpeg\n", c.file, snr);
        EXPECT_GE(snr, 60.0);
    }
}

TEST_F(MpadecExtLib, FreeFormatAndLongFramesLikeMpg123) {
    // MPEG-1 free format (653/654-byte frames) and Layer II frames of 1728 and
    // 1729 bytes, which slots of 1600 bytes could not hold.
    const Case cases[] = {{"mpa_free_200k.mp3", 1152 * 2}, {"mpa_l2_384k_32k.mp2", 1152 * 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto file = readFile(fixture(c.file));
        kestrel::test::TempDir dir;
        ASSERT_EQ(kestrel::test::run("mpg123 -q --no-gapless -s '" + fixture(c.file) + "' > '" +
                                     dir.file("ref.s16") + "' 2>/dev/null"),
                  0);
        auto ref = samplesOf(readFile(dir.file("ref.s16")));
        int count = 0;
        auto slots = slotsOf(file, &count);
        ASSERT_GT(count, 60);
        EXPECT_GE(size_t(count) * MPADEC_SLOT_BYTES, slots.size());
        auto got = decode(slots, count, 32, 184320);
        EXPECT_LE(got.size(), size_t(count) * c.samplesPerFrame);
        EXPECT_GE(got.size() + 2 * c.samplesPerFrame, size_t(count) * c.samplesPerFrame);
        EXPECT_GE(snrDb(ref, got), 96.0);
    }
}

TEST_F(MpadecExtLib, PcmThatDoesNotFitComesWithTheNextCall) {
    auto file = readFile(fixture("libcodec_l3_v1_44100_2ch.mp3"));
    int count = 0;
    auto slots = slotsOf(file, &count);
    auto whole = decode(slots, count, 32, 184320);
    auto pieces = decode(slots, count, 7, 1000);
    EXPECT_EQ(whole, pieces);
}

TEST_F(MpadecExtLib, RefusesBadArgumentsAndSurvivesGarbage) {
    auto file = readFile(fixture("libcodec_l3_v1_44100_2ch.mp3"));
    int count = 0;
    auto slots = slotsOf(file, &count);
    std::vector<uint8_t> pcm(184320);

    EXPECT_EQ(mpadec_ext.mp3_play(0, slots.data(), 1, pcm.data(), 184320), -1); // not open
    EXPECT_EQ(mpadec_ext.mp3_open(MPADEC_MAX_INSTANCES, slots.data()), -1);
    EXPECT_EQ(mpadec_ext.mp3_close(-1), -1);

    std::vector<uint8_t> junk(MPADEC_SLOT_BYTES, 0x55);
    int32_t len = 400;
    std::memcpy(&junk[MPADEC_FRAME_BYTES], &len, 4);
    EXPECT_EQ(mpadec_ext.mp3_open(3, junk.data()), 0);
    EXPECT_EQ(mpadec_ext.mp3_play(3, slots.data(), 1, pcm.data(), 184320), -1);

    ASSERT_EQ(mpadec_ext.mp3_open(3, slots.data()), 1);
    // A slot claiming more than MPADEC_FRAME_BYTES refuses the whole call.
    std::vector<uint8_t> bad(slots.begin(), slots.begin() + 2 * MPADEC_SLOT_BYTES);
    len = 5000;
    std::memcpy(&bad[MPADEC_SLOT_BYTES + MPADEC_FRAME_BYTES], &len, 4);
    EXPECT_EQ(mpadec_ext.mp3_play(3, bad.data(), 2, pcm.data(), 184320), -1);
    EXPECT_EQ(mpadec_ext.mp3_play(3, slots.data(), 2, pcm.data(), -5), -1);

    // Garbage between frames is skipped and decoding goes on.
    long total = 0;
    for (int i = 0; i < 40; ++i) {
        const uint8_t* s = i % 5 == 4 ? junk.data() : &slots[size_t(i) * MPADEC_SLOT_BYTES];
        int got = mpadec_ext.mp3_play(3, s, 1, pcm.data(), 184320);
        ASSERT_GE(got, 0);
        total += got;
    }
    EXPECT_GT(total, 20 * 4608);
    EXPECT_EQ(mpadec_ext.mp3_close(3), 0);
    EXPECT_EQ(mpadec_ext.mp3_close(3), 0);
}

TEST_F(MpadecExtLib, RandomBytesInValidSlotsNeitherCrashNorHang) {
    auto file = readFile(fixture("libcodec_l2_v1_48000_2ch.mp2"));
    int count = 0;
    auto slots = slotsOf(file, &count);
    ASSERT_EQ(mpadec_ext.mp3_open(5, slots.data()), 1);
    std::vector<uint8_t> pcm(184320);
    uint32_t x = 99;
    std::vector<uint8_t> noise(32 * size_t(MPADEC_SLOT_BYTES));
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 32; ++i) {
            uint8_t* s = &noise[size_t(i) * MPADEC_SLOT_BYTES];
            for (int k = 0; k < MPADEC_FRAME_BYTES; ++k)
                s[k] = uint8_t((x = x * 1103515245 + 12345) >> 16);
            if (i % 3 == 0) { // a plausible header in front of the noise
                s[0] = 0xFF;
                s[1] = 0xF0 | (x & 0x0F);
            }
            int32_t len = int32_t(x % (MPADEC_FRAME_BYTES + 1));
            std::memcpy(s + MPADEC_FRAME_BYTES, &len, 4);
        }
        int got = mpadec_ext.mp3_play(5, noise.data(), 32, pcm.data(), int(pcm.size()));
        ASSERT_GE(got, 0);
        ASSERT_LE(got, int(pcm.size()));
    }
    EXPECT_EQ(mpadec_ext.mp3_close(5), 0);
}
