// The output manager's player and table: every output type the conversion
// writes is played by its type and gives the sound of the conversion (checked
// against the WAV conversion of the same source); raw AAC is refused with its
// message; delete removes the file and the record and is refused while
// playing; stop ends a playback. MP3 and EXE outputs play through the
// built-in decoders and match mpg123 sample for sample.
#include "engine/core/exe_layout.h"
#include "engine/decode/mp3dec_helpers.h"
#include "engine/pipeline/platform_readers.h"
#include "engine/playback/frame_splitter.h"
#include "engine/playback/output_manager.h"
#include "engine/playback/texts_output_manager.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <chrono>
#include <mutex>
#include <thread>
#include <regex>

using namespace kestrel;
using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

// Keeps what the player sends to its device.
class CaptureDevice : public PcmDevice {
  public:
    int open(int r, int c) override {
        std::lock_guard<std::mutex> l(m);
        rate = r;
        channels = c;
        ++opens;
        return failOpen ? -1 : 0;
    }
    void write(const uint8_t* pcm, int bytes) override {
        std::lock_guard<std::mutex> l(m);
        size_t at = samples.size();
        samples.resize(at + static_cast<size_t>(bytes) / 2);
        std::memcpy(samples.data() + at, pcm, static_cast<size_t>(bytes) / 2 * 2);
    }
    void close() override {}
    std::mutex m;
    std::vector<int16_t> samples;
    int rate = 0, channels = 0, opens = 0;
    bool failOpen = false;
};

class Events : public OutputManagerEvents {
  public:
    void statusText(const std::string& t) override {
        std::lock_guard<std::mutex> l(m);
        texts.push_back(t);
    }
    void progress(int second, int) override { lastSecond = second; }
    void openFailed() override { failedOpen = true; }
    std::mutex m;
    std::vector<std::string> texts;
    std::atomic<int> lastSecond{-1};
    std::atomic<bool> failedOpen{false};
};

// Converts `src` with kestrel-cli; the path of the one output.
std::string convertOne(const TempDir& home, const TempDir& out, const std::string& args,
                       const std::string& src) {
    std::string text =
        capture("SDL_AUDIODRIVER=dummy '" + kCli + "' --home '" + home.path() +
                "' convert -q -o '" + out.path() + "/' " + args + " '" + src + "' 2>/dev/null");
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("([^\n\t]+)\t"))) return {};
    return m[1];
}

struct Case {
    const char* name;
    int type;
    const char* args;
    int rate, channels;
    double minSnr;
};

const Case kCases[] = {
    {"mp3", kManagedMp3, "-t mp3 -r 44100", 44100, 2, 15},
    {"mp3-22k-mono", kManagedMp3, "-t mp3 -r 22050 --mono mix", 22050, 1, 15},
    {"exe", kManagedExe, "-t exe -r 44100", 44100, 2, 15},
    {"exe-22k", kManagedExe, "-t exe -r 22050 --mono mix", 22050, 1, 15},
    {"wav", kManagedWav, "-t wav -r 44100", 44100, 2, 60},
    {"wma", kManagedWma, "-t wma --wma-codec 0 --wma-format 5", 44100, 2, 12},
    {"adts", kManagedAdts, "-t adts --aac-profile lc --aac-rate 160000", 44100, 2, 15},
    {"m4a", kManagedMp4, "-t m4a --aac-profile lc --aac-rate 160000", 44100, 2, 15},
    {"amr", kManagedAmr, "-t amr --amr-mode 7", 8000, 1, 6},
    {"flv", kManagedFlv, "-t flv -r 44100", 44100, 2, 15},
    {"avi", kManagedAvi, "-t avi -r 44100", 44100, 2, 15},
};

class OutputManagerPlay : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        setMessagePort(&messages);
    }
    void TearDown() override {
        setMessagePort(nullptr);
        setProgramFolder("");
    }
    TempDir home, out, ref;
    RecordingMessages messages;
};

ManagedOutput recordOf(const std::string& path, const Case& c, int seconds) {
    ManagedOutput r;
    r.outputPath = path;
    r.sourcePath = "source";
    r.outputType = c.type;
    r.outRate = c.rate;
    r.outChannels = c.channels;
    r.duration = seconds;
    r.mpegVersion = c.rate >= 32000 ? 0 : 1;
    return r;
}

} // namespace

