#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvomp4dec.h"
#include "libs/libav_test_util.h"
#include "platform/paths.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace kestrel;
using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

std::vector<std::vector<uint8_t>> adtsFrames(const std::vector<uint8_t>& f) {
    std::vector<std::vector<uint8_t>> frames;
    size_t pos = 0;
    while (pos + 7 <= f.size() && f[pos] == 0xFF && (f[pos + 1] & 0xF6) == 0xF0) {
        size_t len = ((f[pos + 3] & 3) << 11) | (f[pos + 4] << 3) | (f[pos + 5] >> 5);
        if (len < 7 || pos + len > f.size()) break;
        frames.emplace_back(f.begin() + long(pos), f.begin() + long(pos + len));
        pos += len;
    }
    return frames;
}

struct Bits {
    std::vector<uint8_t> out;
    size_t bit = 0;
    void put(unsigned v, int n) {
        for (int i = n - 1; i >= 0; --i, ++bit) {
            if ((bit >> 3) >= out.size()) out.push_back(0);
            if ((v >> i) & 1) out[bit >> 3] |= uint8_t(0x80 >> (bit & 7));
        }
    }
    void align() { bit = (bit + 7) & ~size_t(7); }
};

// The same AAC as an ADIF file: an ADIF header with a program config element
// for one stereo LC channel pair at 44100 Hz, then the raw data blocks.
std::vector<uint8_t> adifFromAdts(const std::vector<std::vector<uint8_t>>& frames) {
    Bits b;
    b.put(0x41444946, 32); // "ADIF"
    b.put(0, 1);           // no copyright id
    b.put(0, 1);
    b.put(0, 1);
    b.put(0, 1); // constant rate
    b.put(128000, 23);
    b.put(0, 4);  // one program config element
    b.put(0, 20); // buffer fullness
    b.put(0, 4);  // element tag
    b.put(1, 2);  // LC
    b.put(4, 4);  // 44100 Hz
    b.put(1, 4);  // one front element
    b.put(0, 4);
    b.put(0, 4);
    b.put(0, 2);
    b.put(0, 3);
    b.put(0, 4);
    b.put(0, 3); // no mixdowns
    b.put(1, 1); // channel pair
    b.put(0, 4);
    b.align();
    b.put(0, 8); // no comment
    b.align();
    std::vector<uint8_t> file = b.out;
    for (auto& f : frames)
        file.insert(file.end(), f.begin() + 7, f.end());
    return file;
}

class AacDecoder : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadOrvoaacdec(), 0);
    }
    void TearDown() override {
        if (orvoaacdec.aacdecode_close) {
            orvoaacdec.aacdecode_close();
            orvoaacdec.aacdecodebuf_close();
        }
        unloadOrvoaacdec();
    }

    // Decodes a file with the file form; checks that progress only grows.
    std::vector<int16_t> decodeFile(const std::string& path, int mode, int* rate, int* ch) {
        EXPECT_EQ(a.aacdecode_init(path.c_str(), mode, rate, ch), 0);
        std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES);
        std::vector<int16_t> out;
        int last = 0, progress = 0, len = 0;
        while ((progress = a.aac_decode(pcm.data(), int(pcm.size()), &len)) >= 0) {
            EXPECT_GE(progress, last);
            EXPECT_LE(progress, 1000);
            last = progress;
            auto s = toSamples(pcm, size_t(len));
            out.insert(out.end(), s.begin(), s.end());
        }
        EXPECT_GE(last, 950);
        EXPECT_EQ(a.aac_decode(pcm.data(), int(pcm.size()), &len), -1); // stays at the end
        return out;
    }
    OrvoaacdecApi& a = orvoaacdec;
};

TEST_F(AacDecoder, BufferFormWithMp4SamplesMatchesFfmpeg) {
    setLibraryFolder(KESTREL_BIN_DIR);
    ASSERT_GE(loadOrvomp4dec(), 0);
    for (const char* name : {"libav_aac_lc.m4a", "libav_aac_mono22.m4a"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(orvomp4dec.mp4de_init(fixture(name).c_str()), 0);
        unsigned char cfg[1024];
        int n = orvomp4dec.mp4_getmp4aconfig(cfg, 1024);
        ASSERT_GT(n, 0);
        int srcRate = 0, srcCh = 0, rate = 0, ch = 0, largest = 0;
        orvomp4dec.mp4_getaudio(&srcRate, &srcCh, nullptr, nullptr);
        ASSERT_EQ(a.aacdecodebuf_init(cfg, n, 1000, srcRate, &rate, &ch), 0);
        EXPECT_EQ(rate, srcRate);
        EXPECT_EQ(ch, srcCh);
        int count = orvomp4dec.mp4_getaudionum(&largest, nullptr);
        std::vector<unsigned char> sample(size_t(largest) + 100);
        std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES);
        std::vector<int16_t> out;
        for (int i = 0; i < count; ++i) {
            int len = orvomp4dec.mp4_readaudio(i, sample.data(), int(sample.size()), nullptr);
            ASSERT_GT(len, 0);
            int r = a.aacbuf_decode(sample.data(), len, pcm.data(), int(pcm.size()));
            ASSERT_GE(r, 0);
            auto s = toSamples(pcm, size_t(r));
            out.insert(out.end(), s.begin(), s.end());
        }
        auto ref = ffmpegDecode(fixture(name), "", "-ignore_editlist 1");
        EXPECT_EQ(out.size(), ref.size());
        EXPECT_GE(snrDb(ref, out), 60.0);
        orvomp4dec.mp4de_close();
    }
    unloadOrvomp4dec();
}

