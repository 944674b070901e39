// The files decoded through the media graph and the Windows Media reader, end
// to end through kestrel-cli and the player: what `info` lists, silent WAV
// conversions against ffmpeg's decode, the refusals, cut and damaged files,
// and playback into SDL's disk driver against the WAV conversion.
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/graph_analysis.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/captions.h"
#include "engine/core/run_state.h"
#include "engine/playback/players.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <regex>
#include <thread>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

// The design's messages are checked as a Chinese locale shows them.
std::string cli(const TempDir& home, const std::string& args) {
    return "SDL_AUDIODRIVER=dummy LC_ALL=zh_CN.UTF-8 '" + kCli + "' --home '" + home.path() + "' " +
           args;
}

// A silent conversion; the output paths it lists.
std::vector<std::string> convert(const TempDir& home, const TempDir& out, const std::string& args,
                                 int* status = nullptr) {
    CommandResult r = runApart(cli(home, "convert -o '" + out.path() + "' " + args));
    if (status) *status = r.status;
    std::vector<std::string> paths;
    size_t pos = 0;
    while (pos < r.out.size()) {
        size_t nl = r.out.find('\n', pos);
        std::string line = r.out.substr(pos, nl - pos);
        size_t tab = line.find('\t');
        if (tab != std::string::npos) paths.push_back(line.substr(0, tab));
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return paths;
}

// A member of the record that `info --json` prints, as its text.
std::string field(const std::string& info, const std::string& name) {
    std::smatch m;
    if (std::regex_search(info, m, std::regex("\"" + name + "\": \"?([^\",}]*)"))) return m[1];
    return "";
}

struct Listed {
    const char* file;
    const char* typeName;
    int kind, rate, channels;
};

// Two files and more of each family.
const Listed kListed[] = {
    {"graph_wma2_44k.wma", "ASF/WMA/WMV", 9999, 44100, 2},
    {"graph_wma1_22k.wma", "ASF/WMA/WMV", 9999, 22050, 1},
    {"graph_av.wmv", "ASF/WMA/WMV", 9999, 48000, 2},
    {"graph_wma2_48k.asf", "ASF/WMA/WMV", 9999, 48000, 2},
    {"graph_ac3_48k.rm", "RM/RMVB", 6000, 48000, 2},
    {"graph_ra144_8k.rmvb", "RM/RMVB", 6000, 8000, 1},
    {"graph_aac_44k.mov", "MOV/QT", 7000, 44100, 2},
    {"graph_pcm_22k.qt", "MOV/QT", 7000, 22050, 1},
    {"graph_aac_51.mov", "MOV/QT", 7000, 48000, 2},
    {"graph_pcm_audio_only.avi", "其他", 8000, 22050, 1},
    {"graph_mp3_audio_only.avi", "其他", 8000, 44100, 2},
    {"graph_flac.mka", "其他", 8000, 48000, 2},
};

} // namespace

TEST(GraphAnalysis, ExtensionsChooseTheFamily) {
    EXPECT_EQ(platformFamily(".RM", ".RM"), PlatformFamily::RealMedia);
    EXPECT_EQ(platformFamily("MVB", "RMVB"), PlatformFamily::RealMedia);
    EXPECT_EQ(platformFamily("RMA", ".RMA"), PlatformFamily::RealMedia);
    EXPECT_EQ(platformFamily("MOV", ".MOV"), PlatformFamily::QuickTime);
    EXPECT_EQ(platformFamily(".QT", "X.QT"), PlatformFamily::QuickTime);
    EXPECT_EQ(platformFamily("WMA", ".WMA"), PlatformFamily::WindowsMedia);
    EXPECT_EQ(platformFamily("WMV", ".WMV"), PlatformFamily::WindowsMedia);
    EXPECT_EQ(platformFamily("ASF", ".ASF"), PlatformFamily::WindowsMedia);
    EXPECT_EQ(platformFamily("AVI", ".AVI"), PlatformFamily::None);
    EXPECT_EQ(platformFamily("MKA", ".MKA"), PlatformFamily::None);
}