TEST_P(OutputManagerPlay, PlaysTheSoundOfTheOutput) {
    const Case& c = GetParam();
    const std::string src = fixture("mpeg_l3_cbr_44k.mp3");
    std::string output = convertOne(home, out, c.args, src);
    ASSERT_FALSE(output.empty());
    std::string wavArgs =
        std::string("-t wav -r ") + std::to_string(c.rate) + (c.channels == 1 ? " --mono mix" : "");
    std::string wavRef = convertOne(home, ref, wavArgs, src);
    std::vector<int16_t> expected = wavSamples(wavRef);
    ASSERT_FALSE(expected.empty());
    const int seconds = static_cast<int>(expected.size() / c.channels / c.rate);

    CaptureDevice dev;
    Events ev;
    {
        OutputManager m(&dev);
        m.setRecords({recordOf(output, c, seconds)});
        ASSERT_EQ(m.play(0, &ev), 0);
        m.wait();
        EXPECT_FALSE(m.playing());
        EXPECT_EQ(m.lastResult(), 0);
    }
    EXPECT_EQ(dev.rate, c.rate);
    EXPECT_EQ(dev.channels, c.channels);
    ASSERT_FALSE(dev.samples.empty());
    Comparison cmp = compareAudio(dev.samples, expected, c.channels, 4000, c.rate / 20);
    std::printf("%s: SNR %.1f dB (floor %.0f), lag %ld, length %+ld frames\n", c.name, cmp.snrDb,
                c.minSnr, cmp.lag, cmp.lengthDiff);
    EXPECT_GE(cmp.snrDb, c.minSnr);
    EXPECT_LT(std::labs(cmp.lengthDiff), c.rate / 5);
    // Start, the seconds as they grow, and the end.
    ASSERT_GE(ev.texts.size(), 2u);
    EXPECT_EQ(ev.texts.front(), "开始播放文件" + output);
    EXPECT_EQ(ev.texts.back(), text::manager::kPlayDone);
    // The players that read the file themselves (FLV by its tags' time
    // stamps, AVI by its audio chunks) report every second; the Windows Media
    // reader reports the media time it polls every 10 ms, which an instant
    // device outruns.
    if (c.type != kManagedWma)
        EXPECT_GE(ev.lastSecond.load(), seconds - 1);
    else
        EXPECT_GE(ev.lastSecond.load(), 0);
    EXPECT_TRUE(messages.entries().empty()) << messages.lastText();
}

INSTANTIATE_TEST_SUITE_P(Types, OutputManagerPlay, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& ch : n)
                                 if (ch == '-') ch = '_';
                             return n;
                         });

// MP3 and EXE outputs are decoded by the program's own decoders (the frame
// decoder for MPEG-1, mp3dec for MPEG-2 and 2.5), without any decoder
// library, and give what mpg123 gives for the same MP3 data: the tag frame
// skipped, the encoder's delay and padding dropped, then within 1 LSB RMS and
// 4 LSB at most.
TEST(OutputManagerMpeg, Mp3AndExeOutputsMatchMpg123WithoutDecoderLibraries) {
    struct MpegCase {
        const char* args;
        int rate, channels;
    };
    const MpegCase cases[] = {
        {"-t mp3 -r 44100", 44100, 2},
        {"-t mp3 -r 48000 --vbr 2", 48000, 2},
        {"-t mp3 -r 22050 --mono mix", 22050, 1},
        {"-t mp3 -r 11025", 11025, 2},
        {"-t exe -r 44100", 44100, 2},
        {"-t exe -r 22050 --mono mix", 22050, 1},
    };
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    TempDir home, noLibraries;
    setProgramFolder(home.path());
    RecordingMessages messages;
    setMessagePort(&messages);
    for (const MpegCase& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir out;
        setLibraryFolder(KESTREL_BIN_DIR);
        std::string output = convertOne(home, out, c.args, fixture("mpeg_l3_cbr_44k.mp3"));
        ASSERT_FALSE(output.empty());
        std::string mp3 = output;
        const bool exeOutput = std::string(c.args).find("exe") != std::string::npos;
        if (exeOutput) {
            mp3 = output + ".mp3";
            ASSERT_EQ(run("'" + kCli + "' extract -q -o '" + mp3 + "' '" + output + "' >/dev/null"),
                      0);
        }
        const std::string refPcm = out.file("ref.pcm");
        ASSERT_EQ(run("mpg123 -q -s '" + mp3 + "' > '" + refPcm + "' 2>/dev/null"), 0);
        std::vector<uint8_t> refBytes = readFile(refPcm);
        std::vector<int16_t> ref(refBytes.size() / 2);
        std::memcpy(ref.data(), refBytes.data(), ref.size() * 2);
        ASSERT_GT(ref.size(), static_cast<size_t>(c.rate));

        setLibraryFolder(noLibraries.path());
        CaptureDevice dev;
        {
            OutputManager m(&dev);
            ManagedOutput r;
            r.outputPath = output;
            r.outputType = exeOutput ? kManagedExe : kManagedMp3;
            r.outRate = c.rate;
            r.outChannels = c.channels;
            r.mpegVersion = c.rate >= 32000 ? 0 : c.rate >= 16000 ? 1 : 2;
            r.duration = 2;
            m.setRecords({r});
            ASSERT_EQ(m.play(0, nullptr), 0);
            m.wait();
            EXPECT_EQ(m.lastResult(), 0);
        }
        EXPECT_EQ(dev.rate, c.rate);
        EXPECT_EQ(dev.channels, c.channels);
        EXPECT_EQ(dev.samples.size(), ref.size());
        Difference d = differenceAt(dev.samples, ref, 0);
        EXPECT_LT(d.rms, 1.0);
        EXPECT_LE(d.maxAbs, 4);
        EXPECT_GT(d.compared, ref.size() * 99 / 100);
        EXPECT_TRUE(messages.entries().empty()) << messages.lastText();
    }
    setMessagePort(nullptr);
    setProgramFolder("");
}

