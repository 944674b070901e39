// orvoamrdec.so through its exports: AMR ring tones made by sox, decoded frame
// by frame as the AMR player reads them, against the same library's decode
// through sox and against ffmpeg's own decoder.
#include "engine/libraries/lib_orvoamrdec.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::readFile;

namespace {

const int kBody[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};

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

class OrvoAmrDecLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadOrvoamrdec(), 0) << messages.lastText();
        ASSERT_EQ(orvoamrdec.amrdecode_init(), 0);
    }
    void TearDown() override {
        orvoamrdec.amrdecode_close();
        unloadOrvoamrdec();
    }
    kestrel::test::RecordingMessages messages;
};

} // namespace

TEST_F(OrvoAmrDecLib, DecodesRingTonesFrameByFrame) {
    for (const char* name : {"libcodec_mr122.amr", "libcodec_mr475.amr"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(orvoamrdec.amrdecode_init(), 0);
        auto file = readFile(fixture(name));
        ASSERT_GT(file.size(), 6u);
        ASSERT_EQ(std::memcmp(file.data(), "#!AMR\n", 6), 0);
        std::vector<uint8_t> pcm;
        uint8_t out[AMRDEC_PCM_PER_FRAME];
        size_t pos = 6;
        int frames = 0;
        while (pos < file.size()) {
            int size = 1 + kBody[(file[pos] >> 3) & 15];
            ASSERT_LE(pos + size, file.size());
            ASSERT_EQ(orvoamrdec.amr_decode(&file[pos], size, out, sizeof out), 320);
            pcm.insert(pcm.end(), out, out + 320);
            pos += size;
            ++frames;
        }
        // 3 s of sound: 150 frames of 20 ms.
        EXPECT_EQ(frames, 150);
        auto got = samplesOf(pcm);
        auto viaSox = samplesOf(readFile(fixture(std::string(name) + ".sox.s16")));
        auto viaFfmpeg = samplesOf(readFile(fixture(std::string(name) + ".ff.s16")));
        EXPECT_EQ(got.size(), viaSox.size());
        EXPECT_EQ(got.size(), viaFfmpeg.size());
        std::printf("%s: %.1f dB SNR against sox, %.1f dB against ffmpeg\n", name,
                    snrDb(viaSox, got), snrDb(viaFfmpeg, got));
        EXPECT_GE(snrDb(viaSox, got), 60.0);
        // ffmpeg's decoder is a different implementation of the standard.
        EXPECT_GE(snrDb(viaFfmpeg, got), 10.0);
    }
}

TEST_F(OrvoAmrDecLib, DecodesSeveralFramesPerCallAndKeepsCutFramesOut) {
    auto file = readFile(fixture("libcodec_mr122.amr"));
    std::vector<uint8_t> pcm(10 * 320);
    // Three whole 32-byte frames and one cut short.
    EXPECT_EQ(orvoamrdec.amr_decode(&file[6], 3 * 32 + 10, pcm.data(), int(pcm.size())), 960);
    // Room for only two frames.
    EXPECT_EQ(orvoamrdec.amr_decode(&file[6], 3 * 32, pcm.data(), 700), 640);
    EXPECT_EQ(orvoamrdec.amr_decode(&file[6], 0, pcm.data(), 700), 0);
    // A no-data frame (type 15) still gives 20 ms.
    uint8_t noData = 15 << 3;
    EXPECT_EQ(orvoamrdec.amr_decode(&noData, 1, pcm.data(), 320), 320);
    EXPECT_EQ(orvoamrdec.amr_decode(nullptr, 5, pcm.data(), 320), -1);
    orvoamrdec.amrdecode_close();
    EXPECT_EQ(orvoamrdec.amr_decode(&file[6], 32, pcm.data(), 320), -1);
}

TEST_F(OrvoAmrDecLib, RandomBytesDecodeWithinBounds) {
    std::vector<uint8_t> data(5000), pcm(3200);
    uint32_t x = 7;
    for (auto& b : data)
        b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    for (size_t at = 0; at + 200 <= data.size(); at += 200) {
        int got = orvoamrdec.amr_decode(&data[at], 200, pcm.data(), int(pcm.size()));
        ASSERT_GE(got, 0);
        ASSERT_LE(got, int(pcm.size()));
        ASSERT_EQ(got % 320, 0);
    }
}
