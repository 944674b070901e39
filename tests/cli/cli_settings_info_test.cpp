// kestrel-cli's settings, info and list commands as a user runs them: the
// checked change of one setting, keys by their Chinese text or English alias,
// the analysis in human terms next to the record, valid JSON whatever a file
// name holds, and the help of the media list.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include "engine/settings/texts.h"
#include "platform/profile.h"

#include <cmath>
#include <filesystem>
#include <regex>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

struct Result {
    int status = -1;
    std::string out;
};

Result cli(const TempDir& home, const std::string& args) {
    Result r;
    std::string text = capture("LC_ALL=C '" + kCli + "' --home '" + home.path() + "' " + args +
                               " 2>&1; echo \"@rc=$?\"");
    size_t at = text.rfind("@rc=");
    r.status = std::atoi(text.c_str() + at + 4);
    r.out = text.substr(0, at);
    return r;
}

int iniInt(const TempDir& home, const char* key) {
    return kestrel::getPrivateProfileInt(kestrel::key::kSection, key, -1, home.file("tavolin.ini"));
}

} // namespace

TEST(CliSettings, SetRefusesWhatLoadingWouldNotKeepAndLeavesTheFileAlone) {
    TempDir home;
    // Reading the settings writes nothing, not even the defaults.
    ASSERT_EQ(cli(home, "settings").status, 0);
    EXPECT_FALSE(std::filesystem::exists(home.file("tavolin.ini")));

    Result range = cli(home, "settings set mp3_abr_kbps 500");
    EXPECT_EQ(range.status, 2);
    EXPECT_NE(range.out.find("out of range 80..320"), std::string::npos) << range.out;
    EXPECT_NE(range.out.find("kestrel-cli settings: "), std::string::npos) << range.out;

    Result list = cli(home, "settings set 转换AAC编码速率 100000");
    EXPECT_EQ(list.status, 2);
    EXPECT_NE(list.out.find("not one of 64000 80000 96000 112000 128000 160000 192000 224000 "
                            "256000"),
              std::string::npos)
        << list.out;

    // 320 kbit/s is a Layer III rate of MPEG-1 only.
    ASSERT_EQ(cli(home, "settings set mp3_version 1").status, 0);
    Result cbr = cli(home, "settings set mp3_cbr_kbps 320");
    EXPECT_EQ(cbr.status, 2);
    EXPECT_NE(cbr.out.find("not one of 8 16 24 32 40 48 56 64 80 96 112 128 144 160"),
              std::string::npos)
        << cbr.out;

    Result unknown = cli(home, "settings set no_such_key 1");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.out.find("unknown setting 'no_such_key'"), std::string::npos);
    EXPECT_EQ(cli(home, "settings set output_type").status, 1);
    EXPECT_EQ(cli(home, "settings set output_type banana").status, 2);
    EXPECT_EQ(cli(home, "settings set 主窗口透明度 119").status, 2);
    EXPECT_EQ(cli(home, "settings set save_path '" + home.file("missing") + "'").status, 2);
    EXPECT_EQ(cli(home, "settings set exe_password x").status, 2); // fewer than 2 bytes

    // Only the version was written; the refused values were not.
    EXPECT_EQ(iniInt(home, kestrel::key::kMp3Version), 1);
    EXPECT_EQ(iniInt(home, kestrel::key::kMp3Abr), -1);
    EXPECT_EQ(iniInt(home, kestrel::key::kAacBitRate), -1);
    EXPECT_EQ(iniInt(home, kestrel::key::kWindowAlpha), -1);
}

TEST(CliSettings, KeysByChineseTextOrAliasAndValuesWithTheirMeaning) {
    TempDir home;
    Result get = cli(home, "settings get 转换文件类型 mp3_mono_mode");
    ASSERT_EQ(get.status, 0) << get.out;
    EXPECT_EQ(get.out, "转换文件类型=1 (exe)\n转换MP3音频通道模式=0 (mix)\n");

    Result set = cli(home, "settings set output_type wav");
    ASSERT_EQ(set.status, 0) << set.out;
    EXPECT_EQ(set.out, "转换文件类型=2 (wav)\n");
    EXPECT_EQ(iniInt(home, kestrel::key::kOutputType), 2);
    EXPECT_EQ(cli(home, "settings get output_type").out, "转换文件类型=2 (wav)\n");
    EXPECT_EQ(cli(home, "settings set 转换MP3编码类型 2").out, "转换MP3编码类型=2 (abr)\n");

    // A new MPEG version takes the rate loading would give it along.
    Result version = cli(home, "settings set mp3_version MPEG-2");
    ASSERT_EQ(version.status, 0) << version.out;
    EXPECT_EQ(version.out, "转换MP3音频模式=1 (MPEG-2)\n转换MP3音频采样速率=22050\n");
    EXPECT_EQ(iniInt(home, kestrel::key::kMp3SampleRate), 22050);

    EXPECT_EQ(cli(home, "settings get skin_colour").out, "软件界面颜色=810076 (#0C5C5C)\n");
    EXPECT_EQ(cli(home, "settings set skin_colour '#102030'").out,
              "软件界面颜色=1056816 (#102030)\n");

    // A save path gets the separator the output names are appended to.
    TempDir out;
    Result path = cli(home, "settings set save_path '" + out.path() + "'");
    ASSERT_EQ(path.status, 0) << path.out;
    EXPECT_EQ(path.out, "转换文件保存路径=" + out.path() + "/\n");
    EXPECT_EQ(cli(home, "settings get 转换文件保存路径").out,
              "转换文件保存路径=" + out.path() + "/\n");
}