TEST_F(AacDecoder, BufferFormWithAdtsFramesAndNoConfiguration) {
    auto frames = adtsFrames(readFile(fixture("libav_aac_lc.aac")));
    ASSERT_GT(frames.size(), 50u);
    int rate = 0, ch = 0;
    ASSERT_EQ(a.aacdecodebuf_init(nullptr, 0, 1000, 44100, &rate, &ch), 0);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(ch, 2);
    std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES);
    std::vector<int16_t> out;
    for (auto& f : frames) {
        int r = a.aacbuf_decode(f.data(), int(f.size()), pcm.data(), int(pcm.size()));
        ASSERT_GE(r, 0);
        auto s = toSamples(pcm, size_t(r));
        out.insert(out.end(), s.begin(), s.end());
    }
    auto ref = ffmpegDecode(fixture("libav_aac_lc.aac"));
    EXPECT_EQ(out.size(), ref.size());
    EXPECT_GE(snrDb(ref, out), 60.0);
}

// Resampled output (ADTS frames reported at the caller's rate) does not
// depend on the buffer size: kept PCM is given out without flushing the
// resampler midway.
TEST_F(AacDecoder, ResampledBufferFormIsTheSameWithSmallBuffers) {
    auto frames = adtsFrames(readFile(fixture("libav_aac_lc.aac")));
    ASSERT_GT(frames.size(), 50u);
    auto decode = [&](int capacity) {
        int rate = 0, ch = 0;
        EXPECT_EQ(a.aacdecodebuf_init(nullptr, 0, 1000, 22050, &rate, &ch), 0);
        EXPECT_EQ(rate, 22050);
        std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES * 4);
        std::vector<int16_t> out;
        for (size_t i = 0; i < frames.size() + 100; ++i) {
            // After the last frame, empty units give out what is kept.
            int r = i < frames.size() ? a.aacbuf_decode(frames[i].data(), int(frames[i].size()),
                                                        pcm.data(), capacity)
                                      : a.aacbuf_decode(frames[0].data(), 0, pcm.data(), capacity);
            EXPECT_GE(r, 0);
            auto s = toSamples(pcm, size_t(std::max(r, 0)));
            out.insert(out.end(), s.begin(), s.end());
        }
        return out;
    };
    auto big = decode(AACDEC_FRAME_PCM_BYTES * 4);
    auto small = decode(1500);
    ASSERT_EQ(big.size(), small.size());
    EXPECT_TRUE(big == small);
}

TEST_F(AacDecoder, FileFormReadsAdtsAdifAndMp4) {
    int rate = 0, ch = 0;
    auto ref = ffmpegDecode(fixture("libav_aac_lc.aac"));
    auto adts = decodeFile(fixture("libav_aac_lc.aac"), AACDEC_MODE_STREAM, &rate, &ch);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(ch, 2);
    EXPECT_EQ(adts.size(), ref.size());
    EXPECT_GE(snrDb(ref, adts), 60.0);
    int br = 0;
    double ms = 0;
    ASSERT_EQ(a.get_mp4info(&rate, &ch, &br, &ms), 0);
    EXPECT_NEAR(ms, 2000, 200);
    EXPECT_NEAR(br, 128000, 30000);

    TempDir tmp;
    writeFile(tmp.file("x.aac"), adifFromAdts(adtsFrames(readFile(fixture("libav_aac_lc.aac")))));
    auto adif = decodeFile(tmp.file("x.aac"), AACDEC_MODE_AUTO, &rate, &ch);
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(ch, 2);
    EXPECT_EQ(adif.size(), ref.size());
    EXPECT_GE(snrDb(ref, adif), 60.0);

    auto mp4ref = ffmpegDecode(fixture("libav_aac_lc.m4a"));
    auto mp4 = decodeFile(fixture("libav_aac_lc.m4a"), AACDEC_MODE_MP4, &rate, &ch);
    EXPECT_EQ(mp4.size(), mp4ref.size());
    EXPECT_GE(snrDb(mp4ref, mp4), 60.0);
    ASSERT_EQ(a.get_mp4info(&rate, &ch, &br, &ms), 0);
    EXPECT_NEAR(ms, 2000, 50);
}

