// The writers' system calls: a WAV output reaches its file in runs of many
// blocks, not one write per block, and keeps the contract of an unbuffered
// stream when a write fails (the header counts exactly the PCM that reached
// the file, and the blocks that did not are not counted as written); MP3
// frames are appended without asking the stream for its position each time.
#include "engine/convert/mp3_encoding.h"
#include "engine/convert/output_writer.h"
#include "engine/convert/wav_writer.h"
#include "engine/settings/settings.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace kestrel;

namespace {

// A file in memory that counts the calls made on it, and that fills up after
// `limit` bytes: a write that would pass it fails with ENOSPC and writes
// nothing.
struct CountingFile {
    std::vector<uint8_t> bytes;
    size_t limit = SIZE_MAX;
    off64_t pos = 0;
    int writes = 0;
    int seeks = 0;
};

ssize_t countingWrite(void* c, const char* data, size_t size) {
    auto* d = static_cast<CountingFile*>(c);
    ++d->writes;
    if (static_cast<size_t>(d->pos) + size > d->limit) {
        errno = ENOSPC;
        return -1;
    }
    if (d->bytes.size() < static_cast<size_t>(d->pos) + size)
        d->bytes.resize(static_cast<size_t>(d->pos) + size);
    std::memcpy(d->bytes.data() + d->pos, data, size);
    d->pos += static_cast<off64_t>(size);
    return static_cast<ssize_t>(size);
}

int countingSeek(void* c, off64_t* offset, int whence) {
    auto* d = static_cast<CountingFile*>(c);
    ++d->seeks;
    if (whence == SEEK_SET)
        d->pos = *offset;
    else if (whence == SEEK_CUR)
        d->pos += *offset;
    else if (whence == SEEK_END)
        d->pos = static_cast<off64_t>(d->bytes.size()) + *offset;
    else
        return -1;
    *offset = d->pos;
    return 0;
}

// An unbuffered stream on `file`, as the conversion driver opens its outputs.
FILE* openCounting(CountingFile& file) {
    cookie_io_functions_t io{};
    io.write = countingWrite;
    io.seek = countingSeek;
    FILE* f = fopencookie(&file, "wb", io);
    if (f) std::setvbuf(f, nullptr, _IONBF, 0);
    return f;
}

std::vector<uint8_t> patternBlock(int index, size_t size = 4096) {
    std::vector<uint8_t> b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = static_cast<uint8_t>(index * 31 + i * 7);
    return b;
}

class OutputRuns : public ::testing::Test {
  protected:
    void SetUp() override {
        saved = outputFormat;
        outputFormat.out_channels = 2;
        outputFormat.out_rate = 44100;
    }
    void TearDown() override { outputFormat = saved; }

    // A WAV output on `file` as the driver starts it: the header, then the
    // PCM stage's writer.
    void openWav(FILE* f) {
        state.wav.reset();
        ASSERT_EQ(state.wav.writeHeader(f, 2, 44100), 0);
        out.type = kOutWav;
        out.stream = f;
        out.name = "runs.wav";
        attachOutputWriter(out, state);
    }

    // Writes `blocks` blocks the way the PCM stage does: stops at the first
    // block refused, counts those taken. Returns the index of the refused
    // block, -1 when none was.
    int writeBlocks(int blocks, std::vector<uint8_t>* sent = nullptr) {
        for (int i = 0; i < blocks && !outputFailed(&out); ++i) {
            auto b = patternBlock(i);
            if (out.write(out, b.data(), static_cast<int>(b.size())) < 0) return i;
            out.pcmBytes += b.size();
            if (sent) sent->insert(sent->end(), b.begin(), b.end());
        }
        return -1;
    }

    // The count the header gets, and the PCM counted as written, are what
    // reached the file: short of it at most by the byte the stream still
    // holds after the failed write, which the driver cuts away with the
    // partial sample frame.
    void expectCountedAsReached(uint64_t reached) {
        EXPECT_LE(state.wav.dataBytes, reached);
        EXPECT_LT(reached - state.wav.dataBytes, 4u);
        EXPECT_EQ(out.pcmBytes, state.wav.dataBytes);
    }

    EffectiveOutputFormat saved;
    OutputWriterState state;
    PcmOutput out;
    test::RecordingMessages msgs;
};

} // namespace

