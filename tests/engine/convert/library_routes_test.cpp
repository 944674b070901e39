// Conversions of raw AAC files, AMR ring tones and MP4-family files through
// kestrel-cli, checked against ffmpeg's decode of the same streams.
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Converted {
    int status = -1;
    std::vector<std::string> outputs;
    std::string err;
};

Converted convert(const TempDir& home, const TempDir& out, const std::string& args) {
    CommandResult r = runApart("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                               "' convert --stamp -o '" + out.path() + "' " + args);
    Converted c;
    c.status = r.status;
    c.err = r.err;
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos) c.outputs.push_back(line.substr(0, tab));
    }
    return c;
}

struct WavCase {
    const char* fixture;
    const char* args;
    int rate, channels;   // of the output
    const char* filter;   // reference filter (channel pick)
    const char* refInput; // decoded by ffmpeg for the reference (empty: the fixture)
    double minSnr;
    int srcFrame, srcRate; // one codec frame of the source
};

void checkWav(const WavCase& c) {
    SCOPED_TRACE(std::string(c.fixture) + " " + c.args);
    ASSERT_TRUE(haveFixture(c.fixture));
    TempDir home, out;
    Converted r =
        convert(home, out, std::string("-t wav ") + c.args + " '" + fixture(c.fixture) + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.outputs.size(), 1u);
    int rate = 0, ch = 0;
    auto got = wavSamples(r.outputs[0], &rate, &ch);
    EXPECT_EQ(rate, c.rate);
    EXPECT_EQ(ch, c.channels);
    std::string ref = fixture(c.refInput[0] ? c.refInput : c.fixture);
    std::string options;
    if (std::string(c.refInput).rfind("sox:", 0) == 0) {
        // AMR narrow-band: the reference decoder of the standard, through sox.
        ref = home.file("reference.wav");
        ASSERT_EQ(run("sox -D -q '" + fixture(c.refInput + 4) + "' -e signed -b 16 '" + ref + "'"),
                  0);
    } else if (c.srcFrame == 1152 || c.srcFrame == 576) {
        // MPEG audio in MP4: the track's samples as they are, cut by the
        // filter as the edit list says (FFmpeg applies no edit list to MP3).
        options = "-ignore_editlist 1";
    }
    auto want = ffmpegDecode(ref, c.rate == c.srcRate ? 0 : c.rate, c.filter[0] ? 0 : c.channels,
                             c.filter, options);
    ASSERT_FALSE(want.empty());
    auto cmp = compareAudio(got, want, c.channels, 3000, 2000);
    long frame = static_cast<long>(c.srcFrame) * c.rate / c.srcRate;
    EXPECT_LE(std::labs(cmp.lengthDiff), frame) << "lag " << cmp.lag;
    EXPECT_GE(cmp.snrDb, c.minSnr) << "lag " << cmp.lag;
}

} // namespace

TEST(LibraryRoutes, SilentWavMatchesFfmpegDecode) {
    const WavCase cases[] = {
        // Raw AAC (route 89): FFmpeg's AAC decoder inside the AAC library.
        {"mp4_adts_44k.aac", "-r 44100", 44100, 2, "", "", 60, 1024, 44100},
        {"mp4_adts_22k_mono.aac", "-r 22050 --mono mix", 22050, 1, "", "", 60, 1024, 22050},
        {"mp4_adts_id3.aac", "-r 22050 --mono mix", 22050, 1, "", "", 60, 1024, 22050},
        // ADIF: the same raw data blocks as the ADTS stream.
        {"mp4_adif_44k.aac", "-r 44100", 44100, 2, "", "mp4_adts_44k.aac", 60, 1024, 44100},
        // MP4 family (route 7): AAC, MP3 (our MPEG audio decoders), AMR-WB.
        {"mp4_aac_44k.m4a", "-r 44100", 44100, 2, "", "", 60, 1024, 44100},
        {"mp4_aac_22k_mono.mp4", "-r 22050 --mono mix", 22050, 1, "", "", 60, 1024, 22050},
        {"mp4_clip.f4v", "-r 44100", 44100, 2, "", "", 60, 1024, 44100},
        {"mp4_mp3_44k.mp4", "-r 44100", 44100, 2, "atrim=start_sample=1105:end_sample=177505", "",
         40, 1152, 44100},
        {"mp4_mp3_24k.mp4", "-r 24000 --mono mix", 24000, 1,
         "atrim=start_sample=1105:end_sample=97105", "", 40, 576, 24000},
        {"mp4_amrwb.3gp", "-r 16000 --mono mix", 16000, 1, "", "", 60, 320, 16000},
        // A rate that is no MPEG rate: 96 kHz converted at 44100 Hz (soxr).
        {"mp4_adts_96k.aac", "-r 44100", 44100, 2, "", "", 40, 1024, 96000},
    };
    for (const auto& c : cases)
        checkWav(c);
}

