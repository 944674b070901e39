// A conversion job is an object: jobs run one after the other, each with its
// own entries and records; a second job is refused while one runs (the MP3
// encoder and the rate changer are one per process); and a job loads only the
// decoder libraries its entries' routes use, releasing them at its end.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/library_loader.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "platform/wm_writer.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

using namespace kestrel;

namespace {

// Holds the worker in its busy report until released, so that the test sees
// a job that is running whatever the speed of the machine.
class GateWindow : public WindowPort {
  public:
    void busy(Commands) override {
        std::unique_lock<std::mutex> lock(m_);
        ++busyReports_;
        cv_.notify_all();
        cv_.wait(lock, [this] { return open_; });
    }
    void waitBusy() {
        std::unique_lock<std::mutex> lock(m_);
        cv_.wait(lock, [this] { return busyReports_ > 0; });
    }
    void close() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = false;
        busyReports_ = 0;
    }
    void open() {
        std::lock_guard<std::mutex> lock(m_);
        open_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    int busyReports_ = 0;
    bool open_ = true;
};

class ConversionJobs : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        setWindowPort(&win);
    }
    void TearDown() override {
        win.open();
        running = false;
        waitConversion();
        setWindowPort(nullptr);
        setProgramFolder("");
    }

    // Selects `fixtures` as the only list entries and sets a silent WAV job
    // into `out`.
    void select(std::initializer_list<const char*> fixtures, const test::TempDir& out) {
        loadSettings();
        settings.output_type = kOutWav;
        settings.conversion_mode = 2;
        settings.save_mode = 0;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        settings.save_path = out.path() + "/";
        resetMediaList();
        for (const char* f : fixtures)
            ASSERT_EQ(addMediaFile(test::fixture(f)), 0) << f;
        for (auto& r : mediaList.rows)
            r.selected = true;
    }

    test::TempDir home;
    test::RecordingMessages msgs;
    GateWindow win;
};

const char* const kJobLibraries[] = {"orvoadpcmdec.so", "orvoaacdec.so", "orvoaacenc.so",
                                     "orvoamrenc.so",   "orvoamrdec.so", "orvomtvdec.so",
                                     "mpadec_ext.so",   "ac3stream.so"};

std::map<std::string, int> openCounts() {
    std::map<std::string, int> m;
    for (const char* lib : kJobLibraries)
        m[lib] = libraryOpenCount(lib);
    return m;
}

// Opens of each library between `before` and now.
std::map<std::string, int> opensSince(const std::map<std::string, int>& before) {
    std::map<std::string, int> m;
    for (const char* lib : kJobLibraries)
        m[lib] = libraryOpenCount(lib) - before.at(lib);
    return m;
}

} // namespace

TEST_F(ConversionJobs, TwoJobsOneAfterTheOtherEachWithItsOwnTables) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_TRUE(test::haveFixture("mpeg_l3_mpeg2_22k.mp3"));
    test::TempDir outA, outB;

    // A job reads the settings when it runs: each is set up just before.
    ConversionJob a;
    select({"mpeg_l3_cbr_44k.mp3"}, outA);
    ASSERT_EQ(a.prepare(), 0);
    ASSERT_EQ(a.run(), 0);
    ConversionJob b;
    select({"mpeg_l3_mpeg2_22k.mp3", "mpeg_l3_cbr_44k.mp3"}, outB);
    ASSERT_EQ(b.prepare(), 0);
    ASSERT_EQ(b.run(), 0);
    EXPECT_FALSE(running.load());

    ASSERT_EQ(a.jobTable.size(), 1u);
    ASSERT_EQ(a.outputRecords.size(), 1u);
    EXPECT_EQ(a.jobTable[0].result, EntryResult::Converted);
    EXPECT_EQ(a.outputRecords[0].outputPath.rfind(outA.path(), 0), 0u);
    ASSERT_EQ(b.jobTable.size(), 2u);
    ASSERT_EQ(b.outputRecords.size(), 2u);
    for (const auto& e : b.jobTable) {
        EXPECT_EQ(e.result, EntryResult::Converted) << e.path;
        EXPECT_EQ(e.outputName.rfind(outB.path(), 0), 0u) << e.outputName;
    }
    // Each output holds its own sound: the WAV outputs of the same source in
    // the two jobs are the same bytes.
    EXPECT_EQ(test::readFile(a.outputRecords[0].outputPath),
              test::readFile(b.outputRecords[1].outputPath));
    EXPECT_GT(test::readFile(b.outputRecords[0].outputPath).size(), 44u);
    // The main job was not touched.
    EXPECT_TRUE(mainJob().outputRecords.empty());
}

