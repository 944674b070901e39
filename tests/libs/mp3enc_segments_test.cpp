// mp3enc.so's segment-parallel encoding against its one-thread encoding of the
// same sound: the same frame count, length and tag values, every frame's
// main_data_begin within the bytes the frames before it leave, FFmpeg decoding
// without an error, and around each join a signal-to-noise ratio within 1 dB of
// the one-thread encoding's.
#include "engine/core/mp3_side_info.h"
#include "engine/libraries/lib_mp3enc.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace kestrel;
using kestrel::test::capture;
using kestrel::test::readFile;
using kestrel::test::writeFile;

namespace {

// Sound that keeps the encoder's reservoir busy: chords that change every
// 0.4 s, bursts of noise and clicks (short blocks), and quiet stretches. The
// first 25 s are 9 dB quieter than the rest, so that the first segment's
// loudness is not the whole stream's.
std::vector<short> music(int rate, int channels, double seconds) {
    const size_t n = static_cast<size_t>(rate * seconds);
    std::vector<short> pcm(n * static_cast<size_t>(channels));
    uint32_t noise = 12345;
    const double notes[] = {220, 247, 262, 294, 330, 349, 392, 440, 494, 523};
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / rate;
        const int step = static_cast<int>(t / 0.4);
        const double phase = t - step * 0.4;
        const double env = std::exp(-phase * 3) * ((step % 23) == 7 ? 0.02 : 1.0);
        double v = 0;
        for (int k = 0; k < 3; ++k)
            v += std::sin(2 * M_PI * notes[(step * (k + 3)) % 10] * (k + 1) * t) / (k + 1);
        noise = noise * 1664525u + 1013904223u;
        const double white = (int32_t(noise >> 8) - (1 << 23)) / double(1 << 23);
        const double burst = (step % 5 == 2) ? 0.3 * white : 0.02 * white;
        const double click = (phase < 0.002) ? 0.8 : 0;
        const double level = t < 25 ? 0.35 : 1.0;
        for (int c = 0; c < channels; ++c) {
            double s = level * (0.3 * env * v * (c ? 0.8 : 1.0) + burst + click);
            pcm[i * channels + c] =
                static_cast<short>(std::lround(std::clamp(s, -1.0, 1.0) * 30000));
        }
    }
    return pcm;
}

struct Encoded {
    std::vector<uint8_t> stream;
    int joins = 0, widened = 0;
};

struct Case {
    const char* name;
    int mode; // 0 CBR, 1 VBR, 2 ABR
    int rate, channels, kbps;
};

// Encodes as the PCM stage does (blocks of samplesPerCall), with `threads`
// (1: the one-thread encoder), flushes and puts the tag over the first frame.
Encoded encode(const Case& c, const std::vector<short>& pcm, int threads) {
    int spc = 0, obs = 0;
    int rc =
        c.mode == 1 ? mp3enc.wave_enmp3init_vbr(&spc, &obs, c.rate, 128, c.channels, 0, 4, 32, 320)
        : c.mode == 2 ? mp3enc.wave_enmp3init_abr(&spc, &obs, c.rate, 128, c.channels, 0, c.kbps)
                      : mp3enc.wave_enmp3init_new(&spc, &obs, c.rate, c.kbps, c.channels, 0);
    EXPECT_EQ(rc, 0);
    if (threads > 1) {
        EXPECT_EQ(mp3enc.wave_enmp3_threads(threads), 0);
    }
    Encoded e;
    std::vector<uint8_t> out(static_cast<size_t>(obs));
    auto take = [&](int n) {
        EXPECT_GE(n, 0);
        if (n > 0) e.stream.insert(e.stream.end(), out.begin(), out.begin() + n);
        return n;
    };
    for (size_t at = 0; at < pcm.size(); at += static_cast<size_t>(spc)) {
        const int n = static_cast<int>(std::min(pcm.size() - at, static_cast<size_t>(spc)));
        take(mp3enc.wave_enmp3code(&pcm[at], n, out.data()));
    }
    while (take(mp3enc.wave_enmp3code(nullptr, 0, out.data())) > 0) {
    }
    while (take(mp3enc.wave_enmp3end(out.data())) > 0) {
    }
    std::vector<uint8_t> tag(8192);
    int t = mp3enc.wave_enmp3_vbrheader(tag.data(), static_cast<int>(tag.size()));
    EXPECT_GT(t, 0);
    if (t > 0 && static_cast<size_t>(t) <= e.stream.size())
        std::memcpy(e.stream.data(), tag.data(), static_cast<size_t>(t));
    mp3enc.wave_enmp3_joins(&e.joins, &e.widened);
    return e;
}

