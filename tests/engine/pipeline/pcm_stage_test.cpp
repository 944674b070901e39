#include "engine/pipeline/pcm_stage.h"
#include "engine/convert/output_writer.h"
#include "engine/convert/wav_writer.h"
#include "engine/core/run_state.h"
#include "engine/settings/settings.h"
#include "support/audio_compare.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

using namespace kestrel;

TEST(PcmStage, GainsClampAndTruncate) {
    int16_t s[6] = {25000, -25000, 1001, -1001, 7, -7};
    applyGains(s, 6, 1, 1.5, 1.0);
    EXPECT_EQ(s[0], 32767);
    EXPECT_EQ(s[1], -32768);
    EXPECT_EQ(s[2], 1501);
    int16_t m[4] = {1001, -1001, 1001, -1001};
    applyGains(m, 4, 1, 0.5, 1.0);
    EXPECT_EQ(m[0], 500);
    EXPECT_EQ(m[1], -500); // toward zero
    // Stereo: left and right gains apart.
    int16_t st[4] = {1000, 1000, -1000, -1000};
    applyGains(st, 4, 2, 2.0, 0.5);
    EXPECT_EQ(st[0], 2000);
    EXPECT_EQ(st[1], 500);
    EXPECT_EQ(st[2], -2000);
    EXPECT_EQ(st[3], -500);
}

TEST(PcmStage, StepSizesFollowTheRateRatio) {
    EXPECT_EQ(pcmStepBytes(1.0), 4096);
    EXPECT_EQ(pcmStepBytes(2.0), 4096);
    EXPECT_EQ(pcmStepBytes(2.0001), 2000);
    EXPECT_EQ(pcmStepBytes(0.5), 5120);
    EXPECT_EQ(pcmStepBytes(0.4999), 3072);
    EXPECT_EQ(pcmStepBytes(0.9), 5120);
}

namespace {

// Runs stereo PCM through the stage into a WAV file and returns its samples.
std::vector<int16_t> runStage(const std::vector<int16_t>& stereo, int outRate, int outChannels,
                              int pick, double ratio) {
    test::TempDir dir;
    std::string path = dir.file("o.wav");
    outputFormat.out_rate = outRate;
    outputFormat.out_channels = outChannels;
    outputFormat.channel_pick = pick;
    current.sourceChannels = 2;
    gain_left = 1.0;
    gain_right = 1.0;
    pcmHooks = PcmSinkHooks();
    PcmOutput out;
    out.type = kOutWav;
    out.name = path;
    out.stream = std::fopen(path.c_str(), "wb");
    OutputWriterState writer;
    attachOutputWriter(out, writer);
    writer.wav.writeHeader(out.stream, outChannels, outRate);
    running = true;
    converting = true;
    EXPECT_EQ(prepare_pcm_change(ratio, 2), 0);
    // Feed in pieces of different sizes, as the readers do.
    size_t pos = 0, piece = 4608;
    while (pos < stereo.size()) {
        size_t n = std::min(piece, stereo.size() - pos);
        std::memcpy(pcm_buffer(), stereo.data() + pos, n * 2);
        pcm_pending = static_cast<int32_t>(n * 2);
        pcm_sink(&out, ratio);
        pcm_pending = 0;
        pos += n;
        piece = piece == 4608 ? 1000 : 4608;
    }
    close_pcm_change(&out, ratio);
    writer.wav.finish(out.stream);
    running = false;
    return test::wavSamples(path);
}

std::vector<int16_t> stereoSine(int frames, int rate) {
    std::vector<int16_t> v(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        v[2 * i] = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * i / rate));
        v[2 * i + 1] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / rate + 1));
    }
    return v;
}

} // namespace

TEST(PcmStage, ChannelPickAndMixAtTheSameRate) {
    auto in = stereoSine(44100, 44100);
    auto right = runStage(in, 44100, 1, 2, 1.0);
    ASSERT_EQ(right.size(), in.size() / 2);
    for (size_t i = 0; i < right.size(); ++i)
        ASSERT_EQ(right[i], in[2 * i + 1]) << i;
    auto left = runStage(in, 44100, 1, 1, 1.0);
    ASSERT_EQ(left.size(), in.size() / 2);
    for (size_t i = 0; i < left.size(); ++i)
        ASSERT_EQ(left[i], in[2 * i]) << i;
    auto mix = runStage(in, 44100, 1, 0, 1.0);
    ASSERT_EQ(mix.size(), in.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i)
        ASSERT_NEAR(mix[i], (in[2 * i] + in[2 * i + 1]) / 2.0, 1.0) << i;
    // Same rate and channels: the stage passes the PCM unchanged.
    auto same = runStage(in, 44100, 2, 0, 1.0);
    EXPECT_EQ(same, in);
}