TEST_F(OutputRuns, AWavReachesItsFileInRunsOfManyBlocks) {
    CountingFile file;
    FILE* f = openCounting(file);
    ASSERT_NE(f, nullptr);
    openWav(f);
    const int blocks = 400; // 1.6 MB, about nine seconds
    std::vector<uint8_t> sent;
    ASSERT_EQ(writeBlocks(blocks, &sent), -1);
    EXPECT_EQ(settle_output(out), 0);
    // One write per run (and the header), where a write per block would make
    // 401.
    const size_t pcm = sent.size();
    EXPECT_LE(file.writes, 1 + static_cast<int>(pcm / WavWriter::kRunBytes) + 1);
    EXPECT_EQ(state.wav.dataBytes, pcm);
    EXPECT_EQ(out.pcmBytes, pcm);
    ASSERT_EQ(state.wav.finish(f), 0);
    ASSERT_EQ(file.bytes.size(), 44 + pcm);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), file.bytes.begin() + 44));
    uint8_t header[44];
    wavHeaderBytes(header, static_cast<uint32_t>(pcm), 2, 44100);
    EXPECT_EQ(std::memcmp(header, file.bytes.data(), 44), 0);
    EXPECT_TRUE(msgs.entries().empty()) << msgs.lastText();
}

TEST_F(OutputRuns, AFailedRunLeavesWhatReachedTheFileAndCountsOnlyThat) {
    // Room for the header and a little more than two runs.
    CountingFile file;
    file.limit = 44 + 2 * WavWriter::kRunBytes + 10000;
    FILE* f = openCounting(file);
    ASSERT_NE(f, nullptr);
    openWav(f);
    const int refused = writeBlocks(400);
    ASSERT_GT(refused, 0);
    EXPECT_EQ(out.writeError, ENOSPC);
    EXPECT_EQ(msgs.entries().size(), 1u);
    // Two runs went whole; of the third only what fitted.
    const int writesAtFailure = file.writes;
    const uint64_t reached = static_cast<uint64_t>(file.pos) - 44;
    EXPECT_GE(reached, 2 * WavWriter::kRunBytes);
    EXPECT_LT(reached, 3 * WavWriter::kRunBytes);
    expectCountedAsReached(reached);
    // Nothing more is written, and the failure is not shown again.
    EXPECT_EQ(settle_output(out), -1);
    EXPECT_EQ(file.writes, writesAtFailure);
    EXPECT_EQ(msgs.entries().size(), 1u);
    expectCountedAsReached(reached);
    std::fclose(f);
}

TEST_F(OutputRuns, AWriteFailedAtTheEndOfAnEntryIsFoundWhenItIsSettled) {
    // The last run fails only when the entry's held blocks are written.
    CountingFile file;
    file.limit = 44 + 100000;
    FILE* f = openCounting(file);
    ASSERT_NE(f, nullptr);
    openWav(f);
    ASSERT_EQ(writeBlocks(30), -1); // 122880 bytes, held
    EXPECT_EQ(out.writeError, 0);
    EXPECT_EQ(settle_output(out), -1);
    EXPECT_EQ(out.writeError, ENOSPC);
    EXPECT_EQ(msgs.entries().size(), 1u);
    const uint64_t reached = static_cast<uint64_t>(file.pos) - 44;
    EXPECT_LE(reached, 100000u);
    expectCountedAsReached(reached);
    std::fclose(f);
}

TEST_F(OutputRuns, Mp3FramesAreAppendedWithoutAskingForThePositionEachTime) {
    CountingFile file;
    FILE* f = openCounting(file);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("ID3 prefix", 1, 10, f), 10u);
    Mp3EncoderState st;
    st.file = f;
    std::vector<uint8_t> sent;
    for (int i = 0; i < 200; ++i) {
        auto run = patternBlock(i, 417 + (i % 2));
        mp3WriteToFile(run.data(), static_cast<int>(run.size()), &st);
        sent.insert(sent.end(), run.begin(), run.end());
    }
    EXPECT_EQ(file.bytes.size(), 10u) << "the frames are held until a run is full";
    EXPECT_EQ(mp3WriteRun(st), 0);
    EXPECT_FALSE(st.writeFailed);
    EXPECT_EQ(st.firstFrameAt, 10);
    EXPECT_EQ(st.wholeEnd, static_cast<long>(10 + sent.size()));
    EXPECT_LE(file.seeks, 1) << "one position query per output, not one per frame run";
    EXPECT_EQ(file.writes, 2) << "the prefix, then the frames in one run";
    ASSERT_EQ(file.bytes.size(), 10 + sent.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), file.bytes.begin() + 10));
    std::fclose(f);
}