// The tag's whole-stream values.
struct TagValues {
    uint32_t frames = 0, bytes = 0, musicLength = 0;
    int delay = 0, padding = 0;
    uint16_t musicCrc = 0;
    uint32_t peak = 0;
    int gainCodes = 0; // the radio gain field's name and originator codes
    int radioGain = 0; // in 0.1 dB
};

uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

TagValues tagOf(const std::vector<uint8_t>& s) {
    TagValues v;
    Mp3ReservoirFacts f;
    if (!readMp3Reservoir(s.data(), s.size(), f)) return v;
    const uint8_t* x = s.data() + f.areaOffset;
    v.frames = be32(x + 8);
    v.bytes = be32(x + 12);
    const uint8_t* l = x + 120;
    v.delay = l[21] << 4 | l[22] >> 4;
    v.padding = (l[22] & 15) << 8 | l[23];
    v.musicLength = be32(l + 28);
    v.musicCrc = static_cast<uint16_t>(l[32] << 8 | l[33]);
    v.peak = be32(l + 11);
    v.gainCodes = l[15] >> 2;
    v.radioGain = ((l[15] & 1) << 8 | l[16]) * ((l[15] & 2) ? -1 : 1);
    return v;
}

size_t frameCount(const std::vector<uint8_t>& s) {
    size_t n = 0;
    for (size_t pos = 0; pos < s.size(); ++n) {
        Mp3ReservoirFacts f;
        if (!readMp3Reservoir(&s[pos], s.size() - pos, f)) return 0;
        pos += static_cast<size_t>(f.areaOffset + f.areaBytes);
    }
    return n;
}

// Signal-to-noise ratio (dB) of `decoded` against `source` over samples
// [from, to) of every channel.
double snr(const std::vector<short>& source, const std::vector<short>& decoded, size_t from,
           size_t to) {
    double sig = 0, err = 0;
    for (size_t i = from; i < to && i < source.size() && i < decoded.size(); ++i) {
        sig += double(source[i]) * source[i];
        const double d = double(decoded[i]) - source[i];
        err += d * d;
    }
    return 10 * std::log10((sig + 1) / (err + 1));
}

class Mp3EncSegments : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadMp3enc(), 0);
        ASSERT_NE(mp3enc.wave_enmp3_threads, nullptr);
    }
    void TearDown() override { unloadMp3enc(); }

    // Decodes with FFmpeg (which drops the encoder delay and padding the tag
    // gives), failing on any error in the stream.
    std::vector<short> decode(const std::vector<uint8_t>& stream, const char* name, int channels) {
        const std::string mp3 = dir.file(std::string(name) + ".mp3");
        const std::string raw = dir.file(std::string(name) + ".raw");
        writeFile(mp3, stream);
        const std::string err =
            capture("ffmpeg -nostdin -v error -xerror -i '" + mp3 + "' -f s16le -ac " +
                    std::to_string(channels) + " -y '" + raw + "' 2>&1 || echo FAILED");
        EXPECT_EQ(err, "") << name;
        auto bytes = readFile(raw);
        std::vector<short> pcm(bytes.size() / 2);
        std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
        return pcm;
    }

    kestrel::test::TempDir dir;
};

} // namespace

