// MPEG audio file reading: first confirmed frame, stream facts, durations.
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/containers/texts.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kestrel;
using kestrel::test::fixture;
using kestrel::test::TempDir;
using Bytes = std::vector<uint8_t>;

namespace {

// One frame of the header's own length, its body free of sync bytes.
Bytes frame(uint32_t header, uint32_t seed = 1) {
    uint8_t h[4] = {uint8_t(header >> 24), uint8_t(header >> 16), uint8_t(header >> 8),
                    uint8_t(header)};
    MpegAudioHeader fh;
    EXPECT_TRUE(parseMpegAudioHeader(h, fh));
    Bytes b(h, h + 4);
    for (int i = 4; i < fh.frameBytes; ++i) {
        seed = seed * 1103515245u + 12345u;
        b.push_back(uint8_t((seed >> 16) & 0x7F));
    }
    return b;
}

void append(Bytes& to, const Bytes& from) {
    to.insert(to.end(), from.begin(), from.end());
}

constexpr uint32_t kMpeg1L3_128 = 0xFFFB9064; // 44100 Hz, joint stereo, 417 bytes

} // namespace

TEST(MpegAudioFrame, HeaderFactsOfEveryVersion) {
    MpegAudioHeader h;
    const uint8_t v1[4] = {0xFF, 0xFB, 0x90, 0x64};
    ASSERT_TRUE(parseMpegAudioHeader(v1, h));
    EXPECT_EQ(h.versionIndex, 0);
    EXPECT_EQ(h.layer, 3);
    EXPECT_EQ(h.frameBytes, 417);
    EXPECT_EQ(h.samplesPerFrame, 1152);
    const uint8_t v2mono[4] = {0xFF, 0xF3, 0x80, 0xC4}; // MPEG-2 L3 64k 22050 mono
    ASSERT_TRUE(parseMpegAudioHeader(v2mono, h));
    EXPECT_EQ(h.versionIndex, 1);
    EXPECT_EQ(h.sampleRate, 22050);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.samplesPerFrame, 576);
    const uint8_t v25[4] = {0xFF, 0xE3, 0x40, 0x44}; // MPEG-2.5 L3 32k 11025
    ASSERT_TRUE(parseMpegAudioHeader(v25, h));
    EXPECT_EQ(h.versionIndex, 2);
    EXPECT_EQ(h.sampleRate, 11025);
    // Reserved version, reserved layer, bad bit-rate and sampling-rate indexes.
    const uint8_t bad[4][4] = {{0xFF, 0xEB, 0x90, 0x64},
                               {0xFF, 0xF9, 0x90, 0x64},
                               {0xFF, 0xFB, 0xF0, 0x64},
                               {0xFF, 0xFB, 0x9C, 0x64}};
    for (auto& b : bad)
        EXPECT_FALSE(parseMpegAudioHeader(b, h));
}

TEST(MpegAudioFrame, DurationsOfTheWorkedExamples) {
    TempDir dir;
    // 3,000,000 bytes of 128 kbit/s CBR: 3,000,000 * 8 / (128 * 1024) = 183 s.
    Bytes cbr;
    while (cbr.size() < 3000000)
        append(cbr, frame(kMpeg1L3_128, uint32_t(cbr.size())));
    cbr.resize(3000000);
    test::writeFile(dir.file("cbr.mp3"), cbr);
    MpegAudioFileInfo info;
    EXPECT_EQ(mpegAudioInfo(dir.file("cbr.mp3"), info), 0);
    EXPECT_EQ(info.durationSec, 183u);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.vbrKind, kVbrNone);

    // A Xing header counting 10000 MPEG-1 Layer III frames at 44100 Hz: 261 s.
    Bytes xing = frame(kMpeg1L3_128);
    std::fill(xing.begin() + 4, xing.end(), 0);
    const uint8_t tag[] = {'X', 'i', 'n', 'g', 0, 0, 0, 1, 0, 0, 0x27, 0x10};
    std::copy(std::begin(tag), std::end(tag), xing.begin() + 36);
    for (int i = 0; i < 20; ++i)
        append(xing, frame(kMpeg1L3_128, uint32_t(i)));
    test::writeFile(dir.file("xing.mp3"), xing);
    EXPECT_EQ(mpegAudioInfo(dir.file("xing.mp3"), info), 0);
    EXPECT_EQ(info.vbrKind, kVbrXing);
    EXPECT_EQ(info.durationSec, 261u);
}

