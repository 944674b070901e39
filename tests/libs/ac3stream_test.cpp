#include "engine/libraries/lib_ac3stream.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

// Length in bytes of the AC-3 frame starting at p (0 when not a frame header).
size_t ac3FrameLength(const uint8_t* p, size_t avail) {
    static const int kRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                   192, 224, 256, 320, 384, 448, 512, 576, 640};
    if (avail < 5 || p[0] != 0x0B || p[1] != 0x77) return 0;
    int fscod = p[4] >> 6, code = p[4] & 0x3F;
    if (code / 2 >= 19 || fscod == 3) return 0;
    int kbps = kRates[code / 2];
    int words = fscod == 0 ? kbps * 2 : fscod == 2 ? kbps * 3 : kbps * 320 / 147 + (code & 1);
    return size_t(words) * 2;
}

std::vector<std::vector<uint8_t>> splitFrames(const std::vector<uint8_t>& file) {
    std::vector<std::vector<uint8_t>> frames;
    size_t pos = 0;
    while (pos < file.size()) {
        size_t n = ac3FrameLength(file.data() + pos, file.size() - pos);
        if (n == 0 || pos + n > file.size()) break;
        frames.emplace_back(file.begin() + long(pos), file.begin() + long(pos + n));
        pos += n;
    }
    return frames;
}

class Ac3Stream : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadAc3stream(), 0);
        ASSERT_EQ(ac3stream.ac3buf_init(), 0);
    }
    void TearDown() override {
        if (ac3stream.ac3buf_close) ac3stream.ac3buf_close();
        unloadAc3stream();
    }

    std::vector<int16_t> decodeAll(const std::string& file, size_t* frameCount = nullptr) {
        auto frames = splitFrames(readFile(file));
        std::vector<int16_t> out;
        std::vector<uint8_t> pcm(AC3STREAM_FRAME_PCM_BYTES * 2);
        for (auto& f : frames) {
            int len = -1;
            int r = ac3stream.ac3buf_readdata(f.data(), int(f.size()), pcm.data(), int(pcm.size()),
                                              &len);
            EXPECT_GE(r, 0);
            EXPECT_EQ(r, len);
            auto s = toSamples(pcm, size_t(std::max(len, 0)));
            out.insert(out.end(), s.begin(), s.end());
        }
        if (frameCount) *frameCount = frames.size();
        return out;
    }
};

TEST_F(Ac3Stream, StereoMatchesFfmpegFrameForFrame) {
    size_t frames = 0;
    auto mine = decodeAll(fixture("libav_ac3_st.ac3"), &frames);
    auto ref = ffmpegDecode(fixture("libav_ac3_st.ac3"));
    ASSERT_GT(frames, 10u);
    EXPECT_EQ(mine.size(), frames * 1536 * 2);
    EXPECT_EQ(mine.size(), ref.size());
    EXPECT_GE(snrDb(ref, mine), 60.0);
    EXPECT_EQ(ac3stream.ac3buf_get_handle(), 1);
}

TEST_F(Ac3Stream, FiveOneIsDownmixedToStereo) {
    size_t frames = 0;
    auto mine = decodeAll(fixture("libav_ac3_51.ac3"), &frames);
    auto ref = ffmpegDecode(fixture("libav_ac3_51.ac3"), "-ac 2", "-downmix stereo");
    EXPECT_EQ(mine.size(), frames * 1536 * 2);
    EXPECT_EQ(mine.size(), ref.size());
    EXPECT_GE(snrDb(ref, mine), 60.0);
    // The centre and surround tones reach both sides: the two channels differ
    // but neither is silent.
    double l = 0, r = 0;
    for (size_t i = 0; i + 1 < mine.size(); i += 2)
        l += std::abs(mine[i]), r += std::abs(mine[i + 1]);
    EXPECT_GT(l, 0);
    EXPECT_GT(r, 0);
}

