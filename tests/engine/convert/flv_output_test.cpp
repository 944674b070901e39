// The FLV writer and its metadata injector on tag files made here: tag
// layout, time stamps in 64 bits, the onMetaData entries and their values,
// and the injector's refusals.
#include "engine/convert/flv_output.h"
#include "support/flv_avi_read.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kestrel;
using namespace kestrel::test;

TEST(FlvOutput, AudioHeaderBytes) {
    EXPECT_EQ(flvAudioHeader(22050, 1), 0x2A);
    EXPECT_EQ(flvAudioHeader(44100, 2), 0x2F);
    EXPECT_EQ(flvAudioHeader(44100, 1), 0x2E);
    EXPECT_EQ(flvAudioHeader(11025, 2), 0x27);
    EXPECT_EQ(flvAudioHeader(8000, 1), 0x22);
}

// PCM bytes x 500 passes 32 bits after 48.7 s of 44100 Hz stereo; the time
// stamp must go on growing, up to the FLV's 32 bits.
TEST(FlvOutput, TimestampsPastTheThirtyTwoBitProduct) {
    const uint64_t perSecond = 44100 * 4;
    EXPECT_EQ(flvTimestampMs(0, 44100, 2), 0u);
    EXPECT_EQ(flvTimestampMs(perSecond * 48, 44100, 2), 48000u);
    EXPECT_EQ(flvTimestampMs(perSecond * 49, 44100, 2), 49000u);
    EXPECT_EQ(flvTimestampMs(perSecond * 70, 44100, 2), 70000u);
    EXPECT_EQ(flvTimestampMs(perSecond * 3600 * 24 * 40, 44100, 2), 3456000000u);
    EXPECT_EQ(flvTimestampMs(22050 * 2 * 61, 22050, 1), 61000u);
}

namespace {

// Writes a tag file of `blocks` blocks of `pcmPerBlock` bytes each carrying
// `mp3PerBlock` bytes, returns its path.
std::string makeTags(const TempDir& dir, int rate, int channels, int blocks, uint64_t pcmPerBlock,
                     size_t mp3PerBlock) {
    FlvTagWriter w;
    std::string path = dir.file("tags.flv");
    EXPECT_EQ(flvTagsOpen(w, path, rate, channels), 0);
    std::vector<uint8_t> mp3(mp3PerBlock);
    for (size_t i = 0; i < mp3.size(); ++i)
        mp3[i] = static_cast<uint8_t>(i * 7 + 1);
    for (int i = 0; i < blocks; ++i)
        EXPECT_EQ(flvTagsWrite(w, mp3.data(), mp3.size(), pcmPerBlock), 0);
    EXPECT_EQ(flvTagsClose(w), 0);
    return path;
}

const char* const kMetaKeys[] = {
    "metadatacreator", "hasKeyframes",  "hasVideo",        "hasAudio",
    "hasMetadata",     "canSeekToEnd",  "duration",        "datasize",
    "audiosize",       "audiocodecid",  "audiosamplerate", "audiosamplesize",
    "stereo",          "audiodatarate", "filesize",        "lasttimestamp"};

} // namespace

TEST(FlvOutput, IntermediateTagsAsLaidOut) {
    TempDir dir;
    // 70 blocks of one second of 22050 Hz mono.
    std::string path = makeTags(dir, 22050, 1, 70, 44100, 5);
    auto bytes = readFile(path);
    const uint8_t head[] = {'F', 'L', 'V', 1, 4, 0, 0, 0, 9, 0, 0, 0, 0};
    ASSERT_GE(bytes.size(), sizeof head);
    EXPECT_TRUE(std::equal(head, head + sizeof head, bytes.begin()));
    FlvFile flv = readFlv(bytes);
    ASSERT_TRUE(flv.ok);
    ASSERT_EQ(flv.tags.size(), 70u);
    for (size_t i = 0; i < flv.tags.size(); ++i) {
        const FlvTag& t = flv.tags[i];
        EXPECT_EQ(t.type, 8);
        EXPECT_EQ(t.dataSize, 6u);
        EXPECT_EQ(t.data[0], 0x2A);
        EXPECT_EQ(t.timestamp, 1000u * i) << i; // past 60 s too
        EXPECT_EQ(t.previousTagSize, 17u);
        EXPECT_EQ(be24(bytes, t.at + 8), 0u); // stream id
    }
}

