// Files in the layouts other programs write, through kestrel-cli: a file
// whose sound our own readers cannot decode is listed for the media graph and
// converts like FFmpeg's decode of it; MPEG audio with junk or garbage,
// tiny VBR files and format changes converts like mpg123's decode.
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Result {
    int status = -1;
    std::string out;
};

// Stopped after 60 seconds (status 124), so that a hang fails.
Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text = capture("SDL_AUDIODRIVER=dummy timeout 60 '" + kCli + "' --home '" +
                               home.path() + "' " + args + " 2>&1 </dev/null; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

int jsonInt(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\"" + key + "\": (-?\\d+)"))) return -99999;
    return std::stoi(m[1]);
}

double jsonNumber(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\"" + key + "\": (-?[0-9.]+)"))) return -1;
    return std::stod(m[1]);
}

std::string jsonText(const std::string& out, const std::string& key) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("\"" + key + "\": \"([^\"]*)\""))) return "";
    return m[1];
}

// Silent WAV conversion at `rate` with `channels`; the output's samples.
std::vector<int16_t> convertWav(const TempDir& home, const std::string& src, int rate,
                                int channels) {
    TempDir out;
    std::string options = "-r " + std::to_string(rate) + (channels == 1 ? " --mono mix" : "");
    Result r = cli(home, "convert --mode silent -y -t wav " + options + " -o '" + out.path() +
                             "/' '" + src + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    size_t tab = r.out.find('\t');
    if (tab == std::string::npos) return {};
    size_t start = r.out.rfind('\n', tab);
    start = start == std::string::npos ? 0 : start + 1;
    int gotRate = 0, gotChannels = 0;
    auto wav = wavSamples(r.out.substr(start, tab - start), &gotRate, &gotChannels);
    EXPECT_EQ(gotRate, rate);
    EXPECT_EQ(gotChannels, channels);
    return wav;
}

} // namespace

// Sound that only the media graph decodes: listed as "其他" (kind 8000) with
// the stream's own rate and channels, converted like FFmpeg decodes it.
// RealMedia and the older RealAudio files are known by their first bytes
// whatever the stream probe finds in them (kind 6000); their length is the
// length of their packets where the header states none. Layouts of other
// writers that our own readers take convert like FFmpeg's decode too: ADTS
// with CRCs whose first frames are tiny (known by its headers under any
// name), and FLV files cut inside a tag (the MP3 one after a single frame).
TEST(CliWild, ConvertsLikeFfmpegDecodes) {
    struct Case {
        const char* file;
        int rate, channels;
        int frame; // samples per channel of one codec frame
        int kind = 8000;
        int seconds = -1; // listed whole seconds (-1: not checked)
    };
    const Case cases[] = {
        {"wild_ts_adts.ts", 44100, 2, 1024},
        {"wild_ts_latm.ts", 44100, 2, 1024},
        {"wild_ts_eac3.ts", 44100, 2, 1536},
        {"wild_ts_dts.ts", 44100, 2, 512},
        {"wild_ac3.mp4", 44100, 2, 1536},
        {"wild_eac3.mp4", 44100, 2, 1536},
        {"wild_alac.m4a", 44100, 2, 4096},
        {"wild_opus.mp4", 48000, 2, 960},
        {"wild_ac3.avi", 44100, 2, 1536},
        {"wild_amrwb.amr", 16000, 1, 320},
        {"wild_alaw.flv", 8000, 1, 1024},
        {"wild_mulaw.flv", 8000, 1, 1024},
        {"wild_ra144.rm", 8000, 1, 160, 6000, 40},
        {"wild_ra144_v3.ra", 8000, 1, 160, 6000, 40},
        {"wild_ra144_v4.ra", 8000, 1, 160, 6000, 40},
        {"wild_ra288_v4.ra", 8000, 1, 160, 6000, 14},
        {"wild_aac.3g2", 22050, 1, 1024, 8000, 3},
        {"wild_adts_tiny.aac", 44100, 2, 1024, 8002, 3},
        {"wild_adts_tiny.adts", 44100, 2, 1024, 8002, 3},
        {"wild_cut_mp3.flv", 44100, 2, 1152, 8012},
        {"wild_cut_aac.flv", 44100, 2, 1024, 8020},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string src = fixture(c.file);
        Result info = cli(home, "info --json '" + src + "'");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(jsonInt(info.out, "kind"), c.kind);
        if (c.seconds >= 0) {
            EXPECT_EQ(jsonInt(info.out, "durationSec"), c.seconds);
        }
        EXPECT_EQ(jsonInt(info.out, "sampleRate"), c.rate);
        EXPECT_EQ(jsonInt(info.out, "channels"), c.channels);
        auto wav = convertWav(home, src, c.rate, c.channels);
        auto ref = ffmpegDecode(src, c.rate, c.channels);
        ASSERT_FALSE(wav.empty());
        Comparison cmp = compareAudio(wav, ref, c.channels, 3000);
        EXPECT_GE(cmp.snrDb, 30.0) << "lag " << cmp.lag;
        EXPECT_LE(std::labs(cmp.lengthDiff), c.frame) << cmp.lengthDiff;
    }
}