TEST_F(ConversionJobs, ASecondJobIsRefusedWhileOneRuns) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    test::TempDir outA, outB;
    ConversionJob a, b;
    select({"mpeg_l3_cbr_44k.mp3"}, outA);
    ASSERT_EQ(a.prepare(), 0);
    select({"mpeg_l3_cbr_44k.mp3"}, outB);
    ASSERT_EQ(b.prepare(), 0);

    win.close();
    int rcA = -100;
    std::thread worker([&] { rcA = a.run(); });
    win.waitBusy(); // `a` holds the encoder and the PCM stage now
    EXPECT_TRUE(a.active());
    EXPECT_TRUE(ConversionJob::anyActive());
    const size_t shown = msgs.entries().size();
    EXPECT_EQ(b.run(), kJobBusy);
    EXPECT_FALSE(b.active());
    EXPECT_EQ(msgs.entries().size(), shown); // refused without a message
    EXPECT_EQ(b.jobTable[0].result, EntryResult::NotRun);
    EXPECT_TRUE(b.outputRecords.empty());
    // The main job's thread body is refused the same way.
    EXPECT_EQ(conversion_thread(), kJobBusy);
    win.open();
    worker.join();
    EXPECT_EQ(rcA, 0);
    EXPECT_FALSE(ConversionJob::anyActive());
    EXPECT_EQ(a.jobTable[0].result, EntryResult::Converted);

    // Once `a` has ended, `b` runs.
    EXPECT_EQ(b.run(), 0);
    EXPECT_EQ(b.jobTable[0].result, EntryResult::Converted);
    EXPECT_EQ(test::readFile(a.outputRecords.at(0).outputPath),
              test::readFile(b.outputRecords.at(0).outputPath));
}

TEST_F(ConversionJobs, LoadsOnlyTheLibrariesOfItsRoutes) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_TRUE(test::haveFixture("mpeg_vcd.mpg"));
    test::TempDir out;

    // MPEG audio files: the MPEG audio library, nothing else.
    ConversionJob mp3Job;
    select({"mpeg_l3_cbr_44k.mp3", "mpeg_l3_mpeg2_22k.mp3"}, out);
    ASSERT_EQ(mp3Job.prepare(), 0);
    auto before = openCounts();
    ASSERT_EQ(mp3Job.run(), 0);
    auto opened = opensSince(before);
    EXPECT_EQ(opened["mpadec_ext.so"], 1);
    for (const char* lib : {"ac3stream.so", "orvoadpcmdec.so", "orvoaacdec.so", "orvoaacenc.so",
                            "orvoamrdec.so", "orvoamrenc.so", "orvomtvdec.so"})
        EXPECT_EQ(opened[lib], 0) << lib;
    EXPECT_EQ(mp3Job.jobTable[0].result, EntryResult::Converted);
    EXPECT_FALSE(mpadecExtLoaded()); // released at the job's end

    // An MPEG stream: the MPEG audio and AC-3 libraries.
    ConversionJob streamJob;
    select({"mpeg_vcd.mpg"}, out);
    ASSERT_EQ(streamJob.prepare(), 0);
    before = openCounts();
    ASSERT_EQ(streamJob.run(), 0);
    opened = opensSince(before);
    EXPECT_EQ(opened["mpadec_ext.so"], 1);
    EXPECT_EQ(opened["ac3stream.so"], 1);
    for (const char* lib : {"orvoadpcmdec.so", "orvoaacdec.so", "orvoaacenc.so", "orvoamrdec.so",
                            "orvoamrenc.so", "orvomtvdec.so"})
        EXPECT_EQ(opened[lib], 0) << lib;
    EXPECT_EQ(streamJob.jobTable[0].result, EntryResult::Converted);
}

TEST(JobLibraries, ByRouteAndOutputType) {
    EXPECT_EQ(librariesForRoute(ReaderRoute::MpegAudio), unsigned(kLibMpegAudio));
    EXPECT_EQ(librariesForRoute(ReaderRoute::MpegStream), unsigned(kLibMpegAudio | kLibAc3));
    EXPECT_EQ(librariesForRoute(ReaderRoute::Amr), unsigned(kLibAmrDec));
    EXPECT_EQ(librariesForRoute(ReaderRoute::DirectShow), 0u);
    EXPECT_EQ(librariesForRoute(ReaderRoute::None), 0u);
    std::vector<JobEntry> entries(2);
    entries[0].route = ReaderRoute::MpegAudio;
    entries[1].route = ReaderRoute::Amv;
    // AMV's IMA ADPCM blocks and Flash ADPCM are decoded by the engine.
    EXPECT_EQ(librariesForJob(entries, kOutWav), unsigned(kLibMpegAudio | kLibMtvDec));
    EXPECT_EQ(librariesForRoute(ReaderRoute::Flv), unsigned(kLibMpegAudio | kLibAacDec));
    EXPECT_EQ(librariesForRoute(ReaderRoute::Swf), unsigned(kLibMpegAudio));
    EXPECT_EQ(librariesForJob({}, kOutM4a), unsigned(kLibAacEnc));
    EXPECT_EQ(librariesForJob({}, kOutAmr), unsigned(kLibAmrEnc));
    EXPECT_EQ(librariesForJob({}, kOutMp3), 0u);
}