TEST(FlvOutput, InjectedMetadataDescribesTheFile) {
    TempDir dir;
    // 65 blocks of 0.5 s of 44100 Hz stereo with 400 MP3 bytes each.
    std::string tags = makeTags(dir, 44100, 2, 65, 88200, 400);
    std::string out = dir.file("out.flv");
    ASSERT_EQ(inject_flv_metadata(tags, out), 0);
    auto bytes = readFile(out);
    FlvFile flv = readFlv(bytes);
    ASSERT_TRUE(flv.ok);
    EXPECT_EQ(flv.flags, 4);
    EXPECT_EQ(flv.firstPreviousTagSize, 0u);
    ASSERT_EQ(flv.tags.size(), 66u);
    ASSERT_EQ(flv.tags[0].type, 18);
    EXPECT_EQ(flv.tags[0].timestamp, 0u);
    EXPECT_EQ(flv.tags[0].previousTagSize, 11 + flv.tags[0].dataSize);
    OnMetaData m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.declaredCount, 16u);
    ASSERT_EQ(m.entries.size(), 16u);
    for (size_t i = 0; i < 16; ++i)
        EXPECT_EQ(m.entries[i].key, kMetaKeys[i]);
    EXPECT_EQ(m.find("metadatacreator")->text, "kestrel Metadata FLV Injector  - Ver 2.4");
    EXPECT_FALSE(m.find("hasVideo")->boolean);
    EXPECT_TRUE(m.find("hasAudio")->boolean);
    EXPECT_TRUE(m.find("hasMetadata")->boolean);
    EXPECT_TRUE(m.find("stereo")->boolean);
    EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
    EXPECT_EQ(m.find("datasize")->number, 65.0 * (401 + 15));
    EXPECT_EQ(m.find("audiosize")->number, 65.0 * (401 + 11));
    EXPECT_EQ(m.find("audiocodecid")->number, 2);
    EXPECT_EQ(m.find("audiosamplerate")->number, 44100);
    EXPECT_EQ(m.find("audiosamplesize")->number, 16);
    EXPECT_DOUBLE_EQ(m.find("duration")->number, 32.0); // the last tag's time stamp
    EXPECT_DOUBLE_EQ(m.find("lasttimestamp")->number, 32.0);
    EXPECT_DOUBLE_EQ(m.find("audiodatarate")->number, 65.0 * 401 * 8 / 1024 / 32.0);
    // The tags are the intermediate file's, in order.
    FlvFile in = readFlv(readFile(tags));
    for (size_t i = 0; i < in.tags.size(); ++i) {
        EXPECT_EQ(flv.tags[i + 1].data, in.tags[i].data);
        EXPECT_EQ(flv.tags[i + 1].timestamp, in.tags[i].timestamp);
        EXPECT_EQ(flv.tags[i + 1].previousTagSize, in.tags[i].previousTagSize);
    }
}

// Under a second the duration is 0: the data rate is written as 0, not as the
// result of a division by zero.
TEST(FlvOutput, ShortOutputHasDataRateZero) {
    TempDir dir;
    std::string tags = makeTags(dir, 22050, 1, 3, 4096, 100);
    std::string out = dir.file("out.flv");
    ASSERT_EQ(inject_flv_metadata(tags, out), 0);
    FlvFile flv = readFlv(readFile(out));
    ASSERT_TRUE(flv.ok);
    OnMetaData m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_DOUBLE_EQ(m.find("duration")->number, 0.185);
    const double rate = m.find("audiodatarate")->number;
    EXPECT_TRUE(std::isfinite(rate));
    // 0.185 s is not "under a second" as the duration counts: it is > 0.
    EXPECT_GT(rate, 0);

    std::string one = makeTags(dir, 22050, 1, 1, 4096, 100);
    ASSERT_EQ(inject_flv_metadata(one, out), 0);
    flv = readFlv(readFile(out));
    m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.find("duration")->number, 0.0);
    EXPECT_EQ(m.find("audiodatarate")->number, 0.0);
    EXPECT_EQ(m.find("filesize")->number, double(readFile(out).size()));
}