TEST(MpegAudioFrame, LongId3TagSmallFileAndStraySync) {
    TempDir dir;
    MpegAudioFileInfo info;
    // A 200,000-byte ID3v2 tag in front of the first frame.
    Bytes tagged = {'I', 'D', '3', 3, 0, 0};
    uint32_t body = 200000 - 10;
    for (int s = 21; s >= 0; s -= 7)
        tagged.push_back(uint8_t((body >> s) & 0x7F));
    tagged.resize(200000, 0x20);
    for (int i = 0; i < 30; ++i)
        append(tagged, frame(kMpeg1L3_128, uint32_t(i)));
    test::writeFile(dir.file("tagged.mp3"), tagged);
    EXPECT_EQ(mpegAudioInfo(dir.file("tagged.mp3"), info), 200000);
    int64_t first = -1;
    int vbr = -1;
    EXPECT_EQ(mpegAudioStart(dir.file("tagged.mp3"), first, vbr), 0);
    EXPECT_EQ(first, 200000);

    // 400 bytes are too few.
    Bytes small = frame(kMpeg1L3_128);
    small.resize(400);
    test::writeFile(dir.file("small.mp3"), small);
    EXPECT_EQ(mpegAudioInfo(dir.file("small.mp3"), info), -1);
    EXPECT_EQ(mpegAudioInfo(dir.file("missing.mp3"), info), -1);

    // A stray FF FB pair in junk is not the start; the real frames are.
    Bytes junk(1000, 0x11);
    junk[100] = 0xFF;
    junk[101] = 0xFB;
    junk[102] = 0x90;
    junk[103] = 0x64;
    for (int i = 0; i < 20; ++i)
        append(junk, frame(kMpeg1L3_128, uint32_t(i)));
    EXPECT_EQ(findFrameSync(junk.data(), junk.size()), 1000);
}

TEST(MpegAudioFrame, StartShowsItsMessages) {
    TempDir dir;
    test::RecordingMessages messages;
    test::writeFile(dir.file("zeros.mp3"), Bytes(9000, 0));
    int64_t first;
    int vbr;
    EXPECT_EQ(mpegAudioStart(dir.file("zeros.mp3"), first, vbr), -2);
    EXPECT_EQ(messages.lastText(), text::kNotMp3File);
    EXPECT_EQ(mpegAudioStart(dir.file("missing.mp3"), first, vbr), -1);
    ASSERT_EQ(messages.entries().size(), 1u);
}

TEST(MpegAudioFrame, FixturesAgreeWithFfprobe) {
    const char* files[] = {
        "mpeg_l2_48k.mp2",           "mpeg_l2_mpeg2_24k.mp2",    "mpeg_l3_cbr_44k.mp3",
        "mpeg_l3_vbr_44k.mp3",       "mpeg_l3_cbr_32k_mono.mp3", "mpeg_l3_mpeg2_22k.mp3",
        "mpeg_l3_mpeg2_vbr_22k.mp3", "mpeg_l3_mpeg25_11k.mp3",   "mpeg_l3_id3.mp3"};
    for (const char* f : files) {
        SCOPED_TRACE(f);
        std::string path = fixture(f);
        MpegAudioFileInfo info;
        ASSERT_GE(mpegAudioInfo(path, info), 0);
        std::string facts = test::capture("ffprobe -v error -select_streams a:0 -show_entries "
                                          "stream=sample_rate,channels -of csv=p=0 '" +
                                          path + "'");
        int rate = 0, channels = 0;
        ASSERT_EQ(std::sscanf(facts.c_str(), "%d,%d", &rate, &channels), 2);
        EXPECT_EQ(info.sampleRate, rate);
        EXPECT_EQ(info.channels, channels);
        if (info.vbrKind == kVbrNone) {
            // The formula of the format, over the bytes from the first frame
            // on: size * 8 / (kbit/s * 1024).
            EXPECT_EQ(info.durationSec, (info.fileSize - uint64_t(info.firstFrame)) * 8 /
                                            (uint64_t(info.bitRateKbps) * 1024));
        } else {
            EXPECT_NEAR(double(info.durationSec), test::ffprobeDuration(path), 1.0);
        }
        int64_t first;
        int vbr;
        EXPECT_EQ(mpegAudioStart(path, first, vbr), info.versionIndex);
        EXPECT_EQ(first, info.firstFrame);
    }
}

