#include "common/av_decoder.h"
#include "libs/libav_test_util.h"

#include <gtest/gtest.h>

#include <random>

using namespace kestrel::test;
using namespace kestrel::test::libav;

namespace {

// Whole AC-3 frames of a file (sync word, frame size code).
std::vector<std::vector<uint8_t>> ac3Frames(const std::vector<uint8_t>& file) {
    static const int kRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                   192, 224, 256, 320, 384, 448, 512, 576, 640};
    std::vector<std::vector<uint8_t>> frames;
    size_t pos = 0;
    while (pos + 5 <= file.size() && file[pos] == 0x0B && file[pos + 1] == 0x77) {
        int fscod = file[pos + 4] >> 6, code = file[pos + 4] & 0x3F;
        if (code / 2 >= 19 || fscod == 3) break;
        int kbps = kRates[code / 2];
        int words = fscod == 0 ? kbps * 2 : fscod == 2 ? kbps * 3 : kbps * 320 / 147 + (code & 1);
        size_t n = size_t(words) * 2;
        if (pos + n > file.size()) break;
        frames.emplace_back(file.begin() + long(pos), file.begin() + long(pos + n));
        pos += n;
    }
    return frames;
}

void append(std::vector<int16_t>& out, const std::vector<uint8_t>& pcm, int bytes) {
    ASSERT_GE(bytes, 0);
    auto s = toSamples(pcm, size_t(bytes));
    out.insert(out.end(), s.begin(), s.end());
}

// Everything the decoder still holds at the end, in calls of `capacity` bytes.
void flushAll(orvo::AvDecoder& d, std::vector<int16_t>& out, size_t capacity) {
    std::vector<uint8_t> pcm(capacity);
    for (int calls = 0; calls < 100000; ++calls) {
        int r = d.flush(pcm.data(), int(pcm.size()));
        ASSERT_GE(r, 0);
        if (r == 0) return;
        append(out, pcm, r);
    }
    FAIL() << "flush never ends";
}

// Decodes `frames` one call each into buffers of `capacity` bytes, then flushes.
std::vector<int16_t>
decodeFrames(orvo::AvDecoder& d, const std::vector<std::vector<uint8_t>>& frames, size_t capacity) {
    std::vector<int16_t> out;
    std::vector<uint8_t> pcm(capacity);
    for (auto& f : frames) {
        int r = d.decode(f.data(), int(f.size()), pcm.data(), int(pcm.size()));
        EXPECT_GE(r, 0);
        append(out, pcm, std::max(r, 0));
    }
    flushAll(d, out, capacity);
    return out;
}

} // namespace

// A frame arriving when the kept PCM has already filled the buffer is kept
// too; nothing is lost however small the buffer.
TEST(AvDecoder, SmallBuffersLoseNoPcm) {
    auto frames = ac3Frames(readFile(fixture("libav_ac3_st.ac3")));
    ASSERT_GT(frames.size(), 10u);
    auto ref = ffmpegDecode(fixture("libav_ac3_st.ac3"));
    for (size_t capacity : {size_t(1000), size_t(4000), size_t(6144), size_t(6)}) {
        SCOPED_TRACE(capacity);
        orvo::AvDecoder d;
        ASSERT_EQ(d.open(AV_CODEC_ID_AC3), 0);
        auto out = decodeFrames(d, frames, capacity);
        EXPECT_EQ(d.rate(), 44100);
        EXPECT_EQ(d.channels(), 2);
        EXPECT_EQ(out.size(), frames.size() * 1536 * 2);
        EXPECT_EQ(out.size(), ref.size());
        EXPECT_GE(snrDb(ref, out), 60.0);
    }
}

