// The self-playing EXE output as a conversion job writes it: the player from
// orvoplay.so, the enciphered descriptor with every field at its place, and
// the masked MP3 frames, which unmask to a stream ffprobe reads with the
// output's rate, channels and duration; per entry and joined, for a short and
// a long source. Also the reading side (extract and info) on a damaged file.
#include "engine/catalogue/media_list.h"
#include "engine/convert/conversion_driver.h"
#include "engine/convert/exe_output.h"
#include "engine/core/exe_layout.h"
#include "engine/core/run_state.h"
#include "engine/libraries/lib_orvoplay.h"
#include "engine/settings/settings.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using namespace kestrel;
namespace layout = kestrel::exe;

namespace {

class ExeOutputs : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        setLibraryFolder(KESTREL_BIN_DIR);
        setProgramFolder(home.path());
    }
    void TearDown() override {
        running = false;
        waitConversion();
        setProgramFolder("");
    }

    // A silent EXE job of `fixtures` into `out`.
    void select(std::initializer_list<const char*> fixtures, int saveMode) {
        loadSettings();
        settings.output_type = kOutExe;
        settings.conversion_mode = 2;
        settings.save_mode = saveMode;
        settings.mp3_sample_rate = 44100;
        settings.mp3_version = 0;
        settings.mp3_channels = 2;
        settings.mp3_rate_mode = 0;
        settings.mp3_cbr_kbps = 128;
        settings.exe_variable_speed = 1;
        settings.exe_password_on = 0;
        settings.exe_description = "岚石 测试描述";
        settings.exe_password = "573921";
        settings.save_path = out.path() + "/";
        sound_on = false; // silent: as fast as it goes
        display_on = false;
        resetMediaList();
        for (const char* f : fixtures)
            ASSERT_EQ(addMediaFile(test::fixture(f)), 0) << f;
        for (auto& r : mediaList.rows)
            r.selected = true;
    }

    test::TempDir home, out;
    test::RecordingMessages msgs;
};

// The player as orvoplay.so hands it out.
std::vector<uint8_t> playerFromLibrary() {
    std::vector<uint8_t> all, piece(layout::kPieceBufferBytes);
    if (!orvoplayLoaded() && loadOrvoplay() < 0) return all;
    for (int i = 1; i <= layout::kPlayerPieces; ++i) {
        int n = orvoplay.orvo_getexedata(i, piece.data());
        if (n > 0) all.insert(all.end(), piece.begin(), piece.begin() + n);
    }
    return all;
}

struct Probe {
    int rate = 0, channels = 0;
    double duration = 0;
};

Probe ffprobe(const std::string& path) {
    std::string s = test::capture("ffprobe -v error -select_streams a:0 -show_entries "
                                  "stream=sample_rate,channels:format=duration -of "
                                  "default=nw=1 '" +
                                  path + "'");
    Probe p;
    auto field = [&](const char* name) -> std::string {
        size_t at = s.find(std::string(name) + "=");
        if (at == std::string::npos) return "";
        at += std::strlen(name) + 1;
        return s.substr(at, s.find('\n', at) - at);
    };
    p.rate = std::atoi(field("sample_rate").c_str());
    p.channels = std::atoi(field("channels").c_str());
    p.duration = std::atof(field("duration").c_str());
    return p;
}

