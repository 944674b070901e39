// MP3 outputs encoded on the encoder thread: the same bytes as encoding on the
// reading thread, in every save and rate mode; a failed write keeps its
// contract (one message, the entry ends, the count stops at the failed block);
// a stop in real time finishes the output with what was queued.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/encoder_queue.h"
#include "engine/convert/output_runs.h"
#include "engine/convert/mp3_encoding.h"
#include "engine/convert/output_writer.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_mp3enc.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

using namespace kestrel;
using namespace std::chrono_literals;

namespace {

class EncoderThread : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
        loadSettings();
        settings.output_type = kOutMp3;
        settings.conversion_mode = 2; // silent, as fast as possible
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
    }
    void TearDown() override {
        running = false;
        waitConversion();
        set_encoder_thread_enabled(true);
        setProgramFolder("");
    }

    // Converts `fixtures` with the settings as they are and returns the bytes
    // of each output, in the job's order.
    std::vector<std::vector<uint8_t>> convert(std::initializer_list<const char*> fixtures,
                                              bool thread) {
        test::TempDir out;
        settings.save_path = out.path() + "/";
        set_encoder_thread_enabled(thread);
        resetMediaList();
        for (auto f : fixtures)
            EXPECT_EQ(addMediaFile(test::fixture(f)), 0) << f;
        for (auto& r : mediaList.rows)
            r.selected = true;
        EXPECT_EQ(start_conversion(), 0);
        waitConversion();
        std::vector<std::vector<uint8_t>> files;
        std::string last;
        for (const auto& r : mainJob().outputRecords) {
            if (r.outputPath == last) continue; // a joined output is listed per entry
            last = r.outputPath;
            files.push_back(test::readFile(r.outputPath));
        }
        return files;
    }

    test::TempDir home;
    test::RecordingMessages msgs;
};

} // namespace

