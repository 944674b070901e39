#include "engine/settings/settings.h"
#include "engine/settings/texts.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <set>

using namespace kestrel;
using kestrel::test::TempDir;

namespace {

// Each test gets its own program folder and fresh defaults.
class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setProgramFolder(dir.path());
        settings = Settings();
        outputFormat = EffectiveOutputFormat();
    }
    void TearDown() override { setProgramFolder(""); }
    void put(const char* key, const std::string& value) {
        ASSERT_TRUE(writePrivateProfileString(key::kSection, key, value, settingsPath()));
    }
    int stored(const char* key) {
        return getPrivateProfileInt(key::kSection, key, -7, settingsPath());
    }
    TempDir dir;
};

std::string readAll(const std::string& p) {
    auto b = test::readFile(p);
    return std::string(b.begin(), b.end());
}

} // namespace

TEST_F(SettingsTest, FreshFileMatchesGoldenBytes) {
    loadSettings();
    std::string golden = readAll(std::string(KESTREL_SOURCE_DIR) +
                                 "/tests/engine/settings/tavolin_defaults.ini.gbk");
    ASSERT_FALSE(golden.empty());
    golden.replace(golden.find("@PROGRAM_FOLDER@"), 16, dir.path());
    EXPECT_EQ(readAll(settingsPath()), golden);
    EXPECT_EQ(settings.output_type, 1);
    EXPECT_EQ(settings.save_path, dir.path() + "/");
    EXPECT_EQ(settings.skin_colour, 0x5C5C0C);
    // A second start changes nothing.
    loadSettings();
    EXPECT_EQ(readAll(settingsPath()), golden);
}

TEST_F(SettingsTest, RangeChecksReplaceAndWriteBack) {
    put(key::kWindowAlpha, "100");
    put(key::kDisplayMode, "abc"); // not a number reads as 0, which is in range
    put(key::kBorderStyle, "7xyz");
    put(key::kTitleStyle, "-3");
    loadSettings();
    EXPECT_EQ(settings.window_alpha, 255);
    EXPECT_EQ(stored(key::kWindowAlpha), 255);
    EXPECT_EQ(settings.display_mode, 0);
    EXPECT_EQ(settings.border_style, 7);
    EXPECT_EQ(settings.title_style, 0);
    EXPECT_EQ(stored(key::kTitleStyle), 0);

    put(key::kWindowAlpha, "120");
    loadSettings();
    EXPECT_EQ(settings.window_alpha, 120);
}

TEST_F(SettingsTest, ListChecksRunAfterRanges) {
    put(key::kMp3Cbr, "130");
    loadSettings();
    EXPECT_EQ(settings.mp3_cbr_kbps, 128);
    EXPECT_EQ(stored(key::kMp3Cbr), 128);

    put(key::kMp3Cbr, "144");
    put(key::kMp3Version, "1");
    put(key::kMp3SampleRate, "24000");
    loadSettings();
    EXPECT_EQ(settings.mp3_cbr_kbps, 144);
    EXPECT_EQ(settings.mp3_sample_rate, 24000);

    put(key::kMp3Version, "0");
    loadSettings();
    EXPECT_EQ(settings.mp3_cbr_kbps, 128);
    EXPECT_EQ(settings.mp3_sample_rate, 44100); // 24000 is not an MPEG-1 rate

    put(key::kMp3Version, "1");
    put(key::kMp3SampleRate, "44100");
    loadSettings();
    EXPECT_EQ(settings.mp3_sample_rate, 22050);
    EXPECT_EQ(stored(key::kMp3SampleRate), 22050);

    put(key::kMp3Version, "2");
    put(key::kMp3SampleRate, "44100");
    loadSettings();
    EXPECT_EQ(settings.mp3_sample_rate, 11025);

    put(key::kAacBitRate, "100000");
    put(key::kAacQuality, "101");
    put(key::kAacSampleRate, "44000");
    loadSettings();
    EXPECT_EQ(settings.aac_bit_rate, 160000);
    EXPECT_EQ(settings.aac_quality, 100);
    EXPECT_EQ(settings.aac_sample_rate, 44100);
    EXPECT_EQ(stored(key::kAacBitRate), 160000);
}