// An output without a single tag (stopped before its first block) is still a
// valid FLV with its metadata.
TEST(FlvOutput, NoTagsStillGivesAValidFile) {
    TempDir dir;
    std::string tags = makeTags(dir, 44100, 2, 0, 0, 0);
    std::string out = dir.file("out.flv");
    ASSERT_EQ(inject_flv_metadata(tags, out), 0);
    auto bytes = readFile(out);
    FlvFile flv = readFlv(bytes);
    ASSERT_TRUE(flv.ok);
    ASSERT_EQ(flv.tags.size(), 1u);
    OnMetaData m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.entries.size(), m.declaredCount);
    EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
    EXPECT_EQ(m.find("audiodatarate")->number, 0.0);
}

TEST(FlvOutput, InjectorRefusalsAndCutTags) {
    TempDir dir;
    std::string out = dir.file("out.flv");
    EXPECT_EQ(inject_flv_metadata(dir.file("missing.flv"), out), kFlvStatFailed);
    writeFile(dir.file("text.flv"), std::string("this is no FLV file at all"));
    EXPECT_EQ(inject_flv_metadata(dir.file("text.flv"), out), kFlvNotFlv);
    writeFile(dir.file("short.flv"), std::string("FLV"));
    EXPECT_EQ(inject_flv_metadata(dir.file("short.flv"), out), kFlvNotFlv);
    EXPECT_EQ(inject_flv_metadata(dir.file("text.flv"), dir.path() + "/no/such/dir/x.flv"),
              kFlvCreateFailed);

    // A tag cut by the end of the file is left out; so is one whose size
    // claims more than the file holds, and a header size past the end.
    std::string tags = makeTags(dir, 22050, 1, 4, 4410, 50);
    auto bytes = readFile(tags);
    auto cut = bytes;
    cut.resize(cut.size() - 10);
    writeFile(dir.file("cut.flv"), cut);
    ASSERT_EQ(inject_flv_metadata(dir.file("cut.flv"), out), 0);
    FlvFile flv = readFlv(readFile(out));
    ASSERT_TRUE(flv.ok);
    EXPECT_EQ(flv.tags.size(), 4u); // metadata and three audio tags
    auto huge = bytes;
    huge[13 + 1] = 0xFF; // the first tag's size
    writeFile(dir.file("huge.flv"), huge);
    ASSERT_EQ(inject_flv_metadata(dir.file("huge.flv"), out), 0);
    flv = readFlv(readFile(out));
    ASSERT_TRUE(flv.ok);
    EXPECT_EQ(flv.tags.size(), 1u);
    auto far = bytes;
    far[5] = 0x7F;
    writeFile(dir.file("far.flv"), far);
    ASSERT_EQ(inject_flv_metadata(dir.file("far.flv"), out), 0);
    EXPECT_EQ(readFlv(readFile(out)).tags.size(), 1u);
}

// Written again after a full disk: the tags that fit in the bytes the disk
// took, under metadata that describes them.
TEST(FlvOutput, InjectedWithinAByteBudget) {
    TempDir dir;
    std::string tags = makeTags(dir, 44100, 2, 20, 88200, 400);
    std::string whole = dir.file("whole.flv"), part = dir.file("part.flv");
    ASSERT_EQ(inject_flv_metadata(tags, whole), 0);
    const size_t wholeSize = readFile(whole).size();
    FILE* f = std::fopen(part.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(inject_flv_metadata(tags, f, wholeSize - 1000), 0);
    std::fclose(f);
    auto bytes = readFile(part);
    EXPECT_LE(bytes.size(), wholeSize - 1000);
    EXPECT_GT(bytes.size(), wholeSize - 1000 - 416);
    FlvFile flv = readFlv(bytes);
    ASSERT_TRUE(flv.ok);
    EXPECT_EQ(flv.tags.size(), 1 + 20 - 3u); // 1000 bytes are three tags of 416
    OnMetaData m = readOnMetaData(flv.tags[0]);
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.find("filesize")->number, double(bytes.size()));
    EXPECT_EQ(m.find("datasize")->number, 17.0 * 416);
    EXPECT_DOUBLE_EQ(m.find("duration")->number, 8.0);
}