namespace {

// Keeps the status texts and clock seconds in the order they came.
class ClockWindow : public WindowPort {
  public:
    void statusText(const std::string& t) override {
        std::lock_guard<std::mutex> lock(m);
        log.emplace_back(t, -1);
    }
    void clock(int second) override {
        std::lock_guard<std::mutex> lock(m);
        log.emplace_back("", second);
    }
    std::mutex m;
    std::vector<std::pair<std::string, int>> log;
};

} // namespace

// The media graph's route shows on the clock its second plus the seconds of
// the job's entries converted before it; the other routes their own second.
TEST_F(ConversionJobs, TheGraphRoutesClockRunsOnOverTheJob) {
    test::TempDir out;
    select({"mpeg_l3_cbr_44k.mp3", "graph_ac3_48k.rm"}, out);
    // Double speed: the device paces the graph, whose position is polled.
    settings.conversion_mode = 1;
    ASSERT_EQ(mediaList.rows.size(), 2u);
    ClockWindow clocks;
    setWindowPort(&clocks);
    ConversionJob& job = mainJob();
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.jobTable.size(), 2u);
    ASSERT_EQ(job.jobTable[1].route, ReaderRoute::DirectShow);
    const int first = job.jobTable[0].durationSec;
    ASSERT_GT(first, 0);
    ASSERT_EQ(job.run(), 0);
    setWindowPort(&win);
    // The clock seconds of each entry: those after its "开始录制文件".
    std::vector<std::vector<int>> perEntry;
    for (const auto& [t, second] : clocks.log) {
        if (t.rfind("开始录制文件", 0) == 0)
            perEntry.emplace_back();
        else if (second >= 0 && !perEntry.empty())
            perEntry.back().push_back(second);
    }
    ASSERT_EQ(perEntry.size(), 2u);
    ASSERT_FALSE(perEntry[0].empty());
    ASSERT_FALSE(perEntry[1].empty());
    EXPECT_EQ(perEntry[0].front(), 0);
    EXPECT_LT(perEntry[0].back(), first + 1);
    EXPECT_EQ(perEntry[1].front(), first);
    for (int s : perEntry[1])
        EXPECT_GE(s, first);
    EXPECT_LE(perEntry[1].back(), first + job.jobTable[1].durationSec);
}

// WMA is encoded at constant bit rate only: a stored variable-bit-rate format
// value is encoded as the constant format of its index, and the job says so
// once, however many outputs it writes.
TEST_F(ConversionJobs, AVariableRateWmaFormatIsNamedOncePerJob) {
    const struct {
        int formatValue;
        size_t messages;
    } cases[] = {{5005, 1}, {10003, 1}, {5, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.formatValue);
        test::TempDir out;
        ConversionJob job;
        select({"mpeg_l3_cbr_44k.mp3", "mpeg_l3_mpeg2_22k.mp3"}, out);
        settings.output_type = kOutWma;
        settings.wma_codec = 0;
        settings.wma_format = c.formatValue;
        msgs.clear();
        ASSERT_EQ(job.prepare(), 0);
        ASSERT_EQ(job.run(), 0);
        ASSERT_EQ(msgs.entries().size(), c.messages) << msgs.lastText();
        for (const auto& e : job.jobTable)
            EXPECT_EQ(e.result, EntryResult::Converted) << e.path;
        if (c.messages) {
            const int index = c.formatValue % 5000;
            EXPECT_EQ(msgs.entries()[0].text,
                      "WMA编码参数" + std::to_string(c.formatValue) +
                          "是可变速率(VBR)格式，本程序只能以恒定速率(CBR)编码WMA：使用格式" +
                          std::to_string(index) + "（" +
                          describeWmaFormat(wmaCodecs()[0].formats[size_t(index)]) + "）");
        }
    }
}

// An MPEG-4 AVI entry is probed before it is read: a file that the probe does
// not know as an MPEG-4 AVI (here: it was replaced after it was listed) is
// named as such and not read.
TEST_F(ConversionJobs, AnMpeg4AviThatTheProbeRefusesIsNamedAndSkipped) {
    ASSERT_TRUE(test::haveFixture("mpeg_mpeg4.avi"));
    test::TempDir out, work;
    const std::string avi = work.file("clip.avi");
    test::writeFile(avi, test::readFile(test::fixture("mpeg_mpeg4.avi")));
    loadSettings();
    settings.output_type = kOutWav;
    settings.conversion_mode = 2;
    settings.save_path = out.path() + "/";
    resetMediaList();
    ASSERT_EQ(addMediaFile(avi), 0);
    ASSERT_EQ(std::string(mediaList.records[0].typeName), "MPEG4 AVI");
    mediaList.rows[0].selected = true;
    test::writeFile(avi, test::readFile(test::fixture("mpeg_l3_cbr_44k.mp3")));
    ConversionJob job;
    msgs.clear();
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.run(), 0);
    ASSERT_EQ(msgs.entries().size(), 1u);
    EXPECT_EQ(msgs.entries()[0].caption, "岚石多媒体MP3转换器 标准版");
    EXPECT_EQ(msgs.entries()[0].text, "分析文件" + avi + "失败");
    EXPECT_NE(job.jobTable[0].result, EntryResult::Converted);
}
