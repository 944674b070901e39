// The list of what a job produced: one line per output file in job order, a
// joined output once with the sound of all its entries, entries without an
// output left out, an incomplete or silent output marked.
#include "engine/convert/job_outputs.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

JobEntry entry(const std::string& out, EntryResult r, uint64_t pcm) {
    JobEntry e;
    e.path = "/in/" + out;
    e.outputName = out;
    e.result = r;
    e.pcmBytes = pcm;
    return e;
}

} // namespace

TEST(ProducedOutputs, OneLinePerOutputInJobOrder) {
    EffectiveOutputFormat f;
    f.out_rate = 8000;
    f.out_channels = 1; // 16000 bytes a second
    std::vector<JobEntry> job = {
        entry("b.wav", EntryResult::Converted, 16000), entry("x.wav", EntryResult::NoOutput, 0),
        entry("a.wav", EntryResult::NoSound, 0),       entry("n.wav", EntryResult::NotRun, 0),
        entry("c.wav", EntryResult::Incomplete, 8000),
    };
    auto outs = producedOutputs(job, f);
    ASSERT_EQ(outs.size(), 3u);
    EXPECT_EQ(outs[0].path, "b.wav");
    EXPECT_DOUBLE_EQ(outs[0].seconds, 1.0);
    EXPECT_FALSE(outs[0].incomplete);
    EXPECT_FALSE(outs[0].noSound());
    EXPECT_EQ(outs[1].path, "a.wav");
    EXPECT_TRUE(outs[1].noSound());
    EXPECT_EQ(outs[2].path, "c.wav");
    EXPECT_TRUE(outs[2].incomplete);
    EXPECT_DOUBLE_EQ(outs[2].seconds, 0.5);
}

TEST(ProducedOutputs, AJoinedOutputOnceWithAllItsSound) {
    EffectiveOutputFormat f; // 44.1 kHz stereo
    std::vector<JobEntry> job = {entry("j.wav", EntryResult::Converted, 176400),
                                 entry("j.wav", EntryResult::Incomplete, 88200),
                                 entry("j.wav", EntryResult::NoSound, 0)};
    auto outs = producedOutputs(job, f);
    ASSERT_EQ(outs.size(), 1u);
    EXPECT_EQ(outs[0].pcmBytes, 264600u);
    EXPECT_DOUBLE_EQ(outs[0].seconds, 1.5);
    EXPECT_TRUE(outs[0].incomplete);
}
