// The media analysis of raw AAC files, AMR ring tones and MP4-family files
// through `kestrel-cli info`: type text, kind, rate, channels and duration
// against ffprobe or the formula of the family, and the refusals.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Listed {
    int status = -1;
    std::string err;
    std::string typeName;
    int kind = 0, channels = 0, durationSec = 0, bitRate = 0, streamDetail = 0, formatDetail = 0;
    double sampleRate = 0;
    unsigned long long fileSize = 0;
};

// The record's facts from `info --json`; the refusals in the catalogue's own
// texts (a Chinese locale).
Listed info(const std::string& path) {
    TempDir home;
    CommandResult r = runApart("LC_ALL=zh_CN.UTF-8 '" + kCli + "' --home '" + home.path() +
                               "' info --json '" + path + "'");
    Listed l;
    l.status = r.status;
    l.err = r.err;
    std::smatch m;
    auto num = [&](const char* key) {
        return std::regex_search(r.out, m, std::regex(std::string("\"") + key + "\": (-?[0-9.]+)"))
                   ? std::stod(m[1])
                   : -1.0;
    };
    if (std::regex_search(r.out, m, std::regex("\"typeName\": \"([^\"]*)\""))) l.typeName = m[1];
    l.kind = static_cast<int>(num("kind"));
    l.channels = static_cast<int>(num("channels"));
    l.durationSec = static_cast<int>(num("durationSec"));
    l.bitRate = static_cast<int>(num("bitRate"));
    l.streamDetail = static_cast<int>(num("streamDetail"));
    l.formatDetail = static_cast<int>(num("formatDetail"));
    l.sampleRate = num("sampleRate");
    l.fileSize = static_cast<unsigned long long>(num("fileSize"));
    return l;
}

} // namespace

TEST(Mp4AacAmrAnalysis, ListsEveryFixture) {
    struct Case {
        const char* fixture;
        const char* typeName;
        int kind, rate, channels;
        bool formula; // duration by the family's formula rather than ffprobe
    };
    const Case cases[] = {
        {"mp4_adts_44k.aac", "AAC", 8002, 44100, 2, true},
        {"mp4_adts_22k_mono.aac", "AAC", 8002, 22050, 1, true},
        {"mp4_adts_96k.aac", "AAC", 8002, 96000, 2, true},
        {"mp4_adts_id3.aac", "AAC", 8002, 22050, 1, true},
        {"mp4_adif_44k.aac", "AAC", 8002, 44100, 2, true},
        {"mp4_aac_44k.m4a", "M4A", 10003, 44100, 2, false},
        {"mp4_aac_22k_mono.mp4", "MP4", 10003, 22050, 1, false},
        {"mp4_mp3_44k.mp4", "MP4", 10004, 44100, 2, false},
        {"mp4_mp3_24k.mp4", "MP4", 10004, 24000, 1, false},
        {"mp4_clip.f4v", "MP4", 10003, 44100, 2, false},
        {"mp4_amrnb.3gp", "3GP", 10001, 8000, 1, false},
        {"mp4_amrnb_video.3gp", "3GP", 10001, 8000, 1, false},
        {"mp4_amrwb.3gp", "3GP", 10002, 16000, 1, false},
        {"mp4_ring_122.amr", "AMR", 8001, 8000, 1, true},
        {"mp4_ring_475.amr", "AMR", 8001, 8000, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        ASSERT_TRUE(haveFixture(c.fixture));
        Listed l = info(fixture(c.fixture));
        ASSERT_EQ(l.status, 0) << l.err;
        EXPECT_EQ(l.typeName, c.typeName);
        EXPECT_EQ(l.kind, c.kind);
        EXPECT_EQ(l.sampleRate, c.rate);
        EXPECT_EQ(l.channels, c.channels);
        if (c.kind == 8002) {
            // fileSize x 8 / bitRate.
            ASSERT_GT(l.bitRate, 0);
            EXPECT_EQ(l.durationSec, static_cast<int>(l.fileSize * 8 / unsigned(l.bitRate)));
        } else if (c.kind == 8001) {
            // (fileSize - 6) / frame bytes frames of 20 ms.
            ASSERT_GT(l.streamDetail, 0);
            EXPECT_EQ(l.durationSec,
                      static_cast<int>((l.fileSize - 6) / unsigned(l.streamDetail) * 20 / 1000));
        }
        if (!c.formula || c.kind == 8001) {
            EXPECT_NEAR(l.durationSec, std::floor(ffprobeDuration(fixture(c.fixture))), 1.0);
        }
    }
}

TEST(Mp4AacAmrAnalysis, AdtsFieldsFromTheStream) {
    Listed l = info(fixture("mp4_adts_44k.aac"));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.formatDetail, 4); // MPEG-4 AAC (ffmpeg's ADTS)
    EXPECT_EQ(l.streamDetail, 1); // object type field of AAC LC
    EXPECT_NEAR(l.bitRate, 128000, 8000);
}

