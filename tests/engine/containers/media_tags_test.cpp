// Tags of sources: every ID3 layout the generator writes byte by byte, MP4,
// ASF and AVI files tagged by ffmpeg, the rule that tells GBK from Latin-1,
// tags that lie about their sizes, and the writers read back by the readers.
#include "engine/containers/media_tags.h"
#include "engine/convert/tag_writing.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kestrel;
using namespace kestrel::test;

namespace {

std::string bytesOf(const std::vector<uint8_t>& v) {
    return std::string(v.begin(), v.end());
}

} // namespace

TEST(MediaTags, EverySourceLayoutReadsItsTags) {
    struct Case {
        const char* file;
        const char* title;
        const char* artist;
        const char* album;
        int track, trackTotal;
        const char* year;
        bool cover;
    };
    const Case cases[] = {
        {"tags_v22-latin1.mp3", "Hoppípolla", "Sigur Rós", "Takk...", 3, 11, "2005", true},
        {"tags_v23-gbk.mp3", "你好世界", "王菲", "菊花台 Live", 7, 0, "1999", false},
        {"tags_v23-utf16.mp3", "Ünïcödé 标题", "Beyoncé", "4", 2, 12, "", true},
        {"tags_v24-utf8.mp3", "Grüße aus 北京", "Artist One / Artist Two", "Album 专辑", 5, 9,
         "2021", true},
        {"tags_v1-gbk.mp3", "月亮代表我的心", "邓丽君", "淡淡幽情", 4, 0, "1983", false},
        {"tags_v1-latin1.mp3", "Crazy in Love", "Beyoncé", "Dangerously in Love", 1, 0, "2003",
         false},
        {"tags_lying.mp3", "Kept", "", "", 0, 0, "", false},
        {"tags_ff.mp3", "Morning", "Kestrel", "Tests", 3, 10, "2024", true},
        {"tags_ff.m4a", "Morning", "Kestrel", "Tests", 3, 10, "2024", true},
        {"tags_ff.wma", "Morning", "Kestrel", "Tests", 3, 10, "2024", false},
        {"tags_ff.avi", "Morning", "Kestrel", "Tests", 3, 10, "2024", false},
        {"tags_ff.rm", "Morning", "Kestrel", "", 0, 0, "", false},
        {"mpeg_l3_id3.mp3", "Kestrel test", "Tone", "", 0, 0, "", false}, // by lame
        {"tags_plain.mp3", "", "", "", 0, 0, "", false},
    };
    const auto cover = readFile(fixture("tags_cover.jpg"));
    ASSERT_FALSE(cover.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const MediaTags t = readMediaTags(fixture(c.file));
        EXPECT_EQ(t.title, c.title);
        EXPECT_EQ(t.artist, c.artist);
        EXPECT_EQ(t.album, c.album);
        EXPECT_EQ(t.track, c.track);
        EXPECT_EQ(t.trackTotal, c.trackTotal);
        EXPECT_EQ(t.year, c.year);
        if (c.cover) {
            EXPECT_EQ(t.cover, cover);
            EXPECT_EQ(t.coverMime, "image/jpeg");
        } else {
            EXPECT_TRUE(t.cover.empty());
        }
    }
    // The override reads a GBK tag as what it claims to be.
    EXPECT_EQ(readMediaTags(fixture("tags_v23-gbk.mp3"), TagCharset::Latin1).artist,
              "\xC3\x8D\xC3\xB5\xC2\xB7\xC3\x86"); // "ÍõÂ·Æ": the bytes of 王菲 as Latin-1
}

TEST(MediaTags, LegacyTextIsGbkOnlyWhenItReadsAsChinese) {
    struct Case {
        std::string bytes;
        TagCharset expected;
    };
    const Case cases[] = {
        {"\xC4\xE3\xBA\xC3", TagCharset::Gb18030},           // 你好
        {"\xCD\xF5\xB7\xC6 Live 2003", TagCharset::Gb18030}, // 王菲 Live 2003
        {"Sigur R\xF3s", TagCharset::Latin1},                // F3 73 is a GBK pair too
        {"Beyonc\xE9", TagCharset::Latin1},                  // a lead byte at the end
        {"\xDE\xF3r\xF0ur", TagCharset::Latin1},             // Þórður: half GB2312 pairs
        {"Don\x92t Stop", TagCharset::Latin1},               // a Windows-1252 apostrophe
        {"Mot\xF6rhead", TagCharset::Latin1},
        {"plain ASCII", TagCharset::Latin1},
        {"\xD4\xC2\xC1\xC1\xB4\xFA\xB1\xED\xCE\xD2\xB5\xC4\xD0\xC4",
         TagCharset::Gb18030},                    // 月亮代表我的心
        {"\x81\x30\x81\x30", TagCharset::Latin1}, // a four-byte character alone: no GB2312
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(guessLegacyCharset({c.bytes}), c.expected);
    }
    // One decision for the whole tag: an accented title beside GBK artist and
    // album is read with them.
    EXPECT_EQ(guessLegacyCharset({"\xC4\xE3\xBA\xC3", "\xCD\xF5\xB7\xC6", "Caf\xE9 Caf\xE9"}),
              TagCharset::Latin1); // "Café" has a lone lead byte: not GB18030 at all
    EXPECT_EQ(legacyToUtf8("\xC4\xE3\xBA\xC3", TagCharset::Gb18030), "你好");
    EXPECT_EQ(legacyToUtf8("Sigur R\xF3s", TagCharset::Latin1), "Sigur Rós");
}

