// Transport streams in 192-byte packets (a time code before each) and 204-byte
// packets (check bytes after each): the demultiplexer finds the size from the
// spacing of the sync bytes and gives the same audio as from 188-byte packets.
#include "engine/containers/demux.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::haveFixture;

namespace {

const std::atomic<bool> kRunning{true};

// The MPEG audio frames the demultiplexer copies out of `bytes` fed in
// 3760-byte chunks from `from` on.
std::vector<uint8_t> copiedAudio(const std::vector<uint8_t>& bytes, size_t from = 0,
                                 int* packetSize = nullptr) {
    Demuxer d;
    d.setRunFlag(kRunning);
    d.demuxReset(0);
    FILE* out = std::tmpfile();
    d.setFastCopy(out);
    for (size_t at = from; at < bytes.size(); at += 3760) {
        int n = int(std::min<size_t>(3760, bytes.size() - at));
        d.demuxChunk(bytes.data() + at, n);
    }
    d.demuxFinish();
    d.setFastCopy(nullptr);
    if (packetSize) *packetSize = d.tsPacketSize();
    std::vector<uint8_t> got(size_t(std::ftell(out)));
    std::rewind(out);
    got.resize(std::fread(got.data(), 1, got.size(), out));
    std::fclose(out);
    return got;
}

std::vector<uint8_t> repack(const std::vector<uint8_t>& ts, int size) {
    std::vector<uint8_t> out;
    for (size_t at = 0; at + 188 <= ts.size(); at += 188) {
        if (size == 192)
            for (int k = 0; k < 4; ++k)
                out.push_back(uint8_t(0x47 + k)); // a time code holding a sync byte
        out.insert(out.end(), ts.begin() + long(at), ts.begin() + long(at) + 188);
        if (size == 204) out.insert(out.end(), 16, 0x47);
    }
    return out;
}

} // namespace

TEST(TsPacketSize, FoundFromTheSyncSpacing) {
    std::vector<uint8_t> b(204 * 6, 0);
    for (int size : {188, 192, 204}) {
        std::fill(b.begin(), b.end(), 0);
        for (size_t at = 0; at < b.size(); at += size_t(size))
            b[at] = 0x47;
        EXPECT_EQ(tsPacketSize(b.data(), b.size()), size);
    }
    // Too few packets to tell, or no sync byte first.
    EXPECT_EQ(tsPacketSize(b.data(), 300), 0);
    b[0] = 0;
    EXPECT_EQ(tsPacketSize(b.data(), b.size()), 0);
    EXPECT_EQ(tsPacketSize(b.data(), 0), 0);
}

TEST(TsPacketSize, SameAudioFromEveryPacketSize) {
    ASSERT_TRUE(haveFixture("mpeg_ts_mp2.ts"));
    auto ts = kestrel::test::readFile(fixture("mpeg_ts_mp2.ts"));
    int size = 0;
    auto ref = copiedAudio(ts, 0, &size);
    ASSERT_GT(ref.size(), 10000u);
    EXPECT_EQ(size, 188);
    for (int packet : {192, 204}) {
        auto got = copiedAudio(repack(ts, packet), 0, &size);
        EXPECT_EQ(size, packet);
        EXPECT_EQ(got.size(), ref.size()) << packet;
        EXPECT_TRUE(got == ref) << packet;
    }
}

TEST(TsPacketSize, FixturesMadeByTheScript) {
    for (const char* n : {"mpeg_ts_mp2.ts", "mpeg_ts_mp2.m2ts", "mpeg_ts_mp2_204.ts"})
        ASSERT_TRUE(haveFixture(n)) << n;
    auto ref = copiedAudio(kestrel::test::readFile(fixture("mpeg_ts_mp2.ts")));
    ASSERT_GT(ref.size(), 10000u);
    EXPECT_TRUE(copiedAudio(kestrel::test::readFile(fixture("mpeg_ts_mp2.m2ts"))) == ref);
    EXPECT_TRUE(copiedAudio(kestrel::test::readFile(fixture("mpeg_ts_mp2_204.ts"))) == ref);
}

TEST(TsPacketSize, ReadingOnFromAPacketEdgeAfterASeek) {
    ASSERT_TRUE(haveFixture("mpeg_ts_mp2.ts"));
    auto ts = kestrel::test::readFile(fixture("mpeg_ts_mp2.ts"));
    for (int packet : {192, 204}) {
        auto b = repack(ts, packet);
        Demuxer d;
        d.setRunFlag(kRunning);
        d.demuxReset(0);
        FILE* out = std::tmpfile();
        d.setFastCopy(out);
        // The tables, then a jump to the middle, to a multiple of the size.
        d.demuxChunk(b.data(), 3760);
        const uint64_t before = d.stats().mpegFrames;
        size_t mid = b.size() / 2;
        mid -= mid % size_t(packet);
        d.demuxSeek();
        for (size_t at = mid; at < b.size(); at += 3760)
            d.demuxChunk(b.data() + at, int(std::min<size_t>(3760, b.size() - at)));
        d.demuxFinish();
        d.setFastCopy(nullptr);
        std::fclose(out);
        // The frames after the jump are found again.
        EXPECT_GT(d.stats().mpegFrames - before, 20u) << packet;
        EXPECT_EQ(d.tsPacketSize(), packet);
    }
}