TEST_F(Ac3Stream, BadInputIsRefusedAndDecodingGoesOn) {
    auto frames = splitFrames(readFile(fixture("libav_ac3_st.ac3")));
    ASSERT_GE(frames.size(), 3u);
    std::vector<uint8_t> pcm(AC3STREAM_FRAME_PCM_BYTES);
    int len = 7;
    EXPECT_EQ(ac3stream.ac3buf_readdata(nullptr, 10, pcm.data(), int(pcm.size()), &len), -1);
    EXPECT_EQ(len, 0);
    std::vector<uint8_t> junk(700, 0x5A);
    EXPECT_EQ(
        ac3stream.ac3buf_readdata(junk.data(), int(junk.size()), pcm.data(), int(pcm.size()), &len),
        -2);
    auto broken = frames[1];
    for (size_t i = 8; i < broken.size(); ++i)
        broken[i] ^= 0xA5;
    int r = ac3stream.ac3buf_readdata(broken.data(), int(broken.size()), pcm.data(),
                                      int(pcm.size()), &len);
    EXPECT_TRUE(r == -2 ||
                r == AC3STREAM_FRAME_PCM_BYTES); // the CRC catches it, or it decodes to noise
    EXPECT_EQ(ac3stream.ac3buf_readdata(frames[2].data(), int(frames[2].size()), pcm.data(),
                                        int(pcm.size()), &len),
              AC3STREAM_FRAME_PCM_BYTES);
    // A truncated frame is no frame at all.
    EXPECT_LT(ac3stream.ac3buf_readdata(frames[0].data(), 4, pcm.data(), int(pcm.size()), &len), 0);
}

TEST_F(Ac3Stream, SmallBufferKeepsTheRestForTheNextCall) {
    auto frames = splitFrames(readFile(fixture("libav_ac3_st.ac3")));
    std::vector<uint8_t> small(1000), big(AC3STREAM_FRAME_PCM_BYTES * 3);
    int len = 0;
    ASSERT_EQ(ac3stream.ac3buf_readdata(frames[0].data(), int(frames[0].size()), small.data(), 1000,
                                        &len),
              1000);
    ASSERT_EQ(ac3stream.ac3buf_readdata(frames[1].data(), int(frames[1].size()), big.data(),
                                        int(big.size()), &len),
              2 * AC3STREAM_FRAME_PCM_BYTES - 1000);
}

// A frame that arrives when the kept PCM already fills the buffer is kept as
// well: buffers smaller than a frame lose nothing once a larger one follows.
TEST_F(Ac3Stream, FramesArrivingAtAFullBufferAreKept) {
    auto frames = splitFrames(readFile(fixture("libav_ac3_st.ac3")));
    ASSERT_GT(frames.size(), 20u);
    std::vector<uint8_t> pcm(AC3STREAM_FRAME_PCM_BYTES * 3);
    size_t total = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        int capacity = i < 10 ? 4000 : int(pcm.size());
        int len = 0;
        int r = ac3stream.ac3buf_readdata(frames[i].data(), int(frames[i].size()), pcm.data(),
                                          capacity, &len);
        ASSERT_GE(r, 0);
        total += size_t(r);
    }
    EXPECT_EQ(total, frames.size() * AC3STREAM_FRAME_PCM_BYTES);
}

TEST(Ac3StreamLoader, MissingLibraryAndMissingExportShowTheirMessages) {
    RecordingMessages msgs;
    TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadAc3stream(), 0);
    EXPECT_EQ(msgs.lastText(), "装载AC3STREAM.SO错误");
    setLibraryFolder(std::string(KESTREL_BIN_DIR) + "/incomplete");
    EXPECT_LT(loadAc3stream(), 0);
    EXPECT_EQ(msgs.lastText(), "AC3动态库过程调用3错误");
    EXPECT_EQ(ac3stream.ac3buf_init, nullptr);
    setLibraryFolder(KESTREL_BIN_DIR);
}

TEST(Ac3StreamLoader, LoadsAreCountedAndDecodersArePerThread) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadAc3stream(), 0);
    ASSERT_GE(loadAc3stream(), 0);
    unloadAc3stream();
    ASSERT_NE(ac3stream.ac3buf_init, nullptr); // still held by the first load
    ASSERT_EQ(ac3stream.ac3buf_init(), 0);
    int other = -1;
    std::thread t([&] { other = ac3stream.ac3buf_get_handle(); });
    t.join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(ac3stream.ac3buf_get_handle(), 1);
    ac3stream.ac3buf_close();
    unloadAc3stream();
    EXPECT_EQ(ac3stream.ac3buf_init, nullptr);
}

} // namespace