// A whole ADTS file handed over as one buffer gives every frame, over as many
// calls as the caller's buffer needs.
TEST(AvDecoder, WholeBufferComesOutOverSeveralCalls) {
    auto file = readFile(fixture("libav_aac_lc.aac"));
    auto ref = ffmpegDecode(fixture("libav_aac_lc.aac"));
    orvo::AvDecoder d;
    ASSERT_EQ(d.open(AV_CODEC_ID_AAC), 0);
    std::vector<uint8_t> pcm(4096);
    std::vector<int16_t> out;
    int r = d.decode(file.data(), int(file.size()), pcm.data(), int(pcm.size()));
    ASSERT_GT(r, 0);
    EXPECT_LE(r, 4096);
    append(out, pcm, r);
    flushAll(d, out, pcm.size());
    EXPECT_EQ(d.rate(), 44100);
    EXPECT_EQ(d.channels(), 2);
    EXPECT_EQ(out.size(), ref.size());
    EXPECT_GE(snrDb(ref, out), 60.0);
}

// Kept PCM is given out without flushing the resampler midway: small buffers
// give the very samples of a large one.
TEST(AvDecoder, ResampledOutputDoesNotDependOnTheBufferSize) {
    auto file = readFile(fixture("libav_ac3_st.ac3"));
    auto frames = ac3Frames(file);
    orvo::AvDecoderParams p;
    p.outRate = 22050;
    orvo::AvDecoder big, small;
    ASSERT_EQ(big.open(AV_CODEC_ID_AC3, p), 0);
    ASSERT_EQ(small.open(AV_CODEC_ID_AC3, p), 0);
    auto a = decodeFrames(big, frames, 1 << 20);
    auto b = decodeFrames(small, frames, 1000);
    EXPECT_EQ(big.rate(), 22050);
    EXPECT_NEAR(double(a.size()), frames.size() * 768.0 * 2, 64);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b);
}

TEST(AvDecoder, FiveOneAc3IsMixedDownToTwoChannels) {
    auto frames = ac3Frames(readFile(fixture("libav_ac3_51.ac3")));
    ASSERT_GT(frames.size(), 10u);
    // With libswresample's default matrix, as ffmpeg -ac 2 mixes.
    orvo::AvDecoder d;
    ASSERT_EQ(d.open(AV_CODEC_ID_AC3), 0);
    auto out = decodeFrames(d, frames, 4000);
    EXPECT_EQ(d.channels(), 2);
    auto ref = ffmpegDecode(fixture("libav_ac3_51.ac3"), "-ac 2");
    EXPECT_EQ(out.size(), frames.size() * 1536 * 2);
    EXPECT_EQ(out.size(), ref.size());
    EXPECT_GE(snrDb(ref, out), 60.0);

    // With the decoder's own downmix and the stream's mix levels.
    orvo::AvDecoderParams p;
    p.decoderDownmix = true;
    orvo::AvDecoder own;
    ASSERT_EQ(own.open(AV_CODEC_ID_AC3, p), 0);
    auto mixed = decodeFrames(own, frames, 4000);
    EXPECT_EQ(own.channels(), 2);
    auto ownRef = ffmpegDecode(fixture("libav_ac3_51.ac3"), "-ac 2", "-downmix stereo");
    EXPECT_EQ(mixed.size(), ownRef.size());
    EXPECT_GE(snrDb(ownRef, mixed), 60.0);
}

// After a seek the decoder starts clean: neither kept PCM nor decoder state
// from before the seek comes out.
TEST(AvDecoder, ResetAfterASeek) {
    auto frames = ac3Frames(readFile(fixture("libav_ac3_st.ac3")));
    ASSERT_GT(frames.size(), 30u);
    std::vector<std::vector<uint8_t>> head(frames.begin(), frames.begin() + 10);
    std::vector<std::vector<uint8_t>> tail(frames.begin() + 20, frames.end());

    orvo::AvDecoder fresh;
    ASSERT_EQ(fresh.open(AV_CODEC_ID_AC3), 0);
    auto expected = decodeFrames(fresh, tail, 1 << 20);

    orvo::AvDecoder d;
    ASSERT_EQ(d.open(AV_CODEC_ID_AC3), 0);
    std::vector<uint8_t> pcm(1000); // leaves PCM kept inside
    for (auto& f : head)
        ASSERT_GE(d.decode(f.data(), int(f.size()), pcm.data(), int(pcm.size())), 0);
    ASSERT_EQ(d.reset(), 0);
    EXPECT_EQ(d.rate(), 44100);
    EXPECT_EQ(d.channels(), 2);
    auto after = decodeFrames(d, tail, 1 << 20);
    ASSERT_EQ(after.size(), expected.size());
    EXPECT_TRUE(after == expected);

    // A reset after the end of the stream decodes again.
    ASSERT_EQ(d.reset(), 0);
    auto again = decodeFrames(d, tail, 1 << 20);
    EXPECT_TRUE(again == expected);
}