namespace {

// mpg123's decode of `src` (resynchronising over any amount of junk), as
// 16-bit PCM at `rate` (resampled by FFmpeg when needed) in stereo (a mono
// decode in both channels, as our PCM stage puts it).
std::vector<int16_t> mpg123Decode(const std::string& src, int rate, bool gapless = true) {
    TempDir dir;
    const std::string wav = dir.file("ref.wav");
    capture("mpg123 -q --resync-limit -1 " + std::string(gapless ? "" : "--no-gapless ") + "-w '" +
            wav + "' '" + src + "' 2>/dev/null");
    int own = 0, channels = 0;
    std::vector<int16_t> pcm = wavSamples(wav, &own, &channels);
    if (own != rate) pcm = ffmpegDecode(wav, rate);
    if (channels == 2) return pcm;
    std::vector<int16_t> stereo;
    stereo.reserve(pcm.size() * 2);
    for (int16_t v : pcm)
        stereo.insert(stereo.end(), {v, v});
    return stereo;
}

} // namespace

// MPEG audio as other programs leave it: junk in front of the first frame or
// behind the tag frame, garbage inside, and files joined end to end whose
// channel mode or rate changes. Each converts like mpg123's decode; a joined
// file like its parts decoded one after the other (the first part ends where
// its tag says, the second keeps its encoder delay, as mpg123 gives it).
TEST(CliWild, MpegAudioConvertsLikeMpg123) {
    struct Case {
        const char* file;
        int seconds;           // listed duration (-1: not checked)
        const char* firstPart; // joined files: the parts, else null
        const char* secondPart;
        const char* clean = nullptr; // the same stream without its garbage
        long maxLag = 3000;
    };
    const Case cases[] = {
        {"wild_junk_front.mp3", 1, nullptr, nullptr},
        {"wild_junk_after_tag.mp3", 2, nullptr, nullptr},
        // mpg123 silences three frames after the garbage; the frames are whole.
        {"wild_garbage_inside.mp3", 3, nullptr, nullptr, "wild_part_st44.mp3"},
        // One and two frames after the tag frame: too few to confirm three
        // headers.
        {"wild_tiny_vbr_5ms.mp3", 0, nullptr, nullptr, nullptr, 50},
        {"wild_tiny_vbr_20ms.mp3", 0, nullptr, nullptr, nullptr, 50},
        {"wild_join_mono_stereo.mp3", -1, "wild_part_mono44.mp3", "wild_part_st44.mp3"},
        {"wild_join_44k_48k.mp3", -1, "wild_part_st44.mp3", "wild_part_st48.mp3"},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string src = fixture(c.file);
        Result info = cli(home, "info --json '" + src + "'");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(jsonInt(info.out, "kind"), 10);
        if (c.seconds >= 0) {
            EXPECT_NEAR(jsonInt(info.out, "durationSec"), c.seconds, 1);
        }
        auto wav = convertWav(home, src, 44100, 2);
        ASSERT_FALSE(wav.empty());
        if (!c.firstPart) {
            auto ref = mpg123Decode(c.clean ? fixture(c.clean) : src, 44100);
            Comparison cmp = compareAudio(wav, ref, 2, c.maxLag);
            EXPECT_GE(cmp.snrDb, 30.0) << "lag " << cmp.lag;
            EXPECT_LE(std::labs(cmp.lengthDiff), 1152) << cmp.lengthDiff;
            continue;
        }
        auto first = mpg123Decode(fixture(c.firstPart), 44100);
        auto second = mpg123Decode(fixture(c.secondPart), 44100, false);
        EXPECT_LE(std::labs(long(wav.size()) - long(first.size() + second.size())) / 2, 1152);
        ASSERT_GT(wav.size(), first.size());
        std::vector<int16_t> head(wav.begin(), wav.begin() + long(first.size()));
        std::vector<int16_t> tail(wav.begin() + long(first.size()), wav.end());
        Comparison a = compareAudio(head, first, 2, 1200, 600);
        Comparison b = compareAudio(tail, second, 2, 3000, 600);
        EXPECT_GE(a.snrDb, 30.0) << "lag " << a.lag;
        EXPECT_GE(b.snrDb, 30.0) << "lag " << b.lag;
    }
}