TEST(Mp4AacAmrAnalysis, AacWithoutHeaderGetsTheDefaults) {
    Listed l = info(fixture("mp4_noheader.aac"));
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(l.typeName, "AAC");
    EXPECT_EQ(l.sampleRate, 44100);
    EXPECT_EQ(l.channels, 2);
    EXPECT_EQ(l.bitRate, 128000);
    EXPECT_EQ(l.durationSec, static_cast<int>(l.fileSize * 8 / 128000));
}

TEST(Mp4AacAmrAnalysis, Refusals) {
    struct Case {
        const char* fixture;
        const char* message;
    };
    const Case cases[] = {
        {"mp4_not_ring.amr", ":不是铃声文件"},
        {"mp4_video_only.mp4", ":没有发现音频编码信息"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fixture);
        Listed l = info(fixture(c.fixture));
        EXPECT_EQ(l.status, 2);
        EXPECT_NE(l.err.find(c.message), std::string::npos) << l.err;
    }
    // Refused by our own readers, decoded by the media graph: AMR wide-band
    // is no ring tone; an ADTS stream whose first header names no rate has
    // others that do.
    const Case graphCases[] = {
        {"mp4_amrwb_storage.amr", ":不是铃声文件"},
        {"mp4_bad_rate.aac", ":不是ACC编码文件"},
    };
    const double graphRates[] = {16000, 22050};
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(graphCases[i].fixture);
        Listed l = info(fixture(graphCases[i].fixture));
        EXPECT_EQ(l.status, 0) << l.err;
        EXPECT_EQ(l.err.find(graphCases[i].message), std::string::npos) << l.err;
        EXPECT_EQ(l.kind, 8000);
        EXPECT_EQ(l.sampleRate, graphRates[i]);
    }
    // Not an MP4 file at all under an MP4 name.
    TempDir dir;
    writeFile(dir.file("text.m4a"), std::string(400, 'x'));
    Listed l = info(dir.file("text.m4a"));
    EXPECT_EQ(l.status, 2);
    EXPECT_NE(l.err.find(":没有发现音频编码信息"), std::string::npos) << l.err;
}

TEST(Mp4AacAmrAnalysis, RandomHeaderBytesAreRefusedOrConverted) {
    const char* files[] = {"mp4_adts_44k.aac", "mp4_adif_44k.aac", "mp4_ring_122.amr",
                           "mp4_aac_44k.m4a",  "mp4_amrnb.3gp",    "mp4_mp3_44k.mp4"};
    std::mt19937 rng(1313);
    for (const char* f : files) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(std::string(f) + " round " + std::to_string(round));
            auto bytes = readFile(fixture(f));
            const size_t head = std::min<size_t>(bytes.size(), 64);
            for (int i = 0; i < 6; ++i)
                bytes[rng() % head] = static_cast<uint8_t>(rng());
            TempDir dir, home, out;
            std::string name = dir.file(std::string("damaged_") + f);
            writeFile(name, bytes);
            CommandResult r =
                runApart("SDL_AUDIODRIVER=dummy timeout 60 '" + kCli + "' --home '" + home.path() +
                         "' convert -t wav -r 8000 -o '" + out.path() + "' '" + name + "'");
            // 0 converted, 2 refused or without sound; never a crash or a hang.
            EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status << r.err;
        }
    }
}