TEST_F(OutputRuns, AFailedMp3RunLeavesTheEndOfTheLastWholeRun) {
    CountingFile file;
    file.limit = kOutputRunBytes + 5000;
    FILE* f = openCounting(file);
    ASSERT_NE(f, nullptr);
    Mp3EncoderState st;
    st.file = f;
    const int framesPerRun = static_cast<int>((kOutputRunBytes + 416) / 417);
    int frames = 0;
    for (int i = 0; i < 3 * framesPerRun && !st.writeFailed; ++i) {
        auto frame = patternBlock(i, 417);
        st.runPcm += 4608; // as mp3EncodeBlock counts a frame's PCM
        mp3WriteToFile(frame.data(), 417, &st);
        ++frames;
    }
    ASSERT_TRUE(st.writeFailed);
    EXPECT_EQ(st.writeErrno, ENOSPC);
    EXPECT_EQ(frames, 2 * framesPerRun) << "the second run is the one that does not fit";
    // The file keeps the first run and whatever whole frames of the second
    // reached it; the PCM of the others is lost.
    EXPECT_EQ(st.wholeEnd % 417, 0);
    EXPECT_GE(st.wholeEnd, framesPerRun * 417L);
    EXPECT_LE(st.wholeEnd, static_cast<long>(file.limit));
    EXPECT_GE(file.bytes.size(), static_cast<size_t>(st.wholeEnd));
    EXPECT_EQ(st.lostPcm, (2 * framesPerRun - st.wholeEnd / 417) * 4608u);
    EXPECT_EQ(st.firstFrameAt, 0);
    // Nothing more is written after the failure.
    const size_t size = file.bytes.size();
    auto frame = patternBlock(0, 417);
    mp3WriteToFile(frame.data(), 417, &st);
    EXPECT_EQ(mp3WriteRun(st), -1);
    EXPECT_EQ(file.bytes.size(), size);
    std::fclose(f);
}

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

} // namespace

// A whole conversion onto a disk that fills up in the middle of a run: the
// WAV that is left holds whole sample frames under a header that counts
// them, and they are the start of what the full conversion writes.
TEST(OutputRunsCli, AWavCutShortByAFullDiskHoldsWholeFramesItsHeaderCounts) {
    ASSERT_TRUE(test::haveFixture("mpeg_l3_cbr_44k.mp3"));
    const std::string cli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";
    const std::string src = test::fixture("mpeg_l3_cbr_44k.mp3");
    test::TempDir home, full, cut;
    auto convert = [&](const test::TempDir& out, const std::string& limit) {
        // A file size limit stands for the full disk: a write past it fails
        // with EFBIG once SIGXFSZ is ignored.
        return test::runApart("SDL_AUDIODRIVER=dummy bash -c \"trap '' XFSZ; " + limit + "exec '" +
                              cli + "' --home '" + home.path() + "' convert -t wav -r 44100 -o '" +
                              out.path() + "/' '" + src + "'\"");
    };
    test::CommandResult r = convert(full, "");
    ASSERT_EQ(r.status, 0) << r.err;
    auto whole = test::readFile(full.file("mpeg_l3_cbr_44k.wav"));
    ASSERT_GT(whole.size(), 44u + 3 * WavWriter::kRunBytes / 2) << "longer than the limit below";

    // 400 KiB: more than one run, less than the whole output.
    r = convert(cut, "ulimit -f 400; ");
    EXPECT_NE(r.status, 0);
    auto left = test::readFile(cut.file("mpeg_l3_cbr_44k.wav"));
    ASSERT_GE(left.size(), 44u) << r.err;
    EXPECT_LE(left.size(), 400u * 1024);
    EXPECT_GT(left.size(), 44u + WavWriter::kRunBytes);
    const uint32_t data = le32(left, 40);
    EXPECT_EQ(data, left.size() - 44);
    EXPECT_EQ(le32(left, 4), data + 36);
    EXPECT_EQ(data % 4, 0u);
    EXPECT_TRUE(std::equal(left.begin() + 44, left.end(), whole.begin() + 44));
}