TEST(CliSettings, PathNamesTheSettingsFile) {
    TempDir home;
    Result r = cli(home, "settings path");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, home.file("tavolin.ini") + "\n");
    EXPECT_EQ(cli(home, "settings path x").status, 1);
    EXPECT_EQ(cli(home, "settings frobnicate").status, 1);
}

TEST(CliInfo, HumanFieldsOfAnMp3AVobAndATransportStream) {
    TempDir home;
    Result mp3 = cli(home, "info '" + fixture("mpeg_l3_cbr_44k.mp3") + "'");
    ASSERT_EQ(mp3.status, 0) << mp3.out;
    EXPECT_NE(mp3.out.find("  container: MPEG audio\n  codec: MPEG-1 Layer III\n"
                           "  sample rate: 44100 Hz\n  channels: 2\n"),
              std::string::npos)
        << mp3.out;
    EXPECT_NE(mp3.out.find("  kind: MPEG audio (10)\n"), std::string::npos);
    EXPECT_NE(mp3.out.find("  typeName=MP3\n"), std::string::npos); // the record's facts stay

    Result vob = cli(home, "info '" + fixture("mpeg_dvd.vob") + "'");
    ASSERT_EQ(vob.status, 0) << vob.out;
    EXPECT_NE(vob.out.find("  container: MPEG-1/2 program stream\n  codec: AC-3\n"
                           "  sample rate: 48000 Hz\n  channels: 6\n  bit rate: 448.0 kbit/s\n"),
              std::string::npos)
        << vob.out;
    EXPECT_NE(vob.out.find("  kind: MPEG program stream with AC-3 audio (5)\n"), std::string::npos);

    Result ts = cli(home, "info '" + fixture("mpeg_ts_mp2.ts") + "'");
    ASSERT_EQ(ts.status, 0) << ts.out;
    EXPECT_NE(ts.out.find("  container: MPEG-2 transport stream\n"), std::string::npos) << ts.out;
    EXPECT_NE(ts.out.find("  kind: MPEG transport stream (3)\n"), std::string::npos);
    EXPECT_NE(ts.out.find("  duration: 4.000 s\n"), std::string::npos) << ts.out;
}

TEST(CliInfo, MpegAudioDurationFromTheFrameCount) {
    TempDir home;
    for (const char* f :
         {"mpeg_l3_cbr_44k.mp3", "mpeg_l3_vbr_44k.mp3", "mpeg_l3_cbr_32k_mono.mp3",
          "mpeg_l3_mpeg2_22k.mp3", "mpeg_l3_mpeg2_vbr_22k.mp3", "mpeg_l3_mpeg25_11k.mp3",
          "mpeg_l3_id3.mp3", "mpeg_l2_48k.mp2", "mpeg_l2_mpeg2_24k.mp2"}) {
        SCOPED_TRACE(f);
        Result r = cli(home, "info --json '" + fixture(f) + "'");
        ASSERT_EQ(r.status, 0) << r.out;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(r.out, m, std::regex("\"seconds\": ([0-9.]+)"))) << r.out;
        EXPECT_NEAR(std::stod(m[1]), ffprobeDuration(fixture(f)), 0.1);
        // The record's whole seconds stay beside it.
        EXPECT_TRUE(std::regex_search(r.out, std::regex("\"durationSec\": [0-9]+,")));
    }
}

