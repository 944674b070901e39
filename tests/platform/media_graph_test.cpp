// The media graph and the Windows Media reader against ffmpeg's own decode of
// files made by ffmpeg: the facts they report, the PCM they hand on, their
// refusals, stop and pause, and damaged files.
#include "platform/media_graph.h"
#include "platform/wm_audio_reader.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

using namespace kestrel;

namespace {

// Everything a graph hands on, collected on its thread.
struct Collected {
    std::mutex m;
    std::vector<int16_t> pcm;
    std::atomic<int> blocks{0};
    int64_t lastTime = -1;
    bool timesRise = true;
};

std::vector<int16_t> decodeAll(const std::string& path, GraphFacts* facts = nullptr) {
    MediaGraph g;
    EXPECT_EQ(prepareMediaGraph(g, path, 4.0), 0) << path;
    if (facts) *facts = g.facts();
    Collected c;
    std::atomic<bool> endCalled{false};
    EXPECT_EQ(runMediaGraph(
                  g,
                  [&](const uint8_t* data, int bytes, int64_t time) {
                      std::lock_guard<std::mutex> l(c.m);
                      size_t n = c.pcm.size();
                      c.pcm.resize(n + static_cast<size_t>(bytes) / 2);
                      std::memcpy(c.pcm.data() + n, data, static_cast<size_t>(bytes));
                      if (time < c.lastTime) c.timesRise = false;
                      c.lastTime = time;
                      return true;
                  },
                  [&](int) { endCalled = true; }),
              0);
    for (int i = 0; i < 3000 && !g.ended(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(g.ended()) << path;
    g.release();
    EXPECT_TRUE(endCalled.load());
    EXPECT_TRUE(c.timesRise);
    return c.pcm;
}

struct Family {
    const char* file;
    int rate;
    int channels;
    double minSnr;
};

// At least two files of each family: Windows Media, RealMedia, QuickTime and
// the files of the probe's last resort.
const Family kFamilies[] = {
    {"graph_wma2_44k.wma", 44100, 2, 60},
    {"graph_wma1_22k.wma", 22050, 1, 60},
    {"graph_av.wmv", 48000, 2, 60},
    {"graph_wma2_48k.asf", 48000, 2, 60},
    {"graph_ac3_48k.rm", 48000, 2, 60},
    {"graph_ra144_8k.rmvb", 8000, 1, 60},
    {"graph_aac_44k.mov", 44100, 2, 60},
    {"graph_pcm_22k.qt", 22050, 1, 60},
    {"graph_pcm_audio_only.avi", 22050, 1, 60},
    {"graph_mp3_audio_only.avi", 44100, 2, 60},
    {"graph_flac.mka", 48000, 2, 60},
};

} // namespace

TEST(MediaGraph, ReportsTheFormatAndDurationOfEveryFamily) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.file);
        std::string path = test::fixture(f.file);
        GraphFacts g;
        ASSERT_EQ(openMediaGraph(path, g), 0);
        EXPECT_EQ(g.format.formatTag, 1);
        EXPECT_EQ(g.format.samplesPerSec, f.rate);
        EXPECT_EQ(g.format.channels, f.channels);
        EXPECT_EQ(g.format.bitsPerSample, 16);
        EXPECT_EQ(g.format.blockAlign, f.channels * 2);
        EXPECT_EQ(g.format.avgBytesPerSec, f.rate * f.channels * 2);
        // The length of the sound the file holds (FFmpeg's decode), also where
        // the header states none (the RealAudio 14.4 file).
        const double decoded = double(test::ffmpegDecode(path, f.rate, f.channels).size()) /
                               (double(f.rate) * f.channels);
        EXPECT_NEAR(g.duration / 1e7, decoded, 1.0);
        EXPECT_EQ(g.durationSec, static_cast<int>(g.duration / kGraphTimeUnits));
        EXPECT_EQ(g.durationLow, static_cast<uint32_t>(g.duration));
    }
}

