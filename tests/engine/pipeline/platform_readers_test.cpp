// The platform's reading loops (Windows Media reader, media graph) serve a
// seek: the sound goes on from the second asked for.
#include "engine/pipeline/platform_readers.h"
#include "platform/paths.h"
#include "platform/ports.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kestrel;
using namespace kestrel::test;

namespace {

// Counts the PCM. With a target it asks for a seek at its first block and
// holds the platform's thread until the loop has passed the request on.
struct SeekingSink : PcmSinkPath {
    SeekingSink(OwnRunFlags& f, int t) : flags(f), target(t) {}
    void consume(PcmBuffer& pcm) override {
        bytes += static_cast<uint64_t>(pcm.pending);
        if (target < 0 || asked) return;
        asked = true;
        flags.seekRequest = 100 + target;
        for (int i = 0; i < 400 && flags.seekRequest.load() != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    OwnRunFlags& flags;
    int target;
    bool asked = false;
    uint64_t bytes = 0;
};

struct Route {
    const char* fixture;
    bool windowsMedia;
};

uint64_t readWith(const Route& r, int seekTo) {
    OwnRunFlags own;
    own.running = true;
    SeekingSink sink(own, seekTo);
    PcmBuffer pcm;
    ReaderEntry e;
    e.path = fixture(r.fixture);
    e.durationSec = 3;
    ReaderResult rc =
        r.windowsMedia
            ? readWindowsMedia(e, sink, own.flags(), pcm, nullptr, nullptr, WmEndReport::Caller)
            : readMediaGraph(e, sink, own.flags(), pcm, 1.0, nullptr, nullptr);
    EXPECT_EQ(rc, ReaderResult::Ended);
    return sink.bytes;
}

} // namespace

TEST(PlatformReaders, ASeekGoesOnFromTheSecondAskedFor) {
    setLibraryFolder(KESTREL_BIN_DIR);
    RecordingMessages messages;
    const Route routes[] = {{"graph_wma2_44k.wma", true},
                            {"graph_wma1_22k.wma", true},
                            {"graph_aac_44k.mov", false},
                            {"graph_ac3_48k.rm", false}};
    for (const Route& r : routes) {
        SCOPED_TRACE(r.fixture);
        ASSERT_TRUE(haveFixture(r.fixture));
        const uint64_t whole = readWith(r, -1);
        ASSERT_GT(whole, 0u);
        // Two of the three seconds are skipped: a third of the sound is left
        // (with the block in which the seek was asked for).
        const uint64_t rest = readWith(r, 2);
        EXPECT_GT(rest, whole / 4);
        EXPECT_LT(rest, whole * 2 / 5);
    }
    EXPECT_TRUE(messages.entries().empty()) << messages.lastText();
}
