// mp3enc.so through its exports: constant, variable and average bit rate in
// all three MPEG versions, fed as the PCM sink feeds it, checked frame by frame
// and read back by ffprobe; and the loader's messages for a missing library and
// for a build that lacks one export.
#include "engine/core/captions.h"
#include "engine/libraries/lib_mp3enc.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <vector>

using namespace kestrel;
using kestrel::test::capture;
using kestrel::test::fixture;
using kestrel::test::readFile;
using kestrel::test::writeFile;

namespace {

struct Frame {
    int version; // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int kbps, rate, channels, bytes;
};

// The layer III frame at p (bytes = 0 when there is none).
Frame parseFrame(const uint8_t* p, size_t avail) {
    static const int v1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int v2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int rates[3] = {44100, 48000, 32000};
    Frame f{};
    if (avail < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0 || ((p[1] >> 1) & 3) != 1) return f;
    int ver = (p[1] >> 3) & 3, bri = p[2] >> 4, sri = (p[2] >> 2) & 3;
    if (ver == 1 || bri == 0 || bri == 15 || sri == 3) return f;
    f.version = ver == 3 ? 0 : ver == 2 ? 1 : 2;
    f.rate = rates[sri] >> f.version;
    f.kbps = f.version == 0 ? v1[bri] : v2[bri];
    f.channels = (p[3] >> 6) == 3 ? 1 : 2;
    f.bytes = (f.version == 0 ? 144000 : 72000) * f.kbps / f.rate + ((p[2] >> 1) & 1);
    return f;
}

// Splits a stream into frames; false when it is not whole frames back to back.
bool framesOf(const std::vector<uint8_t>& s, std::vector<Frame>* out) {
    size_t pos = 0;
    while (pos < s.size()) {
        Frame f = parseFrame(&s[pos], s.size() - pos);
        if (f.bytes == 0 || pos + f.bytes > s.size()) return false;
        out->push_back(f);
        pos += f.bytes;
    }
    return true;
}

class Mp3EncLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadMp3enc(), 0) << messages.lastText();
    }
    void TearDown() override {
        unloadMp3enc();
        setLibraryFolder(KESTREL_BIN_DIR);
    }

    // Encodes the PCM as the sink does: blocks of `block` bytes, each cut into
    // full calls of samplesPerCall and one call for the rest; every result must
    // be whole frames. Ends with the flush when `flush` is set.
    std::vector<uint8_t> encode(const std::vector<uint8_t>& pcm, size_t block, bool flush = true) {
        std::vector<uint8_t> stream;
        std::vector<uint8_t> out(outBufferSize);
        const size_t inBytes = size_t(samplesPerCall) * 2;
        auto take = [&](int n) {
            EXPECT_GE(n, 0);
            if (n <= 0) return;
            EXPECT_EQ(out[0], 0xFF);
            std::vector<uint8_t> part(out.begin(), out.begin() + n);
            std::vector<Frame> frames;
            EXPECT_TRUE(framesOf(part, &frames));
            stream.insert(stream.end(), part.begin(), part.end());
        };
        std::vector<short> in(samplesPerCall);
        for (size_t at = 0; at < pcm.size(); at += block) {
            size_t len = std::min(block, pcm.size() - at), p = 0;
            while (len - p > inBytes) {
                std::memcpy(in.data(), &pcm[at + p], inBytes);
                p += inBytes;
                int n = mp3enc.wave_enmp3code(in.data(), samplesPerCall, out.data());
                EXPECT_GT(n, 0); // a full call always completes a frame
                take(n);
            }
            std::memcpy(in.data(), &pcm[at + p], len - p);
            take(mp3enc.wave_enmp3code(in.data(), int(len - p) / 2, out.data()));
        }
        if (flush) take(mp3enc.wave_enmp3end(out.data()));
        return stream;
    }

    std::string probe(const std::vector<uint8_t>& stream, const char* name) {
        std::string path = dir.file(name);
        writeFile(path, stream);
        return capture("ffprobe -v error -count_packets -show_entries "
                       "stream=codec_name,sample_rate,channels,bit_rate,nb_read_packets "
                       "-of default=nw=1 '" +
                       path + "'");
    }

    int samplesPerCall = 0, outBufferSize = 0;
    kestrel::test::RecordingMessages messages;
    kestrel::test::TempDir dir;
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(Mp3EncLib, ConstantBitRateInEveryMpegVersion) {
    struct Case {
        const char* source;
        int rate, channels, version, kbps;
    } cases[] = {{"libcodec_src_44100_2ch.s16", 44100, 2, 0, 128},
                 {"libcodec_src_22050_1ch.s16", 22050, 1, 1, 64},
                 {"libcodec_src_11025_2ch.s16", 11025, 2, 2, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto pcm = readFile(fixture(c.source));
        ASSERT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, c.rate, c.kbps,
                                            c.channels, c.version),
                  0);
        ASSERT_GT(samplesPerCall, 0);
        ASSERT_GT(outBufferSize, 0);
        auto stream = encode(pcm, 4096);
        std::vector<Frame> frames;
        ASSERT_TRUE(framesOf(stream, &frames));
        for (const Frame& f : frames) {
            ASSERT_EQ(f.version, c.version);
            ASSERT_EQ(f.kbps, c.kbps);
            ASSERT_EQ(f.rate, c.rate);
            ASSERT_EQ(f.channels, c.channels);
        }
        // Duration: the input plus the encoder's delay of 1105 samples, padded
        // to a whole frame.
        const long spf = c.version == 0 ? 1152 : 576;
        const long inSamples = long(pcm.size()) / 2 / c.channels;
        const long outSamples = long(frames.size() - 1) * spf; // frame 0 holds the tag
        EXPECT_GE(outSamples, inSamples + 1105);
        EXPECT_LT(outSamples, inSamples + 1105 + spf);
        // The "Info" tag frame of a constant bit rate replaces the placeholder.
        std::vector<uint8_t> tag(4096);
        int n = mp3enc.wave_enmp3_vbrheader(tag.data(), int(tag.size()));
        ASSERT_EQ(n, frames[0].bytes);
        EXPECT_NE(std::string(tag.begin(), tag.begin() + n).find("Info"), std::string::npos);
        std::memcpy(stream.data(), tag.data(), static_cast<size_t>(n));

        std::string p = probe(stream, "cbr.mp3");
        EXPECT_TRUE(has(p, "codec_name=mp3")) << p;
        EXPECT_TRUE(has(p, "sample_rate=" + std::to_string(c.rate))) << p;
        EXPECT_TRUE(has(p, "channels=" + std::to_string(c.channels))) << p;
        EXPECT_TRUE(has(p, "bit_rate=" + std::to_string(c.kbps * 1000))) << p;
        EXPECT_TRUE(has(p, "nb_read_packets=" + std::to_string(frames.size() - 1))) << p;
    }
}