TEST(PcmStage, ResampledRightChannelKeepsItsLength) {
    auto in = stereoSine(44100, 44100);
    auto half = runStage(in, 22050, 1, 2, 0.5);
    // One second in, one second out (the changer's delay is flushed at the end).
    EXPECT_NEAR(static_cast<double>(half.size()), 22050.0, 64.0);
    // It is the right channel: a 1 kHz tone, not the left 440 Hz one.
    std::vector<int16_t> ref(22050);
    for (int i = 0; i < 22050; ++i)
        ref[static_cast<size_t>(i)] =
            static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * i / 22050.0 + 1));
    auto cmp = test::compareAudio(half, ref, 1, 200, 500);
    EXPECT_GT(cmp.snrDb, 40.0);
}

namespace {

// A writer that records what the stage hands it and fails on the call given.
struct WriterLog {
    int calls = 0;
    int bytes = 0;
    int failOnCall = 0; // 0: never
};
WriterLog g_writerLog;

int recordingWriter(PcmOutput& out, const uint8_t*, int len) {
    ++g_writerLog.calls;
    if (g_writerLog.calls == g_writerLog.failOnCall) {
        out.writeError = 28; // as a full disk would
        return -1;
    }
    g_writerLog.bytes += len;
    return 0;
}

// Feeds `blocks` blocks of 4096 bytes of stereo at the output format.
void feedBlocks(PcmOutput* out, int blocks) {
    outputFormat.out_rate = 44100;
    outputFormat.out_channels = 2;
    outputFormat.channel_pick = 0;
    current.sourceChannels = 2;
    gain_left = 1.0;
    gain_right = 1.0;
    pcmHooks = PcmSinkHooks();
    running = true;
    converting = true;
    EXPECT_EQ(prepare_pcm_change(1.0, 2), 0);
    for (int i = 0; i < blocks; ++i) {
        std::memset(pcm_buffer(), i, 4096);
        pcm_pending = 4096;
        pcm_sink(out, 1.0);
        pcm_pending = 0;
    }
    close_pcm_change(out, 1.0);
    running = false;
}

} // namespace

// The stage writes only through the writer installed in the output: every
// block goes to it while it succeeds, none after its first failure, and the
// output counts only what was written.
TEST(PcmStage, BlocksGoThroughTheInstalledWriterUntilItFails) {
    test::TempDir dir;
    std::string path = dir.file("o.raw");
    PcmOutput out;
    out.type = kOutWav;
    out.name = path;
    out.stream = std::fopen(path.c_str(), "wb");
    out.write = recordingWriter;
    g_writerLog = WriterLog();
    g_writerLog.failOnCall = 3;
    job_pcm_bytes = 0;
    feedBlocks(&out, 5);
    std::fclose(out.stream);
    EXPECT_EQ(g_writerLog.calls, 3);
    EXPECT_EQ(g_writerLog.bytes, 2 * 4096);
    EXPECT_EQ(out.pcmBytes, 2u * 4096);
    EXPECT_TRUE(outputFailed(&out));
    EXPECT_EQ(job_pcm_bytes, 5u * 4096);             // the job counts every converted block
    EXPECT_EQ(std::filesystem::file_size(path), 0u); // the stage itself wrote nothing
}

// Without a writer (or without an open stream) the stage writes nothing and
// counts nothing for the output.
TEST(PcmStage, OutputWithoutWriterTakesNothing) {
    test::TempDir dir;
    std::string path = dir.file("o.wav");
    PcmOutput out;
    out.type = kOutWav;
    out.name = path;
    out.stream = std::fopen(path.c_str(), "wb");
    job_pcm_bytes = 0;
    feedBlocks(&out, 2);
    std::fclose(out.stream);
    EXPECT_EQ(out.pcmBytes, 0u);
    EXPECT_EQ(job_pcm_bytes, 2u * 4096);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    PcmOutput closed;
    closed.write = recordingWriter;
    g_writerLog = WriterLog();
    feedBlocks(&closed, 1);
    EXPECT_EQ(g_writerLog.calls, 0);
}