TEST_F(SettingsTest, TextKeys) {
    put(key::kExePassword, "1");
    put(key::kExeDescription, "自己的描述");
    loadSettings();
    EXPECT_EQ(settings.exe_password, "573921");
    EXPECT_EQ(getPrivateProfileString(key::kSection, key::kExePassword, "", 255, settingsPath()),
              "573921");
    EXPECT_EQ(settings.exe_description, "自己的描述");

    // Longer than its 16-byte field: cut to 15 bytes.
    put(key::kExePassword, "abcdefghijklmnopqrstuvwxyz");
    loadSettings();
    EXPECT_EQ(settings.exe_password, "abcdefghijklmno");
}

TEST_F(SettingsTest, SavePathIsCheckedWithoutItsLastCharacter) {
    std::string out = dir.path() + "/out";
    ASSERT_TRUE(makeDirectories(out));
    put(key::kSavePath, out + "/");
    loadSettings();
    EXPECT_EQ(settings.save_path, out + "/");

    // Typed without the final "/": ".../ou" is looked up and not found.
    put(key::kSavePath, out);
    loadSettings();
    EXPECT_EQ(settings.save_path, dir.path() + "/");

    put(key::kSavePath, dir.path() + "/deleted/");
    loadSettings();
    EXPECT_EQ(settings.save_path, dir.path() + "/");
    EXPECT_EQ(getPrivateProfileString(key::kSection, key::kSavePath, "", 255, settingsPath()),
              dir.path() + "/");
}

TEST_F(SettingsTest, ColourRoundTrip) {
    put(key::kSkinColour, "255");
    loadSettings();
    EXPECT_EQ(settings.skin_colour, 0xFF0000);
    saveSkinSettings();
    EXPECT_EQ(stored(key::kSkinColour), 255);
    EXPECT_EQ(colourToFile(colourFromFile(0x123456)), 0x123456);
    put(key::kSkinColour, "16777217");
    loadSettings();
    EXPECT_EQ(settings.skin_colour, 0x5C5C0C);
}

TEST_F(SettingsTest, DerivedFormatForEveryOutputType) {
    Settings s;
    s.mp3_sample_rate = 48000;
    s.mp3_channels = 1;
    s.mp3_mono_mode = 2;
    s.mp3_version = 0;
    s.aac_sample_rate = 32000;
    s.aac_channels = 2;
    s.aac_mono_mode = 1;
    s.amr_mono_mode = 1;
    EffectiveOutputFormat start;
    start.out_version = 2;
    for (int t : {0, 1, 2, 3}) {
        s.output_type = t;
        auto f = deriveOutputFormat(s, start);
        EXPECT_EQ(f.out_rate, 48000);
        EXPECT_EQ(f.out_channels, 1);
        EXPECT_EQ(f.channel_pick, 2);
        EXPECT_EQ(f.out_version, 0);
    }
    for (int t : {4, 5, 6}) {
        s.output_type = t;
        auto f = deriveOutputFormat(s, start);
        EXPECT_EQ(f.out_rate, 32000);
        EXPECT_EQ(f.out_channels, 2);
        EXPECT_EQ(f.channel_pick, 1);
        EXPECT_EQ(f.out_version, 2); // unchanged
    }
    s.output_type = 7;
    auto amr = deriveOutputFormat(s, start);
    EXPECT_EQ(amr.out_rate, 8000);
    EXPECT_EQ(amr.out_channels, 1);
    EXPECT_EQ(amr.channel_pick, 1);
    EXPECT_EQ(amr.out_version, 2);
    for (int t : {8, 9}) {
        s.output_type = t;
        s.mp3_sample_rate = 48000;
        auto f = deriveOutputFormat(s, start);
        EXPECT_EQ(f.out_rate, 22050);
        EXPECT_EQ(f.out_version, 1);
        s.mp3_sample_rate = 11025;
        f = deriveOutputFormat(s, start);
        EXPECT_EQ(f.out_rate, 11025);
        EXPECT_EQ(f.out_version, 2);
        s.mp3_sample_rate = 44100;
        f = deriveOutputFormat(s, start);
        EXPECT_EQ(f.out_version, 0);
    }
}