TEST(MediaGraph, HandsOnWhatFfmpegDecodes) {
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.file);
        std::string path = test::fixture(f.file);
        auto pcm = decodeAll(path);
        auto ref = test::ffmpegDecode(path);
        ASSERT_FALSE(ref.empty());
        ASSERT_FALSE(pcm.empty());
        auto cmp = test::compareAudio(pcm, ref, f.channels, 4000);
        EXPECT_GE(cmp.snrDb, f.minSnr);
        // Same length within one codec frame (at most 2048 samples here).
        EXPECT_LE(std::labs(cmp.lengthDiff), 2048);
    }
}

TEST(MediaGraph, MixesMoreThanTwoChannelsDownToStereo) {
    std::string path = test::fixture("graph_aac_51.mov");
    GraphFacts g;
    auto pcm = decodeAll(path, &g);
    EXPECT_EQ(g.format.channels, 2);
    EXPECT_EQ(g.format.samplesPerSec, 48000);
    // libswresample's default matrix, as ffmpeg's own stereo downmix uses it.
    auto ref = test::ffmpegDecode(path, 0, 2);
    auto cmp = test::compareAudio(pcm, ref, 2, 4000);
    EXPECT_GE(cmp.snrDb, 60);
}

TEST(MediaGraph, RefusesWithTheDesignCodes) {
    GraphFacts g;
    EXPECT_EQ(openMediaGraph(test::fixture("graph_video_only.mov"), g), kGraphNoAudio);
    EXPECT_EQ(openMediaGraph(test::fixture("graph_video_only.wmv"), g), kGraphNoAudio);
    EXPECT_EQ(openMediaGraph(test::fixture("graph_garbage.rm"), g), kGraphNoSource);
    EXPECT_EQ(openMediaGraph(test::fixture("graph_garbage.xyz"), g), kGraphNoSource);
    EXPECT_EQ(openMediaGraph("/nonexistent/file.rm", g), kGraphNoSource);
    MediaGraph none;
    EXPECT_LT(runMediaGraph(none, [](const uint8_t*, int, int64_t) { return true; }), 0);
}

TEST(MediaGraph, RateFollowsTheConversionMode) {
    EXPECT_EQ(graphRateForMode(0), 1.0);
    EXPECT_EQ(graphRateForMode(1), 2.0);
    EXPECT_EQ(graphRateForMode(2), 4.0);
    EXPECT_EQ(graphRateForMode(3), 4.0);
    MediaGraph g;
    ASSERT_EQ(prepareMediaGraph(g, test::fixture("graph_aac_44k.mov"), 2.0), 0);
    EXPECT_EQ(g.rate(), 2.0);
}