TEST(AvDecoder, BadInputGivesNegativeCodes) {
    std::vector<uint8_t> pcm(8192);
    std::vector<uint8_t> junk(700, 0x5A);
    orvo::AvDecoder d;
    // Nothing open.
    EXPECT_LT(d.decode(junk.data(), int(junk.size()), pcm.data(), int(pcm.size())), 0);
    EXPECT_LT(d.flush(pcm.data(), int(pcm.size())), 0);
    EXPECT_LT(d.receive(pcm.data(), int(pcm.size())), 0);
    EXPECT_LT(d.send(junk.data(), int(junk.size())), 0);
    EXPECT_LT(d.reset(), 0);
    EXPECT_FALSE(d.isOpen());
    // No decoder, a broken configuration, a size without bytes.
    EXPECT_EQ(d.open(AV_CODEC_ID_NONE), AVERROR_DECODER_NOT_FOUND);
    EXPECT_FALSE(orvo::AvDecoder::available(AV_CODEC_ID_NONE));
    orvo::AvDecoderParams bad;
    const uint8_t config[2] = {0xFF, 0xFF};
    bad.extradata = config;
    bad.extradataSize = 2;
    EXPECT_LT(d.open(AV_CODEC_ID_AAC, bad), 0);
    EXPECT_FALSE(d.isOpen());
    bad.extradata = nullptr;
    EXPECT_LT(d.open(AV_CODEC_ID_AAC, bad), 0);

    // Junk is damaged input; null and negative arguments are refused.
    ASSERT_EQ(d.open(AV_CODEC_ID_AC3), 0);
    EXPECT_EQ(d.decode(junk.data(), int(junk.size()), pcm.data(), int(pcm.size())),
              AVERROR_INVALIDDATA);
    EXPECT_LT(d.decode(nullptr, 10, pcm.data(), int(pcm.size())), 0);
    EXPECT_LT(d.decode(junk.data(), -1, pcm.data(), int(pcm.size())), 0);
    EXPECT_LT(d.decode(junk.data(), int(junk.size()), nullptr, 100), 0);
    EXPECT_LT(d.decode(junk.data(), int(junk.size()), pcm.data(), -1), 0);
    EXPECT_LT(d.drain(nullptr, 10), 0);
    EXPECT_EQ(d.flush(pcm.data(), int(pcm.size())), 0); // nothing decoded, nothing held

    // Random bytes into several decoders: no crash, never more than the room.
    std::mt19937 rng(7);
    for (AVCodecID id : {AV_CODEC_ID_AC3, AV_CODEC_ID_AAC, AV_CODEC_ID_ADPCM_MS}) {
        orvo::AvDecoderParams p;
        p.sampleRate = 22050;
        p.channels = 2;
        p.blockAlign = 512;
        ASSERT_EQ(d.open(id, p), 0);
        for (int i = 0; i < 50; ++i) {
            std::vector<uint8_t> data(1 + rng() % 2000);
            for (auto& b : data)
                b = uint8_t(rng());
            if (i % 2 == 0 && id == AV_CODEC_ID_AC3) data[0] = 0x0B, data[1] = 0x77;
            int r = d.decode(data.data(), int(data.size()), pcm.data(), 3000);
            EXPECT_LE(r, 3000);
        }
        int r;
        while ((r = d.flush(pcm.data(), 3000)) > 0)
            EXPECT_LE(r, 3000);
        EXPECT_EQ(r, 0);
    }
}
