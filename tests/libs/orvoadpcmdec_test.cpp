#include "engine/libraries/lib_orvoadpcmdec.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

struct Wav {
    std::vector<uint8_t> fmt, data;
};

uint32_t rl32(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

Wav parseWav(const std::vector<uint8_t>& f) {
    Wav w;
    size_t pos = 12;
    while (pos + 8 <= f.size()) {
        uint32_t size = rl32(&f[pos + 4]);
        size_t body = pos + 8, end = std::min(f.size(), body + size);
        if (!memcmp(&f[pos], "fmt ", 4))
            w.fmt.assign(f.begin() + long(body), f.begin() + long(end));
        if (!memcmp(&f[pos], "data", 4))
            w.data.assign(f.begin() + long(body), f.begin() + long(end));
        pos = body + size + (size & 1);
    }
    return w;
}

class AdpcmDecoder : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadOrvoadpcmdec(), 0);
    }
    void TearDown() override {
        if (orvoadpcmdec.orvo_adpcm_close) orvoadpcmdec.orvo_adpcm_close();
        unloadOrvoadpcmdec();
    }

    // Decodes the data chunk fed in pieces of `piece` bytes, then flushes.
    std::vector<int16_t> decode(const Wav& w, size_t piece) {
        EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(w.fmt.data(), int(w.fmt.size())), 0);
        std::vector<uint8_t> pcm(1 << 20);
        std::vector<int16_t> out;
        for (size_t pos = 0; pos < w.data.size(); pos += piece) {
            int n = int(std::min(piece, w.data.size() - pos));
            int r =
                orvoadpcmdec.orvo_adpcm_decode(w.data.data() + pos, n, pcm.data(), int(pcm.size()));
            EXPECT_GE(r, 0);
            auto s = toSamples(pcm, size_t(std::max(r, 0)));
            out.insert(out.end(), s.begin(), s.end());
        }
        int r = orvoadpcmdec.orvo_adpcm_decode(nullptr, 0, pcm.data(), int(pcm.size()));
        auto s = toSamples(pcm, size_t(std::max(r, 0)));
        out.insert(out.end(), s.begin(), s.end());
        return out;
    }
};

TEST_F(AdpcmDecoder, MicrosoftAndImaMatchFfmpegSampleForSample) {
    for (const char* name :
         {"libav_ms_st.wav", "libav_ms_mono.wav", "libav_ima_st.wav", "libav_ima_mono.wav"}) {
        SCOPED_TRACE(name);
        Wav w = parseWav(readFile(fixture(name)));
        ASSERT_GE(w.fmt.size(), 16u);
        auto ref = ffmpegDecode(fixture(name));
        auto whole = decode(w, w.data.size());
        EXPECT_EQ(whole.size(), ref.size());
        EXPECT_GE(snrDb(ref, whole), 60.0);
        // Pieces that cut blocks anywhere give the same PCM.
        auto pieces = decode(w, 333);
        EXPECT_EQ(pieces, whole);
    }
}

TEST_F(AdpcmDecoder, FrameCountFollowsTheBlockLayout) {
    Wav w = parseWav(readFile(fixture("libav_ms_st.wav")));
    unsigned align = w.fmt[12] | w.fmt[13] << 8, channels = w.fmt[2];
    // MS ADPCM: 2 header samples + 2 per byte after the 7-byte channel headers.
    unsigned perBlock = (align - 7 * channels) * 2 / channels + 2;
    ASSERT_EQ(orvoadpcmdec.orvo_adpcm_init(w.fmt.data(), int(w.fmt.size())), 0);
    std::vector<uint8_t> pcm(65536);
    int r =
        orvoadpcmdec.orvo_adpcm_decode(w.data.data(), int(align * 3), pcm.data(), int(pcm.size()));
    EXPECT_EQ(r, int(perBlock * 3 * channels * 2));
    // Half a block gives nothing until the other half arrives.
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_decode(w.data.data() + align * 3, int(align / 2), pcm.data(),
                                             65536),
              0);
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_decode(w.data.data() + align * 3 + align / 2,
                                             int(align - align / 2), pcm.data(), 65536),
              int(perBlock * channels * 2));
}

TEST_F(AdpcmDecoder, BadFormatsAreRefused) {
    Wav w = parseWav(readFile(fixture("libav_ima_st.wav")));
    auto fmt = w.fmt;
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(nullptr, 16), -1);
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(fmt.data(), 10), -1);
    fmt[0] = 1; // plain PCM is no ADPCM
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(fmt.data(), int(fmt.size())), -2);
    fmt = w.fmt;
    fmt[2] = 6; // six channels
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(fmt.data(), int(fmt.size())), -3);
    fmt = w.fmt;
    fmt[12] = fmt[13] = 0; // no block align
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(fmt.data(), int(fmt.size())), -3);
    fmt = w.fmt;
    if (fmt.size() >= 18) fmt[16] = fmt[17] = 0xFF; // extra size far past the chunk
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_init(fmt.data(), int(fmt.size())), 0);
    std::vector<uint8_t> pcm(8192);
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_decode(w.data.data(), 100, nullptr, 0), -1);
    orvoadpcmdec.orvo_adpcm_close();
    EXPECT_EQ(orvoadpcmdec.orvo_adpcm_decode(w.data.data(), 100, pcm.data(), 8192), -1);
}

TEST(AdpcmDecoderLoader, MissingLibraryIsReported) {
    RecordingMessages msgs;
    TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadOrvoadpcmdec(), 0);
    EXPECT_EQ(msgs.lastText(), "装载动态库orvoadpcmdec.so错误");
    setLibraryFolder(KESTREL_BIN_DIR);
}

} // namespace