// What `info` says of a file comes from its sound: an MPEG audio file's
// playing time and bit rate from its sound frames (not from the tag frame in
// front, whose status bits differ), an SWF sound's codec by the SWF codes
// (which overlap the FLV ones), an FLV file's length to the end of its last
// sound, an ADIF file's length from what its raw data blocks decode to.
TEST(CliWild, InfoDescribesTheSound) {
    struct Case {
        const char* file;
        const char* codec;
        const char* kindName;
        double seconds; // < 0: ffprobe's duration; > 0: the listed whole seconds
    };
    const Case cases[] = {
        {"wild_ffmpeg_cbr.mp3", "MPEG-1 Layer III", "MPEG audio", -1},
        {"wild_ffmpeg_vbr.mp3", "MPEG-2 Layer III", "MPEG audio", -1},
        {"flash_pcm_5k.swf", "PCM", "SWF, PCM sound", 0},
        {"flash_adpcm_stream.swf", "ADPCM", "SWF, ADPCM sound", 0},
        {"flash_mp3_stream.swf", "MP3", "SWF, MP3 sound", 0},
        {"flash_aac_44k_st.flv", "AAC", "FLV, AAC sound", 0},
        // The last tag, at 6 s, holds 1.06 s of sound.
        {"wild_long_tags.flv", "PCM (little-endian)", "FLV, PCM (little-endian) sound", 7},
        // The ADIF header's bit rate is the stream's peak: 3 s by it.
        {"wild_adif_peak.aac", "AAC", "AAC", 7},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string src = fixture(c.file);
        Result info = cli(home, "info --json '" + src + "'");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(jsonText(info.out, "codec"), c.codec);
        EXPECT_EQ(jsonText(info.out, "kindName"), c.kindName);
        if (c.seconds > 0) {
            EXPECT_EQ(jsonInt(info.out, "durationSec"), int(c.seconds));
        }
        if (c.seconds >= 0) continue;
        const double probed = std::atof(
            capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + src + "'")
                .c_str());
        EXPECT_NEAR(jsonNumber(info.out, "seconds"), probed, 0.05);
        const double kbps = double(std::filesystem::file_size(src)) * 8 / probed / 1000;
        EXPECT_NEAR(jsonNumber(info.out, "kbps"), kbps, kbps * 0.05);
    }
}

// Layouts whose sound converts to its source: Flash movies whose sound
// stream is 16-bit PCM (format 3), in the movie's own timeline or inside a
// sprite behind an empty header of the movie's (bit-exact); an SWF event
// sound in MPEG audio; AAC in M4A whose priming and length only iTunes'
// gapless tag gives.
TEST(CliWild, ConvertsToItsSource) {
    struct Case {
        const char* file;
        const char* source;
        int kind, rate, channels;
        double snrDb;
    };
    const Case cases[] = {
        {"wild_stream_pcm.swf", "wild_src_22k_mono.wav", 8023, 22050, 1, 90},
        {"wild_sprite_pcm.swf", "wild_src_44k_st.wav", 8023, 44100, 2, 90},
        {"wild_itunsmpb.m4a", "wild_src_44k_st.wav", 10003, 44100, 2, 30},
        // An event sound in MPEG audio: the samples to skip at its start
        // go, its sample count ends it.
        {"wild_event_mp3.swf", "wild_src_44k_st.wav", 8022, 44100, 2, 30},
    };
    TempDir home;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string src = fixture(c.file);
        Result info = cli(home, "info --json '" + src + "'");
        ASSERT_EQ(info.status, 0) << info.out;
        EXPECT_EQ(jsonInt(info.out, "kind"), c.kind);
        EXPECT_EQ(jsonInt(info.out, "durationSec"), 3);
        auto wav = convertWav(home, src, c.rate, c.channels);
        auto ref = wavSamples(fixture(c.source));
        ASSERT_FALSE(wav.empty());
        Comparison cmp = compareAudio(wav, ref, c.channels, 100);
        EXPECT_GE(cmp.snrDb, c.snrDb) << "lag " << cmp.lag;
        EXPECT_EQ(cmp.lag, 0);
        EXPECT_LE(std::labs(cmp.lengthDiff), 1) << cmp.lengthDiff;
    }
}
