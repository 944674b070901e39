// kestrel-cli as one of the command-line converters: one failing input never
// stops the others, -o names a folder or a file of an output type, "-" is a
// pipe, a run speaks one language, and convert, fast, extract and info share
// one machine format.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";
const std::string kSchema = std::string(KESTREL_SOURCE_DIR) + "/docs/kestrel-cli.schema.json";

using Result = CommandResult;

// Runs `shell` (which names the program as CLI) in `cwd` with `env`.
Result sh(const std::string& env, const std::string& cwd, const TempDir& home,
          const std::string& shell) {
    return runApart("cd '" + cwd + "' && unset LC_ALL LC_MESSAGES LANG && export " + env +
                    " && CLI() { timeout 120 '" + kCli + "' --home '" + home.path() +
                    "' \"$@\"; } && " + shell);
}

bool hasCjk(const std::string& s) {
    // U+3000..U+9FFF and the full-width forms start with E3..E9 or EF BC/BD.
    for (size_t i = 0; i + 2 < s.size(); ++i) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0xE3 && c <= 0xE9) return true;
        if (c == 0xEF && (static_cast<unsigned char>(s[i + 1]) & 0xFE) == 0xBC) return true;
    }
    return false;
}

// Validates `json` (a file) against the schema with the standard library
// only: the types, enums, minimums and required members the schema states.
std::string validate(const std::string& jsonFile) {
    const std::string py = R"(
import json, sys
schema = json.load(open(sys.argv[1]))
data = json.load(open(sys.argv[2], encoding='utf-8'))
kinds = {'string': str, 'null': type(None), 'integer': int, 'number': (int, float),
         'object': dict, 'array': list, 'boolean': bool}
def check(v, s, where):
    if 'type' in s:
        types = s['type'] if isinstance(s['type'], list) else [s['type']]
        ok = any(isinstance(v, kinds[t]) and not (t in ('integer', 'number') and isinstance(v, bool)) for t in types)
        if not ok: raise SystemExit('%s: %r is not %s' % (where, v, types))
    if 'enum' in s and v not in s['enum']: raise SystemExit('%s: %r not in enum' % (where, v))
    if 'minimum' in s and v < s['minimum']: raise SystemExit('%s: %r below minimum' % (where, v))
    for k in s.get('required', []):
        if k not in v: raise SystemExit('%s: %s missing' % (where, k))
    for k, sub in s.get('properties', {}).items():
        if k in v: check(v[k], sub, where + '.' + k)
    if 'items' in s:
        for i, x in enumerate(v): check(x, s['items'], '%s[%d]' % (where, i))
check(data, schema, '$')
print('valid', len(data))
)";
    TempDir t;
    writeFile(t.file("v.py"), py);
    return capture("python3 '" + t.file("v.py") + "' '" + kSchema + "' '" + jsonFile + "' 2>&1");
}

} // namespace

