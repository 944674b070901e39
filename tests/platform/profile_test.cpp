#include "platform/profile.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kestrel;

TEST(Profile, KeepsForeignLinesAndReadsLfFiles) {
    test::TempDir dir;
    std::string f = dir.file("a.ini");
    // LF line ends, a comment, another section and a key of the same name there.
    test::writeFile(f, std::string("; comment\n[other]\nk=9\n[s]\nk=1\nx = 2 \n[tail]\nz=3\n"));
    EXPECT_EQ(getPrivateProfileInt("s", "k", -1, f), 1);
    EXPECT_EQ(getPrivateProfileInt("s", "x", -1, f), 2);
    EXPECT_EQ(getPrivateProfileInt("s", "missing", -1, f), -1);
    EXPECT_EQ(getPrivateProfileInt("S", "k", -1, f), -1); // names match byte for byte
    ASSERT_TRUE(writePrivateProfileString("s", "k", "5", f));
    ASSERT_TRUE(writePrivateProfileString("s", "new", "7", f));
    ASSERT_TRUE(writePrivateProfileString("fresh", "q", "文字", f));
    auto bytes = test::readFile(f);
    std::string s(bytes.begin(), bytes.end());
    EXPECT_EQ(s, "; comment\r\n[other]\r\nk=9\r\n[s]\r\nk=5\r\nx = 2 \r\nnew=7\r\n[tail]\r\nz=3\r\n"
                 "[fresh]\r\nq=\xce\xc4\xd7\xd6\r\n");
    EXPECT_EQ(getPrivateProfileString("fresh", "q", "", 255, f), "文字");
}

TEST(Profile, NumbersReadLikeThePlatform) {
    test::TempDir dir;
    std::string f = dir.file("b.ini");
    test::writeFile(f, std::string("[s]\na=12abc\nb=abc\nc=\nd=-5\n"));
    EXPECT_EQ(getPrivateProfileInt("s", "a", -1, f), 12);
    EXPECT_EQ(getPrivateProfileInt("s", "b", -1, f), 0);
    EXPECT_EQ(getPrivateProfileInt("s", "c", -1, f), 0);
    EXPECT_EQ(getPrivateProfileInt("s", "d", -1, f), -5);
    EXPECT_EQ(getPrivateProfileString("s", "a", "", 3, f), "12");
}

TEST(Profile, WriteCreatesMissingFile) {
    test::TempDir dir;
    std::string f = dir.file("new.ini");
    ASSERT_TRUE(writePrivateProfileString("s", "k", "v", f));
    auto bytes = test::readFile(f);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "[s]\r\nk=v\r\n");
    EXPECT_FALSE(writePrivateProfileString("s", "k", "v", dir.file("no/such/dir.ini")));
}

TEST(Profile, FileTextIsGbkForGbkCharactersAndHoldsAnyOther) {
    // Every double-byte GBK character reads and writes as the same bytes.
    std::string all;
    for (int a = 0x81; a <= 0xFE; ++a)
        for (int b = 0x40; b <= 0xFE; ++b) {
            if (b == 0x7F) continue;
            std::string gbk{static_cast<char>(a), static_cast<char>(b)};
            std::string u = gb18030ToUtf8(gbk);
            if (u == gbk) continue; // not a GBK character
            all += gbk;
            ASSERT_EQ(utf8ToGb18030(u), gbk) << std::hex << a << " " << b;
        }
    EXPECT_GT(all.size(), 2u * 21000);
    EXPECT_EQ(utf8ToGb18030("岚石多媒体MP3转换器"),
              "\xe1\xb0\xca\xaf\xb6\xe0\xc3\xbd\xcc\xe5MP3\xd7\xaa\xbb\xbb\xc6\xf7");

    test::TempDir dir;
    std::string f = dir.file("c.ini");
    ASSERT_TRUE(writePrivateProfileString("s", "p", "/home/Jörg/🎵", f));
    auto bytes = test::readFile(f);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "[s]\r\np=/home/J\x81\x30\x8B\x32rg/\x94\x39\xC1\x39\r\n");
    EXPECT_EQ(getPrivateProfileString("s", "p", "", 255, f), "/home/Jörg/🎵");
    // A cut never splits a four-byte or a two-byte character.
    EXPECT_EQ(getPrivateProfileString("s", "p", "", 17, f), "/home/Jörg/");
    EXPECT_EQ(getPrivateProfileString("s", "p", "", 9, f), "/home/J");
    ASSERT_TRUE(writePrivateProfileString("s", "q", "文字", f));
    EXPECT_EQ(getPrivateProfileString("s", "q", "", 4, f), "文");
    EXPECT_EQ(cutGb18030("\x81\x30\x8B\x32", 3), "");
    EXPECT_EQ(cutGb18030("a\xce\xc4", 2), "a");
}