TEST_F(Mp3EncLib, VariableBitRateStaysWithinItsLimitsAndGetsItsTag) {
    auto pcm = readFile(fixture("libcodec_src_44100_2ch.s16"));
    ASSERT_EQ(
        mp3enc.wave_enmp3init_vbr(&samplesPerCall, &outBufferSize, 44100, 128, 2, 0, 4, 64, 160),
        0);
    auto stream = encode(pcm, 5120);
    std::vector<Frame> frames;
    ASSERT_TRUE(framesOf(stream, &frames));
    std::set<int> rates;
    for (size_t i = 1; i < frames.size(); ++i) { // frame 0 holds the tag
        EXPECT_GE(frames[i].kbps, 64);
        EXPECT_LE(frames[i].kbps, 160);
        rates.insert(frames[i].kbps);
    }
    EXPECT_GT(rates.size(), 1u);

    // The tag frame replaces the placeholder: it counts the frames after it,
    // and ffprobe then takes the length from it.
    std::vector<uint8_t> tag(outBufferSize);
    int n = mp3enc.wave_enmp3_vbrheader(tag.data(), int(tag.size()));
    ASSERT_EQ(n, frames[0].bytes);
    std::string text(tag.begin(), tag.begin() + n);
    size_t at = text.find("Xing");
    ASSERT_NE(at, std::string::npos);
    ASSERT_TRUE(tag[at + 7] & 1); // frame count present
    uint32_t count =
        uint32_t(tag[at + 8]) << 24 | tag[at + 9] << 16 | tag[at + 10] << 8 | tag[at + 11];
    EXPECT_EQ(count, frames.size() - 1);
    std::memcpy(stream.data(), tag.data(), n);
    std::string path = dir.file("vbr.mp3");
    writeFile(path, stream);
    std::string d = capture(
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + path + "'");
    EXPECT_NEAR(std::stod(d), count * 1152.0 / 44100, 0.001) << d;
    // The input's 3 s plus the encoder delay of 1105 samples, within a frame.
    EXPECT_NEAR(std::stod(d), 3.0 + 1105.0 / 44100, 1152.0 / 44100) << d;
}

TEST_F(Mp3EncLib, AverageBitRateComesWithinTenPercent) {
    struct Case {
        const char* source;
        int rate, channels, version, kbps;
    } cases[] = {{"libcodec_mix_44100_2ch.s16", 44100, 2, 0, 160},
                 {"libcodec_mix_22050_1ch.s16", 22050, 1, 1, 48}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto pcm = readFile(fixture(c.source));
        ASSERT_EQ(mp3enc.wave_enmp3init_abr(&samplesPerCall, &outBufferSize, c.rate, 128,
                                            c.channels, c.version, c.kbps),
                  0);
        auto stream = encode(pcm, 4096);
        std::vector<Frame> frames;
        ASSERT_TRUE(framesOf(stream, &frames));
        ASSERT_GT(frames.size(), 2u);
        double bytes = 0;
        for (size_t i = 1; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].version, c.version);
            bytes += frames[i].bytes;
        }
        double seconds = double(frames.size() - 1) * (c.version == 0 ? 1152 : 576) / c.rate;
        double kbps = bytes * 8 / seconds / 1000;
        std::printf("ABR %d kbit/s at %d Hz: %.1f kbit/s\n", c.kbps, c.rate, kbps);
        EXPECT_NEAR(kbps, c.kbps, c.kbps * 0.10);
        std::string p = probe(stream, "abr.mp3");
        EXPECT_TRUE(has(p, "sample_rate=" + std::to_string(c.rate))) << p;
        EXPECT_TRUE(has(p, "channels=" + std::to_string(c.channels))) << p;
    }
}