TEST_F(AacDecoder, DamagedAndWrongInputIsHandled) {
    int rate, ch;
    EXPECT_EQ(a.aacdecode_init("/nonexistent.aac", AACDEC_MODE_STREAM, &rate, &ch), -1);
    EXPECT_EQ(
        a.aacdecode_init(fixture("libav_src_22k_mono.wav").c_str(), AACDEC_MODE_STREAM, &rate, &ch),
        -2);
    EXPECT_LT(a.aacdecode_init(fixture("libav_aac_lc.aac").c_str(), AACDEC_MODE_MP4, &rate, &ch),
              0);
    EXPECT_EQ(a.get_mp4info(nullptr, nullptr, nullptr, nullptr), -1);
    std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES);
    int len = 5;
    EXPECT_EQ(a.aac_decode(pcm.data(), int(pcm.size()), &len), -1);
    EXPECT_EQ(len, 0);

    const unsigned char bad[2] = {0xF8, 0x00}; // object type 31 escape, cut short
    EXPECT_EQ(a.aacdecodebuf_init(bad, 2, 1000, 44100, &rate, &ch), -2);
    EXPECT_EQ(a.aacdecodebuf_init(nullptr, 4, 1000, 44100, &rate, &ch), -1);
    EXPECT_EQ(a.aacbuf_decode(bad, 2, pcm.data(), int(pcm.size())), -1);

    // Garbage between frames and a damaged frame are skipped.
    auto frames = adtsFrames(readFile(fixture("libav_aac_lc.aac")));
    std::vector<uint8_t> file;
    for (size_t i = 0; i < frames.size(); ++i) {
        if (i == 10) file.insert(file.end(), 333, 0x11);
        auto f = frames[i];
        if (i == 20)
            for (size_t k = 7; k < f.size(); ++k)
                f[k] = uint8_t(k * 37);
        file.insert(file.end(), f.begin(), f.end());
    }
    TempDir tmp;
    writeFile(tmp.file("d.aac"), file);
    auto out = decodeFile(tmp.file("d.aac"), AACDEC_MODE_AUTO, &rate, &ch);
    auto ref = ffmpegDecode(fixture("libav_aac_lc.aac"));
    EXPECT_GE(out.size(), ref.size() - 1024 * 2); // at most the damaged frame is lost
    EXPECT_LE(out.size(), ref.size());
}

TEST_F(AacDecoder, DamagedHeadersAndLargeJunkEndQuickly) {
    TempDir tmp;
    std::string path = tmp.file("j.aac");
    // Sync-like bytes everywhere but no stream: refused without a long search.
    std::vector<uint8_t> junk(4 << 20);
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = (i & 1) ? 0xF1 : 0xFF;
    writeFile(path, junk);
    int rate, ch;
    EXPECT_EQ(a.aacdecode_init(path.c_str(), AACDEC_MODE_AUTO, &rate, &ch), -2);

    // Damaged ADIF headers: refused or decoded, never a crash or a hang.
    auto adif = adifFromAdts(adtsFrames(readFile(fixture("libav_aac_lc.aac"))));
    std::mt19937 rng(11);
    std::vector<uint8_t> pcm(AACDEC_FRAME_PCM_BYTES);
    for (int round = 0; round < 100; ++round) {
        auto f = adif;
        for (int k = 0; k < 3; ++k)
            f[4 + rng() % 12] ^= uint8_t(1u << (rng() % 8));
        f.resize(2000);
        writeFile(path, f);
        if (a.aacdecode_init(path.c_str(), AACDEC_MODE_STREAM, &rate, &ch) < 0) continue;
        EXPECT_GE(ch, 1);
        EXPECT_LE(ch, 2);
        int len = 0, frames = 0;
        while (a.aac_decode(pcm.data(), int(pcm.size()), &len) >= 0 && frames < 1000)
            ++frames;
        EXPECT_LT(frames, 1000);
    }
}

TEST_F(AacDecoder, FileAndBufferFormsArePerThread) {
    int rate, ch;
    ASSERT_EQ(a.aacdecode_init(fixture("libav_aac_lc.aac").c_str(), AACDEC_MODE_AUTO, &rate, &ch),
              0);
    int other = 0;
    std::thread t([&] { other = a.get_mp4info(nullptr, nullptr, nullptr, nullptr); });
    t.join();
    EXPECT_EQ(other, -1);
    EXPECT_EQ(a.get_mp4info(nullptr, nullptr, nullptr, nullptr), 0);
}

} // namespace