TEST_F(Mp3EncSegments, JoinedStreamsMatchTheOneThreadEncoding) {
    const Case cases[] = {{"cbr128", 0, 44100, 2, 128},
                          {"vbr4", 1, 44100, 2, 0},
                          {"abr96", 2, 44100, 2, 96},
                          {"cbr64-mpeg2-mono", 0, 22050, 1, 64},
                          {"cbr32-mpeg25", 0, 11025, 2, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<short> pcm = music(c.rate, c.channels, 67.3);
        const Encoded one = encode(c, pcm, 1);
        const Encoded par = encode(c, pcm, 3);
        const int fs = c.rate >= 32000 ? 1152 : 576;
        const int segFrames = 20 * c.rate / fs;
        const int64_t samples = static_cast<int64_t>(pcm.size()) / c.channels;
        EXPECT_EQ(par.joins, static_cast<int>((samples / fs - 12) / segFrames));
        EXPECT_EQ(checkMp3Reservoir(one.stream.data(), one.stream.size()), -1);
        EXPECT_EQ(checkMp3Reservoir(par.stream.data(), par.stream.size()), -1);
        EXPECT_EQ(frameCount(par.stream), frameCount(one.stream));
        const TagValues a = tagOf(one.stream), b = tagOf(par.stream);
        EXPECT_EQ(b.frames, a.frames);
        EXPECT_EQ(b.delay, a.delay);
        EXPECT_EQ(b.padding, a.padding);
        // The ReplayGain of the whole stream, not of the first segment.
        EXPECT_EQ(b.gainCodes, a.gainCodes);
        EXPECT_EQ(a.gainCodes, 1 << 3 | 3); // radio gain, set automatically
        EXPECT_NEAR(b.radioGain, a.radioGain, 1);
        EXPECT_EQ(b.peak, a.peak);
        EXPECT_EQ(b.bytes - par.stream.size(), a.bytes - one.stream.size());
        EXPECT_EQ(b.musicLength - par.stream.size(), a.musicLength - one.stream.size());

        const auto d1 = decode(one.stream, "one", c.channels);
        const auto d2 = decode(par.stream, "par", c.channels);
        EXPECT_EQ(d1.size(), pcm.size());
        EXPECT_EQ(d2.size(), pcm.size());
        // 100 ms windows, half overlapping, over every stretch where a join
        // may be made (the planned overlap and what widening adds).
        const size_t win = static_cast<size_t>(c.rate / 10);
        for (int k = 1; k <= par.joins; ++k) {
            const int64_t first = (int64_t(k) * segFrames - 2) * fs;
            const int64_t last = (int64_t(k) * segFrames + 10 + 8 * 4 + 2) * fs;
            for (int64_t at = first; at < last; at += win / 2) {
                const size_t from = static_cast<size_t>(at) * c.channels;
                const size_t to = from + win * c.channels;
                if (to > pcm.size()) break;
                const double s1 = snr(pcm, d1, from, to), s2 = snr(pcm, d2, from, to);
                EXPECT_GE(s2, s1 - 1.0) << "join " << k << " at " << double(at) / c.rate << " s";
            }
        }
    }
}

TEST_F(Mp3EncSegments, AStreamShorterThanASegmentIsTheOneThreadStream) {
    const Case c{"short", 0, 44100, 2, 128};
    const std::vector<short> pcm = music(c.rate, c.channels, 7.5);
    const Encoded one = encode(c, pcm, 1);
    const Encoded par = encode(c, pcm, 2);
    EXPECT_EQ(par.joins, 0);
    ASSERT_EQ(par.stream.size(), one.stream.size());
    for (size_t i = 0; i < one.stream.size(); ++i)
        if (par.stream[i] != one.stream[i]) ADD_FAILURE() << i;
}
