// orvoplay.so through its exports: the seven pieces make the player program
// as the build made it (exactly 499712 bytes, a Windows program), and the two
// file writers write it with and without data.
#include "engine/core/exe_layout.h"
#include "engine/libraries/lib_orvoplay.h"
#include "platform/paths.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kestrel;

namespace {

class OrvoplayLib : public ::testing::Test {
  protected:
    void SetUp() override {
        setLibraryFolder(KESTREL_BIN_DIR);
        ASSERT_EQ(loadOrvoplay(), 0) << messages.lastText();
    }
    void TearDown() override { unloadOrvoplay(); }

    std::vector<uint8_t> pieces() {
        std::vector<uint8_t> all, buf(exe::kPieceBufferBytes + 64, 0xAA);
        for (int i = 1; i <= exe::kPlayerPieces; ++i) {
            int n = orvoplay.orvo_getexedata(i, buf.data());
            EXPECT_GE(n, 0) << i;
            EXPECT_LE(n, exe::kPieceBufferBytes) << i;
            EXPECT_EQ(buf[exe::kPieceBufferBytes], 0xAA) << "piece " << i << " overran";
            if (n > 0) all.insert(all.end(), buf.begin(), buf.begin() + n);
        }
        return all;
    }

    test::RecordingMessages messages;
};

} // namespace

TEST_F(OrvoplayLib, SevenPiecesMakeThePaddedPlayerProgram) {
    std::vector<uint8_t> player = pieces();
    ASSERT_EQ(player.size(), exe::kPlayerBytes);
    EXPECT_EQ(player,
              test::readFile(std::string(KESTREL_BIN_DIR) + "/../player/kestrel-player.exe"));
    // A PE program: "MZ", and "PE\0\0" where the DOS header points, for x86-64.
    EXPECT_EQ(player[0], 'M');
    EXPECT_EQ(player[1], 'Z');
    uint32_t pe = exe::readLe32(player.data() + 0x3C);
    ASSERT_LT(pe + 6, player.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(player.data() + pe), 4),
              std::string("PE\0\0", 4));
    EXPECT_EQ(player[pe + 4] | player[pe + 5] << 8, 0x8664);
}

TEST_F(OrvoplayLib, OtherPieceNumbersAndANullBufferAreRefused) {
    std::vector<uint8_t> buf(exe::kPieceBufferBytes);
    EXPECT_EQ(orvoplay.orvo_getexedata(0, buf.data()), -1);
    EXPECT_EQ(orvoplay.orvo_getexedata(8, buf.data()), -1);
    EXPECT_EQ(orvoplay.orvo_getexedata(1, nullptr), -1);
}

TEST_F(OrvoplayLib, WritesThePlayerAloneAndWithData) {
    test::TempDir dir;
    ASSERT_EQ(orvoplay.orvo_writeexefile(dir.file("p.exe").c_str()), 0);
    std::vector<uint8_t> player = pieces();
    EXPECT_EQ(test::readFile(dir.file("p.exe")), player);
    const unsigned char data[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(orvoplay.orvo_writeexedata(dir.file("d.exe").c_str(), data, 5), 0);
    player.insert(player.end(), data, data + 5);
    EXPECT_EQ(test::readFile(dir.file("d.exe")), player);
    EXPECT_EQ(orvoplay.orvo_writeexedata((dir.path() + "/no/such/dir.exe").c_str(), data, 5), -1);
}
