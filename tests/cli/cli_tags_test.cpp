// Tags from sources to outputs as kestrel-cli users see them: each tagged
// source converted to MP3, M4A, WMA and WAV reads back with ffprobe (and the
// MP3's ID3v2.3 with a reader of its own) as the source's title, artist,
// album, track and cover; info shows legacy GBK tags right; --no-tags,
// --tag, --tag-charset and --name; the tag leaves the MP3 frames as they were.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace kestrel::test;

namespace {

const std::string kCli = std::string(KESTREL_BIN_DIR) + "/kestrel-cli";

CommandResult cli(const TempDir& home, const std::string& args) {
    return runApart("SDL_AUDIODRIVER=dummy timeout 60 '" + kCli + "' --home '" + home.path() +
                    "' " + args);
}

// The format tags ffprobe reads, by key.
std::map<std::string, std::string> probeTags(const std::string& path) {
    const std::string out = capture("ffprobe -v error -show_entries format_tags -of "
                                    "default=noprint_wrappers=1 '" +
                                    path + "'");
    std::map<std::string, std::string> tags;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(at, end - at);
        const size_t eq = line.find('=');
        if (line.rfind("TAG:", 0) == 0 && eq != std::string::npos)
            tags[line.substr(4, eq - 4)] = line.substr(eq + 1);
        at = end + 1;
    }
    return tags;
}

// The attached picture ffmpeg finds in `path`, byte for byte.
std::vector<uint8_t> probeCover(const std::string& path, const TempDir& dir) {
    const std::string to = dir.file("cover.out");
    std::filesystem::remove(to);
    run("ffmpeg -v error -y -i '" + path + "' -map 0:v -c copy -f image2 '" + to +
        "' >/dev/null 2>&1");
    return std::filesystem::exists(to) ? readFile(to) : std::vector<uint8_t>();
}

// A reader of ID3v2.3 of its own: "ID ENCODING TEXT" per text frame, the
// version first.
const char* const kId3Reader = R"PY(
import sys
b = open(sys.argv[1], 'rb').read()
assert b[:3] == b'ID3', 'no tag'
n = (b[6] << 21) | (b[7] << 14) | (b[8] << 7) | b[9]
print('version', b[3])
at, end = 10, 10 + n
while at + 10 <= end and b[at] != 0:
    fid = b[at:at + 4].decode()
    size = int.from_bytes(b[at + 4:at + 8], 'big')
    body = b[at + 10:at + 10 + size]
    at += 10 + size
    if fid.startswith('T'):
        enc, raw = body[0], body[1:]
        text = raw.decode('latin-1') if enc == 0 else raw.decode('utf-16')
        print(fid, enc, text.rstrip('\0'))
    elif fid == 'APIC':
        print(fid, len(body))
print('first', b[end:end + 2].hex())
)PY";

std::string readId3(const std::string& path, const TempDir& dir) {
    writeFile(dir.file("id3.py"), std::string(kId3Reader));
    return capture("python3 '" + dir.file("id3.py") + "' '" + path + "'");
}

} // namespace

TEST(CliTags, EachSourcesTagsReachEachOutputType) {
    struct Source {
        const char* file;
        const char* title;
        const char* artist;
        const char* album;
        const char* track;
        bool cover;
    };
    const Source sources[] = {
        {"tags_v23-gbk.mp3", "你好世界", "王菲", "菊花台 Live", "7", false},
        {"tags_v22-latin1.mp3", "Hoppípolla", "Sigur Rós", "Takk...", "3/11", true},
        {"tags_v24-utf8.mp3", "Grüße aus 北京", "Artist One / Artist Two", "Album 专辑", "5/9",
         true},
        {"tags_ff.m4a", "Morning", "Kestrel", "Tests", "3/10", true},
        {"tags_ff.wma", "Morning", "Kestrel", "Tests", "3/10", false},
    };
    const char* const types[] = {"mp3", "m4a", "wma", "wav"};
    const auto cover = readFile(fixture("tags_cover.jpg"));
    TempDir home, out;
    for (const auto& s : sources) {
        for (const char* type : types) {
            SCOPED_TRACE(std::string(s.file) + " -> " + type);
            const std::string stem = std::filesystem::path(s.file).stem();
            const std::string dir = out.file(std::string(s.file) + "-" + type);
            const CommandResult r = cli(home, std::string("convert -q -t ") + type + " -o '" + dir +
                                                  "/' '" + fixture(s.file) + "'");
            ASSERT_EQ(r.status, 0) << r.err;
            const std::string output = dir + "/" + stem + "." + type;
            auto tags = probeTags(output);
            EXPECT_EQ(tags["title"], s.title);
            EXPECT_EQ(tags["artist"], s.artist);
            EXPECT_EQ(tags["album"], s.album);
            EXPECT_EQ(tags["track"], s.track);
            // The cover goes where the type holds one.
            const bool holdsCover = std::string(type) == "mp3" || std::string(type) == "m4a";
            if (s.cover && holdsCover)
                EXPECT_EQ(probeCover(output, out), cover);
            else
                EXPECT_TRUE(probeCover(output, out).empty());
        }
    }
}

