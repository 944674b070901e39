// kestrel-cli and the self-playing EXE: convert -t exe with its three
// settings, info showing the descriptor, and extract giving back the MP3 data
// (with the password when there is one, never over an existing file without
// -y, never from a damaged EXE).
#include "engine/core/exe_layout.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

CommandResult cliIn(const std::string& cwd, const TempDir& home, const std::string& args) {
    return runApart("cd '" + cwd + "' && LC_ALL=C.UTF-8 timeout 120 '" + kCli + "' --home '" +
                    home.path() + "' " + args);
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(CliExe, ConvertInfoAndExtract) {
    TempDir home, work;
    const std::string src = fixture("exe_short_mono.mp3");
    CommandResult r = cliIn(work.path(), home,
                            "convert -t exe -r 22050 --mono mix --exe-password 'pw 1' --exe-speed "
                            "--exe-description '岚石 description' '" +
                                src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string exe = work.file("exe_short_mono.exe");
    ASSERT_TRUE(std::filesystem::exists(exe)) << r.out;

    r = cliIn(work.path(), home, "info '" + exe + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(has(r.out, "container: self-playing EXE")) << r.out;
    EXPECT_TRUE(has(r.out, "playing time: 3 s")) << r.out;
    EXPECT_TRUE(has(r.out, "sample rate: 22050 Hz")) << r.out;
    EXPECT_TRUE(has(r.out, "channels: 1")) << r.out;
    EXPECT_TRUE(has(r.out, "speed control: yes")) << r.out;
    EXPECT_TRUE(has(r.out, "password: yes")) << r.out;
    EXPECT_TRUE(has(r.out, "description: 岚石 description")) << r.out;
    r = cliIn(work.path(), home, "info --json '" + exe + "'");
    EXPECT_TRUE(has(r.out, "\"sampleRate\": 22050, \"channels\": 1")) << r.out;
    EXPECT_TRUE(has(r.out, "\"whole\": true")) << r.out;

    // The password is asked for and checked.
    r = cliIn(work.path(), home, "extract '" + exe + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.err, "password")) << r.err;
    r = cliIn(work.path(), home, "extract --password nope '" + exe + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(std::filesystem::exists(work.file("exe_short_mono.mp3")));
    r = cliIn(work.path(), home, "extract --password 'pw 1' '" + exe + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> mp3 = readFile(work.file("exe_short_mono.mp3"));
    std::vector<uint8_t> file = readFile(exe);
    ASSERT_EQ(mp3.size(), file.size() - kestrel::exe::kDataOffset);
    EXPECT_EQ(mp3[0], 0xFF);
    std::string probe = capture("ffprobe -v error -show_entries stream=sample_rate,channels -of "
                                "default=nw=1 '" +
                                work.file("exe_short_mono.mp3") + "'");
    EXPECT_EQ(probe, "sample_rate=22050\nchannels=1\n");
    // An existing output stays unless -y.
    r = cliIn(work.path(), home, "extract --password 'pw 1' -o exe_short_mono.mp3 '" + exe + "'");
    EXPECT_EQ(r.status, 2);
    r = cliIn(work.path(), home,
              "extract -y --password 'pw 1' -o exe_short_mono.mp3 '" + exe + "'");
    EXPECT_EQ(r.status, 0) << r.err;

    // A damaged EXE: info says so, extract refuses it. One whose descriptor
    // states no sound (its CRC made to match, or not) gives no empty MP3.
    namespace layout = kestrel::exe;
    auto withDescriptor = [&](void (*change)(layout::Descriptor&)) {
        std::vector<uint8_t> b = file;
        uint8_t* desc = b.data() + layout::kPlayerBytes;
        layout::decipherDescriptor(desc);
        layout::Descriptor d;
        EXPECT_EQ(layout::parseDescriptor(desc, d), 0);
        change(d);
        layout::buildDescriptor(d, desc);
        layout::encipherDescriptor(desc);
        return b;
    };
    std::vector<uint8_t> flipped = file;
    flipped[flipped.size() - 10] ^= 0x40;
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* says;
    } bad[] = {
        {"a flipped bit", flipped, "damaged"},
        {"a length of 0", withDescriptor([](layout::Descriptor& d) {
             d.maskedBytes = 0;
             d.dataCrc = layout::kCrcInit;
         }),
         "no sound"},
        {"a length of 0 and the CRC of the data",
         withDescriptor([](layout::Descriptor& d) { d.maskedBytes = 0; }), "damaged"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        writeFile(work.file("bad.exe"), c.bytes);
        if (std::string(c.says) == "damaged") {
            r = cliIn(work.path(), home, "info bad.exe");
            EXPECT_EQ(r.status, 2);
            EXPECT_TRUE(has(r.out, "damaged")) << r.out;
        }
        r = cliIn(work.path(), home, "extract --password 'pw 1' -o bad.mp3 bad.exe");
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(has(r.err, c.says)) << r.err;
        EXPECT_FALSE(std::filesystem::exists(work.file("bad.mp3")));
    }
}

TEST(CliExe, ExeOptionsAreCheckedAndGoWithTheExeType) {
    TempDir home, work;
    const std::string src = fixture("exe_short_mono.mp3");
    CommandResult r = cliIn(work.path(), home, "convert -t mp3 --exe-speed '" + src + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.err, "-t exe")) << r.err;
    r = cliIn(work.path(), home, "convert -t exe --exe-password 0123456789abcdef '" + src + "'");
    EXPECT_EQ(r.status, 1);
    r = cliIn(work.path(), home,
              "convert -t exe --exe-description '" + std::string(200, 'x') + "' '" + src + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(std::filesystem::exists(work.file("exe_short_mono.exe")));
    // Completion knows the command and its options.
    const std::string script = std::string(KESTREL_SOURCE_DIR) + "/data/kestrel-cli.bash";
    auto complete = [&](const std::string& words) {
        return capture("bash -c 'source \"" + script + "\"; COMP_WORDS=(" + words +
                       "); COMP_CWORD=$((${#COMP_WORDS[@]}-1)); "
                       "_kestrel_cli; echo \"${COMPREPLY[*]}\"' 2>&1");
    };
    EXPECT_EQ(complete("kestrel-cli ex"), "extract\n");
    EXPECT_EQ(complete("kestrel-cli extract --p"), "--password\n");
    EXPECT_EQ(complete("kestrel-cli convert --exe-s"), "--exe-speed\n");
}

TEST(CliExe, TwoRunsNeverMaskAlike) {
    // rand() is seeded from the system's random source: the same source
    // converted twice gets other keys (and so other bytes) each time.
    TempDir home, work;
    const std::string src = fixture("exe_short_mono.mp3");
    for (const char* name : {"a.exe", "b.exe"}) {
        CommandResult r =
            cliIn(work.path(), home, "convert -t exe -o " + std::string(name) + " '" + src + "'");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::vector<uint8_t> a = readFile(work.file("a.exe")), b = readFile(work.file("b.exe"));
    ASSERT_EQ(a.size(), b.size());
    namespace layout = kestrel::exe;
    uint8_t da[layout::kDescriptorBytes], db[layout::kDescriptorBytes];
    std::copy(a.begin() + layout::kPlayerBytes, a.begin() + layout::kDataOffset, da);
    std::copy(b.begin() + layout::kPlayerBytes, b.begin() + layout::kDataOffset, db);
    layout::decipherDescriptor(da);
    layout::decipherDescriptor(db);
    layout::Descriptor x, y;
    ASSERT_EQ(layout::parseDescriptor(da, x), 0);
    ASSERT_EQ(layout::parseDescriptor(db, y), 0);
    EXPECT_TRUE(std::vector<uint8_t>(x.keys, x.keys + 5) !=
                    std::vector<uint8_t>(y.keys, y.keys + 5) ||
                x.period != y.period);
    EXPECT_FALSE(
        std::equal(a.begin() + layout::kDataOffset, a.end(), b.begin() + layout::kDataOffset));
}