TEST(MediaTags, SizesThatLieAreNeverTrusted) {
    // ID3v2: a tag size past the buffer, a non-sync-safe size, a frame past
    // the tag, an extended header past the tag, a frame of size 0.
    const std::string frame = std::string("TIT2\0\0\0\x05\0\0\0Good", 15);
    const std::string cases[] = {
        std::string("ID3\3\0\0\0\0\x7F\x7F", 10) + frame,
        std::string("ID3\3\0\0\x80\0\0\x0F", 10) + frame,
        std::string("ID3\3\0\0\0\0\0\x0F", 10) + std::string("TIT2\x7F\0\0\0\0\0\0Good", 15),
        std::string("ID3\3\0\x40\0\0\0\x0F", 10) + std::string("\0\0\x10\0", 4) +
            frame.substr(0, 11),
        std::string("ID3\4\0\0\0\0\0\x0F", 10) + std::string("TIT2\0\0\0\0\0\0\0Good", 15),
        std::string("ID3\2\0\0\0\0\0\x0A", 10) + std::string("TT2\xFF\xFF\xFF\0Good", 10),
    };
    for (const auto& c : cases) {
        MediaTags t;
        parseId3v2(reinterpret_cast<const uint8_t*>(c.data()), c.size(), TagCharset::Auto, t);
        EXPECT_TRUE(t.title.empty() || t.title == "Good") << t.title;
        EXPECT_TRUE(t.artist.empty());
    }
    // A 2.4 tag whose frames carry plain sizes, as some writers make them:
    // 200 bytes (0xC8 is no sync-safe byte) and 130 bytes (sync-safe 258,
    // which would run past the next frame).
    {
        const std::string title = "\3" + std::string(199, 'T');
        const std::string artist = "\3" + std::string(129, 'A');
        std::string body = std::string("TIT2\0\0\0\xC8\0\0", 10) + title +
                           std::string("TPE1\0\0\0\x82\0\0", 10) + artist +
                           std::string("TALB\0\0\0\x03\0\0\3ok", 13);
        const size_t n = body.size();
        std::string tag = std::string("ID3\4\0\0", 6) + char(n >> 21 & 0x7F) +
                          char(n >> 14 & 0x7F) + char(n >> 7 & 0x7F) + char(n & 0x7F) + body;
        MediaTags t;
        ASSERT_TRUE(parseId3v2(reinterpret_cast<const uint8_t*>(tag.data()), tag.size(),
                               TagCharset::Auto, t));
        EXPECT_EQ(t.title, title.substr(1));
        EXPECT_EQ(t.artist, artist.substr(1));
        EXPECT_EQ(t.album, "ok");
    }
    // MP4: boxes whose sizes run past their parent or are too small.
    const std::string moovs[] = {
        std::string("\0\0\0\x40udta", 8),
        std::string("\0\0\0\x10udta\0\0\0\x04meta", 16),
        std::string("\0\0\0\x20udta\0\0\0\x18meta\0\0\0\0\xFF\xFF\xFF\xFFilst", 24) +
            std::string(8, '\0'),
        std::string("\0\0\0\x01udta\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 16),
    };
    for (const auto& m : moovs) {
        MediaTags t;
        EXPECT_FALSE(parseMp4Ilst(reinterpret_cast<const uint8_t*>(m.data()), m.size(), t));
        EXPECT_TRUE(t.empty());
    }
}

TEST(MediaTags, WrittenTagsReadBackAsTheyWere) {
    MediaTags t;
    t.title = "你好世界";
    t.artist = "Beyoncé";
    t.album = "Ágætis byrjun";
    t.albumArtist = "Various";
    t.track = 4, t.trackTotal = 12;
    t.disc = 1, t.discTotal = 2;
    t.year = "1999";
    t.genre = "Post-rock";
    t.comment = "注释";
    t.cover = readFile(fixture("tags_cover.jpg"));
    t.coverMime = "image/jpeg";
    const std::vector<uint8_t> tag = id3v23Tag(t);
    ASSERT_GT(tag.size(), t.cover.size());
    MediaTags back;
    ASSERT_TRUE(parseId3v2(tag.data(), tag.size(), TagCharset::Auto, back));
    EXPECT_EQ(back.title, t.title);
    EXPECT_EQ(back.artist, t.artist);
    EXPECT_EQ(back.album, t.album);
    EXPECT_EQ(back.albumArtist, t.albumArtist);
    EXPECT_EQ(back.track, 4);
    EXPECT_EQ(back.trackTotal, 12);
    EXPECT_EQ(back.disc, 1);
    EXPECT_EQ(back.discTotal, 2);
    EXPECT_EQ(back.year, t.year);
    EXPECT_EQ(back.genre, t.genre);
    EXPECT_EQ(back.comment, t.comment);
    EXPECT_EQ(back.cover, t.cover);
    // Latin-1 where it suffices, UTF-16 with its mark otherwise.
    const std::string s = bytesOf(tag);
    EXPECT_NE(s.find(std::string("TPE1\0\0\0\x08\0\0\0Beyonc\xE9", 18)), std::string::npos);
    EXPECT_NE(s.find(std::string("TIT2\0\0\0\x0B\0\0\1\xFF\xFE\x60\x4F", 15)), std::string::npos);
    // Empty tags write nothing; a joined output keeps only what all share.
    EXPECT_TRUE(id3v23Tag(MediaTags()).empty());
    MediaTags other = t;
    other.title = "Other";
    other.track = 5;
    const MediaTags shared = sharedTags({t, other});
    EXPECT_EQ(shared.title, "");
    EXPECT_EQ(shared.artist, t.artist);
    EXPECT_EQ(shared.album, t.album);
    EXPECT_EQ(shared.year, t.year);
    EXPECT_EQ(shared.track, 0);
}
