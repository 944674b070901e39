// The WMA codec and format table and the writer on FFmpeg: every format of
// every codec encodes a second of sound that ffprobe reads back with the
// format's codec, rate, channels and bit rate.
#include "platform/wm_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::string probe(const std::string& path, const char* entry) {
    std::string s = capture(std::string("ffprobe -v error -select_streams a:0 -show_entries ") +
                            entry + " -of default=nw=1:nk=1 '" + path + "'");
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// One second of 440 Hz left and 660 Hz right at `rate`, `channels`.
std::vector<int16_t> tone(int rate, int channels) {
    std::vector<int16_t> pcm;
    for (int i = 0; i < rate; ++i)
        for (int c = 0; c < channels; ++c)
            pcm.push_back(static_cast<int16_t>(
                12000 * std::sin(2 * M_PI * (c ? 660 : 440) * i / static_cast<double>(rate))));
    return pcm;
}

} // namespace

TEST(WmaTable, CodecsFormatsAndTheirValues) {
    ASSERT_EQ(wmaCodecs().size(), 2u);
    EXPECT_STREQ(wmaCodecs()[0].name, "Windows Media Audio V2");
    EXPECT_STREQ(wmaCodecs()[0].encoder, "wmav2");
    EXPECT_STREQ(wmaCodecs()[1].name, "Windows Media Audio V1");
    EXPECT_STREQ(wmaCodecs()[1].encoder, "wmav1");
    EXPECT_EQ(describeWmaFormat({128000, 44100, 2}), "128 kbps, 44 kHz, stereo CBR");
    EXPECT_EQ(describeWmaFormat({24000, 11025, 1}), "24 kbps, 11 kHz, mono CBR");
    for (int c = 0; c < 2; ++c) {
        auto list = wmaFormatList(c);
        // Only the constant pass has formats: the values are the indices.
        ASSERT_EQ(list.size(), wmaCodecs()[static_cast<size_t>(c)].formats.size());
        for (size_t i = 0; i < list.size(); ++i)
            EXPECT_EQ(list[i].value, static_cast<int>(i));
    }
    EXPECT_TRUE(wmaFormatList(2).empty());
    EXPECT_TRUE(wmaFormatList(-1).empty());
    // A VBR value reads as the constant format of its index.
    EXPECT_EQ(wmaFormatOf(0, 5003), wmaFormatOf(0, 3));
    EXPECT_EQ(wmaFormatOf(0, 10000), wmaFormatOf(0, 0));
    EXPECT_EQ(wmaFormatOf(0, 7), &wmaCodecs()[0].formats[7]);
    EXPECT_EQ(wmaFormatOf(1, static_cast<int>(wmaCodecs()[1].formats.size())), nullptr);
    EXPECT_EQ(wmaFormatOf(0, -1), nullptr);
    EXPECT_EQ(wmaFormatOf(2, 0), nullptr);
}

TEST(WmaTable, EveryFormatEncodesASecond) {
    TempDir dir;
    const std::vector<int16_t> src = tone(44100, 2);
    for (int c = 0; c < 2; ++c) {
        const WmaCodec& codec = wmaCodecs()[static_cast<size_t>(c)];
        for (size_t i = 0; i < codec.formats.size(); ++i) {
            const WmaFormat& f = codec.formats[i];
            SCOPED_TRACE(std::string(codec.encoder) + " " + describeWmaFormat(f));
            const std::string path = dir.file("f.wma");
            WmWriter w;
            WmProfile p;
            p.codec = c;
            p.format = f;
            ASSERT_EQ(w.setProfile(p), 0);
            ASSERT_EQ(w.setInputProps(44100, 2), 0);
            ASSERT_EQ(w.setOutputFilename(path), 0);
            ASSERT_EQ(w.beginWriting(), 0);
            // In pieces of uneven size, as the converter's blocks come.
            for (size_t at = 0; at < src.size() / 2;) {
                int n = static_cast<int>(std::min<size_t>(3001, src.size() / 2 - at));
                ASSERT_EQ(w.writeSample(src.data() + at * 2, n), 0);
                at += static_cast<size_t>(n);
            }
            ASSERT_EQ(w.endWriting(), 0);
            std::istringstream info(
                probe(path, "stream=codec_name,sample_rate,channels,bit_rate:format=duration"));
            std::string name, rate, channels, bitRate, duration;
            std::getline(info, name);
            std::getline(info, rate);
            std::getline(info, channels);
            std::getline(info, bitRate);
            std::getline(info, duration);
            EXPECT_EQ(name, codec.encoder);
            EXPECT_EQ(rate, std::to_string(f.sampleRate));
            EXPECT_EQ(channels, std::to_string(f.channels));
            EXPECT_EQ(bitRate, std::to_string(f.bitRate));
            EXPECT_NEAR(std::stod("0" + duration), 1.0, 0.1);
            // ffmpeg decodes all of it: a second of sound, give or take a frame.
            std::string bytes = capture("ffmpeg -v error -i '" + path + "' -f s16le - | wc -c");
            double seconds = std::stod(bytes) / (2.0 * f.channels * f.sampleRate);
            EXPECT_NEAR(seconds, 1.0, 0.1);
        }
    }
}