// Checks the layout of one EXE output and returns its plain descriptor;
// `pcmBytes` is what its entries put into it.
layout::Descriptor checkLayout(const std::string& path, uint64_t pcmBytes, int rate, int channels,
                               int version, const test::TempDir& tmp) {
    layout::Descriptor d;
    std::vector<uint8_t> file = test::readFile(path);
    EXPECT_GT(file.size(), layout::kDataOffset) << path;
    if (file.size() <= layout::kDataOffset) return d;

    // The player: exactly the library's bytes, 499712 of them, CRC as written.
    std::vector<uint8_t> player = playerFromLibrary();
    EXPECT_EQ(player.size(), layout::kPlayerBytes);
    EXPECT_TRUE(std::equal(player.begin(), player.end(), file.begin()));
    EXPECT_EQ(file[0], 'M');
    EXPECT_EQ(file[1], 'Z');

    uint8_t desc[layout::kDescriptorBytes];
    std::memcpy(desc, file.data() + layout::kPlayerBytes, sizeof desc);
    layout::decipherDescriptor(desc);
    EXPECT_EQ(desc[0], 0x16);
    EXPECT_EQ(desc[1], 0x58);
    const uint32_t masked = layout::readLe32(desc + 2);
    EXPECT_EQ(masked, file.size() - layout::kDataOffset);
    EXPECT_EQ(layout::readLe32(desc + 6), pcmBytes / (static_cast<uint64_t>(rate) * channels * 2));
    EXPECT_EQ(desc[10], 0);
    EXPECT_EQ(desc[11], 100);
    const int period = desc[12] << 8 | desc[13]; // high byte first
    EXPECT_GE(period, 64);
    EXPECT_LE(period, 399);
    EXPECT_EQ(layout::readLe32(desc + 14), 1u); // speed control
    EXPECT_EQ(layout::readLe32(desc + 18), 0u); // no password
    // The password field holds the setting even when the flag is off.
    EXPECT_EQ(std::memcmp(desc + 22, "573921\0\0\0\0\0\0\0\0\0\0", 16), 0);
    const std::string wantDesc = utf8ToGb18030("岚石 测试描述");
    EXPECT_EQ(std::memcmp(desc + 40, wantDesc.data(), wantDesc.size()), 0);
    EXPECT_EQ(desc[40 + wantDesc.size()], 0);
    EXPECT_EQ(layout::readLe32(desc + 240), 500032u);
    EXPECT_EQ(layout::readLe32(desc + 244), 0u);
    EXPECT_EQ(layout::readLe32(desc + 248), 500032u);
    EXPECT_EQ(layout::readLe32(desc + 252), 0u);
    EXPECT_EQ(layout::readLe32(desc + 296), static_cast<uint32_t>(rate));
    EXPECT_EQ(layout::readLe32(desc + 300), static_cast<uint32_t>(version));
    EXPECT_EQ(layout::readLe32(desc + 304), settings.mp3_rate_mode > 0 ? 1u : 0u);
    EXPECT_EQ(desc[308], channels);
    EXPECT_EQ(layout::readLe32(desc + 312),
              layout::crc32Mpeg2(layout::kCrcInit, file.data(), layout::kPlayerBytes));
    EXPECT_EQ(layout::readLe32(desc + 316),
              layout::crc32Mpeg2(layout::kCrcInit, file.data() + layout::kDataOffset, masked));
    EXPECT_EQ(layout::parseDescriptor(desc, d), 0);

    // Unmasked, the data is an MP3 stream of the output's format.
    std::vector<uint8_t> mp3(file.begin() + layout::kDataOffset, file.end());
    const std::vector<uint8_t> maskedData = mp3;
    layout::maskBytes(d.keys, d.period, 0, mp3.data(), mp3.size());
    EXPECT_EQ(mp3[0], 0xFF);
    EXPECT_NE(mp3, maskedData);
    std::string mp3Path = tmp.file("unmasked.mp3");
    test::writeFile(mp3Path, mp3);
    Probe p = ffprobe(mp3Path);
    EXPECT_EQ(p.rate, rate);
    EXPECT_EQ(p.channels, channels);
    const double seconds = static_cast<double>(pcmBytes) / (rate * channels * 2.0);
    // The encoder's delay and the last frame's padding: under 0.1 s.
    EXPECT_NEAR(p.duration, seconds, 0.1) << path;
    return d;
}

} // namespace

TEST_F(ExeOutputs, PerEntryOutputsOfAShortAndALongSourceEachDrawTheirKeys) {
    select({"dec_l3_44_stereo.mp3", "exe_long.mp3"}, 0);
    ConversionJob job;
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.run(), 0);
    ASSERT_EQ(job.jobTable.size(), 2u);
    ASSERT_EQ(job.outputRecords.size(), 2u);
    test::TempDir tmp;
    std::set<std::vector<int>> keySets;
    for (size_t i = 0; i < 2; ++i) {
        const JobEntry& e = job.jobTable[i];
        ASSERT_EQ(e.result, EntryResult::Converted) << e.path;
        layout::Descriptor d = checkLayout(e.outputName, e.pcmBytes, 44100, 2, 0, tmp);
        const OutputRecord& r = job.outputRecords[i];
        for (int k = 0; k < 5; ++k)
            EXPECT_EQ(r.exeKeys[k], d.keys[k]);
        EXPECT_EQ(r.exePeriod, d.period);
        keySets.insert({d.keys[0], d.keys[1], d.keys[2], d.keys[3], d.keys[4], d.period});
    }
    EXPECT_EQ(keySets.size(), 2u); // new keys for the second output
    EXPECT_GT(test::readFile(job.jobTable[1].outputName).size(), layout::kDataOffset + 1000000);
}