TEST(GraphRoutes, InfoListsEveryFamily) {
    for (const Listed& l : kListed) {
        SCOPED_TRACE(l.file);
        TempDir home;
        CommandResult r = runApart(cli(home, "info --json '" + fixture(l.file) + "'"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(field(r.out, "typeName"), l.typeName);
        EXPECT_EQ(field(r.out, "kind"), std::to_string(l.kind));
        EXPECT_EQ(field(r.out, "sampleRate"), std::to_string(l.rate));
        EXPECT_EQ(field(r.out, "channels"), std::to_string(l.channels));
        // The length of the sound the file holds (FFmpeg's decode), also
        // where the header states none (the RealAudio 14.4 file).
        const double decoded = double(ffmpegDecode(fixture(l.file), l.rate, l.channels).size()) /
                               (double(l.rate) * l.channels);
        EXPECT_NEAR(std::atoi(field(r.out, "durationSec").c_str()), decoded, 1.0);
        EXPECT_EQ(field(r.out, "fileSize"), std::to_string(readFile(fixture(l.file)).size()));
        // The codec as the decoder names it.
        EXPECT_EQ(r.out.find("\"codec\": \"\""), std::string::npos) << r.out;
    }
}

TEST(GraphRoutes, RefusalsSayWhyAndExitWithTwo) {
    struct Refusal {
        const char* file;
        const char* message;
    };
    const Refusal cases[] = {
        {"graph_video_only.mov", "]无音频信息，无法转换"},
        {"graph_video_only.wmv", ":无音频信息"},
        {"graph_garbage.rm",
         "]没有安装相关解码软件,请安装Real Play播放器或安装相关Real Play解码插件"},
        {"graph_garbage.mov",
         "]没有安装相关解码软件,请安装Quick Time播放器或安装相关Quick Time解码插件"},
        {"graph_garbage.wma", ":无音频信息"},
        {"graph_garbage.xyz", ":不确定文件类型错"},
        {"graph_tiny.rm", ":打开多媒体文件出错"},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir home, out;
        for (const char* cmd : {"info", "list add", "play"}) {
            CommandResult r = runApart(cli(home, std::string(cmd) + " '" + fixture(c.file) + "'"));
            EXPECT_EQ(r.status, 2) << cmd;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << cmd << ": " << r.err;
        }
        int status = 0;
        auto outs = convert(home, out, "-t wav '" + fixture(c.file) + "'", &status);
        EXPECT_EQ(status, 2);
        EXPECT_TRUE(outs.empty());
    }
}

TEST(GraphRoutes, SilentWavMatchesFfmpegDecode) {
    struct Case {
        const char* file;
        const char* args;
        int rate, channels;
        const char* filter;
        double minSnr;
        int srcRate;
    };
    const Case cases[] = {
        {"graph_wma2_44k.wma", "-r 44100", 44100, 2, "", 60, 44100},
        {"graph_wma1_22k.wma", "-r 22050 --mono mix", 22050, 1, "", 60, 22050},
        {"graph_av.wmv", "-r 48000", 48000, 2, "", 60, 48000},
        {"graph_wma2_48k.asf", "-r 48000", 48000, 2, "", 60, 48000},
        {"graph_ac3_48k.rm", "-r 48000", 48000, 2, "", 60, 48000},
        {"graph_ra144_8k.rmvb", "-r 8000 --mono mix", 8000, 1, "", 60, 8000},
        {"graph_aac_44k.mov", "-r 44100", 44100, 2, "", 60, 44100},
        {"graph_pcm_22k.qt", "-r 22050 --mono mix", 22050, 1, "", 60, 22050},
        {"graph_aac_51.mov", "-r 48000", 48000, 2, "", 60, 48000},
        {"graph_pcm_audio_only.avi", "-r 22050 --mono mix", 22050, 1, "", 60, 22050},
        {"graph_mp3_audio_only.avi", "-r 44100", 44100, 2, "", 60, 44100},
        {"graph_flac.mka", "-r 48000", 48000, 2, "", 60, 48000},
        // 22050 Hz mono, mixed, left and right: one file of each family.
        {"graph_wma2_44k.wma", "-r 22050 --mono mix", 22050, 1, "pan=mono|c0=0.5*c0+0.5*c1", 40,
         44100},
        {"graph_ac3_48k.rm", "-r 22050 --mono left", 22050, 1, "pan=mono|c0=c0", 40, 48000},
        {"graph_aac_44k.mov", "-r 22050 --mono right", 22050, 1, "pan=mono|c0=c1", 40, 44100},
        {"graph_flac.mka", "-r 22050 --mono mix", 22050, 1, "pan=mono|c0=0.5*c0+0.5*c1", 40, 48000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.args);
        TempDir home, out;
        auto outs =
            convert(home, out, std::string("-t wav ") + c.args + " '" + fixture(c.file) + "'");
        ASSERT_EQ(outs.size(), 1u);
        int rate = 0, ch = 0;
        auto got = wavSamples(outs[0], &rate, &ch);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(ch, c.channels);
        auto ref = ffmpegDecode(fixture(c.file), c.rate == c.srcRate ? 0 : c.rate,
                                c.filter[0] ? 0 : c.channels, c.filter);
        ASSERT_FALSE(ref.empty());
        auto cmp = compareAudio(got, ref, c.channels, 3000, 2000);
        // One codec frame: 2048 samples (WMA) at most, at the output rate.
        long frame = 2048L * c.rate / c.srcRate;
        EXPECT_LE(std::labs(cmp.lengthDiff), frame) << "lag " << cmp.lag;
        EXPECT_GE(cmp.snrDb, c.minSnr) << "lag " << cmp.lag;
    }
}

TEST(GraphRoutes, CutFilesConvertWhatIsThere) {
    std::mt19937 rng(1313);
    for (const Listed& l : kListed) {
        SCOPED_TRACE(l.file);
        TempDir home, out, src;
        auto whole = readFile(fixture(l.file));
        std::string ext = std::string(l.file).substr(std::string(l.file).rfind('.'));
        // Cut at a third.
        auto cut = whole;
        cut.resize(whole.size() / 3);
        writeFile(src.file("cut" + ext), cut);
        int status = -1;
        auto outs = convert(home, out, "-t wav '" + src.file("cut" + ext) + "'", &status);
        // Either refused with a message (exit 2) or converted as far as it goes.
        EXPECT_TRUE(status == 0 || status == 2 || status == 1) << status;
        if (status == 0) {
            ASSERT_EQ(outs.size(), 1u);
            auto cutPcm = wavSamples(outs[0]);
            EXPECT_GT(cutPcm.size(), 0u);
        }
        // Random bytes over the header: refused or converted, never a crash or hang.
        for (int round = 0; round < 3; ++round) {
            auto bad = whole;
            for (int k = 0; k < 24; ++k)
                bad[rng() % std::min<size_t>(bad.size(), 512)] = static_cast<uint8_t>(rng());
            std::string name = src.file("bad" + std::to_string(round) + ext);
            writeFile(name, bad);
            auto o = convert(home, out, "-t wav '" + name + "'", &status);
            EXPECT_TRUE(status == 0 || status == 1 || status == 2) << status;
        }
    }
}

namespace {

void usePlayerHome(const TempDir& home) {
    setLibraryFolder(KESTREL_BIN_DIR);
    setProgramFolder(home.path());
    loadSettings();
    settings.output_type = kOutWav;
    settings.mp3_sample_rate = 44100;
    settings.mp3_version = 0;
    settings.mp3_channels = 2;
    resetMediaList();
}

} // namespace

TEST(GraphRoutes, PlaybackGivesWhatAConversionWrites) {
    for (const char* name :
         {"graph_wma2_44k.wma", "graph_ac3_48k.rm", "graph_aac_44k.mov", "graph_flac.mka"}) {
        SCOPED_TRACE(name);
        TempDir home, out;
        std::string src = fixture(name);
        auto outs = convert(home, out, "-t wav -r 44100 '" + src + "'");
        ASSERT_EQ(outs.size(), 1u);
        auto wav = wavSamples(outs[0]);
        ASSERT_FALSE(wav.empty());

        std::string disk = home.file("disk.raw");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", disk.c_str(), 1);
        usePlayerHome(home);
        ASSERT_EQ(addMediaFile(src), 0);
        ASSERT_EQ(playRequest(0), 0);
        waitPlayback();
        EXPECT_EQ(playbackResult(), 0);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        setProgramFolder("");

        // The device may add silence before the first and after the last
        // buffer (and in between when it ran dry); the sound itself must be
        // the same samples.
        const auto r = test::comparePlayback(wav, test::diskSamples(disk), 4096 / 2);
        EXPECT_TRUE(r.complete);
        EXPECT_GT(r.compared, 44100u);
        EXPECT_EQ(r.mismatches, 0u);
    }
}

TEST(GraphRoutes, PauseAndStopWorkOnTheGraphThreads) {
    for (const char* name : {"graph_wma2_44k.wma", "graph_aac_44k.mov"}) {
        SCOPED_TRACE(name);
        TempDir home;
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        usePlayerHome(home);
        ASSERT_EQ(addMediaFile(fixture(name)), 0);
        ASSERT_EQ(playRequest(0), 0);
        while (!running.load() && playbackActive())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        pauseCommand();
        EXPECT_TRUE(paused.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(playbackActive()); // a paused player stays
        // A seek request is served while paused too: the graph takes it over.
        seekCommand(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(seek_request.load(), 0);
        EXPECT_FALSE(seek_dragging.load());
        pauseCommand();
        EXPECT_FALSE(paused.load());
        stopCommand();
        waitPlayback();
        EXPECT_FALSE(running.load());
        EXPECT_FALSE(playbackActive());
        setProgramFolder("");
    }
}

TEST(GraphRoutes, ASourceDamagedAfterListingIsSaidSo) {
    for (const char* name : {"graph_aac_44k.mov", "graph_wma2_44k.wma"}) {
        SCOPED_TRACE(name);
        TempDir home, src;
        std::string ext = std::string(name).substr(std::string(name).rfind('.'));
        std::string path = src.file("song" + ext);
        writeFile(path, readFile(fixture(name)));
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        usePlayerHome(home);
        RecordingMessages messages;
        ASSERT_EQ(addMediaFile(path), 0);
        writeFile(path, readFile(fixture("graph_garbage.rm")));
        ASSERT_EQ(playRequest(0), 0);
        waitPlayback();
        EXPECT_LT(playbackResult(), 0);
        EXPECT_FALSE(running.load());
        EXPECT_EQ(messages.lastText(), "打开文件" + path + "错误");
        setProgramFolder("");
    }
}

TEST(GraphRoutes, PauseAndStopReachARealTimeConversion) {
    for (const char* name : {"graph_wma2_44k.wma", "graph_aac_44k.mov"}) {
        SCOPED_TRACE(name);
        TempDir home, out;
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        usePlayerHome(home);
        settings.conversion_mode = 0; // real time with sound
        settings.save_mode = 0;
        settings.save_path = out.path() + "/";
        ASSERT_EQ(addMediaFile(fixture(name)), 0);
        mediaList.rows[0].selected = true;
        ASSERT_EQ(start_conversion(), 0);
        for (int i = 0; i < 300 && !converting.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        paused = true; // nothing is lost while paused
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        paused = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        running = false;
        waitConversion();
        ASSERT_EQ(mainJob().outputRecords.size(), 1u);
        int rate = 0, ch = 0;
        auto pcm = wavSamples(mainJob().outputRecords[0].outputPath, &rate, &ch);
        ASSERT_GT(rate * ch, 0);
        double seconds = static_cast<double>(pcm.size()) / rate / ch;
        EXPECT_GT(seconds, 0.0);
        EXPECT_LT(seconds, 2.5); // stopped well before the end of 3 s
        // What was written is the start of the sound, whole.
        auto ref = ffmpegDecode(fixture(name), rate, ch);
        ref.resize(std::min(ref.size(), pcm.size()));
        auto cmp = compareAudio(pcm, ref, ch, 3000, 0);
        EXPECT_GE(cmp.snrDb, 40);
        setProgramFolder("");
    }
}

TEST(GraphAnalysis, RefusalsCarryTheirCaptions) {
    struct Case {
        const char* file;
        int rc;
        const char* caption;
    };
    const Case cases[] = {
        {"graph_video_only.mov", -2, caption::kMain},  {"graph_garbage.rm", -2, caption::kMain},
        {"graph_tiny.rm", -1, caption::kMain},         {"graph_video_only.wmv", -2, caption::kMain},
        {"graph_garbage.xyz", -2, caption::kMainWide},
    };
    setLibraryFolder(KESTREL_BIN_DIR);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        RecordingMessages messages;
        MediaRecord rec = emptyRecord();
        EXPECT_EQ(analyzeMedia(fixture(c.file), rec), c.rc);
        auto e = messages.entries();
        ASSERT_EQ(e.size(), 1u);
        EXPECT_EQ(e[0].caption, c.caption);
    }
}