// The splitter gives the stream's frames whatever the size of the reads,
// behind a tag or garbage; noise and damage pass without harm.
TEST(OutputManagerMpeg, TheSplitterGivesEveryFrameWhateverTheReads) {
    struct SplitCase {
        const char* file;
        size_t junk; // bytes of garbage in front
        size_t read;
    };
    const SplitCase cases[] = {
        {"mpeg_l3_vbr_44k.mp3", 0, 1},         {"mpeg_l3_vbr_44k.mp3", 0, 768},
        {"mpeg_l3_mpeg2_22k.mp3", 0, 384},     {"mpeg_l3_id3.mp3", 0, 5000},
        {"mpeg_l3_mpeg25_11k.mp3", 3000, 384}, {"mpeg_l3_cbr_44k.mp3", 9000, 768},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " junk " + std::to_string(c.junk) + " read " +
                     std::to_string(c.read));
        std::vector<uint8_t> clean = readFile(fixture(c.file));
        auto want = splitFrames(clean);
        ASSERT_GT(want.size(), 10u);
        std::vector<uint8_t> data(c.junk);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 37 % 251); // never 0xFF
        data.insert(data.end(), clean.begin(), clean.end());
        MpegFrameSplitter splitter;
        std::vector<std::vector<uint8_t>> got;
        auto keep = [&got](const uint8_t* p, int n) { got.emplace_back(p, p + n); };
        for (size_t at = 0; at < data.size(); at += c.read)
            splitter.feed(data.data() + at, std::min(c.read, data.size() - at), keep);
        splitter.finish(keep);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i], want[i]) << "frame " << i;
    }
    // Garbage full of header-like bytes, and a stream with bytes flipped:
    // whatever comes out begins with a header and decodes without harm.
    std::vector<uint8_t> noise(300000);
    uint32_t seed = 99;
    for (auto& b : noise) {
        seed = seed * 1103515245u + 12345u;
        b = (seed >> 20) % 7 == 0 ? 0xFF : static_cast<uint8_t>(seed >> 12);
    }
    std::vector<uint8_t> damaged = readFile(fixture("mpeg_l3_vbr_44k.mp3"));
    for (size_t i = 100; i < damaged.size(); i += 997)
        damaged[i] ^= 0x5A;
    for (const auto* data : {&noise, &damaged}) {
        MpegFrameSplitter splitter;
        uint64_t pcmBytes = 0;
        ManagerFrameDecoder decoder([&](PcmBuffer& pcm, int, int) { pcmBytes += pcm.pending; });
        auto frame = [&decoder](const uint8_t* p, int n) {
            MpegAudioHeader h;
            EXPECT_TRUE(parseMpegAudioHeader(p, h));
            decoder.frame(p, n);
        };
        for (size_t at = 0; at < data->size(); at += 768)
            splitter.feed(data->data() + at, std::min<size_t>(768, data->size() - at), frame);
        splitter.finish(frame);
        decoder.finish();
        if (data == &damaged) {
            EXPECT_GT(pcmBytes, 0u);
        }
    }
}