TEST(MpegAudioFrame, FirstFrameOfAConfirmedRunIsTheStart) {
    // No Xing/Info frame, and the second frame carries a padding slot: the
    // start is the first frame, not the one confirming it.
    Bytes es;
    const uint32_t headers[] = {0xFFFB9064, 0xFFFB9264, 0xFFFB9064, 0xFFFBA264, 0xFFFB5064};
    for (int round = 0; round < 6; ++round)
        for (uint32_t h : headers)
            append(es, frame(h, uint32_t(es.size())));
    EXPECT_EQ(findFrameSync(es.data(), es.size()), 0);
    TempDir dir;
    test::writeFile(dir.file("padded.mp2"), es);
    int64_t first = -1;
    int vbr = -1;
    EXPECT_EQ(mpegAudioStart(dir.file("padded.mp2"), first, vbr), 0);
    EXPECT_EQ(first, 0);
}

TEST(MpegAudioFrame, EveryFrameFormIsFound) {
    struct Case {
        const char* file;
        int layer, rate, channels;
        uint32_t durationSec;
    } cases[] = {
        // Layer I without CRC: headers begin FF FF.
        {"mpa_l1_48k.mp1", 1, 48000, 2, 2},
        // Frames longer than 1100 bytes: 1253/1254 and 1728/1729.
        {"mpa_l2_384k_44k.mp2", 2, 44100, 2, 2},
        {"mpa_l2_384k_32k.mp2", 2, 32000, 2, 2},
        // Free format: the duration comes from the measured frame length.
        {"mpa_free_200k.mp3", 3, 44100, 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(test::haveFixture(c.file));
        MpegAudioFileInfo info;
        EXPECT_EQ(mpegAudioInfo(fixture(c.file), info), 0);
        EXPECT_EQ(info.layer, c.layer);
        EXPECT_EQ(info.sampleRate, c.rate);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.durationSec, c.durationSec);
        int64_t first = -1;
        int vbr = -1;
        EXPECT_EQ(mpegAudioStart(fixture(c.file), first, vbr), 0);
        EXPECT_EQ(first, 0);
    }
    MpegAudioFileInfo info;
    ASSERT_EQ(mpegAudioInfo(fixture("mpa_free_200k.mp3"), info), 0);
    EXPECT_EQ(info.bitRateKbps, 0);
    EXPECT_EQ(info.freeFrameBytes, 653); // 144 * 200000 / 44100
}

TEST(MpegAudioFrame, Id3TagsLongOrNotSyncSafe) {
    // A 7 s MP3 behind a 200,000-byte tag: the tag is not sound.
    ASSERT_TRUE(test::haveFixture("mpa_id3_200k.mp3"));
    MpegAudioFileInfo info;
    EXPECT_EQ(mpegAudioInfo(fixture("mpa_id3_200k.mp3"), info), 200000);
    // (The divisor of 1024 reads 2.3 % short, and whole seconds are kept.)
    EXPECT_NEAR(double(info.durationSec), test::ffprobeDuration(fixture("mpa_id3_200k.mp3")), 1.5);
    EXPECT_EQ(info.durationSec, (info.fileSize - 200000) * 8 / (128 * 1024));

    // Size bytes 00 00 81 00 are not sync-safe: the frames behind the tag
    // (33,034 bytes) are still found.
    std::string unsafe = fixture("mpa_id3_unsafe.mp3");
    EXPECT_EQ(mpegAudioInfo(unsafe, info), 33034);
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_NEAR(double(info.durationSec), test::ffprobeDuration(unsafe), 1.5);
    int64_t first = -1;
    int vbr = -1;
    EXPECT_EQ(mpegAudioStart(unsafe, first, vbr), 0);
    EXPECT_EQ(first, 33034);
}