TEST_F(EncoderThread, OutputsAreByteIdenticalWithTheThreadOnOrOff) {
    struct Case {
        const char* what;
        int saveMode;
        int rateMode; // 0 constant, 1 variable, 2 average bit rate
        std::initializer_list<const char*> fixtures;
        size_t outputs;
    };
    // A 44.1 kHz source passed through and a 22.05 kHz one changed in rate;
    // an MPEG program stream and an MPEG audio file.
    const Case cases[] = {
        {"per file, CBR", 0, 0, {"mpeg_l3_cbr_44k.mp3", "mpeg_vcd.mpg"}, 2},
        {"joined, CBR", 1, 0, {"mpeg_vcd.mpg", "mpeg_l3_cbr_44k.mp3"}, 1},
        {"per file, VBR, rate change", 0, 1, {"mpeg_l3_mpeg2_22k.mp3", "mpeg_vcd.mpg"}, 2},
        {"joined, ABR, rate change", 1, 2, {"mpeg_l3_mpeg2_22k.mp3", "mpeg_l3_cbr_44k.mp3"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (auto f : c.fixtures)
            ASSERT_TRUE(test::haveFixture(f)) << f;
        settings.save_mode = c.saveMode;
        settings.mp3_rate_mode = c.rateMode;
        auto direct = convert(c.fixtures, false);
        auto queued = convert(c.fixtures, true);
        ASSERT_EQ(direct.size(), c.outputs);
        ASSERT_EQ(queued.size(), c.outputs);
        for (size_t i = 0; i < c.outputs; ++i) {
            ASSERT_GT(direct[i].size(), 10000u) << i;
            EXPECT_TRUE(direct[i] == queued[i])
                << "output " << i << ": " << direct[i].size() << " vs " << queued[i].size();
        }
    }
    EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
}

namespace {

// Blocks of a stereo tone at 44.1 kHz, the stage's usual 4096 bytes.
std::vector<uint8_t> toneBlock(int index) {
    std::vector<uint8_t> b(4096);
    auto* s = reinterpret_cast<int16_t*>(b.data());
    for (int i = 0; i < 1024; ++i) {
        double t = (index * 1024 + i) / 44100.0;
        s[2 * i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
        s[2 * i + 1] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 660 * t));
    }
    return b;
}

// A disk that fills up after `limit` bytes: the write that would go past it
// fails with ENOSPC and writes nothing.
struct SmallDisk {
    size_t limit = 0;
    off64_t pos = 0;
};

ssize_t smallDiskWrite(void* c, const char*, size_t size) {
    auto* d = static_cast<SmallDisk*>(c);
    if (static_cast<size_t>(d->pos) + size > d->limit) {
        errno = ENOSPC;
        return -1;
    }
    d->pos += static_cast<off64_t>(size);
    return static_cast<ssize_t>(size);
}

int smallDiskSeek(void* c, off64_t* offset, int whence) {
    auto* d = static_cast<SmallDisk*>(c);
    if (whence == SEEK_SET)
        d->pos = *offset;
    else if (whence == SEEK_CUR)
        d->pos += *offset;
    else
        return -1;
    *offset = d->pos;
    return 0;
}

struct FullDiskRun {
    int refusedAt = -1; // index of the first block the writer refused
    uint64_t pcmBytes = 0;
    int writeError = 0;
    int settled = 0;
    size_t messages = 0;
};

// Writes up to `blocks` blocks into an MP3 output on a disk with room for one
// run of frames and 20000 bytes more, the way the PCM stage does (stopping at
// the first refusal), then settles it.
FullDiskRun writeToFullDisk(bool thread, int blocks, test::RecordingMessages& msgs) {
    msgs.clear();
    set_encoder_thread_enabled(thread);
    FullDiskRun r;
    SmallDisk disk;
    disk.limit = kOutputRunBytes + 20000;
    cookie_io_functions_t io{};
    io.write = smallDiskWrite;
    io.seek = smallDiskSeek;
    FILE* f = fopencookie(&disk, "wb", io);
    if (!f) return r;
    std::setvbuf(f, nullptr, _IONBF, 0);
    OutputWriterState state;
    EXPECT_EQ(mp3EncoderSetup(state.mp3, kOutMp3), 0);
    state.mp3.file = f; // the plain MP3 file the encoder writes into
    PcmOutput out;
    out.type = kOutMp3;
    out.stream = f;
    out.name = "full.mp3";
    attachOutputWriter(out, state);
    for (int i = 0; i < blocks && !outputFailed(&out); ++i) {
        auto b = toneBlock(i);
        if (out.write(out, b.data(), static_cast<int>(b.size())) < 0) {
            r.refusedAt = i;
            break;
        }
        out.pcmBytes += b.size();
    }
    r.settled = settle_output(out);
    r.pcmBytes = out.pcmBytes;
    r.writeError = out.writeError;
    r.messages = msgs.entries().size();
    mp3EncoderAbandon(state.mp3);
    std::fclose(f);
    return r;
}

} // namespace

TEST_F(EncoderThread, AFailedWriteStopsTheOutputAsOnTheReadingThread) {
    derive_output_format();
    FullDiskRun direct = writeToFullDisk(false, 2400, msgs);
    ASSERT_GT(direct.refusedAt, 10) << "the disk holds more than a run of frames";
    EXPECT_EQ(direct.writeError, ENOSPC);
    EXPECT_EQ(direct.settled, -1);
    EXPECT_EQ(direct.messages, 1u);
    // Only the blocks whose frames reached the disk count: those of the first
    // run and of the whole frames of the second that fitted, not the rest.
    EXPECT_EQ(direct.pcmBytes % 4096, 0u);
    const int counted = static_cast<int>(direct.pcmBytes / 4096);
    EXPECT_GE(counted, direct.refusedAt / 2 - 16);
    EXPECT_LT(counted, direct.refusedAt - 16);

    // The failure is seen by the encoder thread; the writer refuses one of the
    // blocks that follow it (at the latest when the queue is full), and the
    // blocks taken but not written are not counted.
    FullDiskRun queued = writeToFullDisk(true, 2400, msgs);
    EXPECT_GT(queued.refusedAt, direct.refusedAt);
    EXPECT_LE(queued.refusedAt, direct.refusedAt + EncoderQueue::kSlots);
    EXPECT_EQ(queued.writeError, ENOSPC);
    EXPECT_EQ(queued.settled, -1);
    EXPECT_EQ(queued.messages, 1u);
    EXPECT_EQ(queued.pcmBytes, direct.pcmBytes);

    // The failed block is the entry's last: settling the output finds it.
    FullDiskRun last = writeToFullDisk(true, direct.refusedAt + 1, msgs);
    EXPECT_EQ(last.refusedAt, -1);
    EXPECT_EQ(last.writeError, ENOSPC);
    EXPECT_EQ(last.settled, -1);
    EXPECT_EQ(last.messages, 1u);
    EXPECT_EQ(last.pcmBytes, direct.pcmBytes);
    EXPECT_FALSE(encoderQueue().running());
}

// An encoder that refuses a block (here one already flushed, or one that was
// never set up) fails the output with the encoder's message, on either thread:
// nothing is reported as encoded past it.
TEST_F(EncoderThread, AnEncoderThatRefusesABlockFailsTheOutput) {
    derive_output_format();
    struct Case {
        bool thread;
        bool setUp;
    };
    for (const Case c :
         {Case{false, true}, Case{true, true}, Case{false, false}, Case{true, false}}) {
        SCOPED_TRACE(testing::Message() << "thread " << c.thread << " set up " << c.setUp);
        msgs.clear();
        set_encoder_thread_enabled(c.thread);
        FILE* f = std::tmpfile();
        ASSERT_NE(f, nullptr);
        OutputWriterState state;
        if (c.setUp) {
            ASSERT_EQ(mp3EncoderSetup(state.mp3, kOutMp3), 0);
        }
        state.mp3.file = f;
        PcmOutput out;
        out.type = kOutMp3;
        out.stream = f;
        out.name = "refused.mp3";
        attachOutputWriter(out, state);
        int refusedAt = -1;
        for (int i = 0; i < 200 && !outputFailed(&out); ++i) {
            if (i == 4 && c.setUp) {
                encoderQueue().drain(); // the library is not the test's while it encodes
                std::vector<uint8_t> tail(static_cast<size_t>(state.mp3.outBufferSize));
                mp3enc.wave_enmp3end(tail.data()); // the library takes no more blocks
            }
            auto b = toneBlock(i);
            if (out.write(out, b.data(), static_cast<int>(b.size())) < 0) {
                refusedAt = i;
                break;
            }
            out.pcmBytes += b.size();
        }
        EXPECT_EQ(settle_output(out), -1);
        EXPECT_EQ(out.writeError, kEncoderFailed);
        if (!c.thread) {
            EXPECT_EQ(refusedAt, c.setUp ? 4 : 0);
        }
        EXPECT_LE(out.pcmBytes, (c.setUp ? 4u : 0u) * 4096 + EncoderQueue::kSlots * 4096u);
        ASSERT_EQ(msgs.entries().size(), 1u);
        EXPECT_NE(msgs.lastText().find("MP3编码失败"), std::string::npos) << msgs.lastText();
        EXPECT_NE(msgs.lastText().find("refused.mp3"), std::string::npos);
        mp3EncoderAbandon(state.mp3);
        std::fclose(f);
    }
    EXPECT_FALSE(encoderQueue().running());
}

// Stop during a conversion in real time: the output is finished with every
// block queued, tagged and whole.
TEST_F(EncoderThread, StopInRealTimeFinishesTheOutputWithWhatWasQueued) {
    ASSERT_TRUE(test::haveFixture("mpeg_vcd.mpg"));
    test::TempDir out;
    settings.save_path = out.path() + "/";
    settings.conversion_mode = 0; // real time with sound
    settings.save_mode = 0;
    settings.mp3_rate_mode = 0;
    set_encoder_thread_enabled(true);
    resetMediaList();
    ASSERT_EQ(addMediaFile(test::fixture("mpeg_vcd.mpg")), 0);
    ASSERT_EQ(addMediaFile(test::fixture("mpeg_ts_mp2.ts")), 0);
    for (auto& r : mediaList.rows)
        r.selected = true;
    ASSERT_EQ(start_conversion(), 0);
    for (int i = 0; i < 300 && !converting.load(); ++i)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(1000ms);
    running = false;
    waitConversion();
    EXPECT_FALSE(encoderQueue().running());
    ASSERT_EQ(mainJob().outputRecords.size(), 1u);
    auto mp3 = test::readFile(mainJob().outputRecords[0].outputPath);
    ASSERT_GT(mp3.size(), 2000u);
    // Whole 128 kbit/s frames at 44.1 kHz (417 or 418 bytes), the first one
    // the "Info" tag.
    size_t at = 0, frames = 0;
    while (at + 4 <= mp3.size()) {
        ASSERT_EQ(mp3[at], 0xFF) << at;
        at += 417 + ((mp3[at + 2] >> 1) & 1);
        ++frames;
    }
    EXPECT_EQ(at, mp3.size());
    std::string head(mp3.begin(), mp3.begin() + 64);
    EXPECT_NE(head.find("Info"), std::string::npos);
    std::string errs = test::capture("ffmpeg -v error -i '" +
                                     mainJob().outputRecords[0].outputPath + "' -f null - 2>&1");
    EXPECT_TRUE(errs.empty()) << errs;
    double seconds = frames * 1152.0 / 44100;
    EXPECT_GT(seconds, 0.4);
    EXPECT_LT(seconds, 2.6);
    EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
}