// A raw AMR file among others: without -r it converts at 11025 Hz (said
// once), the others as asked; an explicit rate it cannot take fails it alone,
// named with the option that helps. In this process and with workers alike.
TEST(CliBatch, OneInputNeverStopsTheOthers) {
    for (const char* name : {"mp4_ring_122.amr", "mp4_amrnb.3gp", "mpeg_vcd.mpg"})
        ASSERT_TRUE(haveFixture(name)) << name;
    const std::string files = "'" + fixture("mp4_ring_122.amr") + "' '" + fixture("mp4_amrnb.3gp") +
                              "' '" + fixture("mpeg_vcd.mpg") + "' /etc/hostname";
    struct Case {
        std::string args;
        int status;
        int outputs;
    } cases[] = {{"-j 1", 2, 3}, {"-j 2", 2, 3}, {"-j 2 -r 22050", 2, 2}, {"--join", 2, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        TempDir home, work;
        Result r = sh("LANG=C.UTF-8", work.path(), home, "CLI convert -q " + c.args + " " + files);
        EXPECT_EQ(r.status, c.status) << r.err;
        int lines = 0;
        for (char ch : r.out)
            lines += ch == '\n';
        EXPECT_EQ(lines, c.outputs) << r.out;
        // The refused input is named with its reason.
        EXPECT_NE(r.err.find("/etc/hostname: the file type cannot be determined"),
                  std::string::npos)
            << r.err;
        if (c.args.find("-r") != std::string::npos) {
            EXPECT_FALSE(std::filesystem::exists(work.file("mp4_ring_122.mp3")));
            EXPECT_NE(r.err.find("mp4_ring_122.amr: an AMR source converts only at 8000 or 11025 "
                                 "Hz (-r 8000 or -r 11025)"),
                      std::string::npos)
                << r.err;
        } else if (c.args != "--join") {
            std::string amr = work.file("mp4_ring_122.mp3");
            ASSERT_TRUE(std::filesystem::exists(amr)) << r.err;
            // The sample rate leads the first audio stream's line.
            auto rateOf = [](const std::string& f) {
                return capture("ffprobe -v error -select_streams a:0 -show_entries "
                               "stream=sample_rate -of csv=p=0 '" +
                               f + "'")
                    .substr(0, 5);
            };
            EXPECT_EQ(rateOf(amr), "11025");
            EXPECT_EQ(rateOf(work.file("mpeg_vcd.mp3")), "44100");
        }
    }
}

// With several files at once the progress line is the batch's throughout:
// its counter tells the files finished, its names the ones being converted.
TEST(CliBatch, ParallelProgressLineIsTheBatchs) {
    TempDir home, work;
    Result r = sh("LANG=C.UTF-8", work.path(), home,
                  "CLI convert --progress -j 2 -t wav '" + fixture("mpeg_vcd.mpg") + "' '" +
                      fixture("mp4_amrnb.3gp") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("[0/2 done] "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("[2/2 done] "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("[1/2] "), std::string::npos) << r.err;
}

// -o is a folder when it ends in "/" or is one; otherwise a file whose
// extension names an output type, or wrong usage with the list of types.
TEST(CliBatch, OutputOptionMeansWhatItSays) {
    struct Case {
        std::string o;
        int status;
        std::string made; // what exists afterwards ("" nothing)
    } cases[] = {{"x.ogg", 1, ""},
                 {"song.mp33", 1, ""},
                 {"noext", 1, ""},
                 {"dir/", 0, "dir/mpeg_vcd.mp3"},
                 {"clip.wav", 0, "clip.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.o);
        TempDir home, work;
        Result r = sh("LANG=C.UTF-8", work.path(), home,
                      "CLI convert -q -o " + c.o + " '" + fixture("mpeg_vcd.mpg") + "'");
        EXPECT_EQ(r.status, c.status) << r.err;
        if (c.made.empty()) {
            EXPECT_FALSE(std::filesystem::exists(work.file(c.o)));
            EXPECT_NE(r.err.find(".mp3 .exe .wav .wma .aac .m4a .amr .flv .avi"), std::string::npos)
                << r.err;
        } else {
            EXPECT_TRUE(std::filesystem::is_regular_file(work.file(c.made)));
        }
    }
}

// "-" reads standard input (spooled, removed at the end); -o - writes a
// one-pass type to standard output and nothing else; other types are refused.
TEST(CliBatch, PipesInAndOut) {
    TempDir home, work, tmp;
    const std::string env = "LANG=C.UTF-8 TMPDIR='" + tmp.path() + "'";
    Result r =
        sh(env, work.path(), home,
           "cat '" + fixture("mpeg_vcd.mpg") +
               "' | CLI convert -t mp3 -o - - > out.bin && ffprobe -v error -select_streams a:0 "
               "-show_entries stream=codec_name,sample_rate -of csv=p=0 - < out.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 9), "mp3,44100") << r.err;
    EXPECT_NEAR(ffprobeDuration(work.file("out.bin")), 4.0, 0.1);
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path())); // the spooled input is gone
    EXPECT_FALSE(std::filesystem::exists(work.file("-")));

    r = sh(env, work.path(), home,
           "CLI convert -t wav -o - '" + fixture("mpeg_vcd.mpg") + "' | head -c 4");
    EXPECT_EQ(r.out, "RIFF");
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path())); // also when the reader went away
    r = sh(env, work.path(), home, "CLI convert -t m4a -o - '" + fixture("mpeg_vcd.mpg") + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("mp3 wav aac adts amr"), std::string::npos) << r.err;
}

// A run speaks one language: English with a non-Chinese locale (no CJK
// character on stderr), the catalogues' own texts with zh_*.
TEST(CliBatch, OneLanguagePerRun) {
    TempDir home, work;
    const std::string run = "CLI convert -r 22050 -o out/ '" + fixture("mp4_ring_122.amr") + "' '" +
                            fixture("mpeg_vcd.mpg") + "' '" + fixture("graph_wma2_44k.wma") +
                            "' /etc/hostname '" + work.path() + "'";
    Result en = sh("LANG=C.UTF-8", work.path(), home, run);
    EXPECT_EQ(en.status, 2);
    EXPECT_FALSE(hasCjk(en.err)) << en.err;
    EXPECT_NE(en.err.find("writing "), std::string::npos) << en.err;
    EXPECT_NE(en.err.find("is a folder (directory), not a media file"), std::string::npos);

    Result zh = sh("LANG=zh_CN.UTF-8", work.path(), home, run + " -y");
    EXPECT_EQ(zh.status, 2);
    EXPECT_NE(zh.err.find("请选择8000或11025采样率"), std::string::npos) << zh.err;
    EXPECT_NE(zh.err.find("文件/etc/hostname:不确定文件类型错"), std::string::npos) << zh.err;
    EXPECT_NE(zh.err.find("开始录制文件"), std::string::npos) << zh.err;
    // The window's prompt at the end of a Windows Media playback is no part
    // of a conversion.
    EXPECT_EQ(zh.err.find("播放结束"), std::string::npos) << zh.err;
}

// convert, fast, extract and info give one JSON array of the same records,
// refused inputs included, valid against the schema kept with the sources.
TEST(CliBatch, OneMachineFormatForEveryCommand) {
    TempDir home, work;
    const std::string vcd = fixture("mpeg_vcd.mpg");
    ASSERT_EQ(
        sh("LANG=C.UTF-8", work.path(), home, "CLI convert -q -t exe -o clip.exe '" + vcd + "'")
            .status,
        0);
    struct Case {
        std::string command;
        int status;
        std::string firstStatus;
    } cases[] = {
        {"convert -q --json -o c/ '" + vcd + "' /etc/hostname", 2, "converted"},
        {"fast -q --json -o f/ '" + vcd + "'", 0, "converted"},
        {"extract --json -o x.mp3 clip.exe", 0, "converted"},
        {"info --json '" + vcd + "' clip.exe /etc/hostname", 2, "analysed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        Result r = sh("LANG=C.UTF-8", work.path(), home, "CLI " + c.command);
        EXPECT_EQ(r.status, c.status) << r.err;
        writeFile(work.file("out.json"), r.out);
        EXPECT_EQ(validate(work.file("out.json")).rfind("valid ", 0), 0u)
            << validate(work.file("out.json")) << r.out;
        EXPECT_NE(r.out.find("\"status\": \"" + c.firstStatus + "\""), std::string::npos) << r.out;
        if (c.status != 0) {
            EXPECT_NE(r.out.find("\"source\": \"/etc/hostname\", \"seconds\": 0.000, \"bytes\": 0, "
                                 "\"status\": \"failed\", \"reason\": \"/etc/hostname: the file "
                                 "type cannot be determined\""),
                      std::string::npos)
                << r.out;
        }
    }
    // The plain lines of convert carry the same fields in the same order,
    // with absolute paths whatever -o gave.
    Result plain = sh("LANG=C.UTF-8", work.path(), home, "CLI convert -q -o p/ '" + vcd + "'");
    EXPECT_EQ(plain.out.rfind(work.file("p/mpeg_vcd.mp3") + "\t" + vcd + "\t4.02\t", 0), 0u)
        << plain.out;
    EXPECT_NE(plain.out.find("\tconverted\t\n"), std::string::npos) << plain.out;
}