TEST(LibraryRoutes, AmrNarrowBandMatchesTheReferenceDecoder) {
    // FFmpeg's narrow-band decoder is another implementation of the standard
    // (about 27 dB apart): the reference is the standard's decoder in sox. The
    // 3GP file holds the frames of the 12.2 kbit/s ring tone.
    const WavCase cases[] = {
        {"mp4_ring_122.amr", "-r 8000 --mono mix", 8000, 1, "", "sox:mp4_ring_122.amr", 40, 160,
         8000},
        {"mp4_ring_475.amr", "-r 8000 --mono mix", 8000, 1, "", "sox:mp4_ring_475.amr", 40, 160,
         8000},
        {"mp4_amrnb.3gp", "-r 8000 --mono mix", 8000, 1, "", "sox:mp4_ring_122.amr", 40, 160, 8000},
    };
    for (const auto& c : cases)
        checkWav(c);
}

TEST(LibraryRoutes, MonoMixLeftAndRight) {
    const WavCase cases[] = {
        {"mp4_adts_44k.aac", "-r 22050 --mono mix", 22050, 1, "pan=mono|c0=0.5*c0+0.5*c1", "", 40,
         1024, 44100},
        {"mp4_adts_44k.aac", "-r 22050 --mono left", 22050, 1, "pan=mono|c0=c0", "", 40, 1024,
         44100},
        {"mp4_adts_44k.aac", "-r 22050 --mono right", 22050, 1, "pan=mono|c0=c1", "", 40, 1024,
         44100},
        {"mp4_aac_44k.m4a", "-r 22050 --mono mix", 22050, 1, "pan=mono|c0=0.5*c0+0.5*c1", "", 40,
         1024, 44100},
        {"mp4_aac_44k.m4a", "-r 22050 --mono left", 22050, 1, "pan=mono|c0=c0", "", 40, 1024,
         44100},
        {"mp4_aac_44k.m4a", "-r 22050 --mono right", 22050, 1, "pan=mono|c0=c1", "", 40, 1024,
         44100},
        // AMR at 11025 Hz, the highest rate its route takes.
        {"mp4_ring_122.amr", "-r 11025 --mono mix", 11025, 1, "", "sox:mp4_ring_122.amr", 40, 160,
         8000},
        {"mp4_ring_475.amr", "-r 11025 --mono right", 11025, 1, "", "sox:mp4_ring_475.amr", 40, 160,
         8000},
    };
    for (const auto& c : cases)
        checkWav(c);
}

TEST(LibraryRoutes, AmrAboveElevenKilohertzAskedForIsRefused) {
    TempDir home, out;
    Converted r = convert(home, out, "-t wav -r 22050 '" + fixture("mp4_ring_122.amr") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.outputs.empty());
    EXPECT_NE(r.err.find("an AMR source converts only at 8000 or 11025 Hz (-r 8000 or -r 11025)"),
              std::string::npos)
        << r.err;
}