TEST(WmWriter, StepsOutOfOrderAndBadFormatsAreRefused) {
    TempDir dir;
    WmWriter w;
    EXPECT_LT(w.beginWriting(), 0); // no profile
    WmProfile p;
    EXPECT_LT(w.setProfile(p), 0); // no codec
    p.codec = 5;
    p.format = {128000, 44100, 2};
    EXPECT_LT(w.setProfile(p), 0);
    p.codec = 0;
    p.format.channels = 3;
    EXPECT_LT(w.setProfile(p), 0);
    EXPECT_LT(w.setInputProps(44100, 0), 0);
    EXPECT_LT(w.setOutputFilename(""), 0);
    int16_t s[4] = {};
    EXPECT_LT(w.writeSample(s, 2), 0); // not begun
    EXPECT_LT(w.endWriting(), 0);
    // A file that cannot be created.
    p.format.channels = 2;
    ASSERT_EQ(w.setProfile(p), 0);
    ASSERT_EQ(w.setInputProps(44100, 2), 0);
    ASSERT_EQ(w.setOutputFilename(dir.file("missing/f.wma")), 0);
    EXPECT_LT(w.beginWriting(), 0);
}

TEST(WmWriter, AnAbandonedFileIsRemoved) {
    TempDir dir;
    const std::string path = dir.file("gone.wma");
    {
        WmWriter w;
        WmProfile p;
        p.codec = 0;
        p.format = {64000, 22050, 1};
        ASSERT_EQ(w.setProfile(p), 0);
        ASSERT_EQ(w.setInputProps(44100, 2), 0);
        ASSERT_EQ(w.setOutputFilename(path), 0);
        ASSERT_EQ(w.beginWriting(), 0);
        auto pcm = tone(44100, 2);
        ASSERT_EQ(w.writeSample(pcm.data(), 44100), 0);
        // Destroyed without endWriting.
    }
    EXPECT_FALSE(std::ifstream(path).good());
}

// Encoded in segments on several threads, a long stream is the one-thread
// stream byte for byte: the encoder keeps nothing from frame to frame but the
// samples of the frame before, which each segment's pre-roll gives it.
TEST(WmWriter, ThreadsGiveTheOneThreadStream) {
    TempDir dir;
    // 70 seconds of a tone whose pitch and loudness change, with noise.
    std::vector<int16_t> src;
    uint32_t noise = 1;
    for (int i = 0; i < 44100 * 70; ++i) {
        const double t = i / 44100.0;
        noise = noise * 1664525u + 1013904223u;
        const double v = 0.3 * std::sin(2 * M_PI * (300 + 40 * std::floor(t * 3)) * t) *
                             (0.6 + 0.4 * std::sin(t)) +
                         0.02 * (int32_t(noise >> 8) - (1 << 23)) / double(1 << 23);
        src.push_back(static_cast<int16_t>(v * 30000));
        src.push_back(static_cast<int16_t>(v * 20000));
    }
    const struct {
        int codec, format; // 48 kHz from a 44.1 kHz source; 44.1 kHz mono
    } cases[] = {{0, 0}, {0, 15}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(describeWmaFormat(*wmaFormatOf(c.codec, c.format)));
        std::vector<uint8_t> out[2];
        for (int threads : {1, 3}) {
            const std::string path = dir.file("t" + std::to_string(threads) + ".wma");
            WmWriter w;
            WmProfile p;
            p.codec = c.codec;
            p.format = *wmaFormatOf(c.codec, c.format);
            ASSERT_EQ(w.setProfile(p), 0);
            ASSERT_EQ(w.setInputProps(44100, 2), 0);
            ASSERT_EQ(w.setOutputFilename(path), 0);
            w.setThreads(threads);
            ASSERT_EQ(w.beginWriting(), 0);
            for (size_t at = 0; at < src.size() / 2;) {
                int n = static_cast<int>(std::min<size_t>(4096, src.size() / 2 - at));
                ASSERT_EQ(w.writeSample(src.data() + at * 2, n), 0);
                at += static_cast<size_t>(n);
            }
            ASSERT_EQ(w.endWriting(), 0);
            out[threads > 1] = readFile(path);
        }
        EXPECT_GT(out[0].size(), 100000u);
        EXPECT_TRUE(out[0] == out[1]);
    }
}