TEST(MediaGraph, StopsAndPausesWhileTheCallbackBlocks) {
    MediaGraph g;
    ASSERT_EQ(prepareMediaGraph(g, test::fixture("graph_wma2_44k.wma"), 1.0), 0);
    std::atomic<int> blocks{0};
    // A slow consumer, like a sound device: 20 ms a block.
    ASSERT_EQ(runMediaGraph(g,
                            [&](const uint8_t*, int, int64_t) {
                                ++blocks;
                                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                return true;
                            }),
              0);
    while (blocks.load() < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g.pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    int atPause = blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(blocks.load(), atPause); // nothing flows while paused
    g.resume();
    while (blocks.load() == atPause)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g.stop();
    EXPECT_FALSE(g.running());
    EXPECT_FALSE(g.ended()); // stopped, not at its end
    int atStop = blocks.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(blocks.load(), atStop);
}

TEST(MediaGraph, TheCallbackMayStopTheGraph) {
    MediaGraph g;
    ASSERT_EQ(prepareMediaGraph(g, test::fixture("graph_aac_44k.mov"), 4.0), 0);
    std::atomic<int> blocks{0};
    ASSERT_EQ(runMediaGraph(g, [&](const uint8_t*, int, int64_t) { return ++blocks < 2; }), 0);
    for (int i = 0; i < 500 && g.running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(g.running());
    EXPECT_EQ(blocks.load(), 2);
}

TEST(MediaGraph, CutFilesGiveWhatIsThereAndEnd) {
    test::TempDir dir;
    for (const Family& f : kFamilies) {
        SCOPED_TRACE(f.file);
        auto bytes = test::readFile(test::fixture(f.file));
        bytes.resize(bytes.size() / 3);
        std::string name = dir.file(std::string("cut_") + f.file);
        test::writeFile(name, bytes);
        GraphFacts g;
        int r = openMediaGraph(name, g);
        if (r < 0) continue; // refused as unreadable: fine
        auto pcm = decodeAll(name);
        auto whole = decodeAll(test::fixture(f.file));
        EXPECT_LT(pcm.size(), whole.size());
    }
}

TEST(MediaGraph, RandomHeaderBytesNeverCrashOrHang) {
    test::TempDir dir;
    std::mt19937 rng(1313);
    int opened = 0, refused = 0;
    for (const Family& f : kFamilies) {
        auto orig = test::readFile(test::fixture(f.file));
        for (int round = 0; round < 4; ++round) {
            auto bytes = orig;
            size_t span = std::min<size_t>(bytes.size(), 512);
            for (int k = 0; k < 24; ++k)
                bytes[rng() % span] = static_cast<uint8_t>(rng());
            std::string name = dir.file("damaged_" + std::to_string(round) + "_" + f.file);
            test::writeFile(name, bytes);
            GraphFacts g;
            if (openMediaGraph(name, g) < 0) {
                ++refused;
                continue;
            }
            ++opened;
            MediaGraph graph;
            ASSERT_EQ(prepareMediaGraph(graph, name, 4.0), 0);
            ASSERT_EQ(runMediaGraph(graph, [](const uint8_t*, int, int64_t) { return true; }), 0);
            for (int i = 0; i < 3000 && graph.running(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_FALSE(graph.running()) << name;
        }
    }
    EXPECT_EQ(opened + refused, static_cast<int>(std::size(kFamilies)) * 4);
}

namespace {

class CountingReader : public WmAudioReader {
  public:
    ~CountingReader() override { close(); }
    void OnStatus(int status, int32_t result) override {
        WmAudioReader::OnStatus(status, result);
        std::lock_guard<std::mutex> l(m);
        statuses.push_back(status);
    }
    void OnSample(int output, int64_t time, int64_t duration, uint32_t flags, const uint8_t* data,
                  int bytes) override {
        WmAudioReader::OnSample(output, time, duration, flags, data, bytes);
        std::lock_guard<std::mutex> l(m);
        size_t n = pcm.size();
        pcm.resize(n + static_cast<size_t>(bytes) / 2);
        std::memcpy(pcm.data() + n, data, static_cast<size_t>(bytes));
    }
    std::mutex m;
    std::vector<int> statuses;
    std::vector<int16_t> pcm;
};

} // namespace

TEST(WmAudioReader, ReadsAttributesAndPlaysTheAudioOutput) {
    CountingReader r;
    std::string path = test::fixture("graph_wma1_22k.wma");
    ASSERT_EQ(r.open(path), kWmOk);
    EXPECT_EQ(r.title(), "Kestrel test");
    EXPECT_EQ(r.author(), "Tester");
    EXPECT_EQ(r.copyright(), ""); // absent: no failure
    EXPECT_NEAR(r.duration() / 1e7, test::ffprobeDuration(path), 1.0);
    EXPECT_TRUE(r.seekable());
    EXPECT_FALSE(r.broadcast());
    EXPECT_EQ(r.audioFormat().samplesPerSec, 22050);
    EXPECT_EQ(r.audioFormat().channels, 1);
    EXPECT_EQ(r.audioFormat().bitsPerSample, 16);
    ASSERT_EQ(r.start(), kWmOk);
    for (int i = 0; i < 3000 && !r.ended(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(r.ended());
    EXPECT_GT(r.positionMs(), 2500);
    r.close();
    auto ref = test::ffmpegDecode(path);
    auto cmp = test::compareAudio(r.pcm, ref, 1);
    EXPECT_GE(cmp.snrDb, 60);
    EXPECT_LE(std::labs(cmp.lengthDiff), 2048);
    std::vector<int> want{WMT_OPENED, WMT_STARTED, WMT_EOF, WMT_CLOSED};
    EXPECT_EQ(r.statuses, want);
}

TEST(WmAudioReader, RefusesFilesWithoutAudio) {
    CountingReader r;
    EXPECT_EQ(r.open(""), kWmInvalidArg);
    EXPECT_EQ(r.open(test::fixture("graph_video_only.wmv")), kWmUnexpected);
    EXPECT_EQ(r.audioFormat().samplesPerSec, 0);
    EXPECT_NE(r.lastError().find("(hr=0X8000FFFF)"), std::string::npos) << r.lastError();
    EXPECT_LT(r.open(test::fixture("graph_garbage.wma")), 0);
    EXPECT_EQ(r.start(), kWmUnexpected);
    EXPECT_EQ(r.stop(), kWmUnexpected);
}

TEST(WmAudioReader, StopEndsTheSamplesAtOnce) {
    CountingReader r;
    ASSERT_EQ(r.open(test::fixture("graph_wma2_44k.wma")), kWmOk);
    ASSERT_EQ(r.start(), kWmOk);
    ASSERT_EQ(r.pause(), kWmOk);
    ASSERT_EQ(r.resume(), kWmOk);
    ASSERT_EQ(r.stop(), kWmOk);
    size_t n;
    {
        std::lock_guard<std::mutex> l(r.m);
        n = r.pcm.size();
        EXPECT_EQ(r.statuses.back(), WMT_STOPPED);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard<std::mutex> l(r.m);
    EXPECT_EQ(r.pcm.size(), n);
}

TEST(MediaGraph, SeeksToAMediaTime) {
    for (const char* name : {"graph_aac_44k.mov", "graph_wma2_44k.wma", "graph_flac.mka"}) {
        SCOPED_TRACE(name);
        MediaGraph g;
        ASSERT_EQ(prepareMediaGraph(g, test::fixture(name), 4.0), 0);
        ASSERT_TRUE(g.facts().seekable);
        const GraphAudioFormat f = g.facts().format;
        ASSERT_EQ(g.seek(15000000), 0); // 1.5 s
        std::mutex m;
        int64_t first = -1, bytes = 0;
        ASSERT_EQ(runMediaGraph(g,
                                [&](const uint8_t*, int n, int64_t time) {
                                    std::lock_guard<std::mutex> l(m);
                                    if (first < 0) first = time;
                                    bytes += n;
                                    return true;
                                }),
                  0);
        for (int i = 0; i < 3000 && !g.ended(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(g.ended());
        std::lock_guard<std::mutex> l(m);
        EXPECT_EQ(first, 15000000);
        // About the second half of 3 s: a packet's worth either way.
        double seconds = static_cast<double>(bytes) / f.avgBytesPerSec;
        EXPECT_NEAR(seconds, 1.5, 0.15);
        EXPECT_NEAR(g.position() / 1e7, 3.0, 0.15);
    }
}

TEST(MediaGraph, ASeekStartsAtTheTargetSample) {
    // PCM and FLAC: every sample is where its time says.
    for (const char* name : {"graph_pcm_22k.qt", "graph_flac.mka", "graph_pcm_audio_only.avi"}) {
        SCOPED_TRACE(name);
        MediaGraph g;
        ASSERT_EQ(prepareMediaGraph(g, test::fixture(name), 4.0), 0);
        const GraphAudioFormat f = g.facts().format;
        ASSERT_EQ(g.seek(12345670), 0); // 1.234567 s
        Collected c;
        ASSERT_EQ(runMediaGraph(g,
                                [&](const uint8_t* data, int bytes, int64_t) {
                                    std::lock_guard<std::mutex> l(c.m);
                                    size_t n = c.pcm.size();
                                    c.pcm.resize(n + static_cast<size_t>(bytes) / 2);
                                    std::memcpy(c.pcm.data() + n, data, static_cast<size_t>(bytes));
                                    return true;
                                }),
                  0);
        for (int i = 0; i < 3000 && !g.ended(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(g.ended());
        auto ref = test::ffmpegDecode(test::fixture(name));
        size_t skip = static_cast<size_t>(12345670LL * f.samplesPerSec / 10000000) * f.channels;
        ASSERT_LT(skip, ref.size());
        std::vector<int16_t> tail(ref.begin() + static_cast<long>(skip), ref.end());
        std::lock_guard<std::mutex> l(c.m);
        ASSERT_EQ(c.pcm.size(), tail.size());
        EXPECT_TRUE(c.pcm == tail);
    }
}