TEST(LibraryRoutes, AacWithoutHeaderGivesNoSound) {
    TempDir home, out;
    Converted r = convert(home, out, "-t wav -r 44100 '" + fixture("mp4_noheader.aac") + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no sound converted into"), std::string::npos) << r.err;
}

TEST(LibraryRoutes, FilesCutAtAThirdConvertWhatIsThere) {
    struct Cut {
        const char* fixture;
        const char* args;
    };
    const Cut cuts[] = {{"mp4_adts_44k.aac", "-r 44100"}, {"mp4_adif_44k.aac", "-r 44100"},
                        {"mp4_ring_122.amr", "-r 8000"},  {"mp4_aac_44k.m4a", "-r 44100"},
                        {"mp4_mp3_44k.mp4", "-r 44100"},  {"mp4_amrnb.3gp", "-r 8000"},
                        {"mp4_amrwb.3gp", "-r 16000"}};
    for (const auto& c : cuts) {
        SCOPED_TRACE(c.fixture);
        TempDir home, out, src;
        auto bytes = readFile(fixture(c.fixture));
        bytes.resize(bytes.size() / 3);
        std::string name = src.file(std::string("cut_") + c.fixture);
        writeFile(name, bytes);
        Converted whole =
            convert(home, out, std::string("-t wav ") + c.args + " '" + fixture(c.fixture) + "'");
        ASSERT_EQ(whole.outputs.size(), 1u);
        const size_t full = wavSamples(whole.outputs[0]).size();
        TempDir out2;
        CommandResult info =
            runApart("'" + kCli + "' --home '" + home.path() + "' info '" + name + "'");
        if (info.status != 0) continue; // refused as a whole (its index is at the end): no crash
        Converted r = convert(home, out2, std::string("-t wav ") + c.args + " '" + name + "'");
        ASSERT_EQ(r.outputs.size(), 1u) << r.err;
        const size_t part = wavSamples(r.outputs[0]).size();
        EXPECT_GT(part, full / 5) << r.err;
        EXPECT_LT(part, full * 2 / 3) << r.err;
    }
}

namespace {

// What ffprobe reads of the first audio stream's edit list: the samples its
// first packet says to skip, and the stream's duration in samples.
struct EditList {
    long skip = 0;
    long keep = 0;
    int rate = 0;
    int channels = 0;
};

EditList probeEditList(const std::string& path) {
    EditList e;
    std::string info = capture("ffprobe -v error -select_streams a:0 -show_entries "
                               "stream=sample_rate,channels,duration -of default=nw=1 '" +
                               path + "'");
    double seconds = 0;
    std::sscanf(info.c_str() + info.find("sample_rate=") + 12, "%d", &e.rate);
    std::sscanf(info.c_str() + info.find("duration=") + 9, "%lf", &seconds);
    std::sscanf(info.c_str() + info.find("channels=") + 9, "%d", &e.channels);
    e.keep = std::lround(seconds * e.rate);
    std::string first = capture("ffprobe -v error -select_streams a:0 -read_intervals %+#1 "
                                "-show_entries packet_side_data=skip_samples -of default=nw=1 '" +
                                path + "'");
    size_t at = first.find("skip_samples=");
    if (at != std::string::npos) e.skip = std::atol(first.c_str() + at + 13);
    return e;
}

} // namespace

// An MP4 track's edit list: the encoder's priming before the sound and the
// padding after it are dropped, so that the WAV holds exactly the edited
// duration, aligned with the track's samples cut as the list says.
TEST(LibraryRoutes, EditListsTrimPrimingAndPadding) {
    for (const char* file : {"mp4_aac_44k.m4a", "mp4_mp3_44k.mp4", "mp4_mp3_24k.mp4"}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(haveFixture(file));
        EditList e = probeEditList(fixture(file));
        ASSERT_GT(e.rate, 0);
        ASSERT_GT(e.skip, 0) << "the fixture has priming in its edit list";
        TempDir home, out;
        // A mono track stays mono.
        const std::string mono = e.channels == 1 ? " --mono mix" : "";
        Converted r = convert(
            home, out, "-t wav -r " + std::to_string(e.rate) + mono + " '" + fixture(file) + "'");
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.outputs.size(), 1u);
        int ch = 0;
        auto got = wavSamples(r.outputs[0], nullptr, &ch);
        ASSERT_EQ(ch, e.channels);
        EXPECT_EQ(static_cast<long>(got.size()) / ch, e.keep);
        auto want = ffmpegDecode(fixture(file), 0, 0,
                                 "atrim=start_sample=" + std::to_string(e.skip) +
                                     ":end_sample=" + std::to_string(e.skip + e.keep),
                                 "-ignore_editlist 1");
        auto cmp = compareAudio(got, want, ch, 3000);
        EXPECT_EQ(cmp.lag, 0);
        EXPECT_EQ(cmp.lengthDiff, 0);
        EXPECT_GE(cmp.snrDb, 40);
    }
}
