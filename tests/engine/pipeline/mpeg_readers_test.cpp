// The reading loops' position and seek arithmetic: counted over the bytes
// from the first audio frame on, safe for a duration or a size of 0, right
// past 4 GiB; and a source that is no regular file is refused, never waited on.
#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/pipeline/mpeg_readers.h"
#include "engine/core/run_state.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace kestrel;

TEST(MpegReaders, SeekAndPositionCountFromTheBase) {
    // A 100-second stream of 1 000 000 bytes: second s is at 10000 s, down
    // to a multiple of 188.
    EXPECT_EQ(seekOffset(7, 100, 1000000), 70000u - 70000u % 188);
    EXPECT_EQ(positionSecond(70000, 100, 1000000), 7);
    // The same audio behind a 200 000-byte tag: the tag is no playing time.
    const uint64_t tag = 200000;
    EXPECT_EQ(seekOffset(0, 100, 1000000 + tag, tag), tag);
    EXPECT_EQ(seekOffset(7, 100, 1000000 + tag, tag), tag + 70000u - 70000u % 188);
    EXPECT_EQ(positionSecond(tag, 100, 1000000 + tag, tag), 0);
    EXPECT_EQ(positionSecond(tag + 1024, 100, 1000000 + tag, tag), 0);
    EXPECT_EQ(positionSecond(tag + 500000, 100, 1000000 + tag, tag), 50);
    EXPECT_EQ(positionSecond(tag + 1000000, 100, 1000000 + tag, tag), 100);
    // Past the end or past the duration: the end, never beyond.
    EXPECT_EQ(seekOffset(250, 100, 1000000 + tag, tag), tag + 1000000u - 1000000u % 188);
    EXPECT_EQ(positionSecond(tag + 2000000, 100, 1000000 + tag, tag), 100);
}

TEST(MpegReaders, NoDivisionByAZeroDurationOrSize) {
    // A free-format or damaged file may have duration 0.
    EXPECT_EQ(seekOffset(5, 0, 1000000), 0u);
    EXPECT_EQ(seekOffset(5, 0, 1000000, 417), 417u);
    EXPECT_EQ(seekOffset(5, -3, 1000000, 417), 417u);
    EXPECT_EQ(positionSecond(5000, 0, 1000000, 417), 0);
    // Nothing after the base, or no size at all.
    EXPECT_EQ(seekOffset(5, 100, 417, 417), 417u);
    EXPECT_EQ(seekOffset(5, 100, 0, 0), 0u);
    EXPECT_EQ(positionSecond(5000, 100, 417, 417), 0);
    EXPECT_EQ(positionSecond(5000, 100, 0, 0), 0);
}

TEST(MpegReaders, SizesPast4GiB) {
    const uint64_t size = 4800000000ull; // 292968 s at 128 kbit/s
    uint64_t off = seekOffset(200000, 292968, size);
    EXPECT_GT(off, 3276000000ull);
    EXPECT_LT(off, 3277000000ull);
    EXPECT_EQ(off % 188, 0u);
    EXPECT_EQ(positionSecond(off + 376, 292968, size), 200000);
    EXPECT_EQ(positionSecond(4500000000ull, 292968, size), 274657);
}

namespace {

struct Reports {
    std::vector<int> seconds;
    int seekTo = -1; // asked for at the first report
};

void collect(int second, void* context) {
    auto* r = static_cast<Reports*>(context);
    r->seconds.push_back(second);
    if (r->seconds.size() == 1 && r->seekTo >= 0) seek_request = r->seekTo + 100;
}

class ReaderRun : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_GE(loadMpadecExt(), 0);
        ASSERT_GE(loadAc3stream(), 0);
        sound_on = false;
        display_on = false;
        converting = false;
        paused = false;
        seek_request = 0;
        seek_dragging = false;
    }
    void TearDown() override {
        running = false;
        unloadAc3stream();
        unloadMpadecExt();
    }
    test::TempDir dir;
    test::RecordingMessages msgs;
};

// An ID3v2 tag of `size` bytes (header and padding).
std::string id3Tag(uint32_t size) {
    std::string t(size, '\0');
    uint32_t body = size - 10;
    t[0] = 'I';
    t[1] = 'D';
    t[2] = '3';
    t[3] = 3;
    for (int i = 0; i < 4; ++i)
        t[static_cast<size_t>(6 + i)] = static_cast<char>((body >> (21 - 7 * i)) & 0x7F);
    return t;
}

} // namespace

TEST_F(ReaderRun, PositionsOfATaggedFileStartAtItsFirstFrame) {
    // About 4 s of 128 kbit/s audio behind a 200 000-byte tag.
    auto audio = test::readFile(test::fixture("mpeg_l3_cbr_44k.mp3"));
    ASSERT_GT(audio.size(), 60000u);
    std::string bytes = id3Tag(200000) + std::string(audio.begin(), audio.end());
    std::string path = dir.file("tagged.mp3");
    test::writeFile(path, bytes);

    ReaderEntry e;
    e.path = path;
    e.fileSize = bytes.size();
    e.durationSec = 4;
    e.sourceRate = 44100;
    e.kind = 10;
    Reports r;
    running = true;
    EXPECT_EQ(readMpegAudioFile(e, nullptr, collect, &r), ReaderResult::Ended);
    ASSERT_FALSE(r.seconds.empty());
    // The first chunk after the tag is the start of the sound, not 3/4 of it.
    EXPECT_EQ(r.seconds.front(), 0);
    EXPECT_EQ(r.seconds.back(), 4);
    for (size_t i = 1; i < r.seconds.size(); ++i)
        EXPECT_EQ(r.seconds[i], r.seconds[i - 1] + 1);

    // A seek to second 2 lands half way through the audio, not the tag.
    Reports s;
    s.seekTo = 2;
    running = true;
    EXPECT_EQ(readMpegAudioFile(e, nullptr, collect, &s), ReaderResult::Ended);
    ASSERT_GE(s.seconds.size(), 2u);
    EXPECT_EQ(s.seconds[1], 2);

    // Duration 0 (a free-format or damaged file): positions stay 0, a seek
    // goes to the first frame, nothing divides by zero.
    e.durationSec = 0;
    Reports z;
    z.seekTo = 3;
    running = true;
    EXPECT_EQ(readMpegAudioFile(e, nullptr, collect, &z), ReaderResult::Ended);
    ASSERT_FALSE(z.seconds.empty());
    for (int sec : z.seconds)
        EXPECT_EQ(sec, 0);
}

TEST_F(ReaderRun, AFifoIsRefusedNotWaitedOn) {
    ::alarm(30); // the old readers blocked in the open for ever
    std::string fifo = dir.file("pipe.mp3");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ReaderEntry e;
    e.path = fifo;
    e.durationSec = 10;
    e.kind = 10;
    running = true;
    EXPECT_EQ(readMpegAudioFile(e, nullptr, nullptr, nullptr), ReaderResult::OpenFailed);
    e.kind = 6;
    EXPECT_EQ(readMpegStream(e, nullptr, nullptr, nullptr), ReaderResult::OpenFailed);
    EXPECT_EQ(msgs.entries().size(), 2u);
    ::alarm(0);
}