TEST(CliTags, GbkTagsReadAsChineseAndLatinNamesStayLatin) {
    TempDir home, out;
    // info shows the GBK tag in Chinese; --tag-charset latin1 shows its bytes.
    CommandResult r = cli(home, "info '" + fixture("tags_v23-gbk.mp3") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("  title: 你好世界\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  artist: 王菲\n"), std::string::npos) << r.out;
    r = cli(home, "info --json --tag-charset latin1 '" + fixture("tags_v1-gbk.mp3") + "'");
    EXPECT_EQ(r.out.find("邓丽君"), std::string::npos) << r.out;
    r = cli(home, "info --json '" + fixture("tags_v1-gbk.mp3") + "'");
    EXPECT_NE(r.out.find("\"tags\": {\"title\": \"月亮代表我的心\", \"artist\": \"邓丽君\""),
              std::string::npos)
        << r.out;
    // The MP3 output: UTF-16 for the Chinese texts, Latin-1 for the European
    // names, a cover, and the first frame right after the tag.
    r = cli(home, "convert -q -o '" + out.path() + "/' '" + fixture("tags_v23-gbk.mp3") + "' '" +
                      fixture("tags_v23-utf16.mp3") + "' '" + fixture("tags_v22-latin1.mp3") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string id3 = readId3(out.file("tags_v23-gbk.mp3"), out);
    EXPECT_NE(id3.find("version 3\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TIT2 1 你好世界\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TPE1 1 王菲\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("TRCK 0 7\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("first fffb"), std::string::npos) << id3;
    id3 = readId3(out.file("tags_v23-utf16.mp3"), out);
    EXPECT_NE(id3.find("TPE1 0 Beyoncé\n"), std::string::npos) << id3;
    EXPECT_NE(id3.find("APIC " + std::to_string(readFile(fixture("tags_cover.jpg")).size() + 14)),
              std::string::npos)
        << id3;
    id3 = readId3(out.file("tags_v22-latin1.mp3"), out);
    EXPECT_NE(id3.find("TPE1 0 Sigur Rós\n"), std::string::npos) << id3;
}

TEST(CliTags, OptionsChooseTheTagsAndNamesAndTheFramesStayAsTheyWere) {
    TempDir home, out;
    const std::string src = fixture("tags_v23-utf16.mp3");
    // With and without the tag, at a variable rate (Xing/LAME frame) and a
    // constant one: the frames after the tag are the same bytes.
    for (const char* rate : {"--vbr 2", "-b 128"}) {
        SCOPED_TRACE(rate);
        const std::string a = out.file(std::string("a") + rate[2]);
        const std::string b = out.file(std::string("b") + rate[2]);
        ASSERT_EQ(
            cli(home, std::string("convert -q ") + rate + " -o '" + a + "/' '" + src + "'").status,
            0);
        ASSERT_EQ(cli(home, std::string("convert -q --no-tags ") + rate + " -o '" + b + "/' '" +
                                src + "'")
                      .status,
                  0);
        const auto tagged = readFile(a + "/tags_v23-utf16.mp3");
        const auto plain = readFile(b + "/tags_v23-utf16.mp3");
        ASSERT_GT(tagged.size(), plain.size());
        ASSERT_GE(plain.size(), 4u);
        EXPECT_EQ(plain[0], 0xFF); // --no-tags: the first frame first
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), tagged.end() - plain.size()));
        EXPECT_EQ(ffprobeDuration(a + "/tags_v23-utf16.mp3"),
                  ffprobeDuration(b + "/tags_v23-utf16.mp3"));
        // The LAME tag's radio ReplayGain (name code 1), as ffmpeg's
        // replaygain filter measures the source.
        const std::string frame(plain.begin(), plain.begin() + std::min<size_t>(plain.size(), 400));
        size_t at = frame.find(rate[2] == 'v' ? "Xing" : "Info");
        ASSERT_NE(at, std::string::npos);
        ASSERT_EQ(frame.compare(at + 120, 4, "LAME"), 0);
        const unsigned rg =
            static_cast<uint8_t>(frame[at + 135]) << 8 | static_cast<uint8_t>(frame[at + 136]);
        EXPECT_EQ(rg >> 13, 1u);
        const double gain = ((rg >> 9) & 1 ? -1 : 1) * (rg & 0x1FF) / 10.0;
        const std::string measured = capture("ffmpeg -hide_banner -nostdin -i '" + src +
                                             "' -af replaygain -f null - 2>&1 | "
                                             "sed -n 's/.*track_gain = \\([-+0-9.]*\\).*/\\1/p'");
        ASSERT_FALSE(measured.empty());
        EXPECT_NEAR(gain, std::stod(measured), 1.5);
    }
    // --tag overrides; --name names the output from the tags ('/' becomes
    // '_'; an empty field gives the source's name).
    CommandResult r = cli(home, "convert -q -t m4a --tag artist=AC/DC --tag track=9/10 --name "
                                "'{artist} - {title} ({year})' -o '" +
                                    out.path() + "/n/' '" + src + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string named = out.file("n/AC_DC - Ünïcödé 标题 (tags_v23-utf16).m4a");
    ASSERT_TRUE(std::filesystem::exists(named)) << r.out;
    auto tags = probeTags(named);
    EXPECT_EQ(tags["artist"], "AC/DC");
    EXPECT_EQ(tags["track"], "9/10");
    EXPECT_EQ(tags["title"], "Ünïcödé 标题");
    // A joined output carries what its sources share, without title or track.
    r = cli(home, "convert -q --join -t wma -o '" + out.path() + "/j/' '" + fixture("tags_ff.m4a") +
                      "' '" + fixture("tags_ff.wma") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    tags = probeTags(out.file("j/tags_ff.wma"));
    EXPECT_EQ(tags["artist"], "Kestrel");
    EXPECT_EQ(tags["album"], "Tests");
    EXPECT_EQ(tags.count("title"), 0u);
    EXPECT_EQ(tags.count("track"), 0u);
    // Wrong usage.
    EXPECT_EQ(cli(home, "convert --tag nokey=1 '" + src + "'").status, 1);
    EXPECT_EQ(cli(home, "convert --tag-charset big5 '" + src + "'").status, 1);
    EXPECT_EQ(cli(home, "convert --name '{title}' -o x.mp3 '" + src + "'").status, 1);
}