TEST_F(Mp3EncLib, TheRateDecidesTheMpegVersion) {
    auto pcm = readFile(fixture("libcodec_src_22050_1ch.s16"));
    // Version index 0 (MPEG-1) with an MPEG-2 rate: the rate wins.
    ASSERT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 22050, 64, 1, 0), 0);
    auto stream = encode(pcm, 4096);
    std::vector<Frame> frames;
    ASSERT_TRUE(framesOf(stream, &frames));
    ASSERT_FALSE(frames.empty());
    for (const Frame& f : frames)
        ASSERT_EQ(f.version, 1);
    // A bit rate MPEG-2 lacks is replaced by its nearest one.
    ASSERT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 22050, 320, 1, 1), 0);
    frames.clear();
    ASSERT_TRUE(framesOf(encode(pcm, 4096), &frames));
    for (const Frame& f : frames)
        ASSERT_EQ(f.kbps, 160);
}

TEST_F(Mp3EncLib, WithoutTheFlushTheStreamEndsWithTheLastReturnedFrames) {
    auto pcm = readFile(fixture("libcodec_src_44100_2ch.s16"));
    ASSERT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 44100, 128, 2, 0), 0);
    auto open = encode(pcm, 4096, false);
    std::vector<uint8_t> out(outBufferSize);
    int tail = mp3enc.wave_enmp3end(out.data());
    EXPECT_GT(tail, 0);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(mp3enc.wave_enmp3end(out.data()), 0); // nothing more after the flush
    std::vector<short> in(samplesPerCall);
    EXPECT_EQ(mp3enc.wave_enmp3code(in.data(), 100, out.data()), -1);
}

TEST_F(Mp3EncLib, RefusesWrongParameters) {
    std::vector<short> in(100000);
    std::vector<uint8_t> out(100000);
    EXPECT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 44100, 128, 3, 0), -1);
    // A failed init still sizes the caller's buffers; the encoder refuses input.
    EXPECT_GT(samplesPerCall, 0);
    EXPECT_GT(outBufferSize, 0);
    EXPECT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 96000, 128, 2, 0), -1);
    EXPECT_EQ(mp3enc.wave_enmp3init_new(nullptr, &outBufferSize, 44100, 128, 2, 0), -1);
    EXPECT_EQ(mp3enc.wave_enmp3code(in.data(), 100, out.data()), -1);
    ASSERT_EQ(mp3enc.wave_enmp3init_new(&samplesPerCall, &outBufferSize, 44100, 128, 2, 0), 0);
    EXPECT_EQ(mp3enc.wave_enmp3code(in.data(), samplesPerCall + 1, out.data()), -1);
    EXPECT_EQ(mp3enc.wave_enmp3code(nullptr, 10, out.data()), -1);
    EXPECT_GE(mp3enc.wave_enmp3code(in.data(), samplesPerCall, out.data()), 0);
}

TEST(Mp3EncLoader, NamesTheMissingLibraryAndTheMissingExportsNumber) {
    kestrel::test::RecordingMessages messages;
    kestrel::test::TempDir empty;
    setLibraryFolder(empty.path());
    EXPECT_LT(loadMp3enc(), 0);
    ASSERT_EQ(messages.entries().size(), 1u);
    EXPECT_EQ(messages.entries()[0].caption, caption::kMain);
    EXPECT_EQ(messages.entries()[0].text, "装载动态库mp3enc.so错误");

    // A build without wave_enmp3code, the fourth export.
    setLibraryFolder(std::string(KESTREL_BIN_DIR) + "/../incomplete");
    EXPECT_LT(loadMp3enc(), 0);
    ASSERT_EQ(messages.entries().size(), 2u);
    EXPECT_EQ(messages.entries()[1].caption, caption::kMain);
    EXPECT_EQ(messages.entries()[1].text, "取函数04错误，请检查是否该版本动态库");
    EXPECT_FALSE(mp3encLoaded());
    EXPECT_EQ(mp3enc.wave_enmp3init_new, nullptr); // all or nothing

    setLibraryFolder(KESTREL_BIN_DIR);
    EXPECT_EQ(loadMp3enc(), 0);
    EXPECT_NE(mp3enc.wave_enmp3code, nullptr);
    unloadMp3enc();
}