TEST_F(ExeOutputs, AJoinedOutputHasOneSetOfKeysAndTheWholePlayingTime) {
    select({"exe_long.mp3", "dec_l3_44_stereo.mp3"}, 1);
    ConversionJob job;
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.run(), 0);
    ASSERT_EQ(job.jobTable.size(), 2u);
    EXPECT_EQ(job.jobTable[0].outputName, job.jobTable[1].outputName);
    test::TempDir tmp;
    layout::Descriptor d =
        checkLayout(job.jobTable[0].outputName, job.jobTable[0].pcmBytes + job.jobTable[1].pcmBytes,
                    44100, 2, 0, tmp);
    EXPECT_GE(d.seconds, 105u);
    ASSERT_EQ(job.outputRecords.size(), 2u);
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(job.outputRecords[0].exeKeys[k], job.outputRecords[1].exeKeys[k]);
}

TEST_F(ExeOutputs, MonoMpeg2OutputWithPasswordReadsBackAndADamagedOneIsRefused) {
    select({"exe_short_mono.mp3"}, 0);
    settings.mp3_sample_rate = 22050;
    settings.mp3_version = 1;
    settings.mp3_channels = 1;
    settings.mp3_cbr_kbps = 64;
    settings.exe_password_on = 1;
    settings.exe_password = "密码123";
    settings.exe_variable_speed = 0;
    ConversionJob job;
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.run(), 0);
    const std::string path = job.jobTable[0].outputName;
    ExeContents c;
    ASSERT_EQ(readExeOutput(path, c, true), kExeOk);
    EXPECT_EQ(c.descriptor.outRate, 22050);
    EXPECT_EQ(c.descriptor.channels, 1);
    EXPECT_EQ(c.descriptor.mpegVersion, 1);
    EXPECT_EQ(c.descriptor.passwordOn, 1);
    EXPECT_EQ(c.descriptor.speedControl, 0);
    EXPECT_EQ(c.descriptor.password, utf8ToGb18030("密码123"));
    test::TempDir tmp;
    test::writeFile(tmp.file("x.mp3"), c.mp3);
    Probe p = ffprobe(tmp.file("x.mp3"));
    EXPECT_EQ(p.rate, 22050);
    EXPECT_EQ(p.channels, 1);
    EXPECT_NEAR(p.duration, 3.0, 0.15);

    // One byte changed in the MP3 data: the CRC check refuses the file.
    std::vector<uint8_t> bytes = test::readFile(path);
    bytes[(layout::kDataOffset + bytes.size()) / 2] ^= 0x01;
    test::writeFile(tmp.file("damaged.exe"), bytes);
    EXPECT_EQ(readExeOutput(tmp.file("damaged.exe"), c, true), kExeDamaged);
    EXPECT_TRUE(c.mp3.empty());
    // Not an EXE of ours at all.
    test::writeFile(tmp.file("other.exe"), std::vector<uint8_t>(600000, 0x4D));
    EXPECT_EQ(readExeOutput(tmp.file("other.exe"), c, false), kExeNotOurs);
}

TEST_F(ExeOutputs, AVariableRateOutputCarriesItsTagSoItsDurationIsRight) {
    select({"dec_l3_44_stereo.mp3"}, 0);
    settings.mp3_rate_mode = 1;
    settings.mp3_vbr_quality = 4;
    settings.mp3_vbr_min_kbps = 32;
    settings.mp3_vbr_max_kbps = 320;
    ConversionJob job;
    ASSERT_EQ(job.prepare(), 0);
    ASSERT_EQ(job.run(), 0);
    test::TempDir tmp;
    // The layout check recomputes the data CRC and measures the duration.
    layout::Descriptor d =
        checkLayout(job.jobTable[0].outputName, job.jobTable[0].pcmBytes, 44100, 2, 0, tmp);
    EXPECT_EQ(d.variableRate, 1);
    ExeContents c;
    ASSERT_EQ(readExeOutput(job.jobTable[0].outputName, c, true), kExeOk);
    const std::string head(c.mp3.begin(), c.mp3.begin() + 64);
    EXPECT_NE(head.find("Xing"), std::string::npos);
}