TEST(CliInfo, JsonIsValidUtf8WithTypedNumbersForALatin1FileName) {
    TempDir home, media;
    // "café.mp3" with the é as the single Latin-1 byte 0xE9.
    const std::string name = media.file(std::string("caf\xE9 \"x\".mp3"));
    std::filesystem::copy_file(fixture("mpeg_l3_cbr_44k.mp3"), name);
    Result r = cli(home, "info --json '" + name + "' '" + fixture("mpeg_dvd.vob") + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("caf\\u00e9 \\\"x\\\".mp3\""), std::string::npos) << r.out;
    const std::string json = media.file("info.json");
    {
        FILE* f = std::fopen(json.c_str(), "wb");
        ASSERT_TRUE(f);
        std::fwrite(r.out.data(), 1, r.out.size(), f);
        std::fclose(f);
    }
    // Parsed strictly as UTF-8 JSON; the numbers are numbers.
    std::string check =
        capture("python3 -c 'import json,sys; d=json.load(open(sys.argv[1], encoding=\"utf-8\")); "
                "print(d[0][\"path\"].endswith(\"caf\\u00e9 \\\"x\\\".mp3\"), "
                "type(d[0][\"sampleRate\"]).__name__, "
                "type(d[0][\"seconds\"]).__name__, d[1][\"kind\"], d[1][\"codec\"])' '" +
                json + "' 2>&1");
    EXPECT_EQ(check, "True int float 5 AC-3\n");
    EXPECT_EQ(std::system(("python3 -m json.tool '" + json + "' >/dev/null").c_str()), 0);

    // 'list --json' has the same field names and typed numbers.
    ASSERT_EQ(cli(home, "list add '" + name + "'").status, 0);
    Result list = cli(home, "list --json");
    ASSERT_EQ(list.status, 0);
    EXPECT_NE(list.out.find("\"serial\": 0, \"path\": "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("caf\\u00e9"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\"typeName\": \"MP3\", \"durationSec\": 3, \"sampleRate\": 44100, "
                            "\"channels\": 2, \"kind\": 10}"),
              std::string::npos)
        << list.out;
}

TEST(CliList, HelpSaysWhatTheListIsAndShowsAdd) {
    TempDir home;
    Result r = cli(home, "list --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("kestrel-cli [--home DIR] list add FILE..."), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("media list"), std::string::npos);
    EXPECT_NE(r.out.find("mpginfo.dat"), std::string::npos);
    // Piped: no header line, the rows only.
    ASSERT_EQ(cli(home, "list add '" + fixture("mpeg_vcd.mpg") + "'").status, 0);
    Result rows = cli(home, "list");
    EXPECT_EQ(rows.out.rfind("0\t", 0), 0u) << rows.out;
    // In Chinese for a Chinese locale.
    std::string zh = capture("LC_ALL=zh_CN.UTF-8 '" + kCli + "' list --help");
    EXPECT_NE(zh.find("多媒体文件列表"), std::string::npos) << zh;
}

TEST(CliDocs, ReadmeHoldsTheRealHelp) {
    auto bytes = readFile(std::string(KESTREL_SOURCE_DIR) + "/README.md");
    const std::string readme(bytes.begin(), bytes.end());
    const std::string begin = "<!-- kestrel-cli --help: begin",
                      end = "<!-- kestrel-cli --help: end";
    size_t b = readme.find(begin), e = readme.find(end);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(e, std::string::npos);
    b = readme.find("```text\n", b);
    ASSERT_LT(b, e);
    b += 8;
    size_t close = readme.rfind("```\n", e);
    ASSERT_GT(close, b);
    const std::string block = readme.substr(b, close - b);
    const std::string help = capture("LC_ALL=C '" + kCli + "' --help");
    EXPECT_EQ(block, help) << "run tools/update-readme-help.sh to bring README.md up to date";
}

TEST(CliDocs, ManualPageRendersEveryCommand) {
    const std::string page = std::string(KESTREL_BIN_DIR) + "/../kestrel-cli.1";
    ASSERT_TRUE(std::filesystem::exists(page));
    std::string text = capture("MANWIDTH=80 LC_ALL=C.UTF-8 man -l '" + page + "' 2>&1");
    EXPECT_NE(text.find("KESTREL-CLI(1)"), std::string::npos) << text;
    // A section per command, holding the command's help.
    for (const char* c : {"settings", "list", "info", "fast", "convert", "play"})
        EXPECT_NE(text.find(std::string("\n   ") + c + "\n       usage: kestrel-cli "),
                  std::string::npos)
            << c << "\n"
            << text;
    EXPECT_NE(text.find("kestrel-cli info [--json] FILE"), std::string::npos);
    // The closing sections come from the help's own.
    for (const char* section :
         {"\nEXAMPLES\n", "\nEXIT STATUS\n", "\nFILES\n", "\nENVIRONMENT\n", "\nSEE ALSO\n"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    EXPECT_NE(text.find("kestrel-cli convert -t mp3 -o - -"), std::string::npos) << text;
    // roff warnings (an unknown request from a line of help) show on stderr.
    EXPECT_EQ(capture("LC_ALL=C.UTF-8 man --warnings -l '" + page + "' 2>&1 >/dev/null"), "");
}

TEST(CliDocs, BashCompletionLoadsAndCompletes) {
    const std::string script = std::string(KESTREL_SOURCE_DIR) + "/data/kestrel-cli.bash";
    EXPECT_EQ(capture("bash -c 'source \"" + script + "\"; complete -p kestrel-cli' 2>&1"),
              "complete -o bashdefault -o filenames -F _kestrel_cli kestrel-cli\n");
    auto complete = [&](const std::string& words) {
        return capture("bash -c 'source \"" + script + "\"; COMP_WORDS=(" + words +
                       "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); "
                       "_kestrel_cli; echo \"${COMPREPLY[*]}\"' 2>&1");
    };
    EXPECT_EQ(complete("kestrel-cli se"), "settings\n");
    EXPECT_EQ(complete("kestrel-cli convert -t m"), "mp3 m4a\n");
    EXPECT_EQ(complete("kestrel-cli --home /tmp settings set output_type a"), "aac adts amr avi\n");
    EXPECT_EQ(complete("kestrel-cli info --j"), "--json\n");
}