namespace {

class OutputManagerTable : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        setMessagePort(&messages);
    }
    void TearDown() override {
        setMessagePort(nullptr);
        setProgramFolder("");
    }
    TempDir home, out;
    RecordingMessages messages;
};

bool exists(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
}

} // namespace

// The data of an EXE output is masked: played as it lies in the file it is no
// MP3 stream at all. The manager unmasks it with the descriptor's keys.
TEST_F(OutputManagerTable, TheExeDataIsMaskedInTheFile) {
    std::string exe = convertOne(home, out, "-t exe -r 44100", fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_FALSE(exe.empty());
    std::vector<uint8_t> bytes = readFile(exe);
    ASSERT_GT(bytes.size(), exe::kDataOffset + 4);
    const uint8_t* d = bytes.data() + exe::kDataOffset;
    // An MP3 frame header would start 0xFF 0xFB at 44.1 kHz MPEG-1 Layer III.
    EXPECT_FALSE(d[0] == 0xFF && (d[1] & 0xE0) == 0xE0);
}

TEST_F(OutputManagerTable, RawAacIsRefusedWithItsMessage) {
    std::string aac = convertOne(home, out, "-t aac", fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_FALSE(aac.empty());
    CaptureDevice dev;
    OutputManager m(&dev);
    ManagedOutput r;
    r.outputPath = aac;
    r.outputType = kManagedRawAac;
    m.setRecords({r});
    EXPECT_EQ(m.play(0, nullptr), kManagerNotPlayable);
    EXPECT_FALSE(m.playing());
    ASSERT_EQ(messages.entries().size(), 1u);
    EXPECT_EQ(messages.entries()[0].caption, "岚石MP3编辑器 输出管理");
    EXPECT_EQ(messages.entries()[0].text, "AAC 编码 原始流 暂不能播放");
    EXPECT_EQ(dev.opens, 0);
}

TEST_F(OutputManagerTable, DeleteRemovesFileAndRecordAndIsRefusedWhilePlaying) {
    const std::string src = fixture("mpeg_l3_cbr_44k.mp3");
    std::vector<ManagedOutput> records;
    for (int i = 0; i < 3; ++i) {
        ManagedOutput r;
        r.outputPath = out.file("out" + std::to_string(i) + ".wav");
        writeFile(r.outputPath, std::vector<uint8_t>(44 + 8192 * 40, 0));
        r.outputType = kManagedWav;
        r.duration = 2;
        records.push_back(r);
    }
    // A slow device keeps the player busy until it is stopped.
    struct SlowDevice : CaptureDevice {
        void write(const uint8_t* p, int n) override {
            CaptureDevice::write(p, n);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    } dev;
    OutputManager m(&dev);
    m.setRecords(records);
    ASSERT_EQ(m.play(1, nullptr), 0);
    EXPECT_TRUE(m.playing());
    EXPECT_EQ(m.play(0, nullptr), kManagerBusy);
    EXPECT_EQ(m.deleteRecord(0), kManagerBusy);
    EXPECT_TRUE(exists(records[0].outputPath));
    EXPECT_EQ(m.records().size(), 3u);
    m.stop();
    m.wait();
    EXPECT_FALSE(m.playing());
    // Stopped well before its end (40 pieces of 8192 bytes).
    EXPECT_LT(dev.samples.size(), 40u * 4096);

    EXPECT_EQ(m.deleteRecord(1), 0);
    EXPECT_FALSE(exists(records[1].outputPath));
    ASSERT_EQ(m.records().size(), 2u);
    EXPECT_EQ(m.records()[1].outputPath, records[2].outputPath); // later records move up
    EXPECT_EQ(m.deleteRecord(5), kManagerNoRecord);
    // A file already gone still lets its record go.
    std::remove(records[0].outputPath.c_str());
    EXPECT_EQ(m.deleteRecord(0), 0);
    EXPECT_EQ(m.records().size(), 1u);
}

TEST_F(OutputManagerTable, WavOfWholePiecesEndsAtTheFirstEmptyRead) {
    ManagedOutput r;
    r.outputPath = out.file("whole.wav");
    std::vector<uint8_t> bytes(44 + 8192 * 3);
    for (size_t i = 44; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    writeFile(r.outputPath, bytes);
    r.outputType = kManagedWav;
    CaptureDevice dev;
    OutputManager m(&dev);
    m.setRecords({r});
    ASSERT_EQ(m.play(0, nullptr), 0);
    m.wait();
    ASSERT_EQ(dev.samples.size(), 3u * 4096);
    EXPECT_EQ(std::memcmp(dev.samples.data(), bytes.data() + 44, 8192 * 3), 0);
}

TEST_F(OutputManagerTable, AMissingOutputSaysSoAndPlaysNothing) {
    ManagedOutput r;
    r.outputPath = out.file("gone.mp3");
    r.outputType = kManagedMp3;
    CaptureDevice dev;
    Events ev;
    OutputManager m(&dev);
    m.setRecords({r});
    ASSERT_EQ(m.play(0, &ev), 0);
    m.wait();
    EXPECT_LT(m.lastResult(), 0);
    EXPECT_TRUE(ev.failedOpen.load());
    ASSERT_FALSE(ev.texts.empty());
    EXPECT_EQ(ev.texts.back(), "打开文件" + r.outputPath + "失败");
    EXPECT_EQ(dev.opens, 0);
}

TEST_F(OutputManagerTable, TheTableKeepsSixteenRecords) {
    std::vector<ManagedOutput> many(20);
    OutputManager m;
    m.setRecords(many);
    EXPECT_EQ(m.records().size(), 16u);
}

TEST_F(OutputManagerTable, NoDeviceEndsThePlaybackAtOnce) {
    std::string mp3 = convertOne(home, out, "-t mp3", fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_FALSE(mp3.empty());
    ManagedOutput r;
    r.outputPath = mp3;
    r.outputType = kManagedMp3;
    r.duration = 4;
    CaptureDevice dev;
    dev.failOpen = true;
    Events ev;
    OutputManager m(&dev);
    m.setRecords({r});
    ASSERT_EQ(m.play(0, &ev), 0);
    m.wait();
    EXPECT_LT(m.lastResult(), 0);
    EXPECT_EQ(dev.opens, 1);
    EXPECT_TRUE(dev.samples.empty());
    ASSERT_FALSE(ev.texts.empty());
    EXPECT_NE(ev.texts.back(), text::manager::kPlayDone);
}

namespace {

// Counts what reaches the main window.
class RecordingWindow : public WindowPort {
  public:
    void statusText(const std::string& t) override {
        std::lock_guard<std::mutex> l(m);
        texts.push_back(t);
    }
    void wmPlaybackEnded() override { ++wmEnds; }
    std::mutex m;
    std::vector<std::string> texts;
    std::atomic<int> wmEnds{0};
};

struct CountingSink : PcmSinkPath {
    void consume(PcmBuffer& pcm) override { bytes += pcm.pending; }
    uint64_t bytes = 0;
};

const char* const kWmEndedText = "播放结束，请选择其它功能";

} // namespace

// The end of a WMA output the manager plays is the manager's own: the main
// window hears nothing of it, neither the reader's message nor a status text.
TEST_F(OutputManagerTable, AWmaOutputsEndLeavesTheMainWindowAlone) {
    std::string wma = convertOne(home, out, "-t wma --wma-codec 0 --wma-format 5",
                                 fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_FALSE(wma.empty());
    RecordingWindow main;
    setWindowPort(&main);
    CaptureDevice dev;
    Events ev;
    {
        OutputManager m(&dev);
        m.setRecords({recordOf(wma, kCases[5], 2)});
        ASSERT_EQ(kCases[5].type, kManagedWma);
        ASSERT_EQ(m.play(0, &ev), 0);
        m.wait();
        EXPECT_EQ(m.lastResult(), 0);
    }
    setWindowPort(nullptr);
    EXPECT_FALSE(dev.samples.empty());
    EXPECT_EQ(main.wmEnds.load(), 0);
    EXPECT_TRUE(main.texts.empty()) << main.texts.front();
    ASSERT_FALSE(ev.texts.empty());
    EXPECT_EQ(ev.texts.back(), text::manager::kPlayDone);
}

// The main player's and the conversion's reading tells the main window once
// when the reader reaches the end of the file.
TEST(WindowsMediaReading, TheEndOfTheFileReachesTheMainWindow) {
    setLibraryFolder(KESTREL_BIN_DIR);
    RecordingWindow main;
    setWindowPort(&main);
    OwnRunFlags own;
    own.running = true;
    CountingSink sink;
    PcmBuffer pcm;
    ReaderEntry e;
    e.path = "  " + fixture("graph_wma2_44k.wma"); // leading blanks are trimmed
    EXPECT_EQ(readWindowsMedia(e, sink, own.flags(), pcm, nullptr, nullptr), ReaderResult::Ended);
    // Told apart from a caller with a window of its own.
    readWindowsMedia(e, sink, own.flags(), pcm, nullptr, nullptr, WmEndReport::Caller);
    setWindowPort(nullptr);
    EXPECT_GT(sink.bytes, 0u);
    EXPECT_EQ(main.wmEnds.load(), 1);
    for (const auto& t : main.texts)
        EXPECT_NE(t, kWmEndedText);
}

// An FLV output is read by its own tags: a file that does not begin with the
// signature of an FLV of version 1 plays nothing.
TEST_F(OutputManagerTable, AnFlvWithoutItsSignaturePlaysNothing) {
    std::string flv = convertOne(home, out, "-t flv -r 44100", fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_FALSE(flv.empty());
    std::vector<uint8_t> bytes = readFile(flv);
    ASSERT_GT(bytes.size(), 13u);
    ASSERT_EQ(std::memcmp(bytes.data(), "FLV\x01", 4), 0);
    bytes[3] = 2; // a version this reader does not know
    const std::string bad = out.path() + "/version2.flv";
    FILE* f = std::fopen(bad.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    ManagedOutput r = recordOf(bad, kCases[9], 4);
    ASSERT_EQ(r.outputType, kManagedFlv);
    CaptureDevice dev;
    Events ev;
    OutputManager m(&dev);
    m.setRecords({r});
    ASSERT_EQ(m.play(0, &ev), 0);
    m.wait();
    EXPECT_LT(m.lastResult(), 0);
    EXPECT_TRUE(dev.samples.empty());
    ASSERT_FALSE(ev.texts.empty());
    EXPECT_NE(ev.texts.back(), text::manager::kPlayDone);
}

// Tagged outputs play as untagged ones: an MP3 behind an ID3v2 tag with a
// JPEG cover (whose bytes hold frame-like sync patterns) gives the very
// samples of the same MP3 without it, a WAV only its data chunk, not the tag
// list after it; the status line names the title and artist.
TEST_F(OutputManagerTable, TaggedOutputsPlayAsUntaggedOnesAndShowTheirTags) {
    const std::string src = fixture("tags_v23-utf16.mp3");
    struct Case {
        const char* args;
        int type;
    };
    for (const Case& c :
         {Case{"-t mp3 -r 44100", kManagedMp3}, Case{"-t wav -r 44100", kManagedWav}}) {
        SCOPED_TRACE(c.args);
        TempDir tagged, plain;
        const std::string withTags = convertOne(home, tagged, c.args, src);
        const std::string without =
            convertOne(home, plain, std::string(c.args) + " --no-tags", src);
        ASSERT_FALSE(withTags.empty());
        ASSERT_FALSE(without.empty());
        ASSERT_GT(readFile(withTags).size(), readFile(without).size());
        std::vector<int16_t> played[2];
        std::vector<std::string> texts[2];
        for (int i = 0; i < 2; ++i) {
            ManagedOutput r = recordOf(i ? without : withTags, kCases[0], 2);
            r.outputType = c.type;
            CaptureDevice dev;
            Events ev;
            OutputManager m(&dev);
            m.setRecords({r});
            ASSERT_EQ(m.play(0, &ev), 0);
            m.wait();
            EXPECT_EQ(m.lastResult(), 0);
            played[i] = dev.samples;
            texts[i] = ev.texts;
        }
        ASSERT_FALSE(played[1].empty());
        EXPECT_EQ(played[0], played[1]);
        ASSERT_FALSE(texts[0].empty());
        EXPECT_EQ(texts[0].front(), "开始播放文件" + withTags + "  Beyoncé - Ünïcödé 标题");
        EXPECT_EQ(texts[1].front(), "开始播放文件" + without);
    }
}