TEST_F(SettingsTest, PageSaveAndDisplayModeKeepOtherLines) {
    loadSettings();
    settings.mp3_cbr_kbps = 192;
    settings.output_type = 2;
    save_page_settings();
    settings.display_mode = 4;
    advanceDisplayMode();
    EXPECT_EQ(settings.display_mode, 1);
    Settings before = settings;
    settings = Settings();
    loadSettings();
    EXPECT_EQ(settings.mp3_cbr_kbps, 192);
    EXPECT_EQ(settings.output_type, 2);
    EXPECT_EQ(settings.display_mode, 1);
    EXPECT_EQ(settings.exe_description, before.exe_description);
}

TEST_F(SettingsTest, SavePathOutsideGbkSurvivesARestart) {
    // A folder name with a letter GBK lacks and an emoji: stored as GB18030
    // and read back unchanged at the next start.
    std::string folder = dir.file("Musik-ö-🎵");
    ASSERT_TRUE(makeDirectories(folder));
    loadSettings();
    settings.save_path = folder + "/";
    saveMp3PageSettings();
    std::string raw = readAll(settingsPath());
    EXPECT_NE(raw.find("Musik-\x81\x30\x8B\x32-\x94\x39\xC1\x39/"), std::string::npos);
    settings = Settings();
    loadSettings();
    EXPECT_EQ(settings.save_path, folder + "/");

    // A text is read back cut on a character boundary in the file's
    // encoding: of 70 four-byte emoji, 63 fit in the 254 bytes read.
    std::string emoji;
    for (int i = 0; i < 70; ++i)
        emoji += "🎵";
    settings.exe_description = emoji;
    saveWmaExePageSettings();
    settings = Settings();
    loadSettings();
    std::string expect;
    for (int i = 0; i < 63; ++i)
        expect += "🎵";
    EXPECT_EQ(settings.exe_description, expect);
}

TEST_F(SettingsTest, LongSavePathFitsItsField) {
    // 300 bytes: more than a 255-byte read buffer, less than the 512-byte field.
    std::string folder = dir.path();
    while (folder.size() < 300)
        folder += "/" + std::string(60, 'l');
    ASSERT_TRUE(makeDirectories(folder));
    put(key::kSavePath, folder + "/");
    loadSettings();
    EXPECT_EQ(settings.save_path, folder + "/");
}

// The key table has one row per key of the file; its defaults are those of a
// fresh Settings record, so loading a fresh file changes no field.
TEST_F(SettingsTest, KeyTableMatchesTheRecordDefaults) {
    const Settings fresh;
    std::set<std::string> keys;
    for (const auto& r : settingKeys()) {
        SCOPED_TRACE(r.key);
        EXPECT_TRUE(keys.insert(r.key).second);
        switch (r.type) {
        case SettingKey::Type::Int:
            EXPECT_EQ(fresh.*r.number, r.def);
            EXPECT_TRUE(r.def >= r.lo && r.def <= r.hi);
            if (r.listCheck) {
                EXPECT_EQ(r.listCheck(fresh, r.def, r.def), r.def);
            }
            break;
        case SettingKey::Type::Colour:
            EXPECT_EQ(fresh.*r.number, colourFromFile(r.def));
            break;
        case SettingKey::Type::Text:
            if (std::string(r.key) != key::kSavePath) {
                EXPECT_EQ(fresh.*r.text, r.textDefault());
            }
            EXPECT_GT(r.fieldSize, 2u);
            break;
        }
    }
    EXPECT_EQ(keys.size(), 33u);
}

// What the command line prints is the file's lines in the file's order, then
// the derived output format.
TEST_F(SettingsTest, SettingLinesAreTheFileLines) {
    loadSettings(); // the file in load order
    put(key::kSkinColour, "1193046");
    put(key::kMp3Version, "1");
    loadSettings();
    derive_output_format();
    auto lines = settingLines(settings, outputFormat);
    std::string file = gb18030ToUtf8(readAll(settingsPath()));
    std::string expected;
    for (size_t i = 0; i + 4 < lines.size(); ++i)
        expected += std::string(lines[i].key) + "=" + lines[i].value + "\r\n";
    EXPECT_EQ(file, "[" + std::string(key::kSection) + "]\r\n" + expected);
    ASSERT_EQ(lines.size(), 33u + 4u);
    EXPECT_EQ(lines[1].value, "1193046");
    EXPECT_STREQ(lines[33].key, "out_rate");
    EXPECT_EQ(lines[33].value, "22050");
    EXPECT_STREQ(lines[36].key, "out_version");
    EXPECT_EQ(lines[36].value, "1");
}
